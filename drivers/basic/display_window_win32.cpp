// The Windows display window: a Win32 window of class "OpenXR_Display_Window" made and pumped
// on the driver's own thread, a Direct3D 11 device on the adapter "GPUStatus" picks, and a
// flip-sequential swap chain. PresentFrame draws on the request thread, as the product does.
//
// Drawing: the stage texture, or its left half, is stretched by gpu/draw.h's DrawCopy into a
// window-sized B8G8R8A8_UNORM target that is copied to the back buffer. The frame rate is
// drawn with GDI after Present: the product's sprite font is not available to this build.
#include "drivers/basic/display_window.h"

#include "drivers/basic/display_adapter.h"
#include "drivers/basic/frame_presentation.h"
#include "gpu/device.h"
#include "platform/desktop.h"
#include "platform/system.h"

#include "gpu/draw.h"

#include <windows.h>

#include <d3d11.h>
#include <dxgi1_2.h>
#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qor::basic {

namespace {

using Microsoft::WRL::ComPtr;

constexpr const wchar_t* kWindowClass = L"OpenXR_Display_Window";
constexpr const wchar_t* kWindowTitle = L"OpenXR Display Window";
constexpr uint32_t kAcquireTimeoutMs = 100;
constexpr uint64_t kStageKey = 1;
constexpr uint64_t kReturnKey = 0;
constexpr uint32_t kStageWidth = 3840;
constexpr uint32_t kStageHeight = 2160;
constexpr UINT kSwapChainBuffers = 2;
// Posted by the destructor: the window thread releases the graphics and destroys its window.
constexpr UINT kTeardownMessage = WM_APP + 1;

void Log(const std::string& text) { platform::DebugOutput("<Sample Driver> " + text + "\n"); }

HINSTANCE ThisModule();

class Win32DisplayWindow final : public DisplayWindow {
public:
    Win32DisplayWindow(const BasicDriverSettings& settings, DisplayWindowKeys keys);
    ~Win32DisplayWindow() override;
    Win32DisplayWindow(const Win32DisplayWindow&) = delete;
    Win32DisplayWindow& operator=(const Win32DisplayWindow&) = delete;

    void SetDisplayState(int32_t state) override;
    void PresentFrame(uint64_t sharedTextureHandle) override;
    bool IsVisible() override { return window_ != nullptr && IsWindowVisible(window_) != FALSE; }
    uint64_t PresentedFrames() const override { return presented_.load(); }
    uint64_t NativeWindow() const override { return reinterpret_cast<uintptr_t>(window_); }

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    void Run();
    bool CreateTheWindow();
    void SetUpGraphics();
    void ReleaseGraphics();
    bool DrawStage();
    void DrawFrameRateText();
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    const BasicDriverSettings settings_;
    const uint32_t width_;
    const uint32_t height_;
    const DisplayWindowKeys keys_;

    HWND window_ = nullptr;  // set before the constructor returns, then only read
    std::thread thread_;
    std::mutex readyMutex_;
    std::condition_variable readySignal_;
    bool ready_ = false;
    std::atomic<uint64_t> presented_ {0};

    // Graphics, used by PresentFrame under presentMutex_.
    std::mutex presentMutex_;
    std::unique_ptr<gpu::Device> device_;
    ID3D11DeviceContext* context_ = nullptr;  // the device's, not owned
    ComPtr<IDXGISwapChain1> swapChain_;
    std::unique_ptr<gpu::Texture> target_;  // the window-sized draw target (DrawCopy only)
    std::unique_ptr<gpu::Texture> stage_;
    uint64_t lastHandle_ = 0;
    FrameRateCounter frameRate_;
};

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&Win32DisplayWindow::WindowProc), &module);
    return module;
}

Win32DisplayWindow::Win32DisplayWindow(const BasicDriverSettings& settings, DisplayWindowKeys keys)
    : settings_(settings),
      width_(std::max<uint32_t>(settings.windowWidth, 1)),
      height_(std::max<uint32_t>(settings.windowHeight, 1)),
      keys_(std::move(keys)) {
    thread_ = std::thread([this] { Run(); });
    std::unique_lock lock(readyMutex_);
    readySignal_.wait(lock, [this] { return ready_; });
}

Win32DisplayWindow::~Win32DisplayWindow() {
    if (window_ != nullptr) PostMessageW(window_, kTeardownMessage, 0, 0);
    if (thread_.joinable()) thread_.join();
}

void Win32DisplayWindow::Run() {
    bool created = false;
    try {
        platform::SetPerMonitorDpiAwareV2();
        created = CreateTheWindow();
        if (created) SetUpGraphics();
    } catch (...) {
    }
    {
        std::lock_guard lock(readyMutex_);
        ready_ = true;
    }
    readySignal_.notify_one();
    if (!created) return;

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    // Fails while another window of the class exists; a later module must not meet this
    // module's window procedure.
    UnregisterClassW(kWindowClass, ThisModule());
}

