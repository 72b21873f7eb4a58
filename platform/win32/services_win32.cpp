#include "platform/services.h"

#include "platform/win32/wide.h"

#include <windows.h>

#include <mutex>
#include <objbase.h>

namespace qor::platform {

namespace {

// The dispatcher calls back through plain functions: one service per process, so its name,
// callbacks and status handle live here while the dispatcher runs.
struct Dispatched {
    std::wstring name;
    const ServiceCallbacks* callbacks = nullptr;
    SERVICE_STATUS_HANDLE statusHandle = nullptr;
};
Dispatched dispatched;

void WINAPI ControlHandler(DWORD control) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_PAUSE:
        case SERVICE_CONTROL_CONTINUE:
        case SERVICE_CONTROL_SHUTDOWN:
            dispatched.callbacks->control(static_cast<ServiceControl>(control));
            break;
        default:
            break;  // other controls are ignored
    }
}

void WINAPI ServiceMain(DWORD argc, LPWSTR* argv) {
    dispatched.statusHandle = ::RegisterServiceCtrlHandlerW(dispatched.name.c_str(), ControlHandler);
    if (dispatched.statusHandle == nullptr) return;
    std::vector<std::string> arguments;
    for (DWORD index = 0; index < argc; ++index) arguments.push_back(Narrow(argv[index]));
    dispatched.callbacks->main(arguments);
}

HANDLE terminationRequested = nullptr;

BOOL WINAPI ConsoleControl(DWORD) {
    ::SetEvent(terminationRequested);
    return TRUE;  // handled: the process is not ended at once
}

}  // namespace

void HoldTerminationRequests() {
    if (terminationRequested == nullptr) terminationRequested = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(ConsoleControl, TRUE);
}

bool WaitForTerminationRequest(uint32_t waitMs) {
    if (terminationRequested == nullptr) return false;
    return ::WaitForSingleObject(terminationRequested, waitMs) == WAIT_OBJECT_0;
}

bool RunServiceDispatcher(const std::string& name, const ServiceCallbacks& callbacks, uint32_t* error) {
    dispatched.name = Wide(name);
    dispatched.callbacks = &callbacks;
    SERVICE_TABLE_ENTRYW table[] = {{dispatched.name.data(), ServiceMain}, {nullptr, nullptr}};
    const bool ran = ::StartServiceCtrlDispatcherW(table) != FALSE;
    if (!ran && error) *error = ::GetLastError();
    return ran;
}

void ReportServiceStatus(const std::string&, const ServiceStatus& status) {
    if (dispatched.statusHandle == nullptr) return;
    SERVICE_STATUS record {};
    record.dwServiceType = status.serviceType;
    record.dwCurrentState = static_cast<DWORD>(status.currentState);
    record.dwControlsAccepted = status.controlsAccepted;
    record.dwWin32ExitCode = status.win32ExitCode;
    record.dwServiceSpecificExitCode = status.serviceSpecificExitCode;
    record.dwCheckPoint = status.checkPoint;
    record.dwWaitHint = status.waitHint;
    ::SetServiceStatus(dispatched.statusHandle, &record);
}

void WriteEventLog(const std::string& source, EventType type, uint32_t eventId, uint16_t category,
                   const std::vector<std::string>& strings) {
    HANDLE eventSource = ::RegisterEventSourceW(nullptr, Wide(source).c_str());
    if (eventSource == nullptr) return;
    std::vector<std::wstring> wide;
    for (const std::string& text : strings) wide.push_back(Wide(text));
    std::vector<LPCWSTR> pointers;
    for (const std::wstring& text : wide) pointers.push_back(text.c_str());
    ::ReportEventW(eventSource, static_cast<WORD>(type), category, eventId, nullptr, static_cast<WORD>(pointers.size()),
                   0, pointers.data(), nullptr);
    ::DeregisterEventSource(eventSource);
}

namespace {

// The trigger records of winsvc.h, which the MinGW-w64 headers lack.
struct TriggerDataItem {
    DWORD dwDataType;
    DWORD cbData;
    PBYTE pData;
};
struct Trigger {
    DWORD dwTriggerType;
    DWORD dwAction;
    GUID* pTriggerSubtype;
    DWORD cDataItems;
    TriggerDataItem* pDataItems;
};
struct TriggerInfo {
    DWORD cTriggers;
    Trigger* pTriggers;
    PBYTE pReserved;
};
constexpr DWORD kConfigTriggerInfo = 8;         // SERVICE_CONFIG_TRIGGER_INFO
constexpr DWORD kTriggerTypeCustom = 20;        // SERVICE_TRIGGER_TYPE_CUSTOM
constexpr DWORD kTriggerActionStart = 1;        // SERVICE_TRIGGER_ACTION_SERVICE_START
constexpr DWORD kConfigDelayedAutoStart = 3;    // SERVICE_CONFIG_DELAYED_AUTO_START_INFO

std::optional<ServiceFailure> SetCustomStartTrigger(SC_HANDLE service, const std::string& subtype) {
    GUID guid {};
    std::wstring text = Wide(subtype);
    if (::CLSIDFromString(text.data(), &guid) != NOERROR) return ServiceFailure {ServiceStep::Trigger, ERROR_INVALID_PARAMETER};
    Trigger trigger {kTriggerTypeCustom, kTriggerActionStart, &guid, 0, nullptr};
    TriggerInfo info {1, &trigger, nullptr};
    if (!::ChangeServiceConfig2W(service, kConfigTriggerInfo, &info)) return ServiceFailure {ServiceStep::Trigger, ::GetLastError()};
    return std::nullopt;
}

std::optional<ServiceFailure> SetDelayedAutoStart(SC_HANDLE service, bool delayed) {
    struct {
        BOOL fDelayedAutostart;
    } info {delayed ? TRUE : FALSE};
    if (!::ChangeServiceConfig2W(service, kConfigDelayedAutoStart, &info)) {
        return ServiceFailure {ServiceStep::DelayedAutoStart, ::GetLastError()};
    }
    return std::nullopt;
}

}  // namespace

