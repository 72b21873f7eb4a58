// Spaces: the table of reference and action spaces, and the hook through which
// the action system answers for the actions that action spaces are made from.
#pragma once

#include "service/core/handle_counter.h"

#include <openxr/openxr.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>

namespace qor {

struct SpaceInfo {
    bool isReferenceSpace = true;
    int32_t referenceSpaceType = 0;  // reference spaces only
    XrPosef pose {};                 // in reference space, or in action space; stored as given
    // Spaces outlive their session's record, so they name it by handle; a space whose
    // session has left the registry is refused.
    uint64_t session = 0;
    uint32_t ownerProcess = 0;       // the session's creating process
    uint64_t action = 0;             // action spaces only
    uint64_t subactionPath = 0;      // action spaces only; 0 for none
};

// A session has at most this many spaces at once; applications make a handful (reference
// spaces and one per pose action), so the bound only stops a client that makes them in a loop.
constexpr uint32_t kMaxSpacesPerSession = 1024;

// What xrCreateActionSpace and xrLocateSpace need from the action system. The action work
// installs its implementation with SetActionSpaceChecks; with none installed every action
// handle is unknown.
class ActionSpaceChecks {
public:
    virtual ~ActionSpaceChecks() = default;
    // XR_SUCCESS; XR_ERROR_HANDLE_INVALID for an unknown action or one `ownerProcess` did not
    // make; XR_ERROR_ACTION_TYPE_MISMATCH when it is not a pose input; XR_ERROR_PATH_UNSUPPORTED
    // for a non-zero subaction path that is not one of the action's.
    virtual XrResult CheckPoseAction(uint32_t ownerProcess, uint64_t action, uint64_t subactionPath) = 0;
    // The action remembers its space (one per action: the last created wins).
    virtual void RememberSpace(uint64_t action, uint64_t space) = 0;
    // The current pose of the input device bound to the action for the subaction path (for
    // path 0 the action's first binding); false when there is none.
    virtual bool CurrentPose(uint64_t action, uint64_t subactionPath, XrPosef* pose) = 0;
};

class SpaceTable {
public:
    explicit SpaceTable(HandleCounter& handles) : handles_(handles) {}
    // Takes a handle (base kSpaceHandleBase) and stores the record under it; 0 when its
    // session has kMaxSpacesPerSession spaces already.
    uint64_t Insert(const SpaceInfo& space);
    // A copy, so a space destroyed meanwhile on another thread cannot pull it away.
    bool Find(uint64_t handle, SpaceInfo* space);
    // Erases the space when `ownerProcess` made it; false otherwise.
    bool Erase(uint64_t handle, uint32_t ownerProcess);
    // Erases every space of the session (which is being destroyed).
    void EraseOfSession(uint64_t session);
    void Clear();

    // The action system's answers for action spaces (not owned; null removes them).
    void SetActionSpaceChecks(ActionSpaceChecks* checks) { actionSpaceChecks_.store(checks); }
    ActionSpaceChecks* ActionChecks() const { return actionSpaceChecks_.load(); }

private:
    void ForgetLocked(std::map<uint64_t, SpaceInfo>::iterator found);

    HandleCounter& handles_;

    std::mutex mutex_;
    std::map<uint64_t, SpaceInfo> spaces_;
    std::map<uint64_t, uint32_t> perSession_;  // the number of spaces of each session
    std::atomic<ActionSpaceChecks*> actionSpaceChecks_ {nullptr};
};



}  // namespace qor