bool Win32DisplayWindow::CreateTheWindow() {
    WNDCLASSEXW windowClass {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = &Win32DisplayWindow::WindowProc;
    windowClass.hInstance = ThisModule();
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszClassName = kWindowClass;
    if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        Log("display window: RegisterClassExW failed with " + std::to_string(GetLastError()));
        return false;
    }

    HWND window = nullptr;
    if (settings_.fullscreen) {
        window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_NOACTIVATE, kWindowClass, kWindowTitle, WS_POPUP, CW_USEDEFAULT,
                                 CW_USEDEFAULT, static_cast<int>(width_), static_cast<int>(height_), nullptr, nullptr,
                                 ThisModule(), this);
        if (window != nullptr) SetWindowLongPtrW(window, GWL_EXSTYLE, WS_EX_LAYERED | WS_EX_TRANSPARENT);
    } else {
        // The settings give the client size.
        RECT frame {0, 0, static_cast<LONG>(width_), static_cast<LONG>(height_)};
        AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, WS_EX_TOPMOST);
        window = CreateWindowExW(WS_EX_TOPMOST, kWindowClass, kWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                 CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                                 ThisModule(), this);
    }
    if (window == nullptr) {
        Log("display window: CreateWindowExW failed with " + std::to_string(GetLastError()));
        return false;
    }
    EnableMenuItem(GetSystemMenu(window, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
    ShowWindow(window, SW_HIDE);
    window_ = window;
    return true;
}

void Win32DisplayWindow::SetUpGraphics() {
    ComPtr<IDXGIFactory1> factory;
    if (FAILED(CreateDXGIFactory1(__uuidof(IDXGIFactory1), reinterpret_cast<void**>(factory.GetAddressOf())))) {
        Log("display window: no DXGI factory");
        return;
    }
    std::vector<uint32_t> vendors;
    std::vector<uint64_t> luids;
    ComPtr<IDXGIAdapter1> adapter;
    for (UINT i = 0; factory->EnumAdapters1(i, adapter.ReleaseAndGetAddressOf()) != DXGI_ERROR_NOT_FOUND; ++i) {
        DXGI_ADAPTER_DESC1 description {};
        adapter->GetDesc1(&description);
        vendors.push_back(description.VendorId);
        luids.push_back((static_cast<uint64_t>(static_cast<uint32_t>(description.AdapterLuid.HighPart)) << 32) |
                        description.AdapterLuid.LowPart);
    }
    const auto chosen = ChooseDisplayAdapter(vendors, ReadGpuStatus());
    if (!chosen) {
        Log("display window: no graphics adapter");
        return;
    }

    std::lock_guard lock(presentMutex_);
    std::string error;
    device_ = gpu::CreateDevice(gpu::Api::D3D11, luids[*chosen], &error);
    if (!device_) {
        Log("display window: no Direct3D 11 device: " + error);
        return;
    }
    auto* device = static_cast<ID3D11Device*>(device_->NativeDevice());
    context_ = static_cast<ID3D11DeviceContext*>(device_->NativeContext());

    // The swap chain comes from the factory of the device's own adapter.
    ComPtr<IDXGIDevice> dxgiDevice;
    ComPtr<IDXGIAdapter> deviceAdapter;
    ComPtr<IDXGIFactory2> deviceFactory;
    if (FAILED(device->QueryInterface(__uuidof(IDXGIDevice), reinterpret_cast<void**>(dxgiDevice.GetAddressOf()))) ||
        FAILED(dxgiDevice->GetAdapter(deviceAdapter.GetAddressOf())) ||
        FAILED(deviceAdapter->GetParent(__uuidof(IDXGIFactory2), reinterpret_cast<void**>(deviceFactory.GetAddressOf())))) {
        Log("display window: no DXGI factory for the device");
        return;
    }
    DXGI_SWAP_CHAIN_DESC1 description {};
    description.Width = width_;
    description.Height = height_;
    description.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    description.SampleDesc.Count = 1;
    description.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT | DXGI_USAGE_BACK_BUFFER;
    description.BufferCount = kSwapChainBuffers;
    description.Scaling = DXGI_SCALING_STRETCH;
    description.SwapEffect = DXGI_SWAP_EFFECT_FLIP_SEQUENTIAL;
    const HRESULT result =
        deviceFactory->CreateSwapChainForHwnd(device, window_, &description, nullptr, nullptr, swapChain_.GetAddressOf());
    if (FAILED(result)) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(result));
        Log(std::string("display window: CreateSwapChainForHwnd failed with ") + text);
        swapChain_.Reset();
        return;
    }
    gpu::TextureDesc targetDesc;
    targetDesc.width = width_;
    targetDesc.height = height_;
    targetDesc.format = gpu::format::kB8G8R8A8Unorm;
    targetDesc.bindFlags = gpu::kBindRenderTarget;
    target_ = device_->CreateTexture(targetDesc);
    if (!target_ || !target_->CreateRenderTargetView(gpu::format::kB8G8R8A8Unorm) || !gpu::ImmediateContext(*device_)) {
        Log("display window: no draw target");
        target_.reset();
        swapChain_.Reset();
    }
}

