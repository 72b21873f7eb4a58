// Compositor projection pipeline, pixel stage: samples the eye's swapchain image.

Texture2D tx : register(t0);
SamplerState samLinear : register(s0);

cbuffer ImageInfoBuffer : register(b0)
{
    int index;  // the image's array index; uploaded, but sampling does not use it
    int gamma_correct;
    int2 fill_size_to_16;
};

float4 main(float4 position : SV_POSITION, float2 texcoord : TEXCOORD0) : SV_TARGET
{
    float4 c = tx.Sample(samLinear, texcoord);
    // Images of sRGB swapchains are brought to the power 0.454545 (1 / 2.2), alpha included;
    // pow compiles to exp2(log2(c) * 0.454545), and Wine's compiler lacks log2 itself.
    if (gamma_correct == 1)
        c = pow(c, 0.454545);
    return c;
}
