// The POSIX weaving window: messages arrive through the message-bus window of class and title
// "Plexaview"; pixels go to an SDL2 window of the monitor's size, through a software renderer
// (the frame is composed on the CPU). With NORVIK_CAPTURE_DIR set each presented frame is also
// written there as a PNG.
#include "weaver/panel_window.h"

#include "display/capture/png_capture.h"
#include "platform/system.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace qor::plexa {

namespace {

// Larger than any panel: a rectangle beyond this is a broken display description.
constexpr int32_t kLargestSide = 16384;

void Log(const std::string& text) { std::fprintf(stderr, "Plexa: %s\n", text.c_str()); }

class SdlSwapChain final : public SwapChain {
public:
    SdlSwapChain(SDL_Renderer* renderer, SDL_Texture* texture, std::unique_ptr<gpu::Texture> backBuffer)
        : renderer_(renderer), texture_(texture), backBuffer_(std::move(backBuffer)) {
        const gpu::TextureDesc& desc = backBuffer_->Desc();
        if (const std::optional<std::string> folder = platform::GetEnv("NORVIK_CAPTURE_DIR"); folder && !folder->empty()) {
            folder_ = *folder;
            writer_ = std::make_unique<capture::CaptureWriter>(desc.width, desc.height);
        }
    }
    ~SdlSwapChain() override {
        writer_.reset();
        SDL_DestroyTexture(texture_);
    }

    gpu::Texture& BackBuffer() override { return *backBuffer_; }

    PresentResult Present() override {
        const gpu::TextureDesc& desc = backBuffer_->Desc();
        const uint8_t* pixels = backBuffer_->CpuPixels(0);
        if (pixels == nullptr) return PresentResult::Failed;
        if (SDL_UpdateTexture(texture_, nullptr, pixels, int(desc.width * 4)) != 0) return PresentResult::Failed;
        SDL_RenderClear(renderer_);
        SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
        SDL_RenderPresent(renderer_);
        ++presented_;
        if (writer_) {
            frame_.assign(pixels, pixels + std::size_t(desc.width) * desc.height * 4);
            writer_->Submit(capture::CaptureFilePath(folder_, kWindowTitle, presented_), &frame_);
        }
        return PresentResult::Ok;
    }

    uint64_t PresentedFrames() const override { return presented_; }

private:
    SDL_Renderer* renderer_;
    SDL_Texture* texture_;
    std::unique_ptr<gpu::Texture> backBuffer_;
    std::string folder_;
    std::unique_ptr<capture::CaptureWriter> writer_;
    std::vector<uint8_t> frame_;
    uint64_t presented_ = 0;
};

class SdlPanelWindow final : public PanelWindow {
public:
    ~SdlPanelWindow() override {
        if (renderer_ != nullptr) SDL_DestroyRenderer(renderer_);
        if (window_ != nullptr) SDL_DestroyWindow(window_);
        if (videoReady_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
        if (handle_ != 0) platform::DestroyWindow(handle_);
    }

    bool Create(const platform::DesktopRect& monitor, platform::WindowProc proc, std::string* error) {
        handle_ = platform::CreateTopLevelWindow(kWindowClass, kWindowTitle, std::move(proc));
        if (handle_ == 0) return Fail("no message window", error);
        // Signals stay the program's own; without a display SDL's offscreen driver is used
        // (the user's SDL_VIDEODRIVER still wins).
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
        if (!platform::GetEnv("DISPLAY") && !platform::GetEnv("WAYLAND_DISPLAY")) {
            SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
        }
        videoReady_ = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
        if (!videoReady_) return Fail(std::string("SDL video failed: ") + SDL_GetError(), error);
        width_ = uint32_t(std::clamp(monitor.right - monitor.left, 1, kLargestSide));
        height_ = uint32_t(std::clamp(monitor.bottom - monitor.top, 1, kLargestSide));
        // Borderless and top-most over the monitor; it never takes the focus from the application.
        const Uint32 flags = SDL_WINDOW_BORDERLESS | SDL_WINDOW_ALWAYS_ON_TOP | SDL_WINDOW_SKIP_TASKBAR |
                             SDL_WINDOW_SHOWN;
        window_ = SDL_CreateWindow(kWindowTitle, monitor.left, monitor.top, int(width_), int(height_), flags);
        if (window_ == nullptr) return Fail(std::string("no window: ") + SDL_GetError(), error);
        renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
        if (renderer_ == nullptr) return Fail(std::string("no renderer: ") + SDL_GetError(), error);
        return true;
    }

    platform::WindowHandle Handle() const override { return handle_; }
    uint32_t ClientWidth() const override { return width_; }
    uint32_t ClientHeight() const override { return height_; }

    std::unique_ptr<SwapChain> CreateSwapChain(gpu::Device& device, std::string* error) override {
        gpu::TextureDesc desc;
        desc.width = width_;
        desc.height = height_;
        desc.format = gpu::format::kB8G8R8A8Unorm;
        desc.bindFlags = gpu::kBindRenderTarget;
        std::unique_ptr<gpu::Texture> backBuffer = device.CreateTexture(desc);
        if (!backBuffer || !backBuffer->CreateRenderTargetView(desc.format) || backBuffer->CpuPixels(0) == nullptr) {
            if (error) *error = "no back buffer";
            return nullptr;
        }
        // Blue-first bytes whose fourth is ignored, as a flip swap chain ignores alpha.
        SDL_Texture* texture = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_XRGB8888, SDL_TEXTUREACCESS_STREAMING,
                                                 int(width_), int(height_));
        if (texture == nullptr) {
            if (error) *error = std::string("no window texture: ") + SDL_GetError();
            return nullptr;
        }
        try {
            return std::make_unique<SdlSwapChain>(renderer_, texture, std::move(backBuffer));
        } catch (const std::exception& failure) {
            SDL_DestroyTexture(texture);
            if (error) *error = failure.what();
            return nullptr;
        }
    }

    void PumpEvents() override {
        SDL_Event event;
        // The panel window takes no input; the events are only drained.
        while (SDL_PollEvent(&event) != 0) {
        }
    }

private:
    bool Fail(const std::string& text, std::string* error) {
        if (error) *error = text;
        Log(text);
        return false;
    }

    platform::WindowHandle handle_ = 0;
    bool videoReady_ = false;
    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
};

}  // namespace

std::unique_ptr<PanelWindow> CreatePanelWindow(const platform::DesktopRect& monitor, platform::WindowProc proc,
                                               std::string* error) {
    auto window = std::make_unique<SdlPanelWindow>();
    if (!window->Create(monitor, std::move(proc), error)) return nullptr;
    return window;
}

}  // namespace qor::plexa
