// Compositor projection pipeline, pixel stage, for images of array swapchains: the bound view
// holds just the view's slice, so the maths stay those of projection_ps.hlsl.

Texture2DArray tx : register(t0);
SamplerState samLinear : register(s0);

cbuffer ImageInfoBuffer : register(b0)
{
    int index;  // the image's array index; the view already starts there
    int gamma_correct;
    int2 fill_size_to_16;
};

float4 main(float4 position : SV_POSITION, float2 texcoord : TEXCOORD0) : SV_TARGET
{
    float4 c = tx.Sample(samLinear, float3(texcoord, 0));
    if (gamma_correct == 1)
        c = pow(c, 0.454545);
    return c;
}
