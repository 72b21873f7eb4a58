// The Direct3D 11 weaver on a real device (under Wine on a virtual X server): the frame it
// weaves into the bound target, read back, against the CPU reference for the same fixed eyes.
#include "gpu/d3d11/d3d_core.h"
#include "lenssdk/weaver.h"
#include "tests/support/test_env.h"

#include <d3d11.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using qor::gpu::d3d11::Ref;

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;  // four bytes per pixel
    Image(int w, int h) : width(w), height(h), pixels(std::size_t(w) * h * 4) {}
    lens::ImageView View() const { return {pixels.data(), width, height, std::size_t(width) * 4}; }
    lens::MutableImageView MutableView() { return {pixels.data(), width, height, std::size_t(width) * 4}; }
};

// Red and blue bytes swapped: RGBA <-> BGRA.
Image SwapRedBlue(Image image) {
    for (std::size_t i = 0; i < image.pixels.size(); i += 4) std::swap(image.pixels[i], image.pixels[i + 2]);
    return image;
}

std::string EyesText(const lens::EyePair& e) {
    char text[160];
    std::snprintf(text, sizeof text, "%.17g,%.17g,%.17g;%.17g,%.17g,%.17g", e.left.x, e.left.y, e.left.z, e.right.x,
                  e.right.y, e.right.z);
    return text;
}

lens::EyePair Eyes(double x, double y, double z, double depthDifference = 0) {
    return {{x - 31.5, y, z - depthDifference / 2}, {x + 31.5, y, z + depthDifference / 2}};
}

class DX11WeaverTest : public testing::Test {
protected:
    void SetUp() override {
        // Whatever Wine's Direct3D gives under the virtual X server: its hardware device, else WARP.
        for (const D3D_DRIVER_TYPE type : {D3D_DRIVER_TYPE_HARDWARE, D3D_DRIVER_TYPE_WARP}) {
            if (SUCCEEDED(D3D11CreateDevice(nullptr, type, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, nullptr, 0,
                                            D3D11_SDK_VERSION, device_.Put(), nullptr, context_.Put()))) {
                break;
            }
        }
        ASSERT_TRUE(device_) << "no Direct3D 11 device";
    }

    // Weaves `sideBySide` (RGBA) for `eyes` into a fresh w x h swap-chain-format target bound
    // with a w x h viewport, and reads the target back as RGBA.
    Image Weave(const Image& sideBySide, const lens::EyePair& eyes, const lens::WeaveSettings& settings, int w, int h) {
        qor::test::TempEnvironment environment;
        environment.Set("NORVIK_EYES", EyesText(eyes));
        lens::LensContext lensContext(0);
        lens::DX11Weaver weaver(lensContext, device_.Get(), context_.Get(), unsigned(sideBySide.width),
                                unsigned(sideBySide.height));
        weaver.setSettings(settings);
        ID3D11RenderTargetView* frameBuffer = weaver.getFrameBuffer();
        EXPECT_NE(frameBuffer, nullptr);
        if (frameBuffer == nullptr) return Image(0, 0);
        Ref<ID3D11Resource> input;
        frameBuffer->GetResource(input.Put());
        const Image bgra = SwapRedBlue(sideBySide);
        context_->UpdateSubresource(input.Get(), 0, nullptr, bgra.pixels.data(), UINT(bgra.width * 4), 0);

        Ref<ID3D11Texture2D> target = MakeTexture(w, h, D3D11_USAGE_DEFAULT, D3D11_BIND_RENDER_TARGET, 0);
        Ref<ID3D11RenderTargetView> targetView;
        EXPECT_TRUE(SUCCEEDED(device_->CreateRenderTargetView(target.Get(), nullptr, targetView.Put())));
        ID3D11RenderTargetView* view = targetView.Get();
        context_->OMSetRenderTargets(1, &view, nullptr);
        const D3D11_VIEWPORT viewport{0, 0, float(w), float(h), 0, 1};
        context_->RSSetViewports(1, &viewport);
        weaver.weave(unsigned(w), unsigned(h));
        context_->OMSetRenderTargets(0, nullptr, nullptr);
        return SwapRedBlue(ReadBack(target.Get(), w, h));
    }

