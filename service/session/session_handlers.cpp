// Sessions: create, destroy, begin, end and request-exit.
#include "protocol/messages.h"
#include "service/compositor/compositor.h"
#include "service/core/handle_counter.h"
#include "service/core/instance_registry.h"
#include "service/core/logger.h"
#include "service/server/ownership.h"
#include "service/driverhost/driver_registry.h"
#include "service/server/handlers.h"
#include "service/server/service_state.h"
#include "service/session/session_state.h"

#include <cinttypes>
#include <cstdio>
#include <new>
#include <string>

namespace qor {

using namespace protocol;

namespace {
// Display state handed to the system's display when a session connects it, for an instance
// whose application switches the stereoscopic display off.
constexpr int32_t kDisplayStateForDisplayOffApplication = 999;

std::string PointerText(uint64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%016" PRIX64, value);
    return text;
}

// The lines of one call, written as one log entry when the call ends.
class LogEntry {
public:
    explicit LogEntry(std::string first) : text_(std::move(first)) {}
    ~LogEntry() {
        try {
            Log(std::move(text_));
        } catch (const std::bad_alloc&) {  // a lost log line must not end the service
        }
    }
    LogEntry(const LogEntry&) = delete;
    LogEntry& operator=(const LogEntry&) = delete;

    void Add(const std::string& line) {
        if (!text_.empty() && text_.back() != '\n') text_ += '\n';
        text_ += line;
    }

private:
    std::string text_;
};

// Every other session is told to exit: walked down to STOPPING, and told STOPPING once more.
void StopOtherSessionsLocked(SessionRegistry& registry) {
    for (const auto& [handle, other] : registry.SessionsLocked()) {
        other->exitRequested = true;
        ExitWalkDown(*other);
        ChangeSessionState(*other, XR_SESSION_STATE_SYNCHRONIZED, XR_SESSION_STATE_STOPPING);
        QueueSessionStateEvent(*other, XR_SESSION_STATE_STOPPING);
    }
}

}  // namespace

XrResult HandleCreateSession(const Caller& caller, const CreateSessionRequest& message, Reply& reply) {
    LogEntry log("Create Session : \n");
    std::shared_ptr<InstanceRecord> instance;
    if (const XrResult found = FindOwnedInstance(caller, message.instance, XR_ERROR_INSTANCE_LOST, &instance);
        XR_FAILED(found)) {
        log.Add(found == XR_ERROR_INSTANCE_LOST ? "\tERROR_INSTANCE_LOST" : "\tERROR_HANDLE_INVALID");
        return found;
    }
    log.Add("\tSystem ID : " + std::to_string(message.systemId) + "\n");
    if (message.createFlags != 0) {
        log.Add("\tERROR_VALIDATION_FAILURE");
        return XR_ERROR_VALIDATION_FAILURE;
    }

    const uint32_t bindingType = message.binding.present ? message.binding.value.header.type : 0;
    gpu::Api graphicsApi = gpu::Api::D3D11;
    switch (bindingType) {
        case XR_TYPE_GRAPHICS_BINDING_OPENGL_WIN32_KHR:
            log.Add("\tGraphic binding : OpenGL\n");
            log.Add("\tERROR_GRAPHICS_DEVICE_INVALID");
            return XR_ERROR_GRAPHICS_DEVICE_INVALID;
        case XR_TYPE_GRAPHICS_BINDING_VULKAN_KHR:
            log.Add("\tGraphic binding : Vulkan\n");
            log.Add("\tERROR_GRAPHICS_DEVICE_INVALID");
            return XR_ERROR_GRAPHICS_DEVICE_INVALID;
        case XR_TYPE_GRAPHICS_BINDING_D3D11_KHR:
            graphicsApi = gpu::Api::D3D11;
            caller.state.compositor.SetGraphicsApi(graphicsApi);
            log.Add("\tGraphic binding : D3D11\n");
            break;
        case XR_TYPE_GRAPHICS_BINDING_D3D12_KHR:
            graphicsApi = gpu::Api::D3D12;
            caller.state.compositor.SetGraphicsApi(graphicsApi);
            log.Add("\tGraphic binding : D3D12\n");
            break;
        default:  // no binding at all, or one of another family
            return XR_ERROR_GRAPHICS_DEVICE_INVALID;
    }

    IQorDisplayComponent* display = nullptr;
    if (const SystemEntry* system = caller.state.drivers.FindSystem(message.systemId)) {
        display = system->display;
    } else {
        log.Add("\tERROR_SYSTEM_INVALID");
        return XR_ERROR_SYSTEM_INVALID;
    }

    auto session = std::make_shared<Session>();
    session->instance = message.instance;
    session->instanceRecord = instance;
    session->clock = &caller.state.clock;
    session->ownerProcess = instance->ownerProcess;
    session->systemId = message.systemId;
    session->graphicsApi = graphicsApi;
    // The handle counter's mutex is taken alone, so the handle is drawn before the registry lock.
    session->handle = caller.state.handles.New(kSessionHandleBase);
    {
        auto& registry = caller.state.sessions;
        std::lock_guard lock(registry.Mutex());
        if (registry.CountOfInstanceLocked(message.instance) >= kMaxSessionsPerInstance) {
            log.Add("\tERROR_LIMIT_REACHED");
            return XR_ERROR_LIMIT_REACHED;
        }
        StopOtherSessionsLocked(registry);
        registry.SessionsLocked().emplace(session->handle, session);
    }
    reply.Encode(CreateSessionReply {session->handle});

    ChangeSessionState(*session, XR_SESSION_STATE_UNKNOWN, XR_SESSION_STATE_IDLE);
    log.Add("\tConnect Display device");
    if (display != nullptr) {
        log.Add("Enable display device");
        display->SetDisplayState(instance->displayEnable == 0 ? kDisplayStateForDisplayOffApplication : kDisplayStateOn);
    }
    ChangeSessionState(*session, XR_SESSION_STATE_IDLE, XR_SESSION_STATE_READY);

    log.Add("\tSession ID : " + PointerText(session->handle) + "\n");
    log.Add("\tSUCCESS");
    return XR_SUCCESS;
}

XrResult HandleDestroySession(const Caller& caller, const DestroySessionRequest& message, Reply&) {
    LogEntry log("Destroy Session : " + PointerText(message.handle) + "\n");
    const auto session = OwnedOnly(caller, caller.state.sessions.Find(message.handle));
    if (!session) {
        log.Add("\tERROR_HANDLE_INVALID");
        return XR_ERROR_HANDLE_INVALID;
    }
    if (IQorDisplayComponent* display = caller.state.drivers.DisplayOf(session->systemId)) {
        log.Add("Disable display device");
        display->SetDisplayState(kDisplayStateOff);
    }
    std::shared_ptr<Session> removed;
    {
        auto& registry = caller.state.sessions;
        std::lock_guard lock(registry.Mutex());
        removed = registry.RemoveLocked(message.handle);
    }
    if (!removed) {  // another request destroyed it meanwhile
        log.Add("\tERROR_HANDLE_INVALID");
        return XR_ERROR_HANDLE_INVALID;
    }
    FinishRemovedSession(caller.state, *removed);
    log.Add("\tERROR_SUCCESS");
    return XR_SUCCESS;
}

XrResult HandleBeginSession(const Caller& caller, const BeginSessionRequest& message, Reply&) {
    const auto session = OwnedOnly(caller, caller.state.sessions.Find(message.session));
    if (!session) return XR_ERROR_HANDLE_INVALID;
    switch (ReadSessionState(*session)) {
        case XR_SESSION_STATE_IDLE:
        case XR_SESSION_STATE_STOPPING:
        case XR_SESSION_STATE_LOSS_PENDING:
        case XR_SESSION_STATE_EXITING:
            return XR_ERROR_SESSION_NOT_READY;
        case XR_SESSION_STATE_SYNCHRONIZED:
        case XR_SESSION_STATE_VISIBLE:
        case XR_SESSION_STATE_FOCUSED:
            return XR_ERROR_SESSION_RUNNING;
        default:
            break;
    }
    const SystemEntry* system = caller.state.drivers.FindSystem(session->systemId);
    if (system == nullptr) return XR_ERROR_SESSION_LOST;
    bool supported = false;
    for (const auto& configuration : system->viewConfigurations) {
        if (static_cast<uint32_t>(configuration.type) == message.primaryViewConfigurationType) supported = true;
    }
    if (!supported) return XR_ERROR_VIEW_CONFIGURATION_TYPE_UNSUPPORTED;
    session->waitCounter = 0;
    session->beginCounter = 0;
    session->endCounter = 0;
    session->running = true;
    WakeFrameWaiters(*session);
    return XR_SUCCESS;
}

XrResult HandleEndSession(const Caller& caller, const EndSessionRequest& message, Reply&) {
    const auto session = OwnedOnly(caller, caller.state.sessions.Find(message.handle));
    if (!session) return XR_ERROR_HANDLE_INVALID;
    const XrSessionState state = ReadSessionState(*session);
    switch (state) {
        case XR_SESSION_STATE_IDLE:
        case XR_SESSION_STATE_LOSS_PENDING:
        case XR_SESSION_STATE_EXITING:
            return XR_ERROR_SESSION_NOT_RUNNING;
        case XR_SESSION_STATE_READY:
        case XR_SESSION_STATE_SYNCHRONIZED:
        case XR_SESSION_STATE_VISIBLE:
        case XR_SESSION_STATE_FOCUSED:
            return XR_ERROR_SESSION_NOT_STOPPING;
        default:
            break;
    }
    if (state == XR_SESSION_STATE_UNKNOWN || state == XR_SESSION_STATE_STOPPING) {
        ChangeSessionState(*session, state, XR_SESSION_STATE_IDLE);
    }
    // An ended session always goes on to EXITING; it is never made READY again.
    ChangeSessionState(*session, XR_SESSION_STATE_IDLE, XR_SESSION_STATE_EXITING);
    if (caller.state.sessions.Empty()) {
        if (IQorDisplayComponent* display = caller.state.drivers.DisplayOf(session->systemId)) {
            display->SetDisplayState(kDisplayStateOff);
        }
    }
    session->running = false;
    WakeFrameWaiters(*session);
    return XR_SUCCESS;
}

XrResult HandleRequestExitSession(const Caller& caller, const RequestExitSessionRequest& message, Reply&) {
    const auto session = OwnedOnly(caller, caller.state.sessions.Find(message.handle));
    if (!session) return XR_ERROR_HANDLE_INVALID;
    if (!caller.state.instances.Find(session->instance)) return XR_ERROR_INSTANCE_LOST;
    switch (ReadSessionState(*session)) {
        case XR_SESSION_STATE_IDLE:
        case XR_SESSION_STATE_STOPPING:
        case XR_SESSION_STATE_EXITING:
            return XR_ERROR_SESSION_NOT_RUNNING;
        case XR_SESSION_STATE_LOSS_PENDING:
            return XR_SESSION_LOSS_PENDING;
        default:
            break;
    }
    session->exitRequested = true;
    ExitWalkDown(*session);
    return XR_SUCCESS;
}

}  // namespace qor
