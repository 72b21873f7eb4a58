// Full-screen copy, pixel stage: the display side's windows show the stage texture (or a part
// of it) through this.

Texture2D tx : register(t0);
SamplerState samLinear : register(s0);

float4 main(float4 position : SV_POSITION, float2 texcoord : TEXCOORD0) : SV_TARGET
{
    return tx.Sample(samLinear, texcoord);
}