    Ref<ID3D11Texture2D> MakeTexture(int w, int h, D3D11_USAGE usage, UINT bind, UINT cpuAccess) {
        D3D11_TEXTURE2D_DESC desc{};
        desc.Width = UINT(w);
        desc.Height = UINT(h);
        desc.MipLevels = 1;
        desc.ArraySize = 1;
        desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
        desc.SampleDesc.Count = 1;
        desc.Usage = usage;
        desc.BindFlags = bind;
        desc.CPUAccessFlags = cpuAccess;
        Ref<ID3D11Texture2D> texture;
        EXPECT_TRUE(SUCCEEDED(device_->CreateTexture2D(&desc, nullptr, texture.Put())));
        return texture;
    }

    Image ReadBack(ID3D11Texture2D* texture, int w, int h) {
        Ref<ID3D11Texture2D> staging = MakeTexture(w, h, D3D11_USAGE_STAGING, 0, D3D11_CPU_ACCESS_READ);
        Image image(w, h);
        if (!staging) return image;
        context_->CopyResource(staging.Get(), texture);
        D3D11_MAPPED_SUBRESOURCE mapped{};
        EXPECT_TRUE(SUCCEEDED(context_->Map(staging.Get(), 0, D3D11_MAP_READ, 0, &mapped)));
        if (mapped.pData == nullptr) return image;
        for (int row = 0; row < h; ++row) {
            std::memcpy(image.pixels.data() + std::size_t(row) * w * 4,
                        static_cast<const uint8_t*>(mapped.pData) + std::size_t(row) * mapped.RowPitch,
                        std::size_t(w) * 4);
        }
        context_->Unmap(staging.Get(), 0);
        return image;
    }

    Ref<ID3D11Device> device_;
    Ref<ID3D11DeviceContext> context_;
};

