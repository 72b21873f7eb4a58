// The POSIX display window: an SDL2 window (SDL's offscreen driver when there is no display)
// with a software renderer and a streaming texture of the window's size. The request thread,
// holding the stage's keyed mutex, stretches the stage texture (or its left half) into a
// window-sized B8G8R8A8_UNORM target with gpu/draw.h's DrawCopy, bilinear as on Windows, and
// hands a copy of that target over; so only window-sized frames are kept. The window thread
// draws the frame-rate text with SDL2_ttf, presents, and with $NORVIK_CAPTURE_DIR set queues
// the presented image for a writer thread that stores it there as
// "OpenXR Display Window_000001.png", "..._000002.png", ... (numbered by presented frame from
// the window's creation; a frame the writer had no room for leaves a gap in the numbers).
#include "drivers/basic/display_window.h"

#include "drivers/basic/frame_presentation.h"
#include "display/capture/png_capture.h"
#include "drivers/basic/sdl_subsystems.h"
#include "gpu/device.h"
#include "gpu/draw.h"
#include "platform/system.h"

#include <SDL.h>
#include <SDL_ttf.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qor::basic {

namespace {

constexpr const char* kWindowTitle = "OpenXR Display Window";
constexpr const char* kFontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr int kFontPixels = 24;
constexpr uint32_t kAcquireTimeoutMs = 100;
constexpr uint64_t kStageKey = 1;    // the compositor releases with it after drawing
constexpr uint64_t kReturnKey = 0;   // and acquires this one next
// Events are looked at this often while no task arrives.
constexpr std::chrono::milliseconds kEventPollInterval {10};

class SdlDisplayWindow;

void Log(const std::string& text) { platform::DebugOutput("<Sample Driver> " + text + "\n"); }

// The one thread of the process that makes SDL calls. SDL's video and event functions belong
// to a single thread, so every display window of the process lives on it; it runs while at
// least one window exists.
class SdlThread {
public:
    static SdlThread* Attach();
    static void Detach();

    // Runs `task` on the thread, after the tasks posted before it.
    void Post(std::function<void()> task);
    // The same, waiting for the task to finish.
    void Call(const std::function<void()>& task);

    // On the thread.
    bool VideoReady() const { return videoReady_; }
    bool FontsReady() const { return fontsReady_; }
    void AddWindow(uint32_t id, SdlDisplayWindow* window) { windows_[id] = window; }
    void RemoveWindow(uint32_t id) { windows_.erase(id); }

private:
    SdlThread();
    ~SdlThread();
    void Run(std::promise<void>* started);
    void Initialize();
    void Shutdown();
    void PumpEvents();
    void HandleEvent(const SDL_Event& event);
    SdlDisplayWindow* WindowOf(uint32_t id) const;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;

    // Thread-only.
    bool eventsReady_ = false;
    bool videoReady_ = false;
    bool fontsReady_ = false;
    std::map<uint32_t, SdlDisplayWindow*> windows_;

    std::thread thread_;
};

// Constant-initialised, so they outlive every static object that may own a window.
std::mutex g_lifecycleMutex;
SdlThread* g_sdlThread = nullptr;
int g_sdlThreadUsers = 0;

class SdlDisplayWindow final : public DisplayWindow {
public:
    SdlDisplayWindow(const BasicDriverSettings& settings, DisplayWindowKeys keys);
    ~SdlDisplayWindow() override;
    SdlDisplayWindow(const SdlDisplayWindow&) = delete;
    SdlDisplayWindow& operator=(const SdlDisplayWindow&) = delete;

    void SetDisplayState(int32_t state) override;
    void PresentFrame(uint64_t sharedTextureHandle) override;
    bool IsVisible() override;
    uint64_t PresentedFrames() const override { return presented_.load(); }
    uint64_t NativeWindow() const override { return windowId_.load(); }

