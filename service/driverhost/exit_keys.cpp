#include "service/driverhost/exit_keys.h"

#include "platform/keys.h"
#include "platform/registry.h"
#include "service/core/logger.h"

#include <memory>

namespace qor {

namespace {
using platform::RegistryRoot;

// Without a key to watch the monitor tries to open it again this often, not every pass.
constexpr std::chrono::milliseconds kReopenInterval {250};
}  // namespace

ExitKeys ReadExitKeys(ExitKeys current, std::string_view key) {
    if (const auto key1 = platform::RegistryReadDword(RegistryRoot::CurrentUser, key, "XRExitKey1")) {
        current.key1 = static_cast<uint16_t>(*key1 & 0xFFFF);
    }
    if (const auto key2 = platform::RegistryReadDword(RegistryRoot::CurrentUser, key, "XRExitKey2")) {
        current.key2 = static_cast<uint16_t>(*key2 & 0xFFFF);
        if (current.key2 >= 0x61 && current.key2 <= 0x7A) current.key2 -= 0x20;
    }
    return current;
}

ExitKeyMonitor::~ExitKeyMonitor() { Stop(); }

void ExitKeyMonitor::Start() {
    std::lock_guard lock(mutex_);
    if (thread_.joinable() || stopping_) return;
    keys_ = ReadExitKeys(keys_);
    thread_ = std::thread([this] { Run(); });
}

void ExitKeyMonitor::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

ExitKeys ExitKeyMonitor::Keys() {
    std::lock_guard lock(mutex_);
    return keys_;
}

bool ExitKeyMonitor::Pause() {
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(lock, kPass, [this] { return stopping_; });
}

void ExitKeyMonitor::Run() {
    std::unique_ptr<platform::RegistryWatch> watch;
    auto lastOpen = std::chrono::steady_clock::time_point {};
    for (;;) {
        bool changed = false;
        if (!watch && std::chrono::steady_clock::now() - lastOpen >= kReopenInterval) {
            lastOpen = std::chrono::steady_clock::now();
            watch = platform::WatchRegistryKey(RegistryRoot::CurrentUser, kExitKeysRegistryKey);
            // Values written before the key could be watched are read now.
            changed = watch != nullptr;
        }
        if (watch) {
            changed = watch->WaitForChange(static_cast<uint32_t>(kPass.count())) || changed;
        } else if (!Pause()) {
            return;
        }
        if (changed) {
            const ExitKeys keys = ReadExitKeys(Keys());
            std::lock_guard lock(mutex_);
            keys_ = keys;
        }
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
        }
        if (platform::KeysDown({kLeftAltKey, kShutdownKeyM, kShutdownKeyB})) {
            Log("Exit keys : left Alt + M + B, stopping the service");
            if (actions_.shutDown) actions_.shutDown();
            return;
        }
        const ExitKeys keys = Keys();
        if (platform::KeysDown({keys.key2, keys.key1}) && actions_.exitEverySession) actions_.exitEverySession();
    }
}

}  // namespace qor
