// The soft device's immediate context: formats read and written, sRGB conversion, filtering and
// addressing, the fill rule, perspective, clipping and culling, blending, and drawing into
// shared textures.
#include "gpu/draw.h"
#include "gpu/soft/draw_paths.h"
#include "gpu/soft/pixel_kernels.h"
#include "tests/gpu/gpu_test_support.h"

#include <cmath>
#include <cstring>
#include <random>

namespace qor::test {
namespace {
using namespace gpu;

constexpr Matrix kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
// 90° fields of view, depth 0 at 0.05 and 1 at 100, looking down -z.
constexpr Matrix kPerspective = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1.0005f, -0.050025f, 0, 0, -1, 0};

using Bytes = std::vector<uint8_t>;

// Two triangles, clockwise on screen, over [x0, x1] × [y0, y1] (y up) at depth z.
QuadVertices Rect(float x0, float y0, float x1, float y1, float u0 = 0, float v0 = 0, float u1 = 1, float v1 = 1,
                  float z = 0) {
    return {{{{x0, y0, z}, {u0, v1}},
             {{x0, y1, z}, {u0, v0}},
             {{x1, y1, z}, {u1, v0}},
             {{x0, y0, z}, {u0, v1}},
             {{x1, y1, z}, {u1, v0}},
             {{x1, y0, z}, {u1, v1}}}};
}

double Encoded(double linear) { return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055; }
double Decoded(double srgb) { return srgb <= 0.04045 ? srgb / 12.92 : std::pow((srgb + 0.055) / 1.055, 2.4); }
int Byte(double c) { return int(std::lround(std::clamp(c, 0.0, 1.0) * 255)); }

class SoftDrawTest : public GpuTest {
protected:
    void SetUp() override {
        GpuTest::SetUp();
        context_ = ImmediateContext(*device_);
        ASSERT_NE(context_, nullptr);
    }

    std::unique_ptr<Texture> Source(uint32_t width, uint32_t height, uint32_t format, const Bytes& pixels,
                                    uint32_t arraySize = 1, uint32_t miscFlags = 0) {
        TextureDesc desc {width, height, 1, arraySize, format, 1, kBindShaderResource, miscFlags};
        auto texture = device_->CreateTexture(desc);
        EXPECT_TRUE(texture && texture->CreateShaderResourceView(format));
        for (uint32_t slice = 0; texture && slice < arraySize; ++slice) {
            EXPECT_TRUE(texture->WritePixels(slice, pixels.data() + slice * pixels.size() / arraySize, pixels.size() / arraySize));
        }
        return texture;
    }
    std::unique_ptr<Texture> Target(uint32_t width, uint32_t height, uint32_t format = format::kR8G8B8A8Unorm,
                                    uint32_t miscFlags = 0) {
        auto texture = device_->CreateTexture({width, height, 1, 1, format, 1, kBindRenderTarget | kBindShaderResource, miscFlags});
        EXPECT_TRUE(texture && texture->CreateRenderTargetView(format));
        EXPECT_TRUE(texture && context_->SetRenderTarget(*texture));
        return texture;
    }
    static Bytes Read(Texture& texture) {
        Bytes pixels;
        EXPECT_TRUE(texture.ReadPixels(0, &pixels));
        return pixels;
    }
    static Bytes Uniform(size_t pixels, Bytes texel) {
        Bytes out;
        for (size_t i = 0; i < pixels; ++i) out.insert(out.end(), texel.begin(), texel.end());
        return out;
    }