    // Window thread: what the keyboard and the window manager ask.
    void OnKeyDown(SDL_Keycode key);
    void OnText(const char* text);
    void OnCloseRequest();

private:
    void CreateOnThread();
    void DestroyOnThread();
    void ShowOnThread(bool show);
    void DrawPendingFrame();
    void DrawFrameRateText();
    void BlendCoverage(const SDL_Surface* coverage, int left, int top, uint32_t rgb);
    void PresentTexture();

    // Request side, under presentMutex_.
    bool MakeTarget();
    bool DrawStage();
    void ReleaseFrameResources();

    size_t FrameBytes() const { return size_t {width_} * height_ * 4; }

    const BasicDriverSettings settings_;
    const uint32_t width_;
    const uint32_t height_;
    const DisplayWindowKeys keys_;
    const std::optional<std::string> captureFolder_;
    SdlThread* thread_;

    // Window thread only.
    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
    TTF_Font* font_ = nullptr;
    SDL_Surface* textSurface_ = nullptr;
    std::string textSurfaceText_;
    bool textureHasFrame_ = false;
    std::vector<uint8_t> working_;  // B8G8R8A8 rows of the window's width
    FrameRateCounter frameRate_;
    uint64_t captureNumber_ = 0;
    // Made before the first frame when captures are wanted; fed on the window thread.
    std::unique_ptr<capture::CaptureWriter> captures_;
    std::atomic<uint64_t> captureFailures_ {0};

    std::atomic<uint64_t> windowId_ {0};
    std::atomic<uint64_t> presented_ {0};
    std::atomic<bool> windowReady_ {false};

    // Request side, under presentMutex_.
    std::mutex presentMutex_;
    std::unique_ptr<gpu::Device> device_;
    std::unique_ptr<gpu::Texture> stage_;
    std::unique_ptr<gpu::Texture> target_;  // window-sized, B8G8R8A8_UNORM
    bool targetFailureLogged_ = false;
    uint64_t lastHandle_ = 0;
    std::vector<uint8_t> incoming_;

    // The hand-off: the newest frame not yet drawn.
    std::mutex frameMutex_;
    std::vector<uint8_t> pending_;
    bool framePending_ = false;
};

// ---- SdlThread ----

SdlThread* SdlThread::Attach() {
    std::lock_guard lock(g_lifecycleMutex);
    if (g_sdlThread == nullptr) g_sdlThread = new SdlThread();
    ++g_sdlThreadUsers;
    return g_sdlThread;
}

void SdlThread::Detach() {
    std::lock_guard lock(g_lifecycleMutex);
    if (--g_sdlThreadUsers > 0) return;
    // Under the lock: a window made meanwhile waits for SDL to be shut down first.
    delete g_sdlThread;
    g_sdlThread = nullptr;
}

SdlThread::SdlThread() {
    std::promise<void> started;
    auto ready = started.get_future();
    thread_ = std::thread([this, &started] { Run(&started); });
    ready.wait();
}

SdlThread::~SdlThread() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
    // SDL is shut down here rather than on its thread: it unloads libraries, and when the
    // driver itself is being unloaded this thread holds the loader's lock, which the SDL
    // thread would wait for. SDL only needs one thread at a time, and its own has ended.
    Shutdown();
}

void SdlThread::Post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void SdlThread::Call(const std::function<void()>& task) {
    if (std::this_thread::get_id() == thread_.get_id()) {
        task();
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    bool done = false;
    Post([&] {
        try {
            task();
        } catch (...) {
        }
        // Notified under the lock: the waiter may destroy the signal as soon as it sees `done`.
        std::lock_guard lock(doneMutex);
        done = true;
        doneSignal.notify_one();
    });
    std::unique_lock lock(doneMutex);
    doneSignal.wait(lock, [&] { return done; });
}

void SdlThread::Run(std::promise<void>* started) {
    try {
        Initialize();
    } catch (...) {
    }
    started->set_value();
    for (;;) {
        std::deque<std::function<void()>> batch;
        {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, kEventPollInterval, [this] { return stopping_ || !tasks_.empty(); });
            batch.swap(tasks_);
            if (stopping_ && batch.empty()) break;
        }
        for (auto& task : batch) {
            try {
                task();
            } catch (...) {
            }
        }
        PumpEvents();
    }
    // SDL keeps per-thread data (its error text) that only its own threads free on exit.
    SDL_TLSCleanup();
}