TEST_F(DX11WeaverTest, WeavesWhatTheCpuReferenceWeavesForTheSameEyes) {
    struct Case {
        const char* name;
        lens::EyePair eyes;
        int viewWidth, viewHeight, width, height;
        bool bgr;
        double slant, blendBand;
    };
    const lens::WeaveSettings defaults;
    const Case cases[] = {
        {"eyes level, views scaled twice", Eyes(12, 5, 600), 480, 270, 960, 540, false, defaults.slant,
         defaults.blendBand},
        {"eyes at different depths", Eyes(-20, -8, 610, 40), 480, 270, 960, 540, false, defaults.slant,
         defaults.blendBand},
        {"BGR panel, uneven scale, steeper slant, wide band", Eyes(3, 30, 540), 300, 200, 800, 450, true, 0.4, 0.1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Image source(2 * c.viewWidth, c.viewHeight);
        for (std::size_t i = 0; i < source.pixels.size(); ++i) source.pixels[i] = uint8_t((i * 2654435761u) >> 13);
        lens::WeaveSettings settings;
        settings.bgr = c.bgr;
        settings.slant = c.slant;
        settings.blendBand = c.blendBand;
        const Image woven = Weave(source, c.eyes, settings, c.width, c.height);
        Image reference(c.width, c.height);
        ASSERT_TRUE(lens::WeaveReference(settings, c.eyes, source.View(), reference.MutableView()));
        ASSERT_EQ(woven.pixels.size(), reference.pixels.size());
        int largest = 0;
        for (std::size_t i = 0; i < woven.pixels.size(); ++i) {
            largest = std::max(largest, std::abs(woven.pixels[i] - reference.pixels[i]));
        }
        std::printf("%s: largest difference from the reference %d\n", c.name, largest);
        EXPECT_LE(largest, 2);
    }
}

TEST_F(DX11WeaverTest, RedLeftBlueRightGivesHalfTheSubpixelsToEach) {
    for (const lens::EyePair& eyes : {Eyes(0, 0, 600), Eyes(17, 40, 600), Eyes(0, 0, 600, 30)}) {
        SCOPED_TRACE(EyesText(eyes));
        Image source(2 * 480, 270);
        for (int row = 0; row < source.height; ++row) {
            for (int col = 0; col < source.width; ++col) {
                uint8_t* p = &source.pixels[(std::size_t(row) * source.width + col) * 4];
                p[col < 480 ? 0 : 2] = 255;
                p[3] = 255;
            }
        }
        const Image woven = Weave(source, eyes, lens::WeaveSettings{}, 960, 540);
        double red = 0, blue = 0, green = 0, alpha = 0;
        for (std::size_t i = 0; i < woven.pixels.size(); i += 4) {
            red += woven.pixels[i] / 255.0;
            green += woven.pixels[i + 1] / 255.0;
            blue += woven.pixels[i + 2] / 255.0;
            alpha += woven.pixels[i + 3] / 255.0;
        }
        const double pixels = 960.0 * 540;
        EXPECT_NEAR(red / pixels, 0.5, 0.03);
        EXPECT_NEAR(blue / pixels, 0.5, 0.03);
        EXPECT_EQ(green, 0);
        EXPECT_EQ(alpha, pixels);
    }
}

TEST_F(DX11WeaverTest, LeavesTheCallersPipelineAsItWas) {
    lens::LensContext lensContext(0);
    lens::DX11Weaver weaver(lensContext, device_.Get(), context_.Get(), 64, 32);
    ASSERT_NE(weaver.getFrameBuffer(), nullptr);
    Ref<ID3D11Texture2D> target = MakeTexture(32, 32, D3D11_USAGE_DEFAULT, D3D11_BIND_RENDER_TARGET, 0);
    Ref<ID3D11Texture2D> image = MakeTexture(8, 8, D3D11_USAGE_DEFAULT, D3D11_BIND_SHADER_RESOURCE, 0);
    Ref<ID3D11RenderTargetView> targetView;
    Ref<ID3D11ShaderResourceView> imageView;
    Ref<ID3D11RasterizerState> rasterizer;
    Ref<ID3D11BlendState> blend;
    D3D11_RASTERIZER_DESC rasterizerDesc{D3D11_FILL_SOLID, D3D11_CULL_NONE, FALSE, 0, 0, 0, TRUE, TRUE, FALSE, FALSE};
    D3D11_BLEND_DESC blendDesc{};
    blendDesc.RenderTarget[0].RenderTargetWriteMask = D3D11_COLOR_WRITE_ENABLE_RED;
    ASSERT_TRUE(SUCCEEDED(device_->CreateRenderTargetView(target.Get(), nullptr, targetView.Put())));
    ASSERT_TRUE(SUCCEEDED(device_->CreateShaderResourceView(image.Get(), nullptr, imageView.Put())));
    ASSERT_TRUE(SUCCEEDED(device_->CreateRasterizerState(&rasterizerDesc, rasterizer.Put())));
    ASSERT_TRUE(SUCCEEDED(device_->CreateBlendState(&blendDesc, blend.Put())));

    ID3D11RenderTargetView* views[] = {targetView.Get()};
    context_->OMSetRenderTargets(1, views, nullptr);
    const D3D11_VIEWPORT viewport{0, 0, 32, 32, 0, 1};
    context_->RSSetViewports(1, &viewport);
    context_->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_LINELIST);
    ID3D11ShaderResourceView* images[] = {imageView.Get()};
    context_->PSSetShaderResources(0, 1, images);
    context_->RSSetState(rasterizer.Get());
    const FLOAT factor[4] = {0.25f, 0.5f, 0.75f, 1};
    context_->OMSetBlendState(blend.Get(), factor, 0x0F);
    weaver.weave(32, 32);

    D3D11_PRIMITIVE_TOPOLOGY topology{};
    context_->IAGetPrimitiveTopology(&topology);
    EXPECT_EQ(topology, D3D11_PRIMITIVE_TOPOLOGY_LINELIST);
    Ref<ID3D11ShaderResourceView> boundImage;
    context_->PSGetShaderResources(0, 1, boundImage.Put());
    EXPECT_EQ(boundImage.Get(), imageView.Get());
    Ref<ID3D11RasterizerState> boundRasterizer;
    context_->RSGetState(boundRasterizer.Put());
    EXPECT_EQ(boundRasterizer.Get(), rasterizer.Get());
    Ref<ID3D11BlendState> boundBlend;
    FLOAT boundFactor[4] = {};
    UINT mask = 0;
    context_->OMGetBlendState(boundBlend.Put(), boundFactor, &mask);
    EXPECT_EQ(boundBlend.Get(), blend.Get());
    EXPECT_EQ(boundFactor[1], 0.5f);
    EXPECT_EQ(mask, 0x0Fu);
    Ref<ID3D11RenderTargetView> boundTarget;
    context_->OMGetRenderTargets(1, boundTarget.Put(), nullptr);
    EXPECT_EQ(boundTarget.Get(), targetView.Get());
    context_->OMSetRenderTargets(0, nullptr, nullptr);
}

}  // namespace
