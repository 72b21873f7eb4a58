#include "service/driverhost/watchdog.h"

#include "platform/system.h"
#include "service/core/logger.h"

#include <algorithm>

namespace qor {

std::optional<uint32_t> ChooseWatchedProcess(std::string_view executablePath, uint32_t caller,
                                             const std::vector<uint32_t>& sameName,
                                             const std::function<std::optional<std::string>(uint32_t)>& modulePath) {
    if (caller != 0 && std::find(sameName.begin(), sameName.end(), caller) != sameName.end()) return caller;
    if (sameName.size() == 1) return sameName.front();
    for (const uint32_t id : sameName) {
        const auto path = modulePath(id);
        if (path && *path == executablePath) return id;
    }
    return std::nullopt;
}

Watchdog::~Watchdog() { Stop(); }

void Watchdog::SetWindow(platform::WindowHandle window) {
    std::lock_guard lock(mutex_);
    window_ = window;
}

platform::WindowHandle Watchdog::Window() {
    std::lock_guard lock(mutex_);
    return window_;
}

bool Watchdog::RegisterProcess(uint64_t instance, const std::u16string& executablePath, uint32_t caller) {
    const std::string path = platform::Utf16ToUtf8(executablePath);
    const size_t separator = path.find_last_of("\\/");
    const std::string name = separator == std::string::npos ? path : path.substr(separator + 1);
    // The process scan runs before the lock is taken: the checks need not wait for it.
    const auto chosen = ChooseWatchedProcess(path, caller, platform::ProcessesNamed(name), platform::ProcessModulePath);
    if (!chosen) return false;
    const auto identity = platform::IdentifyProcess(*chosen);
    if (!identity) return false;
    std::lock_guard lock(mutex_);
    auto [entry, added] = watched_.try_emplace(*chosen, Watched {*identity, {}});
    // The id now belongs to another process than the one watched before.
    if (!added && entry->second.process.startTime != identity->startTime) entry->second.process = *identity;
    entry->second.instances.push_back(instance);
    registeredSinceCheck_ = true;
    return true;
}

void Watchdog::RemoveInstance(uint64_t instance) {
    std::lock_guard lock(mutex_);
    for (auto it = watched_.begin(); it != watched_.end(); ++it) {
        auto& instances = it->second.instances;
        const auto found = std::find(instances.begin(), instances.end(), instance);
        if (found == instances.end()) continue;
        instances.erase(found);
        if (instances.empty()) watched_.erase(it);
        return;
    }
}

std::vector<std::pair<uint32_t, uint64_t>> Watchdog::WatchedInstances() {
    std::lock_guard lock(mutex_);
    std::vector<std::pair<uint32_t, uint64_t>> list;
    for (const auto& [id, watched] : watched_) {
        for (const uint64_t instance : watched.instances) list.emplace_back(id, instance);
    }
    return list;
}

uint64_t Watchdog::ChecksDone() {
    std::lock_guard lock(mutex_);
    return checks_;
}

void Watchdog::Start(DestroyInstance destroy) {
    std::lock_guard lock(mutex_);
    if (thread_.joinable() || stopping_) return;
    destroy_ = std::move(destroy);
    thread_ = std::thread([this] { Run(); });
}

void Watchdog::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool Watchdog::Wait() {
    std::unique_lock lock(mutex_);
    // wait_for measures on the steady clock.
    return !wake_.wait_for(lock, interval_, [this] { return stopping_; });
}

bool Watchdog::Check() {
    std::vector<std::pair<uint32_t, uint64_t>> ended;
    bool anyone = false;
    {
        std::lock_guard lock(mutex_);
        anyone = !watched_.empty() || registeredSinceCheck_;
        registeredSinceCheck_ = false;
        ++checks_;
        for (auto it = watched_.begin(); it != watched_.end();) {
            if (platform::ProcessRunning(it->second.process)) {
                ++it;
                continue;
            }
            for (const uint64_t instance : it->second.instances) ended.emplace_back(it->first, instance);
            it = watched_.erase(it);
        }
    }
    // Destroying an instance takes the registry locks and calls back into RemoveInstance, so
    // it runs without the watchdog's lock.
    for (const auto& [process, instance] : ended) {
        Log("Watchdog : process " + std::to_string(process) + " ended");
        if (destroy_) destroy_(instance, process);
    }
    return anyone;
}

void Watchdog::Run() {
    // Counts down the empty checks of one quiet spell: the window is closed at the second.
    int emptyChecks = 0;
    while (Wait()) {
        if (Check()) {
            emptyChecks = 0;
            continue;
        }
        if (++emptyChecks == 2) {
            Log("Watchdog : no application left, closing the service");
            platform::PostWindowMessage(Window(), platform::kWmClose, 0, 0);
        }
    }
}

}  // namespace qor
