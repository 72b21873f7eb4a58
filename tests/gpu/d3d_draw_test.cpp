// The fixed pipelines on a real Direct3D 11 device: pixels read back after projection, quad
// and copy draws.
#include "gpu/draw.h"
#include "tests/gpu/gpu_test_support.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace qor::test {
namespace {
using namespace gpu;

using Rgba = std::array<uint8_t, 4>;

constexpr Matrix kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// Register k gives output component k: the offsets sit in the fourth element of registers 0-2.
Matrix ScaleThenTranslate(float sx, float sy, float tx, float ty) {
    return {sx, 0, 0, tx, 0, sy, 0, ty, 0, 0, 1, 0, 0, 0, 0, 1};
}

// The compositor's rectangle: x from x0 to x1, y from -1 (bottom) to 1 (top), texture rect
// [uL, uR] × [vT, vB].
QuadVertices Rectangle(float x0, float x1, float uL, float vT, float uR, float vB) {
    return {{{{x0, -1, 0}, {uL, vB}},
             {{x0, 1, 0}, {uL, vT}},
             {{x1, 1, 0}, {uR, vT}},
             {{x0, -1, 0}, {uL, vB}},
             {{x1, 1, 0}, {uR, vT}},
             {{x1, -1, 0}, {uR, vB}}}};
}

// The compositor's quad layer: w × h centred on the origin of its plane, the whole image.
QuadVertices LayerRectangle(float w, float h) {
    return {{{{-w / 2, -h / 2, 0}, {0, 1}},
             {{-w / 2, h / 2, 0}, {0, 0}},
             {{w / 2, h / 2, 0}, {1, 0}},
             {{-w / 2, -h / 2, 0}, {0, 1}},
             {{w / 2, h / 2, 0}, {1, 0}},
             {{w / 2, -h / 2, 0}, {1, 1}}}};
}

class D3DDrawTest : public GpuTest {
protected:
    void SetUp() override {
        GpuTest::SetUp();
        if (HasFatalFailure()) return;
        draw_ = ImmediateContext(*device_);
        ASSERT_NE(draw_, nullptr);
    }

    // An RGBA8 texture that can be drawn into and sampled, with both views.
    std::unique_ptr<Texture> MakeTexture(uint32_t width, uint32_t height, const std::vector<uint8_t>* pixels = nullptr) {
        TextureDesc desc = ColorDesc(width, height);
        desc.format = format::kR8G8B8A8Unorm;
        auto texture = device_->CreateTexture(desc);
        EXPECT_NE(texture, nullptr);
        if (texture == nullptr) return nullptr;
        EXPECT_TRUE(texture->CreateRenderTargetView(format::kR8G8B8A8Unorm));
        EXPECT_TRUE(texture->CreateShaderResourceView(format::kR8G8B8A8Unorm));
        if (pixels != nullptr) {
            EXPECT_TRUE(texture->WritePixels(0, pixels->data(), pixels->size()));
        }
        return texture;
    }

    std::unique_ptr<Texture> MakeUniform(uint32_t width, uint32_t height, Rgba color) {
        std::vector<uint8_t> pixels;
        for (uint32_t i = 0; i < width * height; ++i) pixels.insert(pixels.end(), color.begin(), color.end());
        return MakeTexture(width, height, &pixels);
    }

    std::vector<uint8_t> Read(Texture& texture) {
        draw_->Flush();
        std::vector<uint8_t> pixels;
        EXPECT_TRUE(texture.ReadPixels(0, &pixels));
        return pixels;
    }

    DrawContext* draw_ = nullptr;
};

Rgba At(const std::vector<uint8_t>& pixels, uint32_t width, uint32_t x, uint32_t y) {
    const size_t i = (static_cast<size_t>(y) * width + x) * 4;
    return {pixels[i], pixels[i + 1], pixels[i + 2], pixels[i + 3]};
}

std::string Text(Rgba color) {
    std::ostringstream out;
    out << "(" << int(color[0]) << ", " << int(color[1]) << ", " << int(color[2]) << ", " << int(color[3]) << ")";
    return out.str();
}

// Compares every pixel of a width × height image with `expected(x, y)`, each channel within
// `tolerance`; reports the first few differences.
template <typename Expected>
void ExpectImage(const std::vector<uint8_t>& pixels, uint32_t width, uint32_t height, Expected expected,
                 int tolerance = 0) {
    ASSERT_EQ(pixels.size(), static_cast<size_t>(width) * height * 4);
    int reported = 0;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const Rgba actual = At(pixels, width, x, y);
            const Rgba wanted = expected(x, y);
            bool same = true;
            for (int c = 0; c < 4; ++c) same = same && std::abs(int(actual[c]) - int(wanted[c])) <= tolerance;
            if (!same && reported++ < 5) {
                ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << Text(actual) << ", expected " << Text(wanted);
            }
        }
    }
}

