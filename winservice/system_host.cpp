#include "winservice/system_host.h"

#include "platform/session_launch.h"
#include "platform/system.h"

#include <algorithm>
#include <cctype>


namespace qor::winservice {

SystemWeavingWindowHost::SystemWeavingWindowHost(CommandLog log, std::function<void(uint32_t)> postSharedHandle)
    : log_(std::move(log)), postSharedHandle_(std::move(postSharedHandle)) {}

namespace {
// The weaving window's program: named with its folder, beside this program, where the
// executable search would look first, so no other folder on the search path can put a
// program of that name in its place.
std::string WeavingProgramPath() {
    const std::string own = platform::ExecutablePath();
    const std::string folder = own.substr(0, own.find_last_of("/\\"));
    return platform::JoinPath(folder, std::string("\\") + kWeavingProgram);
}

// Windows paths compare without regard to case.
bool SamePath(const std::optional<std::string>& a, const std::string& b) {
    if (!a) return false;
#if defined(_WIN32)
    return std::equal(a->begin(), a->end(), b.begin(), b.end(),
                      [](char x, char y) { return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y)); });
#else
    return *a == b;
#endif
}
}  // namespace

// Only our own install's weaving window counts: a program of the same name elsewhere (another
// install, a test's stand-in) is not the window this service starts and waits for.
bool SystemWeavingWindowHost::ProgramRunning() {
    const std::string program = WeavingProgramPath();
    for (const uint32_t id : platform::ProcessesNamed(kWeavingProgram)) {
        if (SamePath(platform::ProcessModulePath(id), program)) return true;
    }
    return false;
}

std::optional<platform::ProcessIdentity> SystemWeavingWindowHost::Launch(const std::string& handleText, LaunchMode mode) {
    platform::SessionLaunch launch;
    launch.program = WeavingProgramPath();
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
