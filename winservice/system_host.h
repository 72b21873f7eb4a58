// The weaving window as the running system has it: the "Plexa" program beside the window
// service's own, started in the console user's session.
#pragma once

#include "winservice/window_commands.h"

#include <functional>

namespace qor::winservice {

#if defined(_WIN32)
constexpr const char* kWeavingProgram = "Plexa.exe";
#else
constexpr const char* kWeavingProgram = "Plexa";
#endif

class SystemWeavingWindowHost final : public WeavingWindowHost {
public:
    // `postSharedHandle` posts "PlexaMSG" to the weaving window's "Plexaview" window.
    SystemWeavingWindowHost(CommandLog log, std::function<void(uint32_t)> postSharedHandle);

    bool ProgramRunning() override;
    bool WindowRunning(const platform::ProcessIdentity& process) override { return platform::ProcessRunning(process); }
    std::optional<platform::ProcessIdentity> Launch(const std::string& handleText, LaunchMode mode) override;
    void PostSharedHandle(uint32_t value) override { postSharedHandle_(value); }
    void Terminate(const platform::ProcessIdentity& process, std::chrono::milliseconds wait) override;

private:
    CommandLog log_;
    std::function<void(uint32_t)> postSharedHandle_;
};

}  // namespace qor::winservice
