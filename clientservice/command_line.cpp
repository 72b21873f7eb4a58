#include "clientservice/command_line.h"

#include "clientservice/qor_client_svc.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/system.h"

#include <atomic>
#include <regex>
#include <thread>

namespace qor::clientservice {

namespace {

constexpr const char* kEventLogKeyFormat = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
// TypesSupported: error, warning and information entries.
constexpr uint32_t kEventTypesSupported = 7;
constexpr uint32_t kEventCategoryCount = 1;
// The registry seam reports a failed write without a system code.
constexpr int kUnknownRegistryError = -1;

void PrintUsage(std::FILE* out) {
    std::fprintf(out, "\nQorClient Service\n\n");
    std::fprintf(out, "Parameters:\n\n");
    std::fprintf(out,
                 " install [-start-type <2..4> -account <account-name> -password <account-password> -config "
                 "<configuration-file-path>]\n  - to install the service.\n");
    std::fprintf(out, "    service start types are:\n");
    std::fprintf(out,
                 "     2 - service started automatically by the service control manager during system startup.\n");
    std::fprintf(out, "     3 - service started manually or by calling StartService function from another process.\n");
    std::fprintf(out,
                 "     4 - service installed in the \"disabled\" state, and cannot be started until enabled.\n");
    std::fprintf(out, " run [-config <configuration-file-path>]\n  - to start as a regular process (not a service)\n");
    std::fprintf(out, " uninstall\n  - to remove the service.\n");
}

unsigned long Code(uint32_t code) { return static_cast<unsigned long>(code); }

// Registers the service as an event source, printing the first failure.
void RegisterEventSource(const std::string& modulePath, std::FILE* out) {
    using platform::RegistryRoot;
    const std::string key = std::string(kEventLogKeyFormat) + kClientServiceName;
    if (!platform::RegistryCreateKey(RegistryRoot::LocalMachine, key)) {
        std::fprintf(out, "Cannot register service with Windows Event Log. Error creating key: %d\n",
                     kUnknownRegistryError);
        return;
    }
    struct Value {
        const char* name;
        bool written;
    };
    const Value values[] = {
        {"EventMessageFile", platform::RegistryWriteString(RegistryRoot::LocalMachine, key, "EventMessageFile", modulePath)},
        {"TypesSupported", platform::RegistryWriteDword(RegistryRoot::LocalMachine, key, "TypesSupported", kEventTypesSupported)},
        {"CategoryMessageFile",
         platform::RegistryWriteString(RegistryRoot::LocalMachine, key, "CategoryMessageFile", modulePath)},
        {"CategoryCount", platform::RegistryWriteDword(RegistryRoot::LocalMachine, key, "CategoryCount", kEventCategoryCount)},
    };
    for (const Value& value : values) {
        if (!value.written) {
            std::fprintf(out, "Cannot register service with Windows Event Log. Error creating value \"%s\": %d\n",
                         value.name, kUnknownRegistryError);
            return;
        }
    }
}

int Install(const std::vector<std::string>& options, std::FILE* out) {
    const auto parsed = ParseInstallOptions(options);
    if (const auto* error = std::get_if<std::string>(&parsed)) {
        std::fprintf(out, "%s", error->c_str());
        return 1;
    }
    const auto& install = std::get<InstallOptions>(parsed);
    const std::string modulePath = platform::ExecutablePath();
    platform::ServiceInstallation installation;
    installation.name = kClientServiceName;
    installation.displayName = kClientServiceDisplayName;
    installation.description = kClientServiceDescription;
    installation.commandLine = ServiceCommandLine(modulePath, install);
    installation.startType = install.startType;
    installation.account = install.account;
    installation.password = install.password;
    const platform::ServiceFailure failure = platform::InstallService(installation);
    switch (failure.step) {
        case platform::ServiceStep::None: break;
        case platform::ServiceStep::OpenManager:
            std::fprintf(out, "OpenSCManager failed w/err 0x%08lx\n", Code(failure.code));
            return 1;
        case platform::ServiceStep::Describe:
            std::fprintf(out, "Couldn't set service description with error code: 0x%08lx\n", Code(failure.code));
            return 1;
        default:
            std::fprintf(out, "CreateService failed with error code: 0x%08lx\n", Code(failure.code));
            return 1;
    }
    RegisterEventSource(modulePath, out);
    std::fprintf(out, "%s is installed.\n", kClientServiceName);
    return 0;
}

int Uninstall(std::FILE* out) {
    const platform::ServiceRemoval removal = platform::UninstallService(kClientServiceName, [out] {
        std::fprintf(out, ".");
        std::fflush(out);
    });
    if (removal.failure.step == platform::ServiceStep::OpenManager) {
        std::fprintf(out, "OpenSCManager failed w/err 0x%08lx\n", Code(removal.failure.code));
        return 1;
    }
    if (removal.failure.step == platform::ServiceStep::FindService) {
        std::fprintf(out, "OpenService failed w/err 0x%08lx\n", Code(removal.failure.code));
        return 1;
    }
    if (removal.stopRequested) {
        std::fprintf(out, "Stopping %s.", kClientServiceName);
        if (removal.finalState == platform::ServiceState::Stopped) {
            std::fprintf(out, "\n%s is stopped.\n", kClientServiceName);
        } else {
            std::fprintf(out, "\n%s failed to stop.\n", kClientServiceName);
        }
    }
    if (removal.failure.step == platform::ServiceStep::Delete) {
        std::fprintf(out, "DeleteService failed w/err 0x%08lx\n", Code(removal.failure.code));
        return 1;
    }
    const std::string key = std::string(kEventLogKeyFormat) + kClientServiceName;
    if (!platform::RegistryDeleteTree(platform::RegistryRoot::LocalMachine, key)) {
        std::fprintf(out, "Service cannot be unregistered with Windows Event Log. Error deleting key: %d",
                     kUnknownRegistryError);
    }
    std::fprintf(out, "%s is removed.\n", kClientServiceName);
    return 0;
}

int Serve(const std::vector<std::string>& arguments, std::FILE* out) {
    QorClientSvc service(arguments);
    uint32_t error = 0;
    if (!CServiceBase::Run(service, &error)) {
        std::fprintf(out, "StartServiceCtrlDispatcher failed w/err 0x%08lx\n", Code(error));
        return 1;
    }
    return 0;
}

int RunAsProcess(const std::vector<std::string>& arguments) {
    // Held before any thread exists, so a stop request waits for this thread to take it.
    platform::HoldTerminationRequests();
    QorClientSvc service(arguments);
    // The listener serves on its own thread; this one takes the stop request, and also notices
    // a listener that ended by itself.
    std::atomic<bool> listening {true};
    std::thread listener([&] {
        service.RunAsProcess();
        listening = false;
    });
    constexpr uint32_t kStopPollMs = 100;
    while (listening) {
        if (platform::WaitForTerminationRequest(kStopPollMs)) {
            platform::DebugOutput("QorClient Service: stop requested\n");
            service.RequestStop();
        }
    }
    listener.join();
    return 0;
}

}  // namespace

std::variant<InstallOptions, std::string> ParseInstallOptions(const std::vector<std::string>& options) {
    InstallOptions install;
    for (size_t index = 0; index < options.size(); ++index) {
        const std::string& option = options[index];
        if (option.empty() || option[0] != '-') continue;  // stray words are skipped
        const bool takesValue =
            option == "-start-type" || option == "-account" || option == "-password" || option == "-config";
        if (!takesValue) return "unknown parameter: " + option + "\n";
        if (index + 1 >= options.size()) return "missing value for " + option + "\n";
        const std::string& value = options[++index];
        if (option == "-start-type") {
            if (!std::regex_match(value, std::regex("[2-4]"))) {
                return std::string("service start type must be a number between 2 and 4\n");
            }
            install.startType = static_cast<uint32_t>(value[0] - '0');
        } else if (option == "-account") {
            install.account = value;
        } else if (option == "-password") {
            install.password = value;
        } else {
            install.configuration = value;
        }
    }
    return install;
}

std::string ServiceCommandLine(const std::string& modulePath, const InstallOptions& options) {
    std::string arguments = "serve";
    if (options.configuration) arguments += " -config \"" + *options.configuration + "\"";
    return "\"" + modulePath + "\" " + arguments;
}

int RunCommandLine(const std::vector<std::string>& arguments, std::FILE* out) {
    if (arguments.size() < 2) {
        PrintUsage(out);
        return 0;
    }
    const std::string& command = arguments[1];
    if (SameText(command, "install")) return Install({arguments.begin() + 2, arguments.end()}, out);
    if (SameText(command, "uninstall")) return Uninstall(out);
    if (SameText(command, "serve")) return Serve(arguments, out);
    if (SameText(command, "run")) return RunAsProcess(arguments);
    std::fprintf(out, "Unknown parameter: %s\n", command.c_str());
    return 1;
}

}  // namespace qor::clientservice
