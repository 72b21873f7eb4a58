// Compositor projection pipeline, vertex stage: places an eye's image rectangle on the stage.

cbuffer ModelConstantBuffer : register(b0)
{
    // row_major keeps register k one row, so row k holds the weights of clip component k.
    row_major float4x4 model;
};

struct VertexIn
{
    float4 position : POSITION;  // the input assembler supplies w = 1
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
    output.position = float4(dot(input.position, model[0]), dot(input.position, model[1]),
                             dot(input.position, model[2]), dot(input.position, model[3]));
    output.texcoord = input.texcoord;
    return output;
}