    DrawContext* context_ = nullptr;
};

TEST_F(SoftDrawTest, ContextsBelongToOwnedDirect3D11DevicesOnly) {
    EXPECT_EQ(ImmediateContext(*device_), context_);
    EXPECT_NE(ImmediateContext(*MakeDevice()), nullptr);
    EXPECT_EQ(ImmediateContext(*MakeDevice(Api::D3D12)), nullptr);
    const auto wrapped = WrapApplicationDevice(Api::D3D11, device_->NativeDevice());
    ASSERT_NE(wrapped, nullptr);
    EXPECT_EQ(ImmediateContext(*wrapped), nullptr) << "the application's context is not ours";
}

TEST_F(SoftDrawTest, ClearsEncodeForSrgbTargetsAndNeedAColourTarget) {
    for (const auto& [format, expected] : {std::pair {format::kR8G8B8A8Unorm, Bytes {128, 64, 255, 128}},
                                           std::pair {format::kR8G8B8A8UnormSrgb, Bytes {188, 137, 255, 128}},
                                           std::pair {format::kB8G8R8A8UnormSrgb, Bytes {255, 137, 188, 128}}}) {
        const auto target = Target(3, 2, format);
        context_->Clear(0.5f, 0.25f, 1.0f, 0.5f);
        EXPECT_EQ(Read(*target), Uniform(6, expected)) << format;
    }

    // No target: nothing is drawn into the last one.
    const auto last = Target(2, 2);
    context_->Clear(0, 0, 0, 0);
    const auto sampledOnly = device_->CreateTexture({2, 2, 1, 1, format::kR8G8B8A8Unorm, 1, kBindShaderResource, 0});
    EXPECT_FALSE(context_->SetRenderTarget(*sampledOnly));
    const auto halfFloat = device_->CreateTexture({2, 2, 1, 1, format::kR16G16B16A16Float, 1, kBindRenderTarget, 0});
    EXPECT_FALSE(context_->SetRenderTarget(*halfFloat));
    context_->Clear(1, 1, 1, 1);
    EXPECT_EQ(Read(*last), Bytes(16, 0));
}

TEST_F(SoftDrawTest, CopiesReadEveryColourFormatOneToOne) {
    const auto half = [](uint16_t a, uint16_t b, uint16_t c, uint16_t d) {
        Bytes out(8);
        const uint16_t values[4] = {a, b, c, d};
        std::memcpy(out.data(), values, 8);
        return out;
    };
    const auto packed = [](uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
        const uint32_t value = r | g << 10 | b << 20 | a << 30;
        Bytes out(4);
        std::memcpy(out.data(), &value, 4);
        return out;
    };
    const struct {
        uint32_t format;
        Bytes texel;
        Bytes expected;
    } cases[] = {
        {format::kR8G8B8A8Unorm, {10, 20, 30, 40}, {10, 20, 30, 40}},
        {format::kR8G8B8A8UnormSrgb, {128, 255, 0, 128}, {55, 255, 0, 128}},
        {format::kB8G8R8A8Unorm, {30, 20, 10, 40}, {10, 20, 30, 40}},
        {format::kB8G8R8X8Unorm, {30, 20, 10, 0}, {10, 20, 30, 255}},
        // 0.5, 1, -1, 0.25 / just over 1, 0, 2, 65504
        {format::kR16G16B16A16Float, half(0x3800, 0x3C00, 0xBC00, 0x3400), {128, 255, 0, 64}},
        {format::kR16G16B16A16Float, half(0x3C01, 0x0000, 0x4000, 0x7BFF), {255, 0, 255, 255}},
        {format::kR16G16B16A16Unorm, half(0x8080, 0xFFFF, 0, 0x4040), {128, 255, 0, 64}},
        {format::kR10G10B10A2Unorm, packed(1023, 512, 0, 1), {255, 128, 0, 85}},
        // Integer and signed formats are not sampled as colours: an empty slot's zero.
        {format::kR8G8B8A8Uint, {10, 20, 30, 40}, {0, 0, 0, 0}},
        {format::kR8G8B8A8Snorm, {10, 20, 30, 40}, {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        Bytes pixels = c.texel;
        pixels.insert(pixels.end(), c.texel.begin(), c.texel.end());
        const auto source = Source(2, 1, c.format, pixels);
        const auto target = Target(2, 1);
        context_->DrawCopy(*source, {0, 0, 2, 1}, 0, 0, 1, 1);
        EXPECT_EQ(Read(*target), Uniform(2, c.expected)) << "format " << c.format;
    }
}

TEST_F(SoftDrawTest, SrgbViewsDecodeWhenReadAndSrgbTargetsEncodeWhenWritten) {
    Bytes ramp;
    for (int i = 0; i < 256; ++i) ramp.insert(ramp.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i), uint8_t(i)});
    const auto srgb = Source(256, 1, format::kR8G8B8A8UnormSrgb, ramp);
    const auto unorm = Source(256, 1, format::kR8G8B8A8Unorm, ramp);

    auto target = Target(256, 1, format::kR8G8B8A8UnormSrgb);
    context_->DrawCopy(*srgb, {0, 0, 256, 1}, 0, 0, 1, 1);
    EXPECT_EQ(Read(*target), ramp) << "decoded and encoded again";

    context_->DrawCopy(*unorm, {0, 0, 256, 1}, 0, 0, 1, 1);
    Bytes pixels = Read(*target);
    for (int i = 0; i < 256; i += 15) {
        EXPECT_EQ(pixels[i * 4], Byte(Encoded(i / 255.0))) << i;
        EXPECT_EQ(pixels[i * 4 + 3], i) << "alpha is linear";
    }

    target = Target(256, 1);
    context_->DrawCopy(*srgb, {0, 0, 256, 1}, 0, 0, 1, 1);
    pixels = Read(*target);
    for (int i = 0; i < 256; i += 15) {
        EXPECT_EQ(pixels[i * 4], Byte(Decoded(i / 255.0))) << i;
        EXPECT_EQ(pixels[i * 4 + 3], i);
    }
}

TEST_F(SoftDrawTest, ProjectionsWrapCopiesClampAndBothFilterBilinearly) {
    const auto source = Source(2, 1, format::kR8G8B8A8Unorm, {0, 0, 0, 255, 255, 0, 0, 255});
    const auto target = Target(4, 1);
    // Pixel centres sample texel positions -0.25, 0.25, 0.75 and 1.25.
    context_->DrawCopy(*source, {0, 0, 4, 1}, 0, 0, 1, 1);
    Bytes pixels = Read(*target);
    EXPECT_EQ((Bytes {pixels[0], pixels[4], pixels[8], pixels[12]}), (Bytes {0, 64, 191, 255}));
    context_->DrawProjection(Rect(-1, -1, 1, 1), kIdentity, {0, 0, 4, 1}, *source, 0, false);
    pixels = Read(*target);
    EXPECT_EQ((Bytes {pixels[0], pixels[4], pixels[8], pixels[12]}), (Bytes {64, 64, 191, 191}));
}

TEST_F(SoftDrawTest, ProjectionsRaiseToTheGammaAndKeepAlphaQuadsBlendAndWriteTheSourceAlpha) {
    const auto target = Target(4, 4);
    context_->Clear(0, 0, 0, 0.2f);
    const auto colour = Source(1, 1, format::kR8G8B8A8Unorm, {64, 128, 200, 10});
    context_->DrawProjection(Rect(-1, -1, 1, 1), kIdentity, {0, 0, 4, 4}, *colour, 0, true);
    const auto raised = [](int b) { return Byte(std::pow(b / 255.0, 0.454545)); };
    EXPECT_EQ(Read(*target), Uniform(16, {uint8_t(raised(64)), uint8_t(raised(128)), uint8_t(raised(200)), 51}));

    const auto red = Source(1, 1, format::kR8G8B8A8Unorm, {255, 0, 0, 128});
    context_->DrawQuad(Rect(-1, -1, 1, 1), kIdentity, kIdentity, {0, 0, 4, 4}, *red);
    const double a = 128 / 255.0;
    const auto over = [&](double source, int below) { return uint8_t(Byte(source * a + below / 255.0 * (1 - a))); };
    EXPECT_EQ(Read(*target), Uniform(16, {over(1, raised(64)), over(0, raised(128)), over(0, raised(200)), 128}));
}

TEST_F(SoftDrawTest, AdjacentTrianglesCoverEveryPixelExactlyOnce) {
    // Half-transparent white over black: a pixel drawn twice would be brighter than 128.
    const auto white = Source(1, 1, format::kR8G8B8A8Unorm, {255, 255, 255, 128});
    const int size = 64;
    const auto target = Target(size, size);
    struct Corner {
        float x, y;  // clip space, y up
    };
    const Corner shapes[][4] = {
        {{-1, -1}, {-1, 1}, {1, 1}, {1, -1}},  // the diagonal crosses pixel centres
        {{-0.83f, -0.21f}, {-0.13f, 0.91f}, {0.77f, 0.33f}, {0.07f, -0.79f}},
        {{-0.5f, -0.5f}, {-0.5f, 0.5f}, {0.25f, 0.5f}, {0.25f, -0.5f}},
    };
    for (const auto& q : shapes) {
        context_->Clear(0, 0, 0, 0);
        const QuadVertices vertices = {{{{q[0].x, q[0].y, 0}, {0, 1}}, {{q[1].x, q[1].y, 0}, {0, 0}},
                                        {{q[2].x, q[2].y, 0}, {1, 0}}, {{q[0].x, q[0].y, 0}, {0, 1}},
                                        {{q[2].x, q[2].y, 0}, {1, 0}}, {{q[3].x, q[3].y, 0}, {1, 1}}}};
        context_->DrawQuad(vertices, kIdentity, kIdentity, {0, 0, float(size), float(size)}, *white);
        const Bytes pixels = Read(*target);
        int drawn = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const uint8_t value = pixels[(y * size + x) * 4];
                ASSERT_TRUE(value == 0 || value == 128) << "pixel (" << x << ", " << y << ") is " << int(value);
                // Strictly inside (by a margin) must be drawn; clearly outside must not.
                const double px = (x + 0.5) / size * 2 - 1, py = 1 - (y + 0.5) / size * 2;
                double least = 1e9;
                for (int e = 0; e < 4; ++e) {
                    const Corner& from = q[e];
                    const Corner& to = q[(e + 1) % 4];
                    const double length = std::hypot(to.x - from.x, to.y - from.y);
                    least = std::min(least, ((to.x - from.x) * (py - from.y) - (to.y - from.y) * (px - from.x)) / -length);
                }
                if (least > 0.01) {
                    EXPECT_EQ(value, 128) << x << ", " << y;
                } else if (least < -0.01) {
                    EXPECT_EQ(value, 0) << x << ", " << y;
                }
                drawn += value != 0;
            }
        }
        EXPECT_GT(drawn, 0);
    }
}

