// Desktop-process set-up that only Windows has: COM, DPI awareness, accelerators.
// The POSIX build keeps the calls as no-ops so the start-up order reads the same.
#pragma once

namespace qor::platform {

// CoInitializeEx(COINIT_MULTITHREADED) for the calling thread; true on success.
bool InitializeComMultithreaded();
void UninitializeCom();
// Per-monitor DPI awareness (version 2) for the calling thread.
void SetPerMonitorDpiAwareV2();

}  // namespace qor::platform