void SdlThread::Initialize() {
    std::lock_guard lock(g_sdlSubsystemMutex);
    // The service owns SIGINT and SIGTERM, and a hidden window must not keep the screen awake.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    // Frames are composed on the CPU; a GL-backed window surface would only load EGL into the
    // service (and its drivers keep allocations that are never given back).
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    // Without a display SDL would try the console's KMS device before its offscreen driver; a
    // hint (not the environment) keeps the choice inside this process, and SDL_VIDEODRIVER set
    // by the user still wins.
    if (!platform::GetEnv("DISPLAY") && !platform::GetEnv("WAYLAND_DISPLAY")) {
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
    }
    eventsReady_ = SDL_InitSubSystem(SDL_INIT_EVENTS) == 0;
    videoReady_ = eventsReady_ && SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    if (!videoReady_) {
        Log(std::string("display window: SDL video failed: ") + SDL_GetError());
        return;
    }
    SDL_StartTextInput();
    fontsReady_ = TTF_Init() == 0;
    if (!fontsReady_) Log(std::string("display window: SDL_ttf failed: ") + TTF_GetError());
}

void SdlThread::Shutdown() {
    std::lock_guard lock(g_sdlSubsystemMutex);
    if (fontsReady_) TTF_Quit();
    if (videoReady_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    if (eventsReady_) SDL_QuitSubSystem(SDL_INIT_EVENTS);
    fontsReady_ = videoReady_ = eventsReady_ = false;
}

void SdlThread::PumpEvents() {
    if (!eventsReady_) return;
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) HandleEvent(event);
}

SdlDisplayWindow* SdlThread::WindowOf(uint32_t id) const {
    const auto found = windows_.find(id);
    return found == windows_.end() ? nullptr : found->second;
}

void SdlThread::HandleEvent(const SDL_Event& event) {
    // SDL_QUIT (the last window closed, or a signal) ends nothing: the driver's windows live
    // as long as their devices.
    switch (event.type) {
        case SDL_KEYDOWN:
            if (auto* window = WindowOf(event.key.windowID)) window->OnKeyDown(event.key.keysym.sym);
            break;
        case SDL_TEXTINPUT:
            if (auto* window = WindowOf(event.text.windowID)) window->OnText(event.text.text);
            break;
        case SDL_WINDOWEVENT:
            if (event.window.event == SDL_WINDOWEVENT_CLOSE) {
                if (auto* window = WindowOf(event.window.windowID)) window->OnCloseRequest();
            }
            break;
        default:
            break;
    }
}

// ---- SdlDisplayWindow ----

std::optional<std::string> CaptureFolder() {
    auto folder = platform::GetEnv("NORVIK_CAPTURE_DIR");
    if (!folder || folder->empty()) return std::nullopt;
    return folder;
}

SdlDisplayWindow::SdlDisplayWindow(const BasicDriverSettings& settings, DisplayWindowKeys keys)
    : settings_(settings),
      width_(std::max<uint32_t>(settings.windowWidth, 1)),
      height_(std::max<uint32_t>(settings.windowHeight, 1)),
      keys_(std::move(keys)),
      captureFolder_(CaptureFolder()),
      thread_(SdlThread::Attach()) {
    thread_->Call([this] { CreateOnThread(); });
    if (!windowReady_) return;
    if (captureFolder_) {
        try {
            captures_ = std::make_unique<capture::CaptureWriter>(
                width_, height_, [this](const std::string& path, const uint8_t* bgra, uint32_t width, uint32_t height) {
                    if (capture::WriteCapturePng(path, bgra, width, height)) return true;
                    // Named once: a full disk would otherwise be logged with every frame.
                    if (captureFailures_++ == 0) Log("display window: cannot write " + path);
                    return false;
                });
        } catch (const std::exception& error) {
            Log(std::string("display window: no capture writer: ") + error.what());
        }
    }
    std::string error;
    auto device = gpu::CreateDevice(gpu::Api::D3D11, 0, &error);
    if (!device) Log("display window: no graphics device: " + error);
    std::lock_guard lock(presentMutex_);
    device_ = std::move(device);
}

