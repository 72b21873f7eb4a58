// Command 0 of the client service: starting the XR service in the interactive user's session.
#pragma once

#include "platform/process.h"

#include <mutex>
#include <optional>
#include <string>

namespace qor::clientservice {

// The XR service's program file in its install folder.
#if defined(_WIN32)
constexpr const char* kXrServiceProgram = "Norvik XR Service.exe";
#else
constexpr const char* kXrServiceProgram = "Norvik XR Service";
#endif

// The program joined to the "RuntimeDir" folder (one separator between them); the bare file
// name, found through the normal executable search, when the folder is not known.
std::string XrServiceProgramPath(const std::optional<std::string>& runtimeDir);

class RuntimeStarter {
public:
    // Starts the XR service unless it answers on its pipe already or the one started last
    // still runs: however often applications ask, at most one is started at a time.
    void OpenQorRuntime();

private:
    std::mutex mutex_;
    std::optional<platform::ProcessIdentity> started_;
};

}  // namespace qor::clientservice
