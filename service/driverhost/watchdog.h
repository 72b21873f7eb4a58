// The process watchdog: each instance's application process is watched from xrCreateInstance
// on; the instances of a process that has ended are destroyed, and the service is closed
// (WM_CLOSE to its window) after two checks in a row find no application.
#pragma once

#include "platform/process.h"
#include "platform/window.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace qor {

// Which of the running processes named like the executable is the application: the calling
// process itself when it is one of them (copies of one program cannot be told apart by
// path); else the only one; else the first whose main-module path equals `executablePath`.
// `sameName` is in snapshot order; `modulePath` reads a process's main-module path.
std::optional<uint32_t> ChooseWatchedProcess(std::string_view executablePath, uint32_t caller,
                                             const std::vector<uint32_t>& sameName,
                                             const std::function<std::optional<std::string>(uint32_t)>& modulePath);

class Watchdog {
public:
    static constexpr std::chrono::milliseconds kCheckInterval {5000};
    // Called on the watchdog thread, without its lock, for each instance of an ended process.
    using DestroyInstance = std::function<void(uint64_t instance, uint32_t process)>;

    explicit Watchdog(std::chrono::milliseconds interval = kCheckInterval) : interval_(interval) {}
    // Stops the thread.
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    // The service window the watchdog closes (WM_CLOSE) once no watched application runs.
    void SetWindow(platform::WindowHandle window);
    platform::WindowHandle Window();

    // Watches the application process of a new instance (see ChooseWatchedProcess); `caller`
    // is the requesting process's id, 0 when unknown. Nothing is watched when no running
    // process matches. True when the instance is watched.
    bool RegisterProcess(uint64_t instance, const std::u16string& executablePath, uint32_t caller = 0);
    void RemoveInstance(uint64_t instance);
    // (process id, instance) of every watched instance, in process-id order.
    std::vector<std::pair<uint32_t, uint64_t>> WatchedInstances();
    // How many checks have run since Start.
    uint64_t ChecksDone();

    // Starts the checks; `destroy` removes an instance with everything it owns.
    void Start(DestroyInstance destroy);
    // Ends the thread at once, in the middle of a wait as well. Idempotent.
    void Stop();

private:
    struct Watched {
        platform::ProcessIdentity process;
        // Every instance the process created, so none is left behind when it ends.
        std::vector<uint64_t> instances;
    };

    void Run();
    // Destroys the instances of ended processes; false when nothing was watched.
    bool Check();
    // Waits one interval; false when stopped meanwhile.
    bool Wait();

    const std::chrono::milliseconds interval_;
    std::mutex mutex_;  // guards the members below
    std::map<uint32_t, Watched> watched_;
    // Instances registered since the last check: an application that came and went between
    // two checks still counts as one.
    bool registeredSinceCheck_ = false;
    uint64_t checks_ = 0;
    platform::WindowHandle window_ = 0;
    bool stopping_ = false;
    std::condition_variable wake_;
    DestroyInstance destroy_;
    std::thread thread_;
};

}  // namespace qor