TEST_F(D3DDrawTest, ProjectionDrawsEachViewsImageOneToOneIntoItsHalfWithoutWritingAlpha) {
    const auto stage = MakeTexture(16, 8);
    const std::vector<uint8_t> leftPixels = Pattern(ColorDesc(8, 8), 1);
    const std::vector<uint8_t> rightPixels = Pattern(ColorDesc(8, 8), 2);
    const auto left = MakeTexture(8, 8, &leftPixels);
    const auto right = MakeTexture(8, 8, &rightPixels);
    ASSERT_TRUE(stage && left && right);

    ASSERT_TRUE(draw_->SetRenderTarget(*stage));
    draw_->Clear(0, 0, 0, 0.2f);
    const Viewport full {0, 0, 16, 8};
    draw_->DrawProjection(Rectangle(-1, 0, 0, 0, 1, 1), kIdentity, full, *left, 0, false);
    draw_->DrawProjection(Rectangle(0, 1, 0, 0, 1, 1), kIdentity, full, *right, 0, false);

    // The clear's alpha (0.2 → 51) stays: the projection writes colour only.
    ExpectImage(Read(*stage), 16, 8, [&](uint32_t x, uint32_t y) {
        const Rgba source = x < 8 ? At(leftPixels, 8, x, y) : At(rightPixels, 8, x - 8, y);
        return Rgba {source[0], source[1], source[2], 51};
    });
}

TEST_F(D3DDrawTest, ArrayImagesShowTheViewsSliceInProjectionsAndTheFirstInQuads) {
    TextureDesc desc = ColorDesc(4, 4);
    desc.format = format::kR8G8B8A8Unorm;
    desc.arraySize = 3;
    desc.bindFlags = kBindShaderResource;
    const auto image = device_->CreateTexture(desc);
    ASSERT_NE(image, nullptr);
    ASSERT_TRUE(image->CreateShaderResourceView(format::kR8G8B8A8Unorm));
    const Rgba colours[3] = {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}};
    for (uint32_t slice = 0; slice < 3; ++slice) {
        std::vector<uint8_t> pixels;
        for (int i = 0; i < 16; ++i) pixels.insert(pixels.end(), colours[slice].begin(), colours[slice].end());
        ASSERT_TRUE(image->WritePixels(slice, pixels.data(), pixels.size()));
    }
    const auto target = MakeTexture(8, 4);
    ASSERT_TRUE(target);
    ASSERT_TRUE(draw_->SetRenderTarget(*target));
    draw_->Clear(0, 0, 0, 1);
    const Viewport full {0, 0, 8, 4};
    draw_->DrawProjection(Rectangle(-1, 0, 0, 0, 1, 1), kIdentity, full, *image, 2, false);
    draw_->DrawQuad(LayerRectangle(1, 2), ScaleThenTranslate(1, 1, 0.5f, 0), kIdentity, full, *image);
    ExpectImage(Read(*target), 8, 4, [&](uint32_t x, uint32_t) { return x < 4 ? colours[2] : colours[0]; });
}

TEST_F(D3DDrawTest, ProjectionSamplesExactlyTheImageRect) {
    const std::vector<uint8_t> pixels = Pattern(ColorDesc(16, 16), 3);
    const auto image = MakeTexture(16, 16, &pixels);
    const auto target = MakeTexture(8, 4);
    ASSERT_TRUE(image && target);

    // Offset (4, 8), extent 8 × 4 of a 16 × 16 image.
    ASSERT_TRUE(draw_->SetRenderTarget(*target));
    draw_->Clear(0, 0, 0, 1);
    draw_->DrawProjection(Rectangle(-1, 1, 4.0f / 16, 8.0f / 16, 12.0f / 16, 12.0f / 16), kIdentity, {0, 0, 8, 4},
                          *image, 0, false);

    ExpectImage(Read(*target), 8, 4, [&](uint32_t x, uint32_t y) {
        const Rgba source = At(pixels, 16, x + 4, y + 8);
        return Rgba {source[0], source[1], source[2], 255};
    });
}

