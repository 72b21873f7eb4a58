// The weave's vertex stage: one triangle over the whole viewport, made from the vertex index
// alone (no vertex buffer, no input layout). Clockwise on screen, so the default culling keeps it.

float4 main(uint id : SV_VertexID) : SV_POSITION
{
    // (0, 0), (2, 0), (0, 2) in viewport halves from the top-left corner.
    float2 corner = float2((id << 1) & 2, id & 2);
    return float4(corner.x * 2 - 1, 1 - corner.y * 2, 0, 1);
}
