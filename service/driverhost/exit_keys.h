// The exit-key monitor: holding the two configurable exit keys asks every session to exit;
// left Alt + M + B shuts the service down. The keys are read from the current user's
// registry and read again whenever the key changes, so a new choice works without a restart.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>

namespace qor {

inline constexpr const char* kExitKeysRegistryKey = "SOFTWARE\\Norvik\\Tavrix";
inline constexpr uint16_t kLeftAltKey = 0xA4;
inline constexpr uint16_t kShutdownKeyM = 0x4D;
inline constexpr uint16_t kShutdownKeyB = 0x42;

struct ExitKeys {
    uint16_t key1 = kLeftAltKey;
    uint16_t key2 = 0x54;  // T
    bool operator==(const ExitKeys&) const = default;
};

// "XRExitKey1" and "XRExitKey2" (DWORDs, low 16 bits); a value that cannot be read keeps the
// code of `current`. A lower-case letter code in "XRExitKey2" becomes the upper-case one.
// `key` is another current-user key only for tests on Windows, whose registry is the user's own.
ExitKeys ReadExitKeys(ExitKeys current, std::string_view key = kExitKeysRegistryKey);

class ExitKeyMonitor {
public:
    static constexpr std::chrono::milliseconds kPass {10};

    struct Actions {
        std::function<void()> exitEverySession;  // each pass while both exit keys are down
        std::function<void()> shutDown;          // once, then the monitor ends
    };

    explicit ExitKeyMonitor(Actions actions) : actions_(std::move(actions)) {}
    ~ExitKeyMonitor();  // Stop()
    ExitKeyMonitor(const ExitKeyMonitor&) = delete;
    ExitKeyMonitor& operator=(const ExitKeyMonitor&) = delete;

    // Reads the exit keys and starts the passes.
    void Start();
    // Ends the passes within one; idempotent, and safe from the shut-down action itself.
    void Stop();
    ExitKeys Keys();

private:
    void Run();
    // Waits up to one pass; false when stopped.
    bool Pause();

    Actions actions_;
    std::mutex mutex_;  // guards keys_ and stopping_
    ExitKeys keys_;
    bool stopping_ = false;
    std::condition_variable wake_;
    std::thread thread_;
};

}  // namespace qor