SdlDisplayWindow::~SdlDisplayWindow() {
    thread_->Call([this] { DestroyOnThread(); });
    SdlThread::Detach();
    if (!captures_) return;
    // Nothing is submitted any more; what is queued is written before the writer goes.
    const uint64_t skipped = captures_->Skipped();
    captures_.reset();
    if (skipped != 0) Log("display window: " + std::to_string(skipped) + " captures skipped, the writer being behind");
    if (const uint64_t failed = captureFailures_.load(); failed != 0) {
        Log("display window: " + std::to_string(failed) + " captures could not be written");
    }
}

void SdlDisplayWindow::CreateOnThread() {
    if (!thread_->VideoReady()) return;
    // Top-most like the product's window; borderless in place of its popup when fullscreen;
    // resizable like an overlapped window, the frame stretched to whatever size it has.
    Uint32 flags = SDL_WINDOW_HIDDEN | SDL_WINDOW_ALWAYS_ON_TOP;
    flags |= settings_.fullscreen ? (SDL_WINDOW_BORDERLESS | SDL_WINDOW_SKIP_TASKBAR) : SDL_WINDOW_RESIZABLE;
    window_ = SDL_CreateWindow(kWindowTitle, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, static_cast<int>(width_),
                               static_cast<int>(height_), flags);
    if (window_ == nullptr) {
        Log(std::string("display window: no window: ") + SDL_GetError());
        return;
    }
    const uint32_t id = SDL_GetWindowID(window_);
    thread_->AddWindow(id, this);
    windowId_ = id;

    renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
    if (renderer_ != nullptr) {
        // B8G8R8A8 frames whose fourth byte is ignored, as a swap chain ignores the stage's alpha.
        texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_XRGB8888, SDL_TEXTUREACCESS_STREAMING,
                                     static_cast<int>(width_), static_cast<int>(height_));
    }
    if (renderer_ == nullptr || texture_ == nullptr) {
        Log(std::string("display window: no renderer: ") + SDL_GetError());
        return;
    }
    if (settings_.showFps && thread_->FontsReady()) {
        font_ = TTF_OpenFont(kFontPath, kFontPixels);
        if (font_ == nullptr) Log(std::string("display window: no font: ") + TTF_GetError());
    }
    windowReady_ = true;
}

void SdlDisplayWindow::DestroyOnThread() {
    if (window_ != nullptr) thread_->RemoveWindow(SDL_GetWindowID(window_));
    if (textSurface_ != nullptr) SDL_FreeSurface(textSurface_);
    if (font_ != nullptr) TTF_CloseFont(font_);
    if (texture_ != nullptr) SDL_DestroyTexture(texture_);
    if (renderer_ != nullptr) SDL_DestroyRenderer(renderer_);
    if (window_ != nullptr) SDL_DestroyWindow(window_);
    textSurface_ = nullptr;
    font_ = nullptr;
    texture_ = nullptr;
    renderer_ = nullptr;
    window_ = nullptr;
}

void SdlDisplayWindow::SetDisplayState(int32_t state) {
    try {
        thread_->Call([this, state] { ShowOnThread(state != 0); });
        if (state == 0) ReleaseFrameResources();
    } catch (...) {
    }
}

// The driver hides the window when a session ends: the stage's mapping and the frame buffers
// go, so the service's memory falls back after its last session. The next frame makes them again.
void SdlDisplayWindow::ReleaseFrameResources() {
    std::lock_guard lock(presentMutex_);
    stage_.reset();
    lastHandle_ = 0;
    target_.reset();
    std::vector<uint8_t>().swap(incoming_);
}

