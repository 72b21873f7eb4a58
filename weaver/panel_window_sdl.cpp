// The POSIX weaving window: messages arrive through the message-bus window of class and title
// "Plexaview"; pixels go to an SDL2 window of the monitor's size, the frame (composed on the
// CPU) copied once into the window's surface. With NORVIK_CAPTURE_DIR set each presented frame
// is also written there as a PNG.
#include "weaver/panel_window.h"

#include "display/capture/png_capture.h"
#include "platform/system.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <optional>

namespace qor::plexa {

namespace {

// Larger than any panel: a rectangle beyond this is a broken display description.
constexpr int32_t kLargestSide = 16384;

void Log(const std::string& text) { std::fprintf(stderr, "Plexa: %s\n", text.c_str()); }

class SdlSwapChain final : public SwapChain {
public:
    SdlSwapChain(SDL_Window* window, std::unique_ptr<gpu::Texture> backBuffer)
        : window_(window),
          backBuffer_(std::move(backBuffer)),
          // Nobody sees an offscreen window: its frames reach only the captures.
          shown_(SDL_GetCurrentVideoDriver() == nullptr || std::strcmp(SDL_GetCurrentVideoDriver(), "offscreen") != 0) {
        const gpu::TextureDesc& desc = backBuffer_->Desc();
        if (const std::optional<std::string> folder = platform::GetEnv("NORVIK_CAPTURE_DIR"); folder && !folder->empty()) {
            folder_ = *folder;
            writer_ = std::make_unique<capture::CaptureWriter>(desc.width, desc.height);
        }
    }
    ~SdlSwapChain() override { writer_.reset(); }

    gpu::Texture& BackBuffer() override { return *backBuffer_; }

    PresentResult Present() override {
        const gpu::TextureDesc& desc = backBuffer_->Desc();
        const uint8_t* pixels = backBuffer_->CpuPixels(0);
        if (pixels == nullptr) return PresentResult::Failed;
        if (SDL_GetWindowFlags(window_) & (SDL_WINDOW_HIDDEN | SDL_WINDOW_MINIMIZED)) return PresentResult::Occluded;
        if (shown_) {
            // The window's own surface: one copy of the frame, no renderer in between.
            SDL_Surface* surface = SDL_GetWindowSurface(window_);
            if (surface == nullptr) return PresentResult::Failed;
            CopyToSurface(pixels, desc.width, desc.height, surface);
            if (SDL_UpdateWindowSurface(window_) != 0) return PresentResult::Failed;
        }
        ++presented_;
        if (writer_ && CaptureDue(presented_) && writer_->HasRoom()) {
            frame_.assign(pixels, pixels + std::size_t(desc.width) * desc.height * 4);
            writer_->Submit(capture::CaptureFilePath(folder_, kWindowTitle, presented_), &frame_);
        }
        return PresentResult::Ok;
    }

    uint64_t PresentedFrames() const override { return presented_; }

private:
    // Blue-first bytes whose fourth is ignored, as a flip swap chain ignores alpha; rows the
    // surface lacks (a window made smaller by the window system) are left out.
    static void CopyToSurface(const uint8_t* pixels, uint32_t width, uint32_t height, SDL_Surface* surface) {
        if (SDL_LockSurface(surface) != 0) return;
        const uint32_t rows = std::min<uint32_t>(height, uint32_t(surface->h));
        const size_t bytes = size_t(std::min<uint32_t>(width, uint32_t(surface->w))) * 4;
        const bool sameLayout = surface->format->BytesPerPixel == 4 && surface->format->Rmask == 0x00FF0000 &&
                                surface->format->Bmask == 0x000000FF;
        if (sameLayout) {
            for (uint32_t row = 0; row < rows; ++row) {
                std::memcpy(static_cast<uint8_t*>(surface->pixels) + size_t(row) * surface->pitch,
                            pixels + size_t(row) * width * 4, bytes);
            }
            SDL_UnlockSurface(surface);
            return;
        }
        SDL_UnlockSurface(surface);
        // Another pixel layout: SDL converts.
        SDL_Surface* frame = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint8_t*>(pixels), int(width), int(height),
                                                                32, int(width * 4), SDL_PIXELFORMAT_XRGB8888);
        if (frame == nullptr) return;
        SDL_BlitSurface(frame, nullptr, surface, nullptr);
        SDL_FreeSurface(frame);
    }

    SDL_Window* window_;
    std::unique_ptr<gpu::Texture> backBuffer_;
    bool shown_;
    std::string folder_;
    std::unique_ptr<capture::CaptureWriter> writer_;
    std::vector<uint8_t> frame_;
    uint64_t presented_ = 0;
};

class SdlPanelWindow final : public PanelWindow {
public:
    ~SdlPanelWindow() override {
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
        return true;
    }

    platform::WindowHandle Handle() const override { return handle_; }
    uint32_t ClientWidth() const override { return width_; }
    uint32_t ClientHeight() const override { return height_; }

    std::unique_ptr<SwapChain> CreateSwapChain(gpu::Device& device, bool /*panelFound*/, std::string* error) override {
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
        if (SDL_GetWindowSurface(window_) == nullptr) {
            if (error) *error = std::string("no window surface: ") + SDL_GetError();
            return nullptr;
        }
        try {
            return std::make_unique<SdlSwapChain>(window_, std::move(backBuffer));
        } catch (const std::exception& failure) {
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

    void Hide() override { SDL_HideWindow(window_); }

private:
    bool Fail(const std::string& text, std::string* error) {
        if (error) *error = text;
        Log(text);
        return false;
    }

    platform::WindowHandle handle_ = 0;
    bool videoReady_ = false;
    SDL_Window* window_ = nullptr;
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
