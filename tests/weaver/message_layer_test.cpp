#include "weaver/message_layer.h"

#include "display/winpipe/display_log_writer.h"
#include "gpu/draw.h"
#include "platform/system.h"
#include "platform/window.h"
#include "tests/support/test_env.h"
#include "weaver/text_painter_sdl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

namespace qor::plexa {
namespace {

struct Texel {
    uint8_t b, g, r, a;
};

class MessageLayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        device_ = gpu::CreateDevice(gpu::Api::D3D11, 0, &error);
        ASSERT_TRUE(device_) << error;
        context_ = gpu::ImmediateContext(*device_);
        ASSERT_NE(context_, nullptr);
    }

    std::unique_ptr<gpu::Texture> MakeTexture(uint32_t width, uint32_t height, uint32_t format, uint32_t bind) {
        gpu::TextureDesc desc;
        desc.width = width;
        desc.height = height;
        desc.format = format;
        desc.bindFlags = bind;
        auto texture = device_->CreateTexture(desc);
        EXPECT_TRUE(texture);
        if (!texture) return nullptr;
        if (bind & gpu::kBindRenderTarget) {
            EXPECT_TRUE(texture->CreateRenderTargetView(format));
        }
        if (bind & gpu::kBindShaderResource) {
            EXPECT_TRUE(texture->CreateShaderResourceView(format));
        }
        return texture;
    }
    std::unique_ptr<gpu::Texture> MakeBackBuffer(uint32_t width, uint32_t height) {
        return MakeTexture(width, height, gpu::format::kB8G8R8A8Unorm, gpu::kBindRenderTarget);
    }

    // The B8G8R8A8 texels of the back buffer.
    std::vector<Texel> Texels(gpu::Texture& texture) {
        std::vector<uint8_t> bytes;
        EXPECT_TRUE(texture.ReadPixels(0, &bytes));
        std::vector<Texel> texels(bytes.size() / 4);
        std::memcpy(texels.data(), bytes.data(), texels.size() * 4);
        return texels;
    }

    test::TempEnvironment environment_;
    std::unique_ptr<gpu::Device> device_;
    gpu::DrawContext* context_ = nullptr;
};

// The message centre created in this process gets each notice once, at its time, only on the
// 3840-wide panel, whatever "Enable_Show" says; an early quit after the show closes it.
TEST_F(MessageLayerTest, NoticesReachTheMessageCentreOnceEachAtTheirTimes) {
    constexpr int64_t kStart = 50000;
    const struct {
        uint32_t width;
        std::vector<int64_t> passes;  // elapsed
        std::optional<int64_t> quit;
        std::vector<uint32_t> received;
    } cases[] = {
        {3840, {0, 100, 2999, 3000, 5000}, std::nullopt, {kShowWarningNotice, kCloseWarningNotice}},
        {3840, {100, 200}, 1000, {kShowWarningNotice, kCloseWarningNotice}},
        {3840, {100}, 3000, {kShowWarningNotice}},
        {3840, {100, 3000}, 3001, {kShowWarningNotice, kCloseWarningNotice}},
        {3840, {}, 100, {}},
        {1920, {0, 100, 3000}, 100, {}},
    };
    auto backBuffer = MakeBackBuffer(64, 64);
    for (const auto& c : cases) {
        std::vector<uint32_t> received;
        const auto centre = platform::CreateTopLevelWindow(
            test::UniqueName("MessageCentre"), kMessageCentreTitle,
            [&](platform::WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) -> int64_t {
                if (message != kShowWarningNotice && message != kCloseWarningNotice) {
                    return platform::DefaultWindowProc(window, message, wParam, lParam);
                }
                EXPECT_EQ(wParam, 0u);
                EXPECT_EQ(lParam, 0);
                received.push_back(message);
                return 7;
            });
        ASSERT_NE(centre, 0u);
        const std::string logPath = environment_.Path("notices.log");
        std::filesystem::remove(logPath);
        MessageLayer layer(*device_, MessageSettings {}, c.width, 2160, false, kStart, nullptr,
                           std::make_shared<winpipe::DisplayLogWriter>("Plexaview", logPath));
        for (const int64_t elapsed : c.passes) layer.Draw(*context_, *backBuffer, nullptr, kStart + elapsed);
        if (c.quit) layer.OnQuit(kStart + *c.quit);
        EXPECT_EQ(received, c.received) << c.width << " quit " << c.quit.value_or(-1);
        const std::string log = test::ReadFile(logPath);
        const bool showLogged = log.find("Sent Show Warning MSG to KVLS. Ret=7") != std::string::npos;
        const bool closeLogged = log.find("Sent Close Warning MSG to KVLS. Ret=7") != std::string::npos;
        EXPECT_EQ(showLogged, !c.received.empty());
        EXPECT_EQ(closeLogged, c.received.size() == 2);
        platform::DestroyWindow(centre);
    }
}

