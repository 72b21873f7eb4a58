// Compositor quad pipeline, vertex stage: a layer's rectangle placed in the world, then seen by
// one eye.

cbuffer ModelConstantBuffer : register(b0)
{
    // row_major keeps register k one row, so row k holds the weights of output component k.
    row_major float4x4 Model;
};

cbuffer ViewProjectionConstantBuffer : register(b1)
{
    row_major float4x4 ViewProjection;
};

struct VertexIn
{
    float3 position : POSITION;
    float2 texcoord : TEXCOORD0;
};

struct VertexOut
{
    float4 position : SV_POSITION;
    float2 texcoord : TEXCOORD0;
};

VertexOut main(VertexIn input)
{
    VertexOut output;
    float4 p = float4(input.position, 1.0);
    p = float4(dot(p, Model[0]), dot(p, Model[1]), dot(p, Model[2]), dot(p, Model[3]));
    p = float4(dot(p, ViewProjection[0]), dot(p, ViewProjection[1]), dot(p, ViewProjection[2]),
               dot(p, ViewProjection[3]));
    output.position = p;
    output.texcoord = input.texcoord;
    return output;
}
