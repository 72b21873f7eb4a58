// A generic service program: the service name, its status record, the control wrappers that
// report pending and final states around each operation, and event-log entries.
#pragma once

#include "platform/services.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qor::clientservice {

// A Win32 error code thrown by a service operation; the wrappers log and report it.
struct ServiceErrorCode {
    uint32_t code = 0;
};

class CServiceBase {
public:
    // SERVICE_WIN32_OWN_PROCESS
    static constexpr uint32_t kOwnProcess = 16;
    // SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN
    static constexpr uint32_t kAcceptStopAndShutdown = 5;

    CServiceBase(std::string name, uint32_t errorEventId, uint16_t errorCategory);
    virtual ~CServiceBase() = default;
    CServiceBase(const CServiceBase&) = delete;
    CServiceBase& operator=(const CServiceBase&) = delete;

    // Runs the service under the service manager's dispatcher until it stops. False (with
    // the system's error) when the program was not started as a service.
    static bool Run(CServiceBase& service, uint32_t* error = nullptr);

    // The control wrappers around the operations below.
    void Start(const std::vector<std::string>& arguments);
    void Stop();
    void Pause();
    void Continue();
    void Shutdown();

    const std::string& Name() const { return name_; }
    platform::ServiceState State() const { return status_.currentState; }

protected:
    virtual void start(const std::vector<std::string>& arguments);
    virtual void stop();
    virtual void pause();
    virtual void resume();
    virtual void shutdown();
    // One entry; the message is split at each '\n' into insertion strings.
    virtual void logEvent(const std::string& message, platform::EventType type, uint32_t eventId, uint16_t category);
    // "<operation> failed with error code 0x<code>" as an error entry.
    void logError(const std::string& operationName, uint32_t errorCode);

private:
    // Reports `state`; pending states count the checkpoint up, settled ones reset it.
    void SetState(platform::ServiceState state, uint32_t exitCode = 0);
    // Runs one operation between its pending and final reports.
    template <typename Operation>
    void Control(platform::ServiceState pending, platform::ServiceState done, const char* errorName,
                 const char* failureText, Operation operation);

    std::string name_;
    platform::ServiceStatus status_;
    uint32_t errorEventId_;
    uint16_t errorCategory_;
};

}  // namespace qor::clientservice
