#include "winservice/command_line.h"

#include "platform/services.h"
#include "platform/system.h"
#include "winservice/plexa_service.h"

namespace qor::winservice {

namespace {

constexpr const char* kDisplayName = "Plexa Service";
// The custom event that starts the service.
constexpr const char* kStartTriggerGuid = "{B7583201-9137-4DE7-98B8-33ACAC70BF07}";

unsigned long Code(uint32_t code) { return static_cast<unsigned long>(code); }

void PrintUsage(std::FILE* out) {
    std::fprintf(out, "Parameters:\n");
    std::fprintf(out, " -install  to install the service.\n");
    std::fprintf(out, " -remove   to remove the service.\n");
}

void StartWindowService(const CommandLog& log, std::FILE* out) {
    constexpr const char* kPrefix = "Plexa Service::StartService():";
    bool alreadyRunning = false;
    const platform::ServiceFailure failure = platform::StartInstalledService(kWindowServiceName, &alreadyRunning);
    if (alreadyRunning) {
        log(kPrefix, "Cannot start the service because it is already running");
        std::fprintf(out, "Cannot start the service because it is already running");
        return;
    }
    const char* logged = nullptr;
    const char* printed = nullptr;
    switch (failure.step) {
        case platform::ServiceStep::None: return;
        case platform::ServiceStep::OpenManager:
            logged = "OpenSCManager() Failed. ErrorCode=%d";
            printed = "OpenSCManager failed (%d)\n";
            break;
        case platform::ServiceStep::FindService:
            logged = "OpenService() Failed. ErrorCode=%d";
            printed = "OpenService failed (%d)\n";
            break;
        case platform::ServiceStep::Query:
            logged = "QueryServiceStatusEx() Failed. ErrorCode=%d";
            printed = "QueryServiceStatusEx failed (%d)\n";
            break;
        default:
            logged = "StartService() Failed. ErrorCode=%d";
            printed = "StartService failed (%d)\n";
            break;
    }
    char text[128];
    std::snprintf(text, sizeof text, logged, static_cast<int>(failure.code));
    log(kPrefix, text);
    std::fprintf(out, printed, static_cast<int>(failure.code));
}

}  // namespace

void InstallWindowService(const std::string& modulePath, const CommandLog& log, std::FILE* out) {
    platform::ServiceInstallation installation;
    installation.name = kWindowServiceName;
    installation.displayName = kDisplayName;
    // Quoted, so that a folder with blanks cannot be read as a shorter program's path.
    installation.commandLine = "\"" + modulePath + "\"";
    installation.startType = platform::kServiceAutoStart;
    installation.customStartTrigger = kStartTriggerGuid;
    installation.delayedAutoStart = false;
    std::vector<platform::ServiceFailure> settings;
    const platform::ServiceFailure failure = platform::InstallService(installation, &settings);
    if (failure.step == platform::ServiceStep::OpenManager) {
        std::fprintf(out, "OpenSCManager failed w/err 0x%08lx\n", Code(failure.code));
    } else if (failure) {
        std::fprintf(out, "CreateService failed w/err 0x%08lx\n", Code(failure.code));
    } else {
        std::fprintf(out, "%s is installed.\n", kWindowServiceName);
        for (const platform::ServiceFailure& setting : settings) {
            if (setting.step == platform::ServiceStep::Trigger) {
                std::fprintf(out, "Set trigger start is fail.\n");
            } else {
                std::fprintf(out, "Change Service to Delay Auto Start failed w/err 0x%08lx\n", Code(setting.code));
            }
        }
    }
    // Started whatever happened: an earlier installation may be there to start.
    StartWindowService(log, out);
}

void UninstallWindowService(std::FILE* out) {
    const platform::ServiceRemoval removal = platform::UninstallService(kWindowServiceName, [out] {
        std::fprintf(out, ".");
        std::fflush(out);
    });
    if (removal.failure.step == platform::ServiceStep::OpenManager) {
        std::fprintf(out, "OpenSCManager failed w/err 0x%08lx\n", Code(removal.failure.code));
        return;
    }
    if (removal.failure.step == platform::ServiceStep::FindService) {
        std::fprintf(out, "OpenService failed w/err 0x%08lx\n", Code(removal.failure.code));
        return;
    }
    if (removal.stopRequested) {
        std::fprintf(out, "Stopping %s.", kWindowServiceName);
        std::fprintf(out, removal.finalState == platform::ServiceState::Stopped ? "\n%s is stopped.\n"
                                                                                 : "\n%s failed to stop.\n",
                     kWindowServiceName);
    }
    if (removal.failure.step == platform::ServiceStep::Delete) {
        std::fprintf(out, "DeleteService failed w/err 0x%08lx\n", Code(removal.failure.code));
    } else {
        std::fprintf(out, "%s is removed.\n", kWindowServiceName);
    }
}

bool HandleSwitch(const std::vector<std::string>& arguments, const CommandLog& log, std::FILE* out) {
    const bool isSwitch = arguments.size() > 1 && !arguments[1].empty() && (arguments[1][0] == '-' || arguments[1][0] == '/');
    const std::string word = isSwitch ? arguments[1].substr(1) : std::string();
    if (word == "install") {
        InstallWindowService(platform::ExecutablePath(), log, out);
        return true;
    }
    if (word == "uninstall") {
        UninstallWindowService(out);
        return true;
    }
    PrintUsage(out);
    return false;
}

}  // namespace qor::winservice
