// The weave's pixel stage: each subpixel shows the left or the right view of the side-by-side
// frame buffer by the lens phase of the ray from the eyes through it, blended across a narrow
// band at the boundaries. Phases are 32-bit fractions of a lens pitch stepped in integers from
// the frame's first subpixel (as the CPU weave does), so they keep their precision along a 4K
// row, where a float phase would not. Written for Wine's compiler too: no functions of our own
// (it cannot call them), no ternary operator and no asint (a cast keeps the bits).

Texture2D<float4> sideBySide : register(t0);

cbuffer WeaveConstants : register(b0)
{
    uint3 firstEye;     // phase at the first subpixel of row 0, step per subpixel, step per row
    uint perEye;        // nonzero: the first eye is the left one, the second the right one;
                        // else the first is the eyes' midpoint and decides alone
    uint3 secondEye;
    uint bgr;           // the panel's subpixels run blue to red
    float2 origin;      // the viewport's top-left corner in the target
    uint2 outputSize;   // the woven frame, in pixels
    uint2 viewSize;     // one view of the input
    float inverseBand;  // 1 / the blend band in lens pitches
    float unused;
};

float4 main(float4 position : SV_POSITION) : SV_TARGET
{
    uint2 pixel = uint2(position.xy - origin);
    // The nearest texel of each view, as the CPU weave picks it.
    uint2 texel = min(((2 * pixel + 1) * viewSize) / (2 * outputSize), viewSize - 1);
    float3 leftView = sideBySide.Load(int3(texel, 0)).rgb;
    float3 rightView = sideBySide.Load(int3(texel.x + viewSize.x, texel.y, 0)).rgb;

    // Each channel's subpixel, counted along the row from its first.
    uint3 k = 3 * pixel.x + uint3(0, 1, 2);
    if (bgr != 0)
        k = 3 * pixel.x + uint3(2, 1, 0);
    // Signed offsets from the nearest lens centre, in lens pitches: [-1/2, 1/2).
    float3 left = float3(int3(firstEye.x + pixel.y * firstEye.z + k * firstEye.y)) * (1.0 / 4294967296.0);
    float3 right = float3(int3(secondEye.x + pixel.y * secondEye.z + k * secondEye.y)) * (1.0 / 4294967296.0);
    // Lens pitches from the views' boundary, > 0 towards the left view. With one phase, the left
    // view is where it is in the first half of the pitch; with one per eye, each subpixel goes
    // to the eye whose ray passes nearer a lens centre.
    float3 distance = min(abs(left), 0.5 - abs(left)) * (1 - 2 * float3(left < 0));
    if (perEye != 0)
        distance = (abs(right) - abs(left)) / 2;
    float3 share = saturate(0.5 + distance * inverseBand);
    return float4(lerp(rightView, leftView, share), 1);
}
