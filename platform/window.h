// Windows and their message loop: Win32 windows on Windows; on POSIX a stand-in with the
// same loop semantics (one queue per thread, posted messages, quit), where SIGTERM and SIGINT
// close the program's main window. Top-level windows are reachable from other processes: on
// POSIX each is a datagram endpoint under $NORVIK_PIPE_DIR/wnd/ named by its class and title.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace qor::platform {

using WindowHandle = uintptr_t;  // HWND on Windows

constexpr uint32_t kWmDestroy = 0x0002;
constexpr uint32_t kWmClose = 0x0010;
constexpr uint32_t kWmQuit = 0x0012;

struct WindowMessage {
    WindowHandle window = 0;
    uint32_t message = 0;
    uint64_t wParam = 0;
    int64_t lParam = 0;
};

// Window procedure; return DefaultWindowProc(...) for messages it does not handle.
using WindowProc = std::function<int64_t(WindowHandle, uint32_t, uint64_t, int64_t)>;

// Registers the class and creates a message-only window owned by the calling thread.
// Returns 0 on failure.
WindowHandle CreateMessageOnlyWindow(std::string_view className, std::string_view title, WindowProc proc);
// Registers the class and creates a hidden top-level window owned by the calling thread,
// which any process finds with FindTopLevelWindow and posts to. Returns 0 on failure.
WindowHandle CreateTopLevelWindow(std::string_view className, std::string_view title, WindowProc proc);
// A top-level window of the class, and of the title when one is given, in any process; 0 when
// there is none (FindWindowW). Class and title compare without regard to ASCII case.
// Message-only windows are not found.
WindowHandle FindTopLevelWindow(std::string_view className, std::optional<std::string_view> title = std::nullopt);
void DestroyWindow(WindowHandle window);

// The number of a registered window message: the same for the same name in every process,
// whatever the name's ASCII case, in 0xC000-0xFFFF (RegisterWindowMessageW; on POSIX derived
// from the name). 0 on failure.
uint32_t RegisteredWindowMessage(std::string_view name);
int64_t DefaultWindowProc(WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam);

// Queues a message for the window's thread, in this process or (a top-level window found by
// FindTopLevelWindow) in another; false when the window does not exist.
bool PostWindowMessage(WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam);
// Delivers the message to the window procedure on the window's thread and waits for it. On
// POSIX only windows of this process are reached (0 otherwise): nothing sends across.
int64_t SendWindowMessage(WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam);
void PostQuitMessage(int exitCode);

// Waits for the next message of the calling thread; false when it is the quit message
// (its exit code is in wParam).
bool GetWindowMessage(WindowMessage* message);
// Takes the next message of the calling thread without waiting (PeekMessageW with PM_REMOVE):
// false when there is none. The quit message is returned (as kWmQuit) like any other.
bool PeekWindowMessage(WindowMessage* message);
void DispatchWindowMessage(const WindowMessage& message);

// Makes SIGTERM and SIGINT post WM_CLOSE to `window` (POSIX). Call before starting other
// threads. No-op on Windows, where the system closes windows itself.
void CloseWindowOnTerminationSignals(WindowHandle window);

// A top-level window of this title and any class, in any process; 0 when there is none
// (FindWindowW with no class). The title compares without regard to ASCII case.
WindowHandle FindTopLevelWindowByTitle(std::string_view title);

}  // namespace qor::platform
