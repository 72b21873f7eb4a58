#include "platform/desktop.h"

#include <objbase.h>
#include <windows.h>

namespace qor::platform {

bool InitializeComMultithreaded() { return SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }

void UninitializeCom() { CoUninitialize(); }

void SetPerMonitorDpiAwareV2() {
    // Looked up at run time: the call exists from Windows 10 1607 on, and not in every Wine.
    using SetContext = DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT);
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (user32 == nullptr) return;
    auto set = reinterpret_cast<SetContext>(
        reinterpret_cast<void (*)()>(GetProcAddress(user32, "SetThreadDpiAwarenessContext")));
    if (set != nullptr) set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
}

}  // namespace qor::platform
