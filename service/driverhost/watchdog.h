// The processes the watchdog watches: each instance registers its application's executable,
// and the service closes itself when none of them runs any more.
#pragma once

#include "platform/window.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qor {

// The service window the watchdog closes (WM_CLOSE) once no watched application runs.
void WatchdogSetWindow(platform::WindowHandle window);
platform::WindowHandle WatchdogWindow();

void WatchdogRegisterProcess(uint64_t instance, const std::u16string& executablePath);
void WatchdogRemoveInstance(uint64_t instance);
// The registered (instance, executable path) entries, oldest first.
std::vector<std::pair<uint64_t, std::u16string>> WatchedProcesses();

}  // namespace qor