ServiceFailure InstallService(const ServiceInstallation& installation, std::vector<ServiceFailure>* settingFailures) {
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
    if (manager == nullptr) return {ServiceStep::OpenManager, ::GetLastError()};
    const std::wstring account = installation.account ? Wide(*installation.account) : std::wstring();
    const std::wstring password = installation.password ? Wide(*installation.password) : std::wstring();
    SC_HANDLE service = ::CreateServiceW(
        manager, Wide(installation.name).c_str(), Wide(installation.displayName).c_str(), SERVICE_ALL_ACCESS,
        SERVICE_WIN32_OWN_PROCESS, installation.startType, SERVICE_ERROR_NORMAL, Wide(installation.commandLine).c_str(),
        nullptr, nullptr, L"", installation.account ? account.c_str() : nullptr,
        installation.password ? password.c_str() : nullptr);
    if (service == nullptr) {
        const DWORD error = ::GetLastError();
        ::CloseServiceHandle(manager);
        return {ServiceStep::Create, error};
    }
    std::wstring description = Wide(installation.description);
    SERVICE_DESCRIPTIONW info {description.data()};
    ServiceFailure failure;
    if (!description.empty() && !::ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &info)) {
        failure = {ServiceStep::Describe, ::GetLastError()};
    }
    std::vector<ServiceFailure> settings;
    if (!failure && installation.customStartTrigger) {
        if (auto trigger = SetCustomStartTrigger(service, *installation.customStartTrigger)) settings.push_back(*trigger);
    }
    if (!failure && installation.delayedAutoStart) {
        if (auto delayed = SetDelayedAutoStart(service, *installation.delayedAutoStart)) settings.push_back(*delayed);
    }
    if (settingFailures) *settingFailures = std::move(settings);
    ::CloseServiceHandle(service);
    ::CloseServiceHandle(manager);
    return failure;
}

ServiceFailure StartInstalledService(const std::string& name, bool* alreadyRunning) {
    *alreadyRunning = false;
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) return {ServiceStep::OpenManager, ::GetLastError()};
    ServiceFailure failure;
    SC_HANDLE service = ::OpenServiceW(manager, Wide(name).c_str(), SERVICE_ALL_ACCESS);
    if (service == nullptr) {
        failure = {ServiceStep::FindService, ::GetLastError()};
    } else {
        SERVICE_STATUS_PROCESS status {};
        DWORD needed = 0;
        if (!::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&status), sizeof status,
                                    &needed)) {
            failure = {ServiceStep::Query, ::GetLastError()};
        } else if (status.dwCurrentState != SERVICE_STOPPED && status.dwCurrentState != SERVICE_STOP_PENDING) {
            *alreadyRunning = true;
        } else if (!::StartServiceW(service, 0, nullptr)) {
            failure = {ServiceStep::Start, ::GetLastError()};
        }
        ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
    return failure;
}

ServiceRemoval UninstallService(const std::string& name, const std::function<void()>& onStopPending) {
    ServiceRemoval removal;
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        removal.failure = {ServiceStep::OpenManager, ::GetLastError()};
        return removal;
    }
    SC_HANDLE service = ::OpenServiceW(manager, Wide(name).c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    if (service == nullptr) {
        removal.failure = {ServiceStep::FindService, ::GetLastError()};
        ::CloseServiceHandle(manager);
        return removal;
    }
    SERVICE_STATUS status {};
    if (::ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        removal.stopRequested = true;
        constexpr DWORD kStopPollMs = 1000;
        while (::QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOP_PENDING) {
            onStopPending();
            ::Sleep(kStopPollMs);
        }
        removal.finalState = static_cast<ServiceState>(status.dwCurrentState);
    }
    if (!::DeleteService(service)) removal.failure = {ServiceStep::Delete, ::GetLastError()};
    ::CloseServiceHandle(service);
    ::CloseServiceHandle(manager);
    return removal;
}

}  // namespace qor::platform
