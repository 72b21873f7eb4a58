// Program entry, and the running service: its state, the dispatcher over it and the pipe
// that feeds it.
#pragma once

#include "platform/window.h"
#include "service/driverhost/exit_keys.h"
#include "service/server/pipe_server.h"
#include "service/server/qor_server.h"
#include "service/server/service_state.h"
#include "service/session/session_state.h"

namespace qor {

// Name of the single-instance lock; a second copy of the service exits when it is held.
constexpr const char* kServiceInstanceLockName = "QorServer.0";
constexpr const char* kServiceWindowName = "QOR";

class ServiceRuntime {
public:
    // Start-up: logs the start-up line, takes the service clock, initialises COM, loads the
    // drivers, chooses the graphics adapters and starts the pipe with the dispatcher; then
    // the watchdog and the exit-key monitor.
    explicit ServiceRuntime(platform::WindowHandle window);
    // Orderly stop: the exit-key monitor and the watchdog, then the pipe, so nothing works on
    // the state any more, then the state (shared textures included) in its members' order.
    ~ServiceRuntime();
    ServiceRuntime(const ServiceRuntime&) = delete;
    ServiceRuntime& operator=(const ServiceRuntime&) = delete;

    // Whether every pipe instance started.
    bool PipeStarted() const { return pipeStarted_; }
    ServiceState& State() { return state_; }

private:
    // Left Alt + M + B: the message loop is told to end; the stop itself then runs on the
    // main thread, which owns the runtime, after the pipe has stopped serving requests.
    void ShutDownByKeys();

    platform::WindowHandle window_;
    ServiceState state_;
    QorServer server_ {state_};
    PipeServer pipe_;
    bool pipeStarted_ = false;
    ExitKeyMonitor exitKeys_ {{[this] { RequestExitOfEverySession(state_.sessions); }, [this] { ShutDownByKeys(); }}};
};

// True from start until the message loop ends.
bool ServiceRunning();
void SetServiceRunning(bool running);

// The program entry: single instance, message-only window, runtime start-up, message loop.
// Returns 0 when another copy runs or the window cannot be made, else the quit code.
int ServiceMain();

}  // namespace qor
