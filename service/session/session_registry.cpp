#include "service/session/session_registry.h"

#include "platform/memory.h"
#include "service/compositor/compositor.h"
#include "service/core/instance_registry.h"
#include "service/core/logger.h"
#include "service/driverhost/driver_registry.h"
#include "service/session/space_table.h"
#include "service/session/swapchain.h"
#include "service/server/service_state.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace qor {

namespace {
// Where each event type that names a session keeps its session field.
bool SessionFieldOffset(uint32_t type, size_t* offset) {
    switch (type) {
        case XR_TYPE_EVENT_DATA_SESSION_STATE_CHANGED:
            *offset = offsetof(XrEventDataSessionStateChanged, session);
            return true;
        case XR_TYPE_EVENT_DATA_REFERENCE_SPACE_CHANGE_PENDING:
            *offset = offsetof(XrEventDataReferenceSpaceChangePending, session);
            return true;
        case XR_TYPE_EVENT_DATA_INTERACTION_PROFILE_CHANGED:
            *offset = offsetof(XrEventDataInteractionProfileChanged, session);
            return true;
        default:
            return false;
    }
}

bool NamesSession(const std::vector<uint8_t>& block, uint64_t handle) {
    uint32_t type = 0;
    if (block.size() < sizeof type) return false;
    std::memcpy(&type, block.data(), sizeof type);
    size_t offset = 0;
    if (!SessionFieldOffset(type, &offset) || block.size() < offset + sizeof handle) return false;
    uint64_t session = 0;
    std::memcpy(&session, block.data() + offset, sizeof session);
    return session == handle;
}
}  // namespace

SessionRegistry::~SessionRegistry() {
    for (const auto& [handle, session] : sessions_) {
        session->removed = true;
        WakeFrameWaiters(*session);
    }
}

std::shared_ptr<Session> SessionRegistry::Find(uint64_t handle) {
    std::lock_guard lock(mutex_);
    const auto found = sessions_.find(handle);
    return found == sessions_.end() ? nullptr : found->second;
}

size_t SessionRegistry::CountOfInstanceLocked(uint64_t instance) const {
    return static_cast<size_t>(std::count_if(sessions_.begin(), sessions_.end(),
                                             [instance](const auto& entry) { return entry.second->instance == instance; }));
}

bool SessionRegistry::Empty() {
    std::lock_guard lock(mutex_);
    return sessions_.empty();
}

std::shared_ptr<Session> SessionRegistry::RemoveLocked(uint64_t handle) {
    const auto found = sessions_.find(handle);
    if (found == sessions_.end()) return nullptr;
    std::shared_ptr<Session> session = found->second;
    if (const auto instance = session->instanceRecord.lock()) {
        std::lock_guard lock(instance->eventMutex);
        auto& queue = instance->eventQueue;
        queue.erase(std::remove_if(queue.begin(), queue.end(),
                                   [handle](const std::vector<uint8_t>& block) { return NamesSession(block, handle); }),
                    queue.end());
    }
    sessions_.erase(found);
    session->removed = true;
    return session;
}

void WakeFrameWaiters(Session& session) {
    // Taking the mutex orders the change before a waiter's next check of its condition.
    { std::lock_guard lock(session.frameMutex); }
    session.frameChanged.notify_all();
}

void FinishRemovedSession(ServiceState& state, Session& session) {
    WakeFrameWaiters(session);
    state.swapchains.EraseOfSession(session.handle);
    state.spaces.EraseOfSession(session.handle);
    state.actions.RemoveSession(session.handle);
    state.compositor.ForgetSession(session.handle);
    state.compositor.ReleaseStageBuffer();
    // After the last session the service returns to its idle size: the stage buffer goes
    // until the next session's first frame, and the heap hands back the pages of the frame
    // buffers freed meanwhile, which it would otherwise keep.
    if (state.compositor.ReleaseWhenIdle([&state] { return state.sessions.Empty(); })) platform::ReleaseFreeMemory();
}

void RemoveSessionsOfInstance(ServiceState& state, uint64_t instance) {
    auto& registry = state.sessions;
    std::vector<std::shared_ptr<Session>> owned;
    {
        std::lock_guard lock(registry.Mutex());
        for (const auto& [handle, session] : registry.SessionsLocked()) {
            if (session->instance == instance) owned.push_back(session);
        }
    }
    for (auto it = owned.rbegin(); it != owned.rend(); ++it) {
        Session& session = **it;
        if (IQorDisplayComponent* display = state.drivers.DisplayOf(session.systemId)) {
            Log("Disable display device");
            display->SetDisplayState(kDisplayStateOff);
        }
        std::shared_ptr<Session> removed;
        {
            std::lock_guard lock(registry.Mutex());
            removed = registry.RemoveLocked(session.handle);
        }
        // As xrDestroySession does: an application that only destroys its instance must not
        // leave the stage buffer with the display side, or the next session could never draw.
        if (removed) {
            FinishRemovedSession(state, *removed);
        } else {
            WakeFrameWaiters(session);
        }
    }
}

}  // namespace qor