void Win32DisplayWindow::ReleaseGraphics() {
    std::lock_guard lock(presentMutex_);
    stage_.reset();
    target_.reset();
    swapChain_.Reset();
    context_ = nullptr;
    device_.reset();
}

void Win32DisplayWindow::SetDisplayState(int32_t state) {
    if (window_ == nullptr) return;
    if (state == 0) {
        ShowWindow(window_, SW_HIDE);
    } else {
        ShowWindow(window_, settings_.fullscreen ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL);
    }
    UpdateWindow(window_);
}

bool Win32DisplayWindow::DrawStage() {
    ComPtr<ID3D11Texture2D> backBuffer;
    if (FAILED(swapChain_->GetBuffer(0, __uuidof(ID3D11Texture2D), reinterpret_cast<void**>(backBuffer.GetAddressOf())))) {
        return false;
    }
    const float uRight = ShowsLeftHalfOnly(settings_.displayMode) ? 0.5f : 1.0f;
    gpu::DrawContext* draw = gpu::ImmediateContext(*device_);
    if (draw == nullptr || !target_ || !draw->SetRenderTarget(*target_)) return false;
    draw->DrawCopy(*stage_, gpu::Viewport {0, 0, static_cast<float>(width_), static_cast<float>(height_)}, 0.0f, 0.0f,
                   uRight, 1.0f);
    draw->Flush();
    context_->CopyResource(backBuffer.Get(), static_cast<ID3D11Texture2D*>(target_->Native()));
    context_->Flush();
    return true;
}

void Win32DisplayWindow::PresentFrame(uint64_t sharedTextureHandle) {
    try {
        std::lock_guard lock(presentMutex_);
        if (!swapChain_) return;
        if (sharedTextureHandle != lastHandle_) {
            lastHandle_ = sharedTextureHandle;
            stage_.reset();
            stage_ = device_->OpenSharedTexture(sharedTextureHandle);
            if (stage_ && !stage_->CreateShaderResourceView(stage_->Desc().format)) stage_.reset();
        }
        if (!stage_) return;
        const uint32_t acquired = stage_->AcquireSync(kStageKey, kAcquireTimeoutMs);
        if (acquired != gpu::kSyncOk && acquired != gpu::kSyncAbandoned) return;
        const bool drawn = DrawStage();
        stage_->ReleaseSync(kReturnKey);
        if (!drawn) return;
        frameRate_.OnFrame(GetTickCount64());
        swapChain_->Present(1, 0);
        if (settings_.showFps) DrawFrameRateText();
        ++presented_;
    } catch (...) {
    }
}

void Win32DisplayWindow::DrawFrameRateText() {
    HDC dc = GetDC(window_);
    if (dc == nullptr) return;
    const std::string& text = frameRate_.Text();
    const std::wstring wide(text.begin(), text.end());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    TextOutW(dc, 0, 0, wide.c_str(), static_cast<int>(wide.size()));
    ReleaseDC(window_, dc);
}

LRESULT CALLBACK Win32DisplayWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32DisplayWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    try {
        return self->HandleMessage(window, message, wParam, lParam);
    } catch (...) {
        return 0;
    }
}

LRESULT Win32DisplayWindow::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_KEYDOWN: {
            if (!keys_.arrow) break;
            switch (wParam) {
                case VK_LEFT:
                    keys_.arrow(ArrowKey::Left);
                    return 0;
                case VK_RIGHT:
                    keys_.arrow(ArrowKey::Right);
                    return 0;
                case VK_UP:
                    keys_.arrow(ArrowKey::Up);
                    return 0;
                case VK_DOWN:
                    keys_.arrow(ArrowKey::Down);
                    return 0;
                default:
                    break;
            }
            break;
        }
        case WM_CHAR:
            if (keys_.character && wParam < 0x80) keys_.character(static_cast<char>(wParam));
            return 0;
        case WM_KEYUP:
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case kTeardownMessage:
            ReleaseGraphics();
            DestroyWindow(window);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

std::unique_ptr<DisplayWindow> CreateDisplayWindow(const BasicDriverSettings& settings, DisplayWindowKeys keys) {
    return std::make_unique<Win32DisplayWindow>(settings, std::move(keys));
}

}  // namespace qor::basic
