// Win32 message-only windows and the thread's message loop.
#include "platform/window.h"
#include "platform/win32/wide.h"

#include "platform/system.h"

#include <windows.h>

#include <memory>
#include <string>

namespace qor::platform {

namespace {

using SharedProc = std::shared_ptr<WindowProc>;

// The window's procedure is kept in GWLP_USERDATA from the end of CreateWindowExW until
// WM_NCDESTROY. The creation messages go to DefWindowProcW: the procedure starts with the
// first message after its owner has the window handle, as on the POSIX side.
LRESULT CALLBACK ForwardingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* stored = reinterpret_cast<SharedProc*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (stored == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
    // A local reference keeps the procedure alive when it destroys its own window.
    const SharedProc proc = *stored;
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        delete stored;
    }
    return (*proc)(reinterpret_cast<WindowHandle>(window), message, wParam, lParam);
}

// Classes are registered per module, so a DLL's windows use that DLL's procedure.
HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&ForwardingWindowProc), &module);
    return module;
}

// A window of the class (registered here when new), a child of `parent` (HWND_MESSAGE for a
// message-only window, null for a top-level one).
WindowHandle CreateWindowOfClass(std::string_view className, std::string_view title, WindowProc proc, HWND parent,
                                 DWORD style, DWORD extendedStyle) {
    const HINSTANCE module = ThisModule();
    const std::wstring wideClass = Wide(className);
    const std::wstring wideTitle = Wide(title);

    WNDCLASSEXW windowClass {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = ForwardingWindowProc;
    windowClass.hInstance = module;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszClassName = wideClass.c_str();
    if (!::RegisterClassExW(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return 0;

    HWND window = ::CreateWindowExW(extendedStyle, wideClass.c_str(), wideTitle.c_str(), style, CW_USEDEFAULT,
                                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, parent, nullptr, module, nullptr);
    if (window == nullptr) return 0;
    ::SetWindowLongPtrW(window, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(new SharedProc(std::make_shared<WindowProc>(std::move(proc)))));
    return reinterpret_cast<WindowHandle>(window);
}

}  // namespace

WindowHandle CreateMessageOnlyWindow(std::string_view className, std::string_view title, WindowProc proc) {
    return CreateWindowOfClass(className, title, std::move(proc), HWND_MESSAGE, 0, WS_EX_NOACTIVATE);
}

// A hidden pop-up that is never shown: found by class and title, it takes posted messages.
WindowHandle CreateTopLevelWindow(std::string_view className, std::string_view title, WindowProc proc) {
    return CreateWindowOfClass(className, title, std::move(proc), nullptr, WS_POPUP,
                               WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW);
}

WindowHandle FindTopLevelWindow(std::string_view className, std::optional<std::string_view> title) {
    const std::wstring wideClass = Wide(className);
    const std::wstring wideTitle = title ? Wide(*title) : std::wstring();
    return reinterpret_cast<WindowHandle>(::FindWindowW(wideClass.c_str(), title ? wideTitle.c_str() : nullptr));
}

uint32_t RegisteredWindowMessage(std::string_view name) {
    return ::RegisterWindowMessageW(Wide(name).c_str());
}

void DestroyWindow(WindowHandle window) { ::DestroyWindow(reinterpret_cast<HWND>(window)); }

int64_t DefaultWindowProc(WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) {
    return ::DefWindowProcW(reinterpret_cast<HWND>(window), message, wParam, lParam);
}

bool PostWindowMessage(WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) {
    return ::PostMessageW(reinterpret_cast<HWND>(window), message, wParam, lParam) != FALSE;
}

int64_t SendWindowMessage(WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) {
    return ::SendMessageW(reinterpret_cast<HWND>(window), message, wParam, lParam);
}

void PostQuitMessage(int exitCode) { ::PostQuitMessage(exitCode); }

bool GetWindowMessage(WindowMessage* message) {
    MSG msg {};
    const BOOL result = ::GetMessageW(&msg, nullptr, 0, 0);
    message->window = reinterpret_cast<WindowHandle>(msg.hwnd);
    message->message = msg.message;
    message->wParam = msg.wParam;
    message->lParam = msg.lParam;
    return result > 0;  // 0 for WM_QUIT, -1 on failure
}

bool PeekWindowMessage(WindowMessage* message) {
    MSG msg {};
    if (!::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
    message->window = reinterpret_cast<WindowHandle>(msg.hwnd);
    message->message = msg.message;
    message->wParam = msg.wParam;
    message->lParam = msg.lParam;
    return true;
}

void DispatchWindowMessage(const WindowMessage& message) {
    MSG msg {};
    msg.hwnd = reinterpret_cast<HWND>(message.window);
    msg.message = message.message;
    msg.wParam = message.wParam;
    msg.lParam = message.lParam;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
}

void CloseWindowOnTerminationSignals(WindowHandle) {}

WindowHandle FindTopLevelWindowByTitle(std::string_view title) {
    return reinterpret_cast<WindowHandle>(::FindWindowW(nullptr, Wide(title).c_str()));
}

}  // namespace qor::platform