// On the 3840 x 2160 panel the exit hint's box fills its bottom-right rectangle with the
// configured colour and the hint's text is drawn inside it; nothing else changes.
TEST_F(MessageLayerTest, ExitHintBoxAndTextLandInTheBottomRightCorner) {
    MessageSettings settings;
    settings.enableShow = true;
    settings.messageString = "Close the window! Press Alt+Q to exit now";
    settings.red = 200;
    auto backBuffer = MakeBackBuffer(3840, 2160);
    MessageLayer layer(*device_, settings, 3840, 2160, false, 0, CreateSdlTextPainter(nullptr), nullptr);
    layer.Draw(*context_, *backBuffer, nullptr, 10);

    const gpu::Viewport box = BoxPixels(kExitHintBox, 3840, 2160);
    const auto texels = Texels(*backBuffer);
    size_t white = 0;
    size_t grey = 0;
    for (uint32_t y = 0; y < 2160; ++y) {
        for (uint32_t x = 0; x < 3840; ++x) {
            const Texel& t = texels[size_t(y) * 3840 + x];
            const bool inBox = x + 0.5f > box.x && x + 0.5f < box.x + box.width && y + 0.5f > box.y &&
                               y + 0.5f < box.y + box.height;
            if (!inBox) {
                ASSERT_TRUE(t.r == 0 && t.g == 0 && t.b == 0) << x << "," << y;
                continue;
            }
            // The title's white glyphs lie in its line, right of x = 3000.
            if (t.r == 255 && t.g == 255 && t.b == 255) {
                ++white;
                ASSERT_GE(x, 2985u);
            }
            if (t.r == 178 && t.g == 178 && t.b == 178 && y >= 2035) ++grey;  // the body and tail
        }
    }
    EXPECT_GT(white, 100u);
    EXPECT_GT(grey, 50u);
    const Texel corner = texels[size_t(2125) * 3840 + 3800];
    EXPECT_EQ(corner.r, 200);
    EXPECT_EQ(corner.g, 40);
    EXPECT_EQ(corner.b, 60);
    EXPECT_EQ(corner.a, 1);

    // After the show time the layer draws nothing more.
    std::vector<uint8_t> black(size_t(3840) * 2160 * 4, 0);
    ASSERT_TRUE(backBuffer->WritePixels(0, black.data(), black.size()));
    layer.Draw(*context_, *backBuffer, nullptr, 3000);
    for (const Texel& t : Texels(*backBuffer)) ASSERT_EQ(t.r | t.g | t.b, 0);
}

// Elsewhere the warning box shows the stage buffer's top-left and the warning's lines are
// drawn white over it, from (0.41 W, 0.415 H).
TEST_F(MessageLayerTest, WarningBoxShowsTheStageAndTheLinesOverIt) {
    auto stage = MakeTexture(64, 64, gpu::format::kR8G8B8A8Unorm, gpu::kBindShaderResource);
    std::vector<uint8_t> blue(64 * 64 * 4);
    for (size_t i = 0; i < blue.size(); i += 4) blue[i + 2] = blue[i + 3] = 255;
    ASSERT_TRUE(stage->WritePixels(0, blue.data(), blue.size()));
    auto backBuffer = MakeBackBuffer(1920, 1080);
    MessageLayer layer(*device_, MessageSettings {}, 1920, 1080, false, 0, CreateSdlTextPainter(nullptr), nullptr);
    layer.Draw(*context_, *backBuffer, stage.get(), 20000);  // "4KAlways" by default

    const auto texels = Texels(*backBuffer);
    const Texel boxCorner = texels[size_t(530) * 1920 + 770];
    EXPECT_EQ(boxCorner.b, 255);
    EXPECT_EQ(boxCorner.r, 0);
    size_t firstLine = 0;
    size_t secondLine = 0;
    for (uint32_t y = 440; y < 520; ++y) {
        for (uint32_t x = 0; x < 1920; ++x) {
            const Texel& t = texels[size_t(y) * 1920 + x];
            if (t.r != 255 || t.g != 255) continue;
            ASSERT_GE(x, 787u);
            (y < 486 ? firstLine : secondLine) += 1;
        }
    }
    EXPECT_GT(firstLine, 50u);
    EXPECT_GT(secondLine, 50u);
}

// Text is clipped to the texture; fonts that are not TrueType files are replaced and logged
// once; names that are not message fonts draw nothing; nothing faults.
TEST_F(MessageLayerTest, PainterClipsAndSurvivesBadFonts) {
    const std::string fonts = platform::JoinPath(platform::ProgramDataFolder(), "OEM\\Plexaview\\Font");
    ASSERT_TRUE(platform::CreateFolders(fonts));
    std::ofstream(fonts + "/SegoeUI16.font") << "DXTKfont_ not a TrueType font";
    const std::string logPath = environment_.Path("painter.log");
    auto painter = CreateSdlTextPainter(std::make_shared<winpipe::DisplayLogWriter>("Plexaview", logPath));
    auto backBuffer = MakeBackBuffer(100, 40);
    const float corners[][2] = {{-20, -10}, {90, 30}, {1e30f, 0}, {-1e30f, 5}, {0, 1e9f}};
    const Rgba pink {1, 0, 0.5f, 1};
    for (const auto& at : corners) painter->DrawText(*backBuffer, kWarningFont, "Clipped text", at[0], at[1], pink);
    painter->DrawText(*backBuffer, "Unknown.font", "", 0, 0, kWhite);
    painter->DrawText(*backBuffer, "Unknown.font", "Not one of the message fonts", 0, 0, kWhite);
    EXPECT_FALSE(painter->LoadFont("Unknown.font"));
    const auto texels = Texels(*backBuffer);
    size_t covered = 0;
    for (const Texel& t : texels) {
        if (t.r == 0) continue;
        ++covered;
        ASSERT_EQ(t.g, 0);
        ASSERT_NEAR(t.b, t.r / 2, 1);
    }
    EXPECT_GT(covered, 10u);
    EXPECT_GT(texels[0].r, 0);  // the text at (-20, -10) reached the corner
    const std::string log = test::ReadFile(logPath);
    const size_t first = log.find("is not a TrueType font");
    EXPECT_NE(first, std::string::npos);
    EXPECT_EQ(log.find("is not a TrueType font", first + 1), std::string::npos);
}

}  // namespace
}  // namespace qor::plexa
