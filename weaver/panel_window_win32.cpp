// The Windows weaving window: a borderless top-most pop-up exactly over the panel's monitor
// that takes no focus and no mouse input and is left out of screen captures, shown through a
// DXGI flip-sequential swap chain of two buffers.
#include "weaver/panel_window.h"

#include "platform/system.h"

#include <windows.h>
#include <d3d11.h>
#include <dxgi1_2.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdio>

using Microsoft::WRL::ComPtr;

namespace qor::plexa {

namespace {

constexpr UINT kSwapChainBuffers = 2;
// Screen capture does not see the woven image (WDA_EXCLUDEFROMCAPTURE; older headers lack it).
constexpr DWORD kExcludeFromCapture = 0x11;
// The main display, which never is the panel when the panel was identified.
constexpr const wchar_t* kMainDisplay = L"\\\\.\\DISPLAY1";

void Log(const std::string& text) { platform::DebugOutput("Plexa: " + text + "\n"); }

// Larger than any panel: a rectangle beyond this is a broken display description.
constexpr int64_t kLargestSide = 16384;

uint32_t Side(int32_t from, int32_t to) { return uint32_t(std::clamp<int64_t>(int64_t(to) - from, 1, kLargestSide)); }

std::string Hex(HRESULT result) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(result));
    return text;
}

// Per-monitor awareness v2: the window's size is in the panel's own pixels. Looked up at run
// time, as systems before Windows 10 1703 lack it.
void BecomePerMonitorDpiAware() {
    using SetContext = HANDLE(WINAPI*)(HANDLE);
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (user32 == nullptr) return;
    auto set = reinterpret_cast<SetContext>(
        reinterpret_cast<void*>(GetProcAddress(user32, "SetThreadDpiAwarenessContext")));
    // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
    if (set != nullptr) set(reinterpret_cast<HANDLE>(static_cast<intptr_t>(-4)));
}

// The first output, on any adapter, that is not the main display; null when there is none.
ComPtr<IDXGIOutput> FirstOutputBesidesMainDisplay() {
    ComPtr<IDXGIFactory1> factory;
    if (FAILED(CreateDXGIFactory1(__uuidof(IDXGIFactory1), reinterpret_cast<void**>(factory.GetAddressOf())))) {
        return nullptr;
    }
    ComPtr<IDXGIAdapter1> adapter;
    for (UINT a = 0; factory->EnumAdapters1(a, adapter.ReleaseAndGetAddressOf()) != DXGI_ERROR_NOT_FOUND; ++a) {
        ComPtr<IDXGIOutput> output;
        for (UINT o = 0; adapter->EnumOutputs(o, output.ReleaseAndGetAddressOf()) != DXGI_ERROR_NOT_FOUND; ++o) {
            DXGI_OUTPUT_DESC desc {};
            if (SUCCEEDED(output->GetDesc(&desc)) && lstrcmpiW(desc.DeviceName, kMainDisplay) != 0) return output;
        }
    }
    return nullptr;
}

class DxgiSwapChain final : public SwapChain {
public:
    DxgiSwapChain(ComPtr<IDXGISwapChain1> swapChain, std::unique_ptr<gpu::Texture> backBuffer)
        : swapChain_(std::move(swapChain)), backBuffer_(std::move(backBuffer)) {}

    // Buffer 0 of a Direct3D 11 flip swap chain is always the one to draw next, so one view
    // serves every frame.
    gpu::Texture& BackBuffer() override { return *backBuffer_; }

    PresentResult Present() override {
        DXGI_PRESENT_PARAMETERS parameters {};
        const HRESULT result = swapChain_->Present1(1, 0, &parameters);
        if (result == DXGI_STATUS_OCCLUDED) return PresentResult::Occluded;
        if (FAILED(result)) return PresentResult::Failed;
        ++presented_;
        return PresentResult::Ok;
    }

    uint64_t PresentedFrames() const override { return presented_; }

private:
    ComPtr<IDXGISwapChain1> swapChain_;
    std::unique_ptr<gpu::Texture> backBuffer_;
    uint64_t presented_ = 0;
};

class Win32PanelWindow final : public PanelWindow {
public:
    ~Win32PanelWindow() override {
        if (handle_ != 0) platform::DestroyWindow(handle_);
    }

