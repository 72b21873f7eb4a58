// The GDI text painter on a Direct3D 11 device (under Wine on a virtual X server): the back
// buffer read back after drawing, against its colour before.
#include "weaver/text_painter_win32.h"

#include "display/winpipe/display_log_writer.h"
#include "platform/system.h"
#include "tests/support/test_env.h"
#include "weaver/messages.h"
#include "weaver/text_faces.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

namespace qor::plexa {
namespace {

constexpr uint32_t kWidth = 160;
constexpr uint32_t kHeight = 64;
// The back buffer's bytes before drawing, in memory order.
constexpr uint8_t kBackground[4] = {0x20, 0x40, 0x60, 0xFF};

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

class GdiTextPainterTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        device_ = gpu::CreateDevice(gpu::Api::D3D11, 0, &error);
        if (!device_) GTEST_SKIP() << "no Direct3D 11 device can be made here: " << error;
    }

    std::unique_ptr<gpu::Texture> BackBuffer(uint32_t format) {
        gpu::TextureDesc desc;
        desc.width = kWidth;
        desc.height = kHeight;
        desc.format = format;
        desc.bindFlags = gpu::kBindRenderTarget;
        auto texture = device_->CreateTexture(desc);
        if (!texture) return nullptr;
        const uint32_t bytes = gpu::BytesPerPixel(format);
        std::vector<uint8_t> texels(size_t(kWidth) * kHeight * bytes);
        for (size_t i = 0; i < texels.size(); ++i) texels[i] = kBackground[i % 4];
        EXPECT_TRUE(texture->WritePixels(0, texels.data(), texels.size()));
        return texture;
    }

    std::vector<uint8_t> Bytes(gpu::Texture& texture) {
        std::vector<uint8_t> bytes;
        EXPECT_TRUE(texture.ReadPixels(0, &bytes));
        return bytes;
    }

    test::TempEnvironment environment_;
    std::unique_ptr<gpu::Device> device_;
};

