#include "service/driverhost/watchdog.h"

#include <algorithm>
#include <mutex>

namespace qor {

namespace {
std::mutex watchMutex;
std::vector<std::pair<uint64_t, std::u16string>> watched;
platform::WindowHandle serviceWindow = 0;
}  // namespace

void WatchdogSetWindow(platform::WindowHandle window) {
    std::lock_guard lock(watchMutex);
    serviceWindow = window;
}

platform::WindowHandle WatchdogWindow() {
    std::lock_guard lock(watchMutex);
    return serviceWindow;
}

void WatchdogRegisterProcess(uint64_t instance, const std::u16string& executablePath) {
    std::lock_guard lock(watchMutex);
    watched.emplace_back(instance, executablePath);
}

void WatchdogRemoveInstance(uint64_t instance) {
    std::lock_guard lock(watchMutex);
    watched.erase(std::remove_if(watched.begin(), watched.end(), [&](const auto& entry) { return entry.first == instance; }),
                  watched.end());
}

std::vector<std::pair<uint64_t, std::u16string>> WatchedProcesses() {
    std::lock_guard lock(watchMutex);
    return watched;
}

}  // namespace qor
