#include "winservice/plexa_service.h"

#include <algorithm>
#include <cstring>

namespace qor::winservice {

namespace {

constexpr const char* kMainPrefix = "Plexa Service::ServiceMain():";
// SERVICE_WIN32_OWN_PROCESS, and SERVICE_ACCEPT_STOP once running.
constexpr uint32_t kOwnProcess = 16;
constexpr uint32_t kAcceptStop = 1;
// The service's requests are short and answered at once; a few instances serve the driver
// and the weaving window together, and bound what a flood of clients can hold.
constexpr uint32_t kPipeInstances = 8;
constexpr uint32_t kPipeDefaultTimeoutMs = 1000;

}  // namespace

PlexaService::PlexaService(WeavingWindowHost& host, DisplaySettingsReader settings, CommandLog log)
    : log_(log), commands_(host, std::move(settings), std::move(log)) {}

PlexaService::~PlexaService() {
    commands_.Stop();
    if (server_) server_->Stop();
}

bool PlexaService::RunUnderServiceManager(uint32_t* error) {
    platform::ServiceCallbacks callbacks;
    callbacks.main = [this](const std::vector<std::string>&) { ServiceMain(); };
    callbacks.control = [this](platform::ServiceControl control) { Control(control); };
    return platform::RunServiceDispatcher(kWindowServiceName, callbacks, error);
}

void PlexaService::Report(platform::ServiceState state, uint32_t checkPoint, uint32_t exitCode) {
    platform::ServiceStatus status;
    status.serviceType = kOwnProcess;
    status.currentState = state;
    status.controlsAccepted = state == platform::ServiceState::Running ? kAcceptStop : 0;
    status.win32ExitCode = exitCode;
    status.checkPoint = checkPoint;
    {
        std::lock_guard lock(mutex_);
        state_ = state;
    }
    platform::ReportServiceStatus(kWindowServiceName, status);
}

void PlexaService::ServiceMain() {
    Report(platform::ServiceState::StartPending, 0);
    log_(kMainPrefix, "Performing Service Start Operations");
    // The pipe exists before the service says it runs, so a stop always finds it.
    const bool serving = StartServing();
    Report(platform::ServiceState::Running, 0);
    if (!serving) {
        // Without its pipe the service has nothing to do; it stops instead of idling.
        log_(kMainPrefix, "Named pipe creation failed.");
    } else {
        log_(kMainPrefix, " Waiting for Worker Thread to complete");
        std::unique_lock lock(mutex_);
        stopEvent_.wait(lock, [this] { return stopSignalled_; });
    }
    log_(kMainPrefix, "Worker Thread Stop Event signaled");
    log_(kMainPrefix, "Performing Cleanup Operations");
    if (server_) server_->Stop();
    Report(platform::ServiceState::Stopped, 3);
}

bool PlexaService::StartServing() {
    server_ = platform::CreateMessagePipeServer();
    platform::PipeServerOptions options;
    options.name = std::string(winpipe::kWindowServicePipeName);
    options.instances = kPipeInstances;
    options.defaultTimeoutMs = kPipeDefaultTimeoutMs;
    return server_->Start(options, [this](platform::PipeClient& client, const uint8_t* request, uint32_t size,
                                          uint8_t* reply, uint32_t* replySize) {
        HandleRequest(client, request, size, reply, replySize);
    });
}

void PlexaService::HandleRequest(platform::PipeClient& client, const uint8_t* request, uint32_t size, uint8_t* reply,
                                 uint32_t* replySize) {
    const auto message = winpipe::DecodeRequest({request, size});
    if (!message || message->command > winpipe::kLastCommand) {
        client.EndConnection();  // malformed: silently, the service goes on with other clients
        return;
    }
    const auto answer = commands_.Handle(*message);
    if (!answer) return;  // no reply; the client may send its next request
    const size_t bytes = std::min<size_t>(answer->size(), platform::kPipeBufferSize);
    std::memcpy(reply, answer->data(), bytes);
    *replySize = static_cast<uint32_t>(bytes);
}

void PlexaService::Control(platform::ServiceControl control) {
    if (control != platform::ServiceControl::Stop) return;
    {
        std::lock_guard lock(mutex_);
        if (state_ != platform::ServiceState::Running) return;
    }
    log_("Plexa Service::ServiceCtrlHandler():", "SERVICE_CONTROL_STOP Request");
    log_("TsClientCommandProcessor::Close():", "Enter");
    // Commands first: a start waiting for an earlier window is woken, and no new one begins,
    // so the pipe's handlers all return at once.
    commands_.Stop();
    if (server_) server_->Stop();
    Report(platform::ServiceState::StopPending, 4);
    {
        std::lock_guard lock(mutex_);
        stopSignalled_ = true;
    }
    stopEvent_.notify_all();
}

}  // namespace qor::winservice
