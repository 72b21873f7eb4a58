#include "platform/session_launch.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <thread>

extern char** environ;

namespace qor::platform {

namespace {

void Say(const SessionLaunch& launch, const std::string& line) {
    if (launch.log) launch.log(line);
}

// Nobody else waits for the child, so a thread reaps it when it ends; it then no longer runs
// for ProcessRunning either.
void ReapWhenEnded(pid_t pid) {
    std::thread([pid] {
        int status;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    }).detach();
}

}  // namespace

std::optional<ProcessIdentity> LaunchInUserSession(const SessionLaunch& launch) {
    // No console sessions or tokens here: the program runs as this process's user.
    Say(launch, "No console sessions here: the session, token and environment steps are skipped.");
    Say(launch, launch.token == TokenAdjustment::UiAccess ? "No UI access flag here: skipped."
                                                          : "No integrity levels here: skipped.");

    std::vector<std::string> arguments {launch.program};
    arguments.insert(arguments.end(), launch.arguments.begin(), launch.arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Its own session, as a program of the user's desktop: a signal to the service's process
    // group does not reach it.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    const bool searched = launch.program.find('/') == std::string::npos;
    const int error = searched ? ::posix_spawnp(&pid, launch.program.c_str(), nullptr, &attributes, argv.data(), environ)
                               : ::posix_spawn(&pid, launch.program.c_str(), nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        Say(launch, "Could not start " + launch.program + ": " + std::strerror(error));
        return std::nullopt;
    }
    const auto identity = IdentifyProcess(static_cast<uint32_t>(pid));
    ReapWhenEnded(pid);
    if (!identity) return ProcessIdentity {static_cast<uint32_t>(pid), 0};
    return identity;
}

}  // namespace qor::platform
