#include "clientservice/qor_client_svc.h"

#include "clientservice/command_line.h"

#include "display/winpipe/window_pipe_message.h"
#include "platform/system.h"
#include "protocol/pipe_names.h"

#include <cstdio>
#include <stdexcept>

namespace qor::clientservice {

namespace {

// Start requests are rare and answered at once; a few instances serve any number of
// applications starting together, and bound what a flood of clients can hold.
constexpr uint32_t kListenerInstances = 4;
constexpr uint32_t kPipeDefaultTimeoutMs = 1000;
constexpr const char* kDefaultConfiguration = "config.cfg";

}  // namespace

QorClientSvc::QorClientSvc(std::vector<std::string> arguments)
    : CServiceBase(kClientServiceName, kErrorEventId, kCategory), arguments_(std::move(arguments)) {}

QorClientSvc::~QorClientSvc() {
    stop();
    if (worker_.joinable()) worker_.join();
}

void QorClientSvc::Inform(const std::string& text, uint32_t eventId) {
    logEvent(text, platform::EventType::Information, eventId, kCategory);
}

void QorClientSvc::Complain(const std::string& text) { logEvent(text, platform::EventType::Error, kEventId, kCategory); }

void QorClientSvc::start(const std::vector<std::string>&) {
    Inform("QorClient Service is starting...");
    // The program's own command line decides the mode: its first argument after the program.
    if (arguments_.size() < 2) {
        Complain("QorClient Service:\nNo run mode specified.");
        throw std::runtime_error("no run mode specified");
    }
    const bool serve = SameText(arguments_[1], "serve");
    std::string configuration = kDefaultConfiguration;
    if (arguments_.size() > 2 && arguments_[2] == "-config") {
        if (arguments_.size() < 4) throw std::runtime_error("no configuration file name");
        configuration = arguments_[3];
    }
    // The file is not read: the service has nothing to configure yet.
    Inform("QorClient Service\n The service is pretending to read configuration from " + configuration);

    {
        std::lock_guard lock(mutex_);
        listenerExpected_ = true;
    }
    if (serve) {
        Inform("QorClient Service will run as a service.");
        try {
            worker_ = std::thread([this] { Listen(); });
        } catch (const std::system_error&) {
            Complain("QorClient Service couldn't create worker thread.");
            std::lock_guard lock(mutex_);
            listenerExpected_ = false;
        }
        return;
    }
    std::printf("QorClient Service is running as a regular process.\n");
    std::fflush(stdout);
    Listen();
}

void QorClientSvc::Listen() {
    Inform("QorClient Service has started.");
    auto server = platform::CreateMessagePipeServer();
    platform::PipeServerOptions options;
    options.name = protocol::kClientServicePipeName;
    options.instances = kListenerInstances;
    options.defaultTimeoutMs = kPipeDefaultTimeoutMs;
    options.access = platform::PipeAccess::EveryoneAndAppContainers;
    const bool serving = server->Start(options, [this](platform::PipeClient& client, const uint8_t* request,
                                                       uint32_t size, uint8_t*, uint32_t*) {
        HandleRequest(client, request, size);
    });
    if (!serving) {
        // Logged, not thrown: nothing on this thread could catch it.
        Complain("Named pipe creation failed.");
    } else {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return listenerStop_; });
    }
    server->Stop();
    {
        std::lock_guard lock(mutex_);
        listenerStop_ = false;
        listenerExpected_ = false;
    }
    changed_.notify_all();
    Inform("QorClient Service has stopped.", kStopEventId);
}

void QorClientSvc::HandleRequest(platform::PipeClient& client, const uint8_t* request, uint32_t size) {
    const auto message = winpipe::DecodeRequest({request, size});
    if (!message || message->command != kOpenQorRuntime) {
        client.EndConnection();
        return;
    }
    starter_.OpenQorRuntime();  // no reply: the application learns of the start from the XR service's pipe
}

void QorClientSvc::stop() {
    std::unique_lock lock(mutex_);
    // Set even before a listener starts: one that starts after a stop request ends at once.
    listenerStop_ = true;
    changed_.notify_all();
    if (!listenerExpected_) return;  // nothing runs, so nothing to wait for
    lock.unlock();
    Inform("QorClient Service is stopping", kStopEventId);
    lock.lock();
    changed_.wait(lock, [this] { return !listenerExpected_; });
    lock.unlock();
    if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
}

}  // namespace qor::clientservice
