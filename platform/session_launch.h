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

// Which session's user the program runs as.
enum class SessionChoice {
    FirstActive,    // the first active session of the enumeration, session 0 when none is
    ActiveConsole,  // the session attached to the physical console
};

// How the user's duplicated token is changed before the start.
enum class TokenAdjustment {
    UiAccess,         // TokenUIAccess set; a refusal is logged and the start goes on
    MediumIntegrity,  // the medium integrity label; the start fails without it
};

struct SessionLaunch {
    std::string program;                 // full path, or a bare name found through the search path
    std::vector<std::string> arguments;  // after the program
    SessionChoice session = SessionChoice::FirstActive;
    TokenAdjustment token = TokenAdjustment::UiAccess;
    bool inheritEnvironment = false;  // the user's environment block includes this process's
    bool newConsole = false;          // CREATE_NEW_CONSOLE
    std::string desktop;              // e.g. "winsta0\\default"; empty: none named
    // Receives one line for each step that failed or has no meaning on this platform.
    std::function<void(const std::string&)> log;
};

// The started process; nothing when a step that the launch cannot go without failed.
std::optional<ProcessIdentity> LaunchInUserSession(const SessionLaunch& launch);

}  // namespace qor::platform
