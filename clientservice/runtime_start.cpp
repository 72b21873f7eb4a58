#include "clientservice/runtime_start.h"

#include "platform/pipe.h"
#include "platform/registry.h"
#include "platform/session_launch.h"
#include "platform/system.h"
#include "protocol/pipe_names.h"

namespace qor::clientservice {

namespace {

constexpr const char* kServiceKey = "SOFTWARE\\Norvik\\Norvik XR Service";
// A probe that finds every instance busy still finds a running service; it need not wait long.
constexpr uint32_t kProbeWaitMs = 50;

bool XrServiceAnswers() {
    const uint32_t liveness = 0;
    uint8_t reply[64];
    uint32_t size = 0;
    const auto status = platform::TransactPipe(protocol::kServicePipeName, &liveness, sizeof liveness, reply,
                                               sizeof reply, &size, kProbeWaitMs);
    return status == platform::PipeStatus::Ok || status == platform::PipeStatus::Timeout;
}

void Trace(const std::string& text) { platform::DebugOutput("QCS Service::process_OpenQorRuntime(): " + text + "\n"); }

}  // namespace

std::string XrServiceProgramPath(const std::optional<std::string>& runtimeDir) {
    if (!runtimeDir || runtimeDir->empty()) return kXrServiceProgram;
    const char last = runtimeDir->back();
    const bool endsWithSeparator = last == '\\' || last == '/';
#if defined(_WIN32)
    const char* separator = "\\";
#else
    const char* separator = "/";
#endif
    return *runtimeDir + (endsWithSeparator ? "" : separator) + kXrServiceProgram;
}

void RuntimeStarter::OpenQorRuntime() {
    Trace("Entry");
    {
        std::lock_guard lock(mutex_);
        if (XrServiceAnswers()) {
            Trace("the XR service is running");
        } else if (started_ && platform::ProcessRunning(*started_)) {
            Trace("the XR service started before is still starting");
        } else {
            platform::SessionLaunch launch;
            launch.program = XrServiceProgramPath(
                platform::RegistryReadString(platform::RegistryRoot::LocalMachine, kServiceKey, "RuntimeDir"));
            launch.log = Trace;
            started_ = platform::LaunchInUserSession(launch);
            if (started_) Trace("started \"" + launch.program + "\", process " + std::to_string(started_->id));
        }
    }
    Trace("Exit");
}

}  // namespace qor::clientservice