bool SdlDisplayWindow::IsVisible() {
    bool visible = false;
    try {
        thread_->Call([this, &visible] {
            visible = window_ != nullptr && (SDL_GetWindowFlags(window_) & SDL_WINDOW_SHOWN) != 0;
        });
    } catch (...) {
    }
    return visible;
}

void SdlDisplayWindow::ShowOnThread(bool show) {
    if (window_ == nullptr) return;
    if (!show) {
        SDL_HideWindow(window_);
        std::vector<uint8_t>().swap(working_);
        {
            std::lock_guard handOff(frameMutex_);
            if (!framePending_) std::vector<uint8_t>().swap(pending_);
        }
        if (captures_) captures_->ReleaseSpareBuffers();
        return;
    }
    SDL_ShowWindow(window_);
    if (settings_.fullscreen) SDL_MaximizeWindow(window_);
    // A window shown again shows the last frame until the next one arrives.
    if (textureHasFrame_) PresentTexture();
}

void SdlDisplayWindow::OnKeyDown(SDL_Keycode key) {
    if (!keys_.arrow) return;
    switch (key) {
        case SDLK_LEFT:
            keys_.arrow(ArrowKey::Left);
            break;
        case SDLK_RIGHT:
            keys_.arrow(ArrowKey::Right);
            break;
        case SDLK_UP:
            keys_.arrow(ArrowKey::Up);
            break;
        case SDLK_DOWN:
            keys_.arrow(ArrowKey::Down);
            break;
        default:
            break;
    }
}

void SdlDisplayWindow::OnText(const char* text) {
    if (!keys_.character || text == nullptr) return;
    for (; *text != '\0'; ++text) keys_.character(*text);
}

// The product greys out Close; here the window manager can still ask, and the window only hides.
void SdlDisplayWindow::OnCloseRequest() {
    if (window_ != nullptr) SDL_HideWindow(window_);
}

bool SdlDisplayWindow::MakeTarget() {
    if (target_) return true;
    gpu::TextureDesc desc;
    desc.width = width_;
    desc.height = height_;
    desc.format = gpu::format::kB8G8R8A8Unorm;
    desc.bindFlags = gpu::kBindRenderTarget;
    target_ = device_->CreateTexture(desc);
    if (target_ && target_->CreateRenderTargetView(desc.format)) return true;
    target_.reset();
    if (!targetFailureLogged_) Log("display window: no draw target");
    targetFailureLogged_ = true;
    return false;
}

bool SdlDisplayWindow::DrawStage() {
    gpu::DrawContext* draw = gpu::ImmediateContext(*device_);
    if (draw == nullptr || !draw->SetRenderTarget(*target_)) return false;
    const float uRight = ShowsLeftHalfOnly(settings_.displayMode) ? 0.5f : 1.0f;
    draw->DrawCopy(*stage_, gpu::Viewport {0, 0, static_cast<float>(width_), static_cast<float>(height_)}, 0.0f, 0.0f,
                   uRight, 1.0f);
    draw->Flush();
    return true;
}

void SdlDisplayWindow::PresentFrame(uint64_t sharedTextureHandle) {
    try {
        std::lock_guard lock(presentMutex_);
        if (!windowReady_ || !device_) return;
        if (sharedTextureHandle != lastHandle_) {
            lastHandle_ = sharedTextureHandle;
            stage_.reset();
            stage_ = device_->OpenSharedTexture(sharedTextureHandle);
            // Sampled through a view of its own format: an sRGB stage is decoded, as on Windows.
            if (stage_ && !stage_->CreateShaderResourceView(stage_->Desc().format)) stage_.reset();
        }
        if (!stage_ || !MakeTarget()) return;
        const uint32_t acquired = stage_->AcquireSync(kStageKey, kAcquireTimeoutMs);
        // An abandoned mutex is held all the same; only a time-out or a failure skips.
        if (acquired != gpu::kSyncOk && acquired != gpu::kSyncAbandoned) return;
        bool drawn = false;
        try {
            drawn = DrawStage();
        } catch (...) {
        }
        stage_->ReleaseSync(kReturnKey);
        // The target is the window's own: it is read once the compositor has its stage back.
        if (!drawn || !target_->ReadPixels(0, &incoming_) || incoming_.size() != FrameBytes()) return;

        bool wake = false;
        {
            std::lock_guard handOff(frameMutex_);
            std::swap(incoming_, pending_);
            wake = !framePending_;
            framePending_ = true;
        }
        // A frame not yet drawn is replaced: the window shows the newest one.
        if (wake) thread_->Post([this] { DrawPendingFrame(); });
    } catch (...) {
    }
}