TEST_F(SoftDrawTest, TextureCoordinatesArePerspectiveCorrect) {
    Bytes gradient;
    for (int i = 0; i < 256; ++i) gradient.insert(gradient.end(), {uint8_t(i), 0, 0, 255});
    const auto source = Source(256, 1, format::kR8G8B8A8Unorm, gradient);
    const auto target = Target(64, 8);
    // A wall receding to the right: its left edge 1 m away, its right edge 3 m, spanning the view.
    const QuadVertices wall = {{{{-1, -1, -1}, {0, 1}}, {{-1, 1, -1}, {0, 0}}, {{3, 3, -3}, {1, 0}},
                                {{-1, -1, -1}, {0, 1}}, {{3, 3, -3}, {1, 0}}, {{3, -3, -3}, {1, 1}}}};
    context_->DrawQuad(wall, kIdentity, kPerspective, {0, 0, 64, 8}, *source);
    const Bytes pixels = Read(*target);
    for (int x = 0; x < 64; ++x) {
        const double ndc = (x + 0.5) / 32 - 1;
        const double u = (ndc + 1) / (4 - 2 * ndc);  // where the eye ray meets the wall
        const double expected = u * 256 - 0.5;
        EXPECT_NEAR(pixels[(4 * 64 + x) * 4], expected, 1.0) << "column " << x;
    }
}

