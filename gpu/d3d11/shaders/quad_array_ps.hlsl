// Compositor quad pipeline, pixel stage, for images of array swapchains (their first slice).

Texture2DArray g_Tex : register(t0);
SamplerState g_SamLinear : register(s0);

float4 main(float4 position : SV_POSITION, float2 texcoord : TEXCOORD0) : SV_TARGET
{
    return g_Tex.Sample(g_SamLinear, float3(texcoord, 0));
}
