#include "service/driverhost/watchdog.h"

#include <algorithm>

namespace qor {

void Watchdog::SetWindow(platform::WindowHandle window) {
    std::lock_guard lock(mutex_);
    window_ = window;
}

platform::WindowHandle Watchdog::Window() {
    std::lock_guard lock(mutex_);
    return window_;
}

void Watchdog::RegisterProcess(uint64_t instance, const std::u16string& executablePath) {
    std::lock_guard lock(mutex_);
    watched_.emplace_back(instance, executablePath);
}

void Watchdog::RemoveInstance(uint64_t instance) {
    std::lock_guard lock(mutex_);
    std::erase_if(watched_, [&](const auto& entry) { return entry.first == instance; });
}

std::vector<std::pair<uint64_t, std::u16string>> Watchdog::WatchedProcesses() {
    std::lock_guard lock(mutex_);
    return watched_;
}

}  // namespace qor