TEST_F(SoftDrawTest, BackFacesGeometryBehindTheEyeAndNonFiniteMatricesAreNotDrawn) {
    const auto white = Source(1, 1, format::kR8G8B8A8Unorm, {255, 255, 255, 255});
    const auto target = Target(16, 16);
    context_->Clear(0, 0, 0, 0);
    // Counter-clockwise on screen: the back of the quad.
    context_->DrawQuad(Rect(1, -1, -1, 1), kIdentity, kIdentity, {0, 0, 16, 16}, *white);
    Matrix broken = kIdentity;
    broken[0] = std::nanf("");
    context_->DrawQuad(Rect(-1, -1, 1, 1), broken, kIdentity, {0, 0, 16, 16}, *white);
    EXPECT_EQ(Read(*target), Bytes(16 * 16 * 4, 0));

    // A floor 1 m below the eye from 50 m ahead to 50 m behind: only what lies ahead shows, up
    // to the horizon.
    const QuadVertices floor = {{{{-50, -1, 50}, {0, 1}}, {{-50, -1, -50}, {0, 0}}, {{50, -1, -50}, {1, 0}},
                                 {{-50, -1, 50}, {0, 1}}, {{50, -1, -50}, {1, 0}}, {{50, -1, 50}, {1, 1}}}};
    context_->DrawQuad(floor, kIdentity, kPerspective, {0, 0, 16, 16}, *white);
    const Bytes pixels = Read(*target);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            EXPECT_EQ(pixels[(y * 16 + x) * 4], y >= 8 ? 255 : 0) << x << ", " << y;
        }
    }
}

