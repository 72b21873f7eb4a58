// The weaving window on Windows, under Wine on a virtual X server: the program's own window,
// swap chain, Direct3D 11 weaver and message loop, and the weaver's input drawn and woven
// through the graphics seam. (Wine's DXGI shares no textures, so the stage buffer's path is
// tested on POSIX.)
#include "gpu/device.h"
#include "gpu/draw.h"
#include "lenssdk/eye_tracker.h"
#include "platform/window.h"
#include "tests/support/test_env.h"
#include "weaver/panel_weaver.h"
#include "weaver/plexa_app.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <future>
#include <thread>

namespace qor::plexa {
namespace {

using namespace std::chrono_literals;

// A stage handle no process shares: opening it fails, and the program goes on without frames.
constexpr const char* kUnsharedHandle = "1073744386";

TEST(PlexaOnWindows, CoversTheMonitorWithoutTakingInputAndEndsOnTheCloseMessage) {
    test::TempEnvironment environment;
    std::packaged_task<int()> program([] { return RunPlexa(kUnsharedHandle); });
    std::future<int> exitCode = program.get_future();
    std::thread thread(std::move(program));

    // Shown first, then made layered and transparent to the mouse.
    constexpr LONG_PTR kMouseThrough = WS_EX_LAYERED | WS_EX_TRANSPARENT;
    HWND window = nullptr;
    EXPECT_TRUE(test::WaitUntil([&] {
        window = reinterpret_cast<HWND>(platform::FindTopLevelWindow(kWindowClass, kWindowTitle));
        return window != nullptr && IsWindowVisible(window) &&
               (GetWindowLongPtrW(window, GWL_EXSTYLE) & kMouseThrough) == kMouseThrough;
    })) << "no visible \"Plexaview\" window that lets the mouse through";
    if (window != nullptr) {
        EXPECT_EQ(GetWindowLongPtrW(window, GWL_STYLE) & (WS_CAPTION | WS_THICKFRAME), 0);
        // Without an identified panel the window covers the main display.
        RECT rect {};
        GetWindowRect(window, &rect);
        MONITORINFO monitor {};
        monitor.cbSize = sizeof monitor;
        GetMonitorInfoW(MonitorFromPoint(POINT {0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor);
        EXPECT_TRUE(EqualRect(&rect, &monitor.rcMonitor))
            << rect.left << "," << rect.top << " " << rect.right << "x" << rect.bottom;
        EXPECT_TRUE(platform::PostWindowMessage(reinterpret_cast<platform::WindowHandle>(window),
                                                platform::RegisteredWindowMessage("PlexaCloseMSG"), 0, 0));
    }
    const bool ended = exitCode.wait_for(20s) == std::future_status::ready;
    EXPECT_TRUE(ended) << "the program did not end on \"PlexaCloseMSG\"";
    if (!ended && window != nullptr) PostMessageW(window, WM_DESTROY, 0, 0);
    thread.join();
    if (ended) {
        EXPECT_EQ(exitCode.get(), 0);
    }
}

// The side-by-side input drawn through the seam reaches the Direct3D 11 weaver: with red left
// and blue right views, about half the red and half the blue subpixels of the output are lit.
TEST(PlexaOnWindows, TheWeaverInputIsDrawnAndWovenOnTheDevice) {
    std::string error;
    std::unique_ptr<gpu::Device> device = gpu::CreateDevice(gpu::Api::D3D11, 0, &error);
    ASSERT_NE(device, nullptr) << error;
    gpu::DrawContext* context = gpu::ImmediateContext(*device);
    ASSERT_NE(context, nullptr);
    constexpr uint32_t kWidth = 96;
    constexpr uint32_t kHeight = 48;

    lens::LensContext lensContext(0);
    std::unique_ptr<PanelWeaver> weaver = CreatePanelWeaver(lensContext, *device, context, 2 * kWidth, kHeight);
    ASSERT_NE(weaver, nullptr);
    gpu::Texture* input = weaver->Input();
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(input->Desc().width, 2 * kWidth);
    EXPECT_EQ(input->Desc().height, kHeight);

    gpu::TextureDesc sourceDesc;
    sourceDesc.width = 2;
    sourceDesc.height = 1;
    sourceDesc.format = gpu::format::kR8G8B8A8Unorm;
    sourceDesc.bindFlags = gpu::kBindShaderResource;
    std::unique_ptr<gpu::Texture> source = device->CreateTexture(sourceDesc);
    ASSERT_NE(source, nullptr);
    const uint8_t redThenBlue[] = {255, 0, 0, 255, 0, 0, 255, 255};
    ASSERT_TRUE(source->WritePixels(0, redThenBlue, sizeof redThenBlue));
    ASSERT_TRUE(source->CreateShaderResourceView(sourceDesc.format));
    ASSERT_TRUE(context->SetRenderTarget(*input));
    // Each half samples one texel's centre only: red left, blue right.
    context->DrawCopy(*source, gpu::Viewport {0, 0, float(kWidth), float(kHeight)}, 0.25f, 0.5f, 0.25f, 0.5f);
    context->DrawCopy(*source, gpu::Viewport {float(kWidth), 0, float(kWidth), float(kHeight)}, 0.75f, 0.5f, 0.75f,
                      0.5f);

    gpu::TextureDesc backDesc;
    backDesc.width = kWidth;
    backDesc.height = kHeight;
    backDesc.format = gpu::format::kB8G8R8A8Unorm;
    backDesc.bindFlags = gpu::kBindRenderTarget;
    std::unique_ptr<gpu::Texture> backBuffer = device->CreateTexture(backDesc);
    ASSERT_NE(backBuffer, nullptr);
    ASSERT_TRUE(backBuffer->CreateRenderTargetView(backDesc.format));
    ASSERT_TRUE(context->SetRenderTarget(*backBuffer));
    context->Clear(0, 0, 0, 1);
    weaver->Weave(*context, *backBuffer, kWidth, kHeight);
    context->Flush();
    device->WaitIdle();

    std::vector<uint8_t> pixels;
    ASSERT_TRUE(backBuffer->ReadPixels(0, &pixels));
    ASSERT_EQ(pixels.size(), size_t(kWidth) * kHeight * 4);
    size_t red = 0;
    size_t blue = 0;
    size_t green = 0;
    for (size_t i = 0; i < pixels.size(); i += 4) {
        blue += pixels[i] > 128;
        green += pixels[i + 1] > 128;
        red += pixels[i + 2] > 128;
    }
    const size_t count = size_t(kWidth) * kHeight;
    EXPECT_EQ(green, 0u);
    EXPECT_GT(red, count * 35 / 100);
    EXPECT_LT(red, count * 65 / 100);
    EXPECT_GT(blue, count * 35 / 100);
    EXPECT_LT(blue, count * 65 / 100);
}

}  // namespace
}  // namespace qor::plexa
