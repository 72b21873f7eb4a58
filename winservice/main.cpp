// PlexaSvc, the window service: serves "Plexaview_NamedPipe" for the lenticular driver and the
// weaving window, and starts the weaving window in the console user's session.
#include "display/winpipe/display_log_writer.h"
#include "display/winpipe/weaving_window_messages.h"
#include "platform/system.h"
#include "winservice/command_line.h"
#include "winservice/plexa_service.h"
#include "winservice/system_host.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace qor;
    // The display-side log, when its registry switch is on; a dated file per day.
    const auto writer = winpipe::DisplayLogWriter::CreateIfSwitchedOn(winpipe::kWindowServiceLogModule,
                                                                      winpipe::DisplayLogFileName::Dated);
    const winservice::CommandLog log = [&writer](std::string_view prefix, std::string_view text) {
        if (writer) writer->Write(winpipe::DisplayLogLevel::Info, prefix, text);
    };
    log("Plexa Service::Main():", "Entry");
    platform::DebugOutput("Plexa Service::Main(): Entry\n");
    winservice::HandleSwitch(std::vector<std::string>(argv, argv + argc), log, stdout);

    winservice::SystemWeavingWindowHost host(log, [](uint32_t value) { winpipe::PostHandleToWeavingWindow(value); });
    winservice::PlexaService service(host, winservice::RegistryDisplaySettings(), log);
    uint32_t error = 0;
    if (!service.RunUnderServiceManager(&error)) {
        platform::DebugOutput("Plexa Service::Main(): StartServiceCtrlDispatcher returned error\n");
        return static_cast<int>(error);
    }
    return 0;
}
