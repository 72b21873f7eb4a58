#include "display/winpipe/weaving_window_messages.h"

#include "platform/window.h"

namespace qor::winpipe {

uint32_t CloseMessage() {
    static const uint32_t number = platform::RegisteredWindowMessage(kCloseMessageName);
    return number;
}

uint32_t HandleMessage() {
    static const uint32_t number = platform::RegisteredWindowMessage(kHandleMessageName);
    return number;
}

namespace {
bool PostToWeavingWindow(uint32_t message, int64_t lParam) {
    if (message == 0) return false;
    const platform::WindowHandle window = platform::FindTopLevelWindow(kWeavingWindowClass);
    return window != 0 && platform::PostWindowMessage(window, message, 0, lParam);
}
}  // namespace

bool PostCloseToWeavingWindow() { return PostToWeavingWindow(CloseMessage(), 0); }

bool PostHandleToWeavingWindow(uint64_t sharedHandle) {
    return PostToWeavingWindow(HandleMessage(), static_cast<int64_t>(sharedHandle & 0xFFFFFFFFu));
}

}  // namespace qor::winpipe