    bool Create(const platform::DesktopRect& monitor, platform::WindowProc proc, std::string* error) {
        BecomePerMonitorDpiAware();
        // Found by class and title from other processes, which post it "PlexaCloseMSG".
        handle_ = platform::CreateTopLevelWindow(kWindowClass, kWindowTitle, std::move(proc));
        if (handle_ == 0) return Fail("CreateWindowExW failed with " + std::to_string(GetLastError()), error);
        HWND window = Hwnd();
        width_ = Side(monitor.left, monitor.right);
        height_ = Side(monitor.top, monitor.bottom);
        SetWindowLongPtrW(window, GWL_EXSTYLE, WS_EX_NOACTIVATE | WS_EX_TOPMOST);
        SetWindowPos(window, HWND_TOPMOST, monitor.left, monitor.top, int(width_), int(height_),
                     SWP_NOACTIVATE | SWP_FRAMECHANGED);
        ShowWindow(window, SW_SHOWNORMAL);
        UpdateWindow(window);
        // Layered and transparent: clicks go through to the application underneath.
        SetWindowLongPtrW(window, GWL_EXSTYLE, WS_EX_LAYERED | WS_EX_TRANSPARENT);
        if (!SetWindowDisplayAffinity(window, kExcludeFromCapture)) {
            Log("SetWindowDisplayAffinity failed with " + std::to_string(GetLastError()));
        }
        return true;
    }

    platform::WindowHandle Handle() const override { return handle_; }
    uint32_t ClientWidth() const override { return width_; }
    uint32_t ClientHeight() const override { return height_; }

    std::unique_ptr<SwapChain> CreateSwapChain(gpu::Device& device, bool panelFound, std::string* error) override {
        auto* d3dDevice = static_cast<ID3D11Device*>(device.NativeDevice());
        if (device.Kind() != gpu::Api::D3D11 || d3dDevice == nullptr) return Refuse("not a Direct3D 11 device", error);
        // The swap chain comes from the factory of the device's own adapter.
        ComPtr<IDXGIDevice> dxgiDevice;
        ComPtr<IDXGIAdapter> adapter;
        ComPtr<IDXGIFactory2> factory;
        if (FAILED(d3dDevice->QueryInterface(__uuidof(IDXGIDevice), reinterpret_cast<void**>(dxgiDevice.GetAddressOf()))) ||
            FAILED(dxgiDevice->GetAdapter(adapter.GetAddressOf())) ||
            FAILED(adapter->GetParent(__uuidof(IDXGIFactory2), reinterpret_cast<void**>(factory.GetAddressOf())))) {
            return Refuse("no DXGI factory for the device", error);
        }
        ComPtr<IDXGIOutput> restrictTo = panelFound ? FirstOutputBesidesMainDisplay() : nullptr;
        DXGI_SWAP_CHAIN_DESC1 desc {};
        desc.Width = width_;
        desc.Height = height_;
        desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
        desc.Stereo = FALSE;
        desc.SampleDesc.Count = 1;
        desc.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
        desc.BufferCount = kSwapChainBuffers;
        desc.Scaling = DXGI_SCALING_STRETCH;
        desc.SwapEffect = DXGI_SWAP_EFFECT_FLIP_SEQUENTIAL;
        desc.AlphaMode = DXGI_ALPHA_MODE_UNSPECIFIED;
        ComPtr<IDXGISwapChain1> swapChain;
        const HRESULT created = factory->CreateSwapChainForHwnd(d3dDevice, Hwnd(), &desc, nullptr, restrictTo.Get(),
                                                                swapChain.GetAddressOf());
        if (FAILED(created)) return Refuse("CreateSwapChainForHwnd failed with " + Hex(created), error);
        ComPtr<ID3D11Texture2D> buffer;
        if (FAILED(swapChain->GetBuffer(0, __uuidof(ID3D11Texture2D), reinterpret_cast<void**>(buffer.GetAddressOf())))) {
            return Refuse("Swapchain buffer get failed", error);
        }
        std::unique_ptr<gpu::Texture> backBuffer = device.WrapNativeTexture(buffer.Get());
        if (!backBuffer || !backBuffer->CreateRenderTargetView(gpu::format::kB8G8R8A8Unorm)) {
            return Refuse("Render Target View create failed", error);
        }
        return std::make_unique<DxgiSwapChain>(std::move(swapChain), std::move(backBuffer));
    }

    // The main loop's message pump serves this window.
    void PumpEvents() override {}
    void Hide() override { ShowWindow(Hwnd(), SW_HIDE); }

private:
    HWND Hwnd() const { return reinterpret_cast<HWND>(handle_); }

    static bool Fail(const std::string& text, std::string* error) {
        if (error) *error = text;
        Log(text);
        return false;
    }
    static std::unique_ptr<SwapChain> Refuse(const std::string& text, std::string* error) {
        Fail(text, error);
        return nullptr;
    }

    platform::WindowHandle handle_ = 0;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
};

}  // namespace

std::unique_ptr<PanelWindow> CreatePanelWindow(const platform::DesktopRect& monitor, platform::WindowProc proc,
                                               std::string* error) {
    auto window = std::make_unique<Win32PanelWindow>();
    if (!window->Create(monitor, std::move(proc), error)) return nullptr;
    return window;
}

}  // namespace qor::plexa
