// Program entry and runtime start-up and stop of the XR service.
#pragma once

#include "platform/window.h"

namespace qor {

class QorServer;

// Name of the single-instance lock; a second copy of the service exits when it is held.
constexpr const char* kServiceInstanceLockName = "QorServer.0";
constexpr const char* kServiceWindowName = "QOR";

// Logs the start-up line, takes the service clock, initialises COM and starts the pipe
// server with `server`'s dispatch. Returns the pipe server's start result.
bool RuntimeStartup(QorServer& server, platform::WindowHandle window);
// Logs the stop line and releases what start-up made.
void RuntimeStop();

// True from start until the message loop ends or the runtime is stopped.
bool ServiceRunning();
void SetServiceRunning(bool running);

// The program entry: single instance, message-only window, runtime start-up, message loop.
// Returns 0 when another copy runs or the window cannot be made, else the quit code.
int ServiceMain();

}  // namespace qor
