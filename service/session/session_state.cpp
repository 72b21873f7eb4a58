#include "service/session/session_state.h"

#include "service/core/instance_registry.h"
#include "service/core/service_clock.h"

#include <cstring>

namespace qor {

XrSessionState ReadSessionState(Session& session) {
    std::lock_guard lock(session.stateLock);
    return session.state;
}

bool ChangeSessionState(Session& session, XrSessionState from, XrSessionState to) {
    {
        std::lock_guard lock(session.stateLock);
        if (session.state != from) return false;
        session.state = to;
    }
    QueueSessionStateEvent(session, to);
    return true;
}

void QueueSessionStateEvent(const Session& session, XrSessionState state) {
    const auto instance = session.instanceRecord.lock();
    if (!instance) return;
    XrEventDataSessionStateChanged event {XR_TYPE_EVENT_DATA_SESSION_STATE_CHANGED};
    // XrSession is a pointer or an integer depending on the platform; the handle's bits are what travel.
    static_assert(sizeof event.session == sizeof session.handle);
    std::memcpy(&event.session, &session.handle, sizeof session.handle);
    event.state = state;
    event.time = session.clock != nullptr ? session.clock->NowMicroseconds() : 0;
    QueueEvent(*instance, &event, sizeof event);
}

void ExitWalkDown(Session& session) {
    for (;;) {
        const XrSessionState current = ReadSessionState(session);
        XrSessionState next;
        switch (current) {
            case XR_SESSION_STATE_READY: next = XR_SESSION_STATE_SYNCHRONIZED; break;
            case XR_SESSION_STATE_SYNCHRONIZED: next = XR_SESSION_STATE_STOPPING; break;
            case XR_SESSION_STATE_VISIBLE: next = XR_SESSION_STATE_SYNCHRONIZED; break;
            case XR_SESSION_STATE_FOCUSED: next = XR_SESSION_STATE_VISIBLE; break;
            default: return;
        }
        // A state moved by another thread meanwhile is read again rather than overwritten.
        if (ChangeSessionState(session, current, next) && next == XR_SESSION_STATE_STOPPING) return;
    }
}

void RequestExitOfEverySession(SessionRegistry& registry) {
    std::lock_guard lock(registry.Mutex());
    for (const auto& [handle, session] : registry.SessionsLocked()) {
        switch (ReadSessionState(*session)) {
            case XR_SESSION_STATE_UNKNOWN:
            case XR_SESSION_STATE_IDLE:
            case XR_SESSION_STATE_STOPPING:
            case XR_SESSION_STATE_EXITING:
            case XR_SESSION_STATE_LOSS_PENDING:
                continue;
            default:
                break;
        }
        session->exitRequested = true;
        ExitWalkDown(*session);
    }
}

void RunFirstFrameTransitions(Session& session) {
    const XrSessionState current = ReadSessionState(session);
    const bool valid = current >= XR_SESSION_STATE_UNKNOWN && current <= XR_SESSION_STATE_EXITING;
    if (valid && current != XR_SESSION_STATE_READY && current != XR_SESSION_STATE_VISIBLE) return;
    if (!ChangeSessionState(session, current, XR_SESSION_STATE_SYNCHRONIZED)) return;
    if (session.exitRequested) {
        ChangeSessionState(session, XR_SESSION_STATE_SYNCHRONIZED, XR_SESSION_STATE_STOPPING);
        return;
    }
    const XrSessionState synchronized = ReadSessionState(session);
    if (synchronized == XR_SESSION_STATE_SYNCHRONIZED || synchronized == XR_SESSION_STATE_FOCUSED) {
        ChangeSessionState(session, synchronized, XR_SESSION_STATE_VISIBLE);
    }
    ChangeSessionState(session, XR_SESSION_STATE_VISIBLE, XR_SESSION_STATE_FOCUSED);
}

}  // namespace qor
