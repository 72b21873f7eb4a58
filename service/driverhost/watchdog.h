// The processes the watchdog watches: each instance registers its application's executable,
// and the service closes itself when none of them runs any more.
#pragma once

#include "platform/window.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace qor {

class Watchdog {
public:
    // The service window the watchdog closes (WM_CLOSE) once no watched application runs.
    void SetWindow(platform::WindowHandle window);
    platform::WindowHandle Window();
    void RegisterProcess(uint64_t instance, const std::u16string& executablePath);
    void RemoveInstance(uint64_t instance);
    // The registered (instance, executable path) entries, oldest first.
    std::vector<std::pair<uint64_t, std::u16string>> WatchedProcesses();

private:
    std::mutex mutex_;
    std::vector<std::pair<uint64_t, std::u16string>> watched_;
    platform::WindowHandle window_ = 0;
};

}  // namespace qor