TEST_F(D3DDrawTest, ProjectionModelAndViewportPlaceTheImage) {
    const auto image = MakeUniform(4, 4, {200, 100, 50, 255});
    const auto target = MakeTexture(16, 8);
    ASSERT_TRUE(image && target);

    // Halved and moved up and right: the top-right quarter of the right-half viewport.
    ASSERT_TRUE(draw_->SetRenderTarget(*target));
    draw_->Clear(0, 0, 1, 1);
    draw_->DrawProjection(Rectangle(-1, 1, 0, 0, 1, 1), ScaleThenTranslate(0.5f, 0.5f, 0.5f, 0.5f), {8, 0, 8, 8},
                          *image, 0, false);

    ExpectImage(Read(*target), 16, 8, [](uint32_t x, uint32_t y) {
        return x >= 12 && y < 4 ? Rgba {200, 100, 50, 255} : Rgba {0, 0, 255, 255};
    });
}

TEST_F(D3DDrawTest, GammaCorrectionRaisesEveryColourChannelToTheReciprocalOf2_2) {
    const Rgba color {0, 64, 128, 255};
    const auto image = MakeUniform(4, 4, color);
    const auto plain = MakeTexture(4, 4);
    const auto corrected = MakeTexture(4, 4);
    ASSERT_TRUE(image && plain && corrected);

    for (auto* target : {plain.get(), corrected.get()}) {
        ASSERT_TRUE(draw_->SetRenderTarget(*target));
        draw_->Clear(0, 0, 0, 1);
        draw_->DrawProjection(Rectangle(-1, 1, 0, 0, 1, 1), kIdentity, {0, 0, 4, 4}, *image, 7,
                              target == corrected.get());
    }

    // The array index changes nothing; without the flag the colour is copied as it is.
    ExpectImage(Read(*plain), 4, 4, [&](uint32_t, uint32_t) { return color; });
    Rgba gamma {0, 0, 0, 255};
    for (int c = 0; c < 3; ++c) {
        gamma[c] = static_cast<uint8_t>(std::lround(255.0 * std::pow(color[c] / 255.0, 1 / 2.2)));
    }
    ASSERT_EQ(gamma[1], 136);  // the expectation itself: (64 / 255)^(1 / 2.2) · 255
    ExpectImage(Read(*corrected), 4, 4, [&](uint32_t, uint32_t) { return gamma; }, 1);
}

TEST_F(D3DDrawTest, QuadIsPlacedByModelThenViewProjectionAndBlendedWithItsAlpha) {
    const auto image = MakeUniform(4, 4, {240, 0, 0, 64});
    const auto stage = MakeTexture(16, 8);
    ASSERT_TRUE(image && stage);

    // A 0.5 × 0.5 quad moved by (0.25, 0.25), then doubled: clip x and y from 0 to 1, the
    // top-right quarter of the left-half viewport. (Doubling first would put it elsewhere.)
    ASSERT_TRUE(draw_->SetRenderTarget(*stage));
    draw_->Clear(0, 0, 1, 1);
    draw_->DrawQuad(LayerRectangle(0.5f, 0.5f), ScaleThenTranslate(1, 1, 0.25f, 0.25f), ScaleThenTranslate(2, 2, 0, 0), {0, 0, 8, 8},
                    *image);

    // Colour: source · alpha + target · (1 − alpha); alpha: the source's.
    const double alpha = 64 / 255.0;
    const Rgba blended {static_cast<uint8_t>(std::lround(240 * alpha)), 0,
                        static_cast<uint8_t>(std::lround(255 * (1 - alpha))), 64};
    ExpectImage(
        Read(*stage), 16, 8,
        [&](uint32_t x, uint32_t y) { return x >= 4 && x < 8 && y < 4 ? blended : Rgba {0, 0, 255, 255}; }, 1);
}

TEST_F(D3DDrawTest, CopyShowsTheChosenHalfOfTheSourceWithItsAlpha) {
    const std::vector<uint8_t> pixels = Pattern(ColorDesc(16, 8), 4);
    const auto source = MakeTexture(16, 8, &pixels);
    const auto left = MakeTexture(8, 8);
    const auto right = MakeTexture(8, 8);
    ASSERT_TRUE(source && left && right);

    for (auto* target : {left.get(), right.get()}) {
        ASSERT_TRUE(draw_->SetRenderTarget(*target));
        draw_->Clear(1, 1, 1, 1);
        const float u0 = target == left.get() ? 0.0f : 0.5f;
        draw_->DrawCopy(*source, {0, 0, 8, 8}, u0, 0, u0 + 0.5f, 1);
    }

    ExpectImage(Read(*left), 8, 8, [&](uint32_t x, uint32_t y) { return At(pixels, 16, x, y); });
    ExpectImage(Read(*right), 8, 8, [&](uint32_t x, uint32_t y) { return At(pixels, 16, x + 8, y); });
}

