// QorClientService: listens on "QorClientSvc_NamedPipe" and, on a start request, starts the
// XR service in the interactive user's session. Runs under the service manager ("serve") or
// as an ordinary process ("run").
#pragma once

#include "clientservice/runtime_start.h"
#include "clientservice/service_base.h"
#include "platform/pipe.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qor::clientservice {

constexpr const char* kClientServiceName = "QorClinet-service";
constexpr const char* kClientServiceDisplayName = "QOR Client service";
constexpr const char* kClientServiceDescription = "QOR Client Service";

// The one command of the pipe; it takes no arguments and is never answered.
constexpr uint16_t kOpenQorRuntime = 0;

class QorClientSvc final : public CServiceBase {
public:
    // Error entries of the control wrappers.
    static constexpr uint32_t kErrorEventId = 0xC000000D;
    static constexpr uint16_t kCategory = 1;
    // The service's own entries, and those of its stopping and stopped moments.
    static constexpr uint32_t kEventId = 0x4000000A;
    static constexpr uint32_t kStopEventId = 0x4000000C;

    // `arguments` is the program's command line, the program itself first.
    explicit QorClientSvc(std::vector<std::string> arguments);
    ~QorClientSvc() override;

    // "run": the service's start on the calling thread, which then serves until stop.
    void RunAsProcess() { start(arguments_); }
    // Ends the listener from any thread and waits until it has stopped.
    void RequestStop() { stop(); }

protected:
    void start(const std::vector<std::string>& arguments) override;
    void stop() override;

private:
    void Inform(const std::string& text, uint32_t eventId = kEventId);
    void Complain(const std::string& text);
    // The listener: serves the pipe until stop.
    void Listen();
    void HandleRequest(platform::PipeClient& client, const uint8_t* request, uint32_t size);

    std::vector<std::string> arguments_;

    std::mutex mutex_;
    std::condition_variable changed_;
    bool listenerExpected_ = false;  // a listener was started and has not stopped yet
    bool listenerStop_ = false;
    std::thread worker_;
    RuntimeStarter starter_;
};

}  // namespace qor::clientservice
