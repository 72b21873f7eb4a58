#include "winservice/system_host.h"

#include "platform/session_launch.h"
#include "platform/system.h"


namespace qor::winservice {

SystemWeavingWindowHost::SystemWeavingWindowHost(CommandLog log, std::function<void(uint32_t)> postSharedHandle)
    : log_(std::move(log)), postSharedHandle_(std::move(postSharedHandle)) {}

bool SystemWeavingWindowHost::ProgramRunning() { return !platform::ProcessesNamed(kWeavingProgram).empty(); }

std::optional<platform::ProcessIdentity> SystemWeavingWindowHost::Launch(const std::string& handleText, LaunchMode mode) {
    platform::SessionLaunch launch;
    // Named with its folder, beside this program, where the executable search would look first:
    // no other folder on the search path can put a program of that name in its place.
    const std::string own = platform::ExecutablePath();
    const std::string folder = own.substr(0, own.find_last_of("/\\"));
    launch.program = platform::JoinPath(folder, std::string("\\") + kWeavingProgram);
    launch.arguments = {handleText};
    launch.session = platform::SessionChoice::ActiveConsole;
    launch.newConsole = true;
    launch.desktop = "winsta0\\default";
    const bool uiAccess = mode == LaunchMode::UiAccess;
    launch.token = uiAccess ? platform::TokenAdjustment::UiAccess : platform::TokenAdjustment::MediumIntegrity;
    launch.inheritEnvironment = !uiAccess;
    const char* prefix = uiAccess ? "Plexa Service::RunUIAccess():" : "Plexa Service::Run():";
    launch.log = [this, prefix](const std::string& line) { log_(prefix, line); };
    return platform::LaunchInUserSession(launch);
}

void SystemWeavingWindowHost::Terminate(const platform::ProcessIdentity& process, std::chrono::milliseconds wait) {
    platform::TerminateProcess(process, 0, static_cast<uint32_t>(wait.count()));
}

}  // namespace qor::winservice
