// Textures on one device: which descriptions are refused, views, and CPU access per slice.
#include "tests/gpu/gpu_test_support.h"

namespace qor::test {
namespace {
using namespace gpu;

using TextureRulesTest = GpuTest;

TEST_F(TextureRulesTest, RefusesEmptySizesUnknownFormatsAndConflictingShareFlags) {
    const TextureDesc good = ColorDesc(64, 32, 2);
    ASSERT_NE(device_->CreateTexture(good), nullptr);

    TextureDesc desc = good;
    desc.width = 0;
    EXPECT_EQ(device_->CreateTexture(desc), nullptr);
    desc = good;
    desc.height = 0;
    EXPECT_EQ(device_->CreateTexture(desc), nullptr);
    desc = good;
    desc.arraySize = 0;
    EXPECT_EQ(device_->CreateTexture(desc), nullptr);
    for (const uint32_t unknown : {format::kUnknown, 999u}) {
        desc = good;
        desc.format = unknown;
        EXPECT_EQ(device_->CreateTexture(desc), nullptr) << "format " << unknown;
    }
    // A legacy-shared texture cannot also carry the keyed mutex; an NT handle needs one of them.
    desc = good;
    desc.miscFlags = kMiscShared | kMiscSharedKeyedMutex;
    EXPECT_EQ(device_->CreateTexture(desc), nullptr);
    desc = good;
    desc.miscFlags = kMiscSharedNtHandle;
    EXPECT_EQ(device_->CreateTexture(desc), nullptr);
}

TEST_F(TextureRulesTest, ReportsTheDescriptionItWasMadeWith) {
    TextureDesc desc = ColorDesc(40, 24, 3, kMiscShared);
    desc.format = format::kR16G16B16A16Typeless;
    desc.mipLevels = 2;
    const auto texture = device_->CreateTexture(desc);
    ASSERT_NE(texture, nullptr);
    const TextureDesc& made = texture->Desc();
    EXPECT_EQ(made.width, 40u);
    EXPECT_EQ(made.height, 24u);
    EXPECT_EQ(made.mipLevels, 2u);
    EXPECT_EQ(made.arraySize, 3u);
    EXPECT_EQ(made.format, format::kR16G16B16A16Typeless);
    EXPECT_EQ(made.sampleCount, 1u);
    EXPECT_EQ(made.bindFlags, kBindShaderResource | kBindRenderTarget);
    EXPECT_EQ(made.miscFlags, kMiscShared);
}

TEST_F(TextureRulesTest, ViewsNeedTheirBindFlagAndAFormatOfTheTexturesFamily) {
    for (const uint32_t arraySize : {1u, 3u}) {
        const auto color = device_->CreateTexture(ColorDesc(16, 16, arraySize));
        ASSERT_NE(color, nullptr);
        EXPECT_FALSE(color->HasShaderResourceView());
        EXPECT_TRUE(color->CreateShaderResourceView(format::kR8G8B8A8UnormSrgb)) << arraySize;
        EXPECT_TRUE(color->HasShaderResourceView());
        EXPECT_TRUE(color->CreateRenderTargetView(format::kR8G8B8A8Unorm)) << arraySize;
        EXPECT_FALSE(color->CreateShaderResourceView(format::kR16G16B16A16Float));
        EXPECT_FALSE(color->CreateDepthStencilView(format::kD32FloatS8X24Uint));
    }

    // A typed texture is seen only in its own format.
    TextureDesc typed = ColorDesc(16, 16);
    typed.format = format::kR8G8B8A8Unorm;
    const auto typedTexture = device_->CreateTexture(typed);
    ASSERT_NE(typedTexture, nullptr);
    EXPECT_FALSE(typedTexture->CreateShaderResourceView(format::kR8G8B8A8UnormSrgb));
    EXPECT_TRUE(typedTexture->CreateShaderResourceView(format::kR8G8B8A8Unorm));

    TextureDesc renderOnly = ColorDesc(16, 16);
    renderOnly.bindFlags = kBindRenderTarget;
    const auto target = device_->CreateTexture(renderOnly);
    ASSERT_NE(target, nullptr);
    EXPECT_FALSE(target->CreateShaderResourceView(format::kR8G8B8A8Unorm));
    EXPECT_FALSE(target->HasShaderResourceView());

    TextureDesc depthDesc = ColorDesc(16, 16);
    depthDesc.format = format::kD32FloatS8X24Uint;
    depthDesc.bindFlags = kBindDepthStencil;
    const auto depth = device_->CreateTexture(depthDesc);
    ASSERT_NE(depth, nullptr);
    EXPECT_TRUE(depth->CreateDepthStencilView(format::kD32FloatS8X24Uint));
    EXPECT_FALSE(depth->CreateRenderTargetView(format::kR8G8B8A8Unorm));
}

using PixelTest = GpuTest;

TEST_F(PixelTest, EverySliceKeepsItsOwnPixels) {
    for (const uint32_t format : {format::kR8G8B8A8Typeless, format::kR16G16B16A16Typeless}) {
        TextureDesc desc = ColorDesc(33, 17, 3);
        desc.format = format;
        desc.mipLevels = 2;  // slices of a mipmapped array are not adjacent subresources
        const auto texture = device_->CreateTexture(desc);
        ASSERT_NE(texture, nullptr);
        for (uint32_t slice = 0; slice < 3; ++slice) {
            const auto pixels = Pattern(desc, slice + 1);
            ASSERT_TRUE(texture->WritePixels(slice, pixels.data(), pixels.size()));
        }
        for (uint32_t slice = 0; slice < 3; ++slice) {
            std::vector<uint8_t> read;
            ASSERT_TRUE(texture->ReadPixels(slice, &read));
            EXPECT_EQ(read, Pattern(desc, slice + 1)) << "format " << format << " slice " << slice;
        }
    }
}

TEST_F(PixelTest, RefusesWrongSizesAndSlicesOutOfRange) {
    const TextureDesc desc = ColorDesc(8, 8, 2);
    const auto texture = device_->CreateTexture(desc);
    ASSERT_NE(texture, nullptr);
    const auto pixels = Pattern(desc, 1);
    EXPECT_FALSE(texture->WritePixels(0, pixels.data(), pixels.size() - 1));
    EXPECT_FALSE(texture->WritePixels(2, pixels.data(), pixels.size()));
    std::vector<uint8_t> read;
    EXPECT_FALSE(texture->ReadPixels(2, &read));
}

}  // namespace
}  // namespace qor::test
