// The session state machine: guarded state changes, the state-change events they queue on
// the owning instance, the exit walk-down and the first-frame transitions.
#pragma once

#include "service/session/session_registry.h"

namespace qor {

XrSessionState ReadSessionState(Session& session);

// Under the state lock: moves `from` to `to` only if the state is still `from`. The event is
// queued after the lock is left. True when the state changed.
bool ChangeSessionState(Session& session, XrSessionState from, XrSessionState to);

// Queues an XrEventDataSessionStateChanged for the session on its instance's queue (nothing
// when the instance is gone).
void QueueSessionStateEvent(const Session& session, XrSessionState state);

// READY → SYNCHRONIZED → STOPPING, FOCUSED → VISIBLE → SYNCHRONIZED → STOPPING, one event per
// step; nothing for UNKNOWN, IDLE or states past FOCUSED.
void ExitWalkDown(Session& session);

// What xrRequestExitSession does, for every running session at once (the exit keys): under
// the registry lock; sessions idle, stopping, exiting or about to be lost are left alone.
void RequestExitOfEverySession(SessionRegistry& registry);

// SYNCHRONIZED, then VISIBLE and FOCUSED (or STOPPING when exit was requested), run once by
// the session's first in-order xrEndFrame.
void RunFirstFrameTransitions(Session& session);

}  // namespace qor
