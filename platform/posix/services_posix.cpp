#include "platform/services.h"

#include "platform/system.h"

#include <spawn.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

extern char** environ;

namespace qor::platform {

namespace {

// ERROR_FAILED_SERVICE_CONTROLLER_CONNECT: not started by a service manager.
constexpr uint32_t kNotAService = 1063;
// ERROR_SERVICE_DOES_NOT_EXIST and ERROR_SERVICE_EXISTS.
constexpr uint32_t kNoSuchService = 1060;
constexpr uint32_t kServiceExists = 1073;
// How often the dispatcher looks whether the service stopped on its own between signals.
constexpr long kSignalPollNs = 100'000'000;

std::atomic<bool> serviceStopped {false};

void OpenSyslog(const std::string& name) {
    static std::once_flag opened;
    static std::string ident;  // openlog keeps the pointer
    std::call_once(opened, [&] {
        ident = name;
        ::openlog(ident.c_str(), LOG_PID, LOG_USER);
    });
}

const char* StateName(ServiceState state) {
    switch (state) {
        case ServiceState::Stopped: return "stopped";
        case ServiceState::StartPending: return "start pending";
        case ServiceState::StopPending: return "stop pending";
        case ServiceState::Running: return "running";
        case ServiceState::ContinuePending: return "continue pending";
        case ServiceState::PausePending: return "pause pending";
        case ServiceState::Paused: return "paused";
    }
    return "unknown";
}

bool StartedByServiceManager() {
    return GetEnv("INVOCATION_ID").has_value() || GetEnv("NORVIK_SERVICE").value_or("") == "1";
}

std::string UnitFolder() {
    if (const auto folder = GetEnv("NORVIK_UNIT_DIR")) return *folder;
    if (const auto config = GetEnv("XDG_CONFIG_HOME"); config && !config->empty()) return *config + "/systemd/user";
    return GetEnv("HOME").value_or("") + "/.config/systemd/user";
}

std::string UnitPath(const std::string& name) { return UnitFolder() + "/" + name + ".service"; }

// systemd only reads its own folders: with NORVIK_UNIT_DIR set (tests, staging) the unit is
// written but the user's service manager is left alone.
bool UseSystemctl() { return !GetEnv("NORVIK_UNIT_DIR").has_value(); }

// Runs `systemctl --user <verb> <unit>`; its exit code, or -1 when it could not run.
int Systemctl(const char* verb, const std::string& unit) {
    std::string program = "systemctl", user = "--user", verbText = verb;
    std::string unitText = unit;
    char* argv[] = {program.data(), user.data(), verbText.data(), unit.empty() ? nullptr : unitText.data(), nullptr};
    pid_t pid;
    if (::posix_spawnp(&pid, "systemctl", nullptr, nullptr, argv, environ) != 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool WriteFileAtomically(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << text;
        if (!out.flush()) return false;
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    return !error;
}

std::string UnitText(const ServiceInstallation& installation) {
    const std::string& description = installation.description.empty() ? installation.displayName : installation.description;
    std::string text = "[Unit]\nDescription=" + description + "\n\n[Service]\nType=simple\n";
    text += "ExecStart=" + installation.commandLine + "\n";
    // Accounts and passwords have no meaning for a user unit: it runs as the installing user.
    if (installation.startType == kServiceDisabled) text += "# installed disabled: enable it to let it start\n";
    text += "\n[Install]\nWantedBy=default.target\n";
    return text;
}

sigset_t TerminationSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    return signals;
}

}  // namespace

bool RunServiceDispatcher(const std::string& name, const ServiceCallbacks& callbacks, uint32_t* error) {
    if (!StartedByServiceManager()) {
        if (error) *error = kNotAService;
        return false;
    }
    OpenSyslog(name);
    // Blocked before the service makes its threads, so the signals wait here for sigtimedwait.
    const sigset_t stopSignals = TerminationSignals();
    ::pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    serviceStopped = false;

    // As under the service manager: the service main on a thread of its own, the controls
    // on the dispatcher's.
    std::thread serviceMain([&] { callbacks.main({name}); });
    const timespec poll {0, kSignalPollNs};
    while (!serviceStopped) {
        if (::sigtimedwait(&stopSignals, nullptr, &poll) > 0) callbacks.control(ServiceControl::Stop);
    }
    serviceMain.join();
    ::pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);
    return true;
}

void HoldTerminationRequests() {
    const sigset_t signals = TerminationSignals();
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

bool WaitForTerminationRequest(uint32_t waitMs) {
    const sigset_t signals = TerminationSignals();
    const timespec wait {static_cast<time_t>(waitMs / 1000), static_cast<long>(waitMs % 1000) * 1'000'000};
    return ::sigtimedwait(&signals, nullptr, &wait) > 0;
}

void ReportServiceStatus(const std::string& name, const ServiceStatus& status) {
    OpenSyslog(name);
    ::syslog(LOG_INFO, "%s: %s (checkpoint %u, exit code %u)", name.c_str(), StateName(status.currentState),
             status.checkPoint, status.win32ExitCode);
    if (status.currentState == ServiceState::Stopped) serviceStopped = true;
}

void WriteEventLog(const std::string& source, EventType type, uint32_t eventId, uint16_t category,
                   const std::vector<std::string>& strings) {
    OpenSyslog(source);
    std::string text;
    for (const std::string& line : strings) text += (text.empty() ? "" : " ") + line;
    const int priority = type == EventType::Error ? LOG_ERR : type == EventType::Warning ? LOG_WARNING : LOG_INFO;
    ::syslog(priority, "[0x%08x/%u] %s", eventId, static_cast<unsigned>(category), text.c_str());
}

ServiceFailure InstallService(const ServiceInstallation& installation, std::vector<ServiceFailure>*) {
    const std::string folder = UnitFolder();
    if (!CreateFolders(folder)) return {ServiceStep::OpenManager, static_cast<uint32_t>(errno)};
    const std::string path = UnitPath(installation.name);
    if (FileExists(path)) return {ServiceStep::Create, kServiceExists};
    if (!WriteFileAtomically(path, UnitText(installation))) return {ServiceStep::Create, static_cast<uint32_t>(errno)};
    if (UseSystemctl()) {
        Systemctl("daemon-reload", "");
        if (installation.startType == kServiceAutoStart) Systemctl("enable", installation.name + ".service");
    }
    return {};
}

ServiceFailure StartInstalledService(const std::string& name, bool* alreadyRunning) {
    *alreadyRunning = false;
    if (!FileExists(UnitPath(name)) || !UseSystemctl()) return {ServiceStep::FindService, kNoSuchService};
    const std::string unit = name + ".service";
    if (Systemctl("is-active", unit) == 0) {
        *alreadyRunning = true;
        return {};
    }
    const int code = Systemctl("start", unit);
    if (code != 0) return {ServiceStep::Start, static_cast<uint32_t>(code)};
    return {};
}

ServiceRemoval UninstallService(const std::string& name, const std::function<void()>& onStopPending) {
    ServiceRemoval removal;
    const std::string path = UnitPath(name);
    if (!FileExists(path)) {
        removal.failure = {ServiceStep::FindService, kNoSuchService};
        return removal;
    }
    const std::string unit = name + ".service";
    if (UseSystemctl()) {
        removal.stopRequested = Systemctl("is-active", unit) == 0;
        if (removal.stopRequested) {
            onStopPending();
            Systemctl("stop", unit);  // returns once the service has stopped or was killed
            removal.finalState = Systemctl("is-active", unit) == 0 ? ServiceState::Running : ServiceState::Stopped;
        }
        Systemctl("disable", unit);
    }
    std::error_code error;
    if (!std::filesystem::remove(path, error)) removal.failure = {ServiceStep::Delete, static_cast<uint32_t>(error.value())};
    if (UseSystemctl()) Systemctl("daemon-reload", "");
    return removal;
}

}  // namespace qor::platform