// Text shows in its colour inside its box and nowhere else, clipped at the edges; positions
// off the texture, names that are not message fonts and empty text draw nothing.
TEST_F(GdiTextPainterTest, DrawsTheColourInsideTheTextBoxOnly) {
    // A placed font file that GDI refuses: logged, and the system's face stands in.
    const std::string fonts = platform::JoinPath(platform::ProgramDataFolder(), "OEM\\Plexaview\\Font");
    ASSERT_TRUE(platform::CreateFolders(fonts));
    std::ofstream(platform::JoinPath(fonts, std::string(kWarningFont)), std::ios::binary) << "DXTKfont_ not TrueType";
    const std::string logPath = environment_.Path("painter.log");
    auto painter = CreateTextPainter(std::make_shared<winpipe::DisplayLogWriter>("Plexaview", logPath));

    constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
    constexpr Rgba kOrange {1, 0.5f, 0, 1};
    const struct {
        const char* what;
        uint32_t format;
        std::string_view font;
        std::string text;
        float x, y;
        bool drawn;
    } cases[] = {
        {"title", gpu::format::kB8G8R8A8Unorm, kLatinTitleFont, "Norvik", 10, 8, true},
        {"italic key between pixels", gpu::format::kB8G8R8A8Unorm, kLatinKeyFont, "Alt+F4", 20.4f, 20.6f, true},
        {"other scripts' face", gpu::format::kB8G8R8A8Unorm, kOtherBodyFont, "Plexa 3D", 4, 30, true},
        {"frame rate", gpu::format::kB8G8R8A8Typeless, kEmbeddedFont, "60.0", 0, 0, true},
        {"refused placed file", gpu::format::kB8G8R8A8Unorm, kWarningFont, "Warning", 30, 30, true},
        {"invalid UTF-8", gpu::format::kB8G8R8A8Unorm, kLatinBodyFont, "\xFF\xFE" "ab", 40, 10, true},
        {"wider than the texture", gpu::format::kB8G8R8A8Unorm, kLatinTitleFont, std::string(500, 'W'), 0, 10, true},
        {"across the top-left corner", gpu::format::kB8G8R8A8Unorm, kLatinTitleFont, "Clipped", -30, -12, true},
        {"across the bottom-right corner", gpu::format::kB8G8R8A8Unorm, kLatinTitleFont, "Clipped", 120, 44, true},
        {"right of the texture", gpu::format::kB8G8R8A8Unorm, kLatinTitleFont, "Off", kWidth, 0, false},
        {"above the texture", gpu::format::kB8G8R8A8Unorm, kLatinTitleFont, "Off", 0, -100, false},
        {"NaN", gpu::format::kB8G8R8A8Unorm, kLatinTitleFont, "Off", kNaN, 5, false},
        {"huge", gpu::format::kB8G8R8A8Unorm, kLatinTitleFont, "Off", 1e30f, -1e30f, false},
        {"past the int range", gpu::format::kB8G8R8A8Unorm, kLatinTitleFont, "Off", -3e9f, 0, false},
        {"unknown font", gpu::format::kB8G8R8A8Unorm, "Unknown.font", "Text", 10, 10, false},
        {"unknown font again", gpu::format::kB8G8R8A8Unorm, "Unknown.font", "More", 10, 10, false},
        {"empty text", gpu::format::kB8G8R8A8Unorm, kLatinTitleFont, "", 10, 10, false},
        {"RGBA back buffer", gpu::format::kR8G8B8A8Unorm, kLatinTitleFont, "Norvik", 10, 8, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto backBuffer = BackBuffer(c.format);
        ASSERT_TRUE(backBuffer);
        painter->DrawText(*backBuffer, c.font, c.text, c.x, c.y, kOrange);
        const std::vector<uint8_t> bytes = Bytes(*backBuffer);
        ASSERT_EQ(bytes.size(), size_t(kWidth) * kHeight * 4);

        // Red, green and blue of the colour in the back buffer's byte order.
        const auto order = ChannelsOf(c.format);
        ASSERT_TRUE(order);
        uint8_t wanted[4] = {0, 0, 0, 255};
        wanted[order->r] = 255;
        wanted[order->g] = 128;
        wanted[order->b] = 0;
        // A generous box: the font's size per character across, one and a half down.
        const FontFace* face = FaceNamed(c.font);
        const double left = std::round(c.x), top = std::round(c.y);
        const double right = face != nullptr ? left + double(face->pixels) * double(c.text.size()) : left;
        const double bottom = face != nullptr ? top + face->pixels * 1.5 : top;

        size_t changed = 0, full = 0;
        for (uint32_t y = 0; y < kHeight; ++y) {
            for (uint32_t x = 0; x < kWidth; ++x) {
                const uint8_t* texel = &bytes[(size_t(y) * kWidth + x) * 4];
                if (std::equal(texel, texel + 4, kBackground)) continue;
                ++changed;
                ASSERT_TRUE(x >= left && x < right && y >= top && y < bottom) << "changed outside at " << x << ", " << y;
                for (int i = 0; i < 3; ++i) {
                    ASSERT_GE(texel[i], std::min(kBackground[i], wanted[i])) << "byte " << i << " at " << x << ", " << y;
                    ASSERT_LE(texel[i], std::max(kBackground[i], wanted[i])) << "byte " << i << " at " << x << ", " << y;
                }
                if (std::equal(texel, texel + 4, wanted)) ++full;
            }
        }
        if (c.drawn) {
            EXPECT_GE(full, 5u) << changed << " texels changed";
        } else {
            EXPECT_EQ(changed, 0u);
        }
    }
    EXPECT_FALSE(painter->LoadFont("Unknown.font"));
    EXPECT_TRUE(painter->LoadFont(kOtherKeyFont));
    painter.reset();
    const std::string log = test::ReadFile(logPath);
    EXPECT_EQ(Count(log, "is not one of the message fonts"), 1u) << log;
    EXPECT_EQ(Count(log, "is not a TrueType font"), 1u) << log;
}

// A back buffer in a format without 8-bit channels is left as it is, and said once.
TEST_F(GdiTextPainterTest, LeavesBackBuffersItCannotDrawOnAlone) {
    const std::string logPath = environment_.Path("painter.log");
    auto painter = CreateGdiTextPainter(std::make_shared<winpipe::DisplayLogWriter>("Plexaview", logPath));
    for (const uint32_t format : {gpu::format::kR16G16B16A16Float, gpu::format::kR10G10B10A2Unorm}) {
        SCOPED_TRACE(format);
        auto backBuffer = BackBuffer(format);
        ASSERT_TRUE(backBuffer);
        const std::vector<uint8_t> before = Bytes(*backBuffer);
        painter->DrawText(*backBuffer, kLatinTitleFont, "Norvik", 10, 8, kWhite);
        painter->DrawText(*backBuffer, kLatinTitleFont, "Norvik", 10, 8, kWhite);
        EXPECT_EQ(Bytes(*backBuffer), before);
    }
    painter.reset();
    EXPECT_EQ(Count(test::ReadFile(logPath), "cannot be drawn on"), 1u);
}

}  // namespace
}  // namespace qor::plexa
