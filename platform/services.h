// The service manager's side of a service program: the dispatcher, control requests, status
// reports, event-log entries, and installing and removing a service. Windows: the service
// control manager and the event log. POSIX: a program started by systemd (INVOCATION_ID) or
// with NORVIK_SERVICE=1 runs its service main, SIGTERM and SIGINT deliver the stop control,
// reports and entries go to syslog, and installing writes a systemd user unit.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qor::platform {

// SERVICE_STATUS.dwCurrentState values.
enum class ServiceState : uint32_t {
    Stopped = 1,
    StartPending = 2,
    StopPending = 3,
    Running = 4,
    ContinuePending = 5,
    PausePending = 6,
    Paused = 7,
};

// SERVICE_CONTROL_* codes.
enum class ServiceControl : uint32_t { Stop = 1, Pause = 2, Continue = 3, Shutdown = 5 };

// The fields of SERVICE_STATUS.
struct ServiceStatus {
    uint32_t serviceType = 0;
    ServiceState currentState = ServiceState::StartPending;
    uint32_t controlsAccepted = 0;
    uint32_t win32ExitCode = 0;
    uint32_t serviceSpecificExitCode = 0;
    uint32_t checkPoint = 0;
    uint32_t waitHint = 0;
};

// What the dispatcher calls: the service main on the dispatcher's thread with the arguments
// the manager passed, and each control request as it arrives.
struct ServiceCallbacks {
    std::function<void(const std::vector<std::string>& arguments)> main;
    std::function<void(ServiceControl control)> control;
};

// Runs the dispatcher for one service until the service has stopped. False (with the
// system's error code) when the program was not started by the service manager.
bool RunServiceDispatcher(const std::string& name, const ServiceCallbacks& callbacks, uint32_t* error = nullptr);

// Tells the manager the service's status (POSIX: a syslog line when the state changes).
void ReportServiceStatus(const std::string& name, const ServiceStatus& status);

// For a service program run as an ordinary process: Ctrl+C and SIGINT/SIGTERM (Windows:
// console control events) are held from now on, until WaitForTerminationRequest takes one.
// Call before the process makes threads, so that none of them receives the signal.
void HoldTerminationRequests();
// Waits up to `waitMs` for such a request; true when one arrived.
bool WaitForTerminationRequest(uint32_t waitMs);

// EVENTLOG_*_TYPE values.
enum class EventType : uint16_t { Error = 0x0001, Warning = 0x0002, Information = 0x0004 };

// One event-log entry from the event source named `source`; each string is one insertion
// string (POSIX: one syslog line per entry, the strings joined by blanks).
void WriteEventLog(const std::string& source, EventType type, uint32_t eventId, uint16_t category,
                   const std::vector<std::string>& strings);

// SERVICE_*_START values accepted by installation.
constexpr uint32_t kServiceAutoStart = 2;
constexpr uint32_t kServiceDemandStart = 3;
constexpr uint32_t kServiceDisabled = 4;

struct ServiceInstallation {
    std::string name;
    std::string displayName;
    std::string description;
    std::string commandLine;  // the program's quoted path and its arguments
    uint32_t startType = kServiceAutoStart;
    std::optional<std::string> account;   // none: LocalSystem (POSIX: the installing user)
    std::optional<std::string> password;
    // A custom start trigger (SERVICE_TRIGGER_TYPE_CUSTOM) with this subtype GUID, "{...}".
    std::optional<std::string> customStartTrigger;
    std::optional<bool> delayedAutoStart;
};

// Which manager call failed, with the system's error code.
enum class ServiceStep { None, OpenManager, FindService, Create, Describe, Trigger, DelayedAutoStart, Query, Start, Delete };
struct ServiceFailure {
    ServiceStep step = ServiceStep::None;
    uint32_t code = 0;
    explicit operator bool() const { return step != ServiceStep::None; }
};

// Creates the service and sets its description (when given); the failure that ended the
// installation. The trigger and delayed-start settings come after: their failures leave the
// service installed and are listed in `settingFailures`. POSIX user units have neither.
ServiceFailure InstallService(const ServiceInstallation& installation,
                              std::vector<ServiceFailure>* settingFailures = nullptr);

// Starts an installed service; `alreadyRunning` tells when it was neither stopped nor stopping,
// and then nothing is started. On POSIX a unit outside systemd's own folders cannot be started.
ServiceFailure StartInstalledService(const std::string& name, bool* alreadyRunning);

// What happened to a running service while it was removed.
struct ServiceRemoval {
    ServiceFailure failure;
    bool stopRequested = false;  // the stop control was accepted
    ServiceState finalState = ServiceState::Stopped;
};
// Opens the service, asks it to stop (calling `onStopPending` once per second while it stops)
// and deletes it.
ServiceRemoval UninstallService(const std::string& name, const std::function<void()>& onStopPending);

}  // namespace qor::platform