TEST_F(SoftDrawTest, SharedTexturesAreDrawnInPlaceAndSampledWhereTheyLive) {
    const auto source = Source(4, 4, format::kR8G8B8A8Unorm, Pattern(ColorDesc(4, 4), 3), 1, kMiscShared);
    const auto target = Target(4, 4, format::kR8G8B8A8Unorm, kMiscSharedKeyedMutex);
    const auto other = MakeDevice();
    const auto seen = other->OpenSharedTexture(target->SharedHandle());
    ASSERT_NE(seen, nullptr);
    ASSERT_EQ(target->AcquireSync(0, 0), kSyncOk);
    context_->DrawCopy(*source, {0, 0, 4, 4}, 0, 0, 1, 1);
    context_->Flush();
    ASSERT_TRUE(target->ReleaseSync(1));
    ASSERT_EQ(seen->AcquireSync(1, 1000), kSyncOk);
    EXPECT_EQ(Read(*seen), Pattern(ColorDesc(4, 4), 3));
    EXPECT_TRUE(seen->ReleaseSync(0));
}

TEST_F(SoftDrawTest, ProjectionsSampleTheGivenArraySliceAndAnEmptySlotReadsZero) {
    Bytes slices = Uniform(4, {10, 10, 10, 10});
    const Bytes second = Uniform(4, {200, 100, 50, 25});
    slices.insert(slices.end(), second.begin(), second.end());
    const auto array = Source(2, 2, format::kR8G8B8A8Unorm, slices, 2);
    const auto target = Target(2, 2);
    context_->Clear(1, 1, 1, 1);
    context_->DrawProjection(Rect(-1, -1, 1, 1), kIdentity, {0, 0, 2, 2}, *array, 1, false);
    EXPECT_EQ(Read(*target), Uniform(4, {200, 100, 50, 255}));

    const auto viewless = device_->CreateTexture({2, 2, 1, 1, format::kR8G8B8A8Unorm, 1, kBindShaderResource, 0});
    ASSERT_NE(viewless, nullptr);
    context_->DrawCopy(*viewless, {0, 0, 2, 2}, 0, 0, 1, 1);
    EXPECT_EQ(Read(*target), Bytes(16, 0));
}

TEST_F(SoftDrawTest, DrawsStayInsideTheirViewport) {
    const auto white = Source(1, 1, format::kR8G8B8A8Unorm, {255, 255, 255, 255});
    const auto target = Target(8, 4);
    context_->Clear(0, 0, 0, 0);
    context_->DrawCopy(*white, {2, 1, 3, 2}, 0, 0, 1, 1);
    context_->DrawQuad(Rect(-5, -5, 5, 5), kIdentity, kIdentity, {7, 3, 4, 4}, *white);  // partly off the target
    const Bytes pixels = Read(*target);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 8; ++x) {
            const bool inside = (x >= 2 && x < 5 && y >= 1 && y < 3) || (x == 7 && y == 3);
            EXPECT_EQ(pixels[(y * 8 + x) * 4], inside ? 255 : 0) << x << ", " << y;
        }
    }
}