void SdlDisplayWindow::DrawPendingFrame() {
    {
        std::lock_guard handOff(frameMutex_);
        if (!framePending_) return;
        std::swap(pending_, working_);
        framePending_ = false;
    }
    if (texture_ == nullptr || working_.size() != FrameBytes()) return;
    frameRate_.OnFrame(SDL_GetTicks64());
    if (settings_.showFps) DrawFrameRateText();
    SDL_UpdateTexture(texture_, nullptr, working_.data(), static_cast<int>(width_ * 4));
    textureHasFrame_ = true;
    PresentTexture();
    ++presented_;
    // The frame's buffer goes to the writer, which gives back one it has finished with.
    if (captures_) captures_->Submit(capture::CaptureFilePath(*captureFolder_, kWindowTitle, ++captureNumber_), &working_);
}

void SdlDisplayWindow::PresentTexture() {
    SDL_RenderClear(renderer_);
    SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
    SDL_RenderPresent(renderer_);
}

// White text with a black shadow, readable on any frame; rendered again only when it changes.
void SdlDisplayWindow::DrawFrameRateText() {
    if (font_ == nullptr) return;
    const std::string& text = frameRate_.Text();
    if (textSurface_ == nullptr || text != textSurfaceText_) {
        if (textSurface_ != nullptr) SDL_FreeSurface(textSurface_);
        textSurface_ = nullptr;
        SDL_Surface* rendered = TTF_RenderUTF8_Blended(font_, text.c_str(), SDL_Color {255, 255, 255, 255});
        if (rendered == nullptr) return;
        textSurface_ = SDL_ConvertSurfaceFormat(rendered, SDL_PIXELFORMAT_ARGB8888, 0);
        SDL_FreeSurface(rendered);
        if (textSurface_ == nullptr) return;
        textSurfaceText_ = text;
    }
    BlendCoverage(textSurface_, 1, 1, 0x000000u);
    BlendCoverage(textSurface_, 0, 0, 0xFFFFFFu);
}

// Blends `rgb` (0xRRGGBB) into the frame where the surface's alpha says, at (left, top).
void SdlDisplayWindow::BlendCoverage(const SDL_Surface* coverage, int left, int top, uint32_t rgb) {
    const int rows = std::min(coverage->h, static_cast<int>(height_) - top);
    const int columns = std::min(coverage->w, static_cast<int>(width_) - left);
    for (int y = 0; y < rows; ++y) {
        const auto* source =
            reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(coverage->pixels) + y * coverage->pitch);
        uint8_t* target = working_.data() + (static_cast<size_t>(y + top) * width_ + left) * 4;
        for (int x = 0; x < columns; ++x, target += 4) {
            const uint32_t alpha = source[x] >> 24;
            if (alpha == 0) continue;
            // Blue, green, red: the bytes of a B8G8R8A8 pixel.
            for (int channel = 0; channel < 3; ++channel) {
                const uint32_t over = (rgb >> (8 * channel)) & 0xFF;
                target[channel] = static_cast<uint8_t>((over * alpha + target[channel] * (255 - alpha) + 127) / 255);
            }
            target[3] = 0xFF;
        }
    }
}

}  // namespace

std::unique_ptr<DisplayWindow> CreateDisplayWindow(const BasicDriverSettings& settings, DisplayWindowKeys keys) {
    return std::make_unique<SdlDisplayWindow>(settings, std::move(keys));
}

}  // namespace qor::basic
