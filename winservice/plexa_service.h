// PlexaSvc's running service: the service main, the stop control and the pipe
// "Plexaview_NamedPipe" whose requests go to the window commands.
#pragma once

#include "platform/pipe.h"
#include "platform/services.h"
#include "winservice/window_commands.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace qor::winservice {

constexpr const char* kWindowServiceName = "PlexaSvc";

class PlexaService {
public:
    PlexaService(WeavingWindowHost& host, DisplaySettingsReader settings, CommandLog log);
    ~PlexaService();

    // Runs under the service manager until the service has stopped; false (with the system's
    // error) when the program was not started as a service.
    bool RunUnderServiceManager(uint32_t* error);

    // The parts the manager drives, public for tests that run the service in-process.
    void ServiceMain();
    void Control(platform::ServiceControl control);

private:
    void Report(platform::ServiceState state, uint32_t checkPoint, uint32_t exitCode = 0);
    bool StartServing();
    void HandleRequest(platform::PipeClient& client, const uint8_t* request, uint32_t size, uint8_t* reply,
                       uint32_t* replySize);

    CommandLog log_;
    WindowCommandProcessor commands_;
    std::unique_ptr<platform::MessagePipeServer> server_;

    std::mutex mutex_;
    std::condition_variable stopEvent_;
    bool stopSignalled_ = false;
    platform::ServiceState state_ = platform::ServiceState::Stopped;
};

}  // namespace qor::winservice