// Axis-aligned rectangles take a separable path with row kernels; it must give what the
// triangle path gives, within one step per channel, with either kernel set, on random images.
TEST_F(SoftDrawTest, RectanglesMatchTheTrianglePathWithEveryKernelSet) {
    struct Case {
        const char* what;
        uint32_t sourceWidth, sourceHeight, sourceFormat;
        uint32_t targetWidth, targetHeight, targetFormat;
        bool copy;  // else a projection of `rect` with texture rect `uv`
        bool gamma;
        Viewport viewport;
        float rect[4], uv[4];
    };
    const Case cases[] = {
        {"a view one to one", 64, 48, format::kR8G8B8A8UnormSrgb, 128, 48, format::kR8G8B8A8UnormSrgb, false, true,
         {0, 0, 128, 48}, {-1, -1, 0, 1}, {0, 0, 1, 1}},
        {"a view stretched twice in height", 64, 24, format::kR8G8B8A8UnormSrgb, 128, 48, format::kR8G8B8A8UnormSrgb,
         false, true, {0, 0, 128, 48}, {0, -1, 1, 1}, {0, 0, 1, 1}},
        {"both axes enlarged, wrapping", 37, 23, format::kB8G8R8A8UnormSrgb, 101, 59, format::kR8G8B8A8Unorm, false,
         false, {0, 0, 101, 59}, {-1, -1, 1, 1}, {-0.3f, -0.2f, 1.7f, 1.4f}},
        {"reduced, opaque source", 200, 120, format::kB8G8R8X8Unorm, 50, 33, format::kB8G8R8A8UnormSrgb, false, true,
         {0, 0, 50, 33}, {-1, -1, 1, 1}, {0, 0, 1, 1}},
        {"part off a fractional viewport", 40, 30, format::kR8G8B8A8Unorm, 40, 30, format::kB8G8R8A8Unorm, false,
         false, {-3.5f, 2.25f, 50, 40}, {-0.5f, -0.25f, 0.75f, 0.9f}, {0.1f, 0.2f, 0.8f, 0.7f}},
        {"a window copy of the left half", 96, 54, format::kR8G8B8A8UnormSrgb, 40, 23, format::kB8G8R8A8Unorm, true,
         false, {0, 0, 40, 23}, {}, {0, 0, 0.5f, 1}},
        {"a copy one to one", 33, 17, format::kR8G8B8A8Unorm, 33, 17, format::kB8G8R8A8Unorm, true, false,
         {0, 0, 33, 17}, {}, {0, 0, 1, 1}},
        {"a copy to a third, texel centres only", 96, 54, format::kR8G8B8A8UnormSrgb, 32, 18,
         format::kB8G8R8A8Unorm, true, false, {0, 0, 32, 18}, {}, {0, 0, 1, 1}},
        {"a third in width, stretched in height", 96, 20, format::kR8G8B8A8UnormSrgb, 32, 40,
         format::kR8G8B8A8UnormSrgb, false, true, {0, 0, 32, 40}, {-1, -1, 1, 1}, {0, 0, 1, 1}},
        {"a copy stretched in height, opaque source", 33, 17, format::kB8G8R8X8UnormSrgb, 33, 51,
         format::kR8G8B8A8UnormSrgb, true, false, {0, 0, 33, 51}, {}, {0, 0, 1, 1}},
    };
    std::mt19937 random(1234);
    for (const Case& c : cases) {
        Bytes texels(size_t(c.sourceWidth) * c.sourceHeight * 4);
        for (uint8_t& byte : texels) byte = uint8_t(random());
        const auto source = Source(c.sourceWidth, c.sourceHeight, c.sourceFormat, texels);
        const auto draw = [&](bool rectangles, soft::KernelSet kernels) {
            soft::UseRectangleDraws(rectangles);
            soft::UseKernels(kernels);
            const auto target = Target(c.targetWidth, c.targetHeight, c.targetFormat);
            context_->Clear(0.1f, 0.2f, 0.3f, 0.4f);
            if (c.copy) {
                context_->DrawCopy(*source, c.viewport, c.uv[0], c.uv[1], c.uv[2], c.uv[3]);
            } else {
                context_->DrawProjection(Rect(c.rect[0], c.rect[1], c.rect[2], c.rect[3], c.uv[0], c.uv[1], c.uv[2], c.uv[3]),
                                         kIdentity, c.viewport, *source, 0, c.gamma);
            }
            return Read(*target);
        };
        const Bytes triangles = draw(false, soft::KernelSet::Baseline);
        for (const soft::KernelSet kernels : {soft::KernelSet::Baseline, soft::KernelSet::Avx2}) {
            const auto before = soft::RectangleDraws();
            const Bytes rectangles = draw(true, kernels);
            EXPECT_EQ(soft::RectangleDraws(), before + 1) << c.what << ": not drawn as a rectangle";
            ASSERT_EQ(rectangles.size(), triangles.size());
            int worst = 0;
            size_t at = 0;
            for (size_t i = 0; i < triangles.size(); ++i) {
                const int difference = std::abs(int(rectangles[i]) - int(triangles[i]));
                if (difference > worst) worst = difference, at = i;
            }
            EXPECT_LE(worst, 1) << c.what << " (kernels " << int(kernels) << "): byte " << at << " is "
                                << int(rectangles[at]) << ", the triangle path gives " << int(triangles[at]);
        }
    }
    soft::UseRectangleDraws(true);
    soft::UseKernels(soft::CpuRunsAvx2() ? soft::KernelSet::Avx2 : soft::KernelSet::Baseline);
}

}  // namespace
}  // namespace qor::test
