// Sessions: the record of every session of every client, and their registry.
#pragma once

#include "gpu/device.h"

#include <openxr/openxr.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace qor {

struct InstanceRecord;
class ServiceClock;
struct ServiceState;

// An instance has at most this many sessions at once (OpenXR applications run one); the bound
// stops a client that creates them in a loop.
constexpr size_t kMaxSessionsPerInstance = 4;

struct Session {
    // Frame pacing (waited, begun, ended); read and written atomically without a lock.
    std::atomic<uint16_t> waitCounter {0};
    std::atomic<uint16_t> beginCounter {0};
    std::atomic<uint16_t> endCounter {0};
    std::atomic<bool> running {false};
    std::mutex stateLock;  // guards state
    uint64_t instance = 0;
    // The instance's record, where the session's events are queued; expired once it is gone.
    std::weak_ptr<InstanceRecord> instanceRecord;
    // The service's clock, for the times of the session's events.
    const ServiceClock* clock = nullptr;
    uint64_t handle = 0;
    uint32_t ownerProcess = 0;  // the instance's creating process
    uint64_t systemId = 0;
    gpu::Api graphicsApi = gpu::Api::D3D11;
    XrSessionState state = XR_SESSION_STATE_UNKNOWN;
    std::atomic<bool> exitRequested {false};
    std::vector<int32_t> referenceSpaceTypes {XR_REFERENCE_SPACE_TYPE_VIEW, XR_REFERENCE_SPACE_TYPE_LOCAL};
    std::mutex swapchainsLock;  // guards swapchains (appended by request threads)
    std::vector<uint64_t> swapchains;
    std::atomic<bool> firstFrameEnded {false};
    std::atomic<uint64_t> viewSpace {0};  // the space last passed to xrLocateViews
    // Set when the record leaves the registry, so a blocked xrWaitFrame gives up.
    std::atomic<bool> removed {false};
    // xrWaitFrame sleeps on this instead of polling; woken whenever the frame counters, the
    // running flag or `removed` change.
    std::mutex frameMutex;
    std::condition_variable frameChanged;
};

class SessionRegistry {
public:
    SessionRegistry() = default;
    // At stop: every session left is marked removed and its frame waiters woken.
    ~SessionRegistry();
    SessionRegistry(const SessionRegistry&) = delete;
    SessionRegistry& operator=(const SessionRegistry&) = delete;


    // Lock, find, unlock: the record is used without the registry lock afterwards.
    std::shared_ptr<Session> Find(uint64_t handle);
    // The registry mutex, for the few steps that must hold it while they walk or change the map.
    std::mutex& Mutex() { return mutex_; }
    // Under Mutex():
    std::map<uint64_t, std::shared_ptr<Session>>& SessionsLocked() { return sessions_; }
    // Under Mutex(): takes the session out of the map and drops its undelivered state,
    // reference-space and interaction-profile events from its instance's queue. Null when
    // the handle is unknown.
    std::shared_ptr<Session> RemoveLocked(uint64_t handle);
    // Under Mutex(): the number of sessions of the instance.
    size_t CountOfInstanceLocked(uint64_t instance) const;
    bool Empty();

private:
    std::mutex mutex_;
    std::map<uint64_t, std::shared_ptr<Session>> sessions_;
};

// Wakes every xrWaitFrame blocked on the session so it re-reads the counters.
void WakeFrameWaiters(Session& session);

// What follows a session's removal from the registry: its waiters wake, its swapchains,
// spaces and queued layers go, and the stage buffer is handed back to the display side, so
// the next session can draw. After the last session the compositor's objects go as well,
// and free heap memory is handed back to the system.
void FinishRemovedSession(ServiceState& state, Session& session);

// Destroys every session of an instance, newest first, switching each one's display off
// (used when the instance is destroyed).
void RemoveSessionsOfInstance(ServiceState& state, uint64_t instance);

}  // namespace qor
