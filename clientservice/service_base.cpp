#include "clientservice/service_base.h"

#include <cstdio>
#include <exception>

namespace qor::clientservice {

using platform::ServiceState;

CServiceBase::CServiceBase(std::string name, uint32_t errorEventId, uint16_t errorCategory)
    : name_(std::move(name)), errorEventId_(errorEventId), errorCategory_(errorCategory) {
    status_.serviceType = kOwnProcess;
    status_.currentState = ServiceState::StartPending;
    status_.controlsAccepted = kAcceptStopAndShutdown;
}

bool CServiceBase::Run(CServiceBase& service, uint32_t* error) {
    platform::ServiceCallbacks callbacks;
    callbacks.main = [&service](const std::vector<std::string>& arguments) { service.Start(arguments); };
    callbacks.control = [&service](platform::ServiceControl control) {
        switch (control) {
            case platform::ServiceControl::Stop: service.Stop(); break;
            case platform::ServiceControl::Pause: service.Pause(); break;
            case platform::ServiceControl::Continue: service.Continue(); break;
            case platform::ServiceControl::Shutdown: service.Shutdown(); break;
        }
    };
    return platform::RunServiceDispatcher(service.name_, callbacks, error);
}

void CServiceBase::SetState(ServiceState state, uint32_t exitCode) {
    const bool pending = state == ServiceState::StartPending || state == ServiceState::StopPending ||
                         state == ServiceState::PausePending || state == ServiceState::ContinuePending;
    status_.currentState = state;
    status_.win32ExitCode = exitCode;
    status_.checkPoint = pending ? status_.checkPoint + 1 : 0;
    platform::ReportServiceStatus(name_, status_);
}

void CServiceBase::Start(const std::vector<std::string>& arguments) {
    try {
        SetState(ServiceState::StartPending);
        start(arguments);
        SetState(ServiceState::Running);
    } catch (const ServiceErrorCode& error) {
        logError("Service Start", error.code);
        SetState(ServiceState::Stopped, error.code);
    } catch (...) {
        logEvent("Service failed to start.", platform::EventType::Error, errorEventId_, errorCategory_);
        SetState(ServiceState::Stopped);
    }
}

template <typename Operation>
void CServiceBase::Control(ServiceState pending, ServiceState done, const char* errorName, const char* failureText,
                           Operation operation) {
    const ServiceState previous = status_.currentState;
    try {
        SetState(pending);
        operation();
        SetState(done);
    } catch (const ServiceErrorCode& error) {
        logError(errorName, error.code);
        SetState(previous);
    } catch (...) {
        logEvent(failureText, platform::EventType::Error, errorEventId_, errorCategory_);
        SetState(previous);
    }
}

void CServiceBase::Stop() {
    Control(ServiceState::StopPending, ServiceState::Stopped, "Service Stop", "Service failed to stop.", [this] { stop(); });
}

void CServiceBase::Pause() {
    Control(ServiceState::PausePending, ServiceState::Paused, "Service Pause", "Service failed to pause.",
            [this] { pause(); });
}

void CServiceBase::Continue() {
    Control(ServiceState::ContinuePending, ServiceState::Running, "Service Continue", "Service failed to resume.",
            [this] { resume(); });
}

// Shutdown reports no pending state: the system is going down and waits for nobody.
void CServiceBase::Shutdown() {
    try {
        shutdown();
        SetState(ServiceState::Stopped);
    } catch (const ServiceErrorCode& error) {
        logError("Service Shutdown", error.code);
    } catch (...) {
        logEvent("Service failed to shut down.", platform::EventType::Error, errorEventId_, errorCategory_);
    }
}

void CServiceBase::start(const std::vector<std::string>&) {}
void CServiceBase::stop() {}
void CServiceBase::pause() {}
void CServiceBase::resume() {}
void CServiceBase::shutdown() {}

void CServiceBase::logEvent(const std::string& message, platform::EventType type, uint32_t eventId, uint16_t category) {
    std::vector<std::string> strings;
    size_t begin = 0;
    for (;;) {
        const size_t end = message.find('\n', begin);
        strings.push_back(message.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
        if (end == std::string::npos) break;
        begin = end + 1;
    }
    platform::WriteEventLog(name_, type, eventId, category, strings);
}

void CServiceBase::logError(const std::string& operationName, uint32_t errorCode) {
    char text[512];
    std::snprintf(text, sizeof text, "%s failed with error code 0x%08lx", operationName.c_str(),
                  static_cast<unsigned long>(errorCode));
    logEvent(text, platform::EventType::Error, errorEventId_, errorCategory_);
}

}  // namespace qor::clientservice
