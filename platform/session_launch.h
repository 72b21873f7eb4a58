// Starting a program in the interactive user's session from a service. Windows: the first
// active session's user token (session 0 when none is active), its environment block, a
// primary duplicate with UI access, CreateProcessAsUserW. POSIX has no console sessions or
// tokens: the program is spawned as the service's own user and those steps are logged as
// skipped.
#pragma once

#include "platform/process.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qor::platform {

struct SessionLaunch {
    std::string program;                 // full path, or a bare name found through the search path
    std::vector<std::string> arguments;  // after the program
    bool uiAccess = true;                // TokenUIAccess on the duplicated token
    // Receives one line for each step that failed or has no meaning on this platform.
    std::function<void(const std::string&)> log;
};

// The started process; nothing when a step that the launch cannot go without failed.
std::optional<ProcessIdentity> LaunchInUserSession(const SessionLaunch& launch);

}  // namespace qor::platform
