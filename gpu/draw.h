// The fixed pipelines of the system, drawn through a device's immediate context: the
// compositor's projection and quad pipelines and a full-screen copy. Direct3D 11 with HLSL
// shaders on Windows; on other platforms a CPU rasterizer with the same maths.
#pragma once

#include "gpu/device.h"

#include <array>
#include <cstdint>

namespace qor::gpu {

struct Vertex {
    float position[3];
    float texcoord[2];
};

// Six vertices drawn as two triangles (indices 0-5, triangle list).
using QuadVertices = std::array<Vertex, 6>;

// A 4 × 4 matrix as four registers of four floats: output component k of a transform is the
// dot product of (x, y, z, 1) with register k (elements 4k to 4k + 3).
using Matrix = std::array<float, 16>;

struct Viewport {
    float x = 0;
    float y = 0;
    float width = 0;
    float height = 0;
};

class DrawContext {
public:
    virtual ~DrawContext() = default;

    // The only render target from now on (its render target view); false when it has none.
    virtual bool SetRenderTarget(Texture& target) = 0;
    // The texture bound by the last successful SetRenderTarget; null when none is bound.
    virtual Texture* RenderTarget() const = 0;
    virtual void Clear(float r, float g, float b, float a) = 0;

    // Projection pipeline: clip position component k = dot((position, 1), register k of
    // `model`); samples `source` (its shader resource view) bilinearly with wrap addressing;
    // with `gammaCorrect` every channel, alpha too, becomes c^(1/2.2); opaque blend that
    // writes red, green and blue but not alpha.
    virtual void DrawProjection(const QuadVertices& vertices, const Matrix& model, const Viewport& viewport,
                                Texture& source, uint32_t arrayIndex, bool gammaCorrect) = 0;

    // Quad pipeline: position transformed by `model`, then by `viewProjection` (each output
    // component a dot product with one register); samples `source`; alpha blending
    // (source alpha, inverse source alpha) writing all channels.
    virtual void DrawQuad(const QuadVertices& vertices, const Matrix& model, const Matrix& viewProjection,
                          const Viewport& viewport, Texture& source) = 0;

    // Full-screen copy of `source` into the render target over `viewport`, sampling the
    // texture rect [u0, u1] × [v0, v1] (the display side shows the whole frame or a half).
    virtual void DrawCopy(Texture& source, const Viewport& viewport, float u0, float v0, float u1, float v1) = 0;

    // Submits the queued work.
    virtual void Flush() = 0;
};

// The device's immediate context; null when the device cannot draw (a wrapped application
// device, or a Direct3D 12 device).
DrawContext* ImmediateContext(Device& device);

}  // namespace qor::gpu