TEST_F(D3DDrawTest, CopyIntoAViewportLeavesTheRestOfTheTarget) {
    const auto source = MakeUniform(4, 4, {10, 20, 30, 40});
    const auto target = MakeTexture(8, 4);
    ASSERT_TRUE(source && target);

    ASSERT_TRUE(draw_->SetRenderTarget(*target));
    draw_->Clear(1, 1, 1, 1);
    draw_->DrawCopy(*source, {4, 0, 4, 4}, 0, 0, 1, 1);

    ExpectImage(Read(*target), 8, 4, [](uint32_t x, uint32_t) {
        return x >= 4 ? Rgba {10, 20, 30, 40} : Rgba {255, 255, 255, 255};
    });
}

TEST_F(D3DDrawTest, CopyClampsAtTheImageEdgesWhereTheCompositorWraps) {
    // Black and white, stretched to four pixels: the outer pixels sample half a texel beyond
    // the image's edges.
    const std::vector<uint8_t> pixels = {0, 0, 0, 255, 255, 255, 255, 255};
    const auto source = MakeTexture(2, 1, &pixels);
    const auto copied = MakeTexture(4, 1);
    const auto projected = MakeTexture(4, 1);
    ASSERT_TRUE(source && copied && projected);

    ASSERT_TRUE(draw_->SetRenderTarget(*copied));
    draw_->DrawCopy(*source, {0, 0, 4, 1}, 0, 0, 1, 1);
    ASSERT_TRUE(draw_->SetRenderTarget(*projected));
    draw_->Clear(0, 0, 0, 1);
    draw_->DrawProjection(Rectangle(-1, 1, 0, 0, 1, 1), kIdentity, {0, 0, 4, 1}, *source, 0, false);

    const uint8_t clamped[4] = {0, 64, 191, 255};
    const uint8_t wrapped[4] = {64, 64, 191, 191};
    ExpectImage(
        Read(*copied), 4, 1, [&](uint32_t x, uint32_t) { return Rgba {clamped[x], clamped[x], clamped[x], 255}; }, 1);
    ExpectImage(
        Read(*projected), 4, 1, [&](uint32_t x, uint32_t) { return Rgba {wrapped[x], wrapped[x], wrapped[x], 255}; },
        1);
}

TEST_F(D3DDrawTest, TheContextIsTheDevicesOwnAndDrawsOnlyIntoItsTextures) {
    EXPECT_EQ(ImmediateContext(*device_), draw_);

    // An application's device: its immediate context is the application's.
    const auto wrapped = WrapApplicationDevice(Api::D3D11, device_->NativeDevice());
    ASSERT_NE(wrapped, nullptr);
    EXPECT_EQ(ImmediateContext(*wrapped), nullptr);

    // A target needs a render target view, made on this device.
    TextureDesc desc = ColorDesc(4, 4);
    desc.format = format::kR8G8B8A8Unorm;
    const auto noView = device_->CreateTexture(desc);
    ASSERT_NE(noView, nullptr);
    EXPECT_FALSE(draw_->SetRenderTarget(*noView));
    const auto otherDevice = MakeDevice();
    ASSERT_NE(otherDevice, nullptr);
    const auto foreign = otherDevice->CreateTexture(desc);
    ASSERT_NE(foreign, nullptr);
    ASSERT_TRUE(foreign->CreateRenderTargetView(format::kR8G8B8A8Unorm));
    EXPECT_FALSE(draw_->SetRenderTarget(*foreign));
}

TEST_F(D3DDrawTest, ADirect3D12DeviceHasNoContextToDrawWith) {
    std::string error;
    const auto d3d12 = CreateDevice(Api::D3D12, 0, &error);
    SKIP_IF_WINE_CANNOT(d3d12 != nullptr, "make a Direct3D 12 device here: " << error);
    ASSERT_NE(d3d12, nullptr) << error;
    EXPECT_EQ(ImmediateContext(*d3d12), nullptr);
}

}  // namespace
}  // namespace qor::test
