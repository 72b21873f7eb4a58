// The action system's state: per instance its path table and current interaction profiles,
// the action sets and actions, and which sets each session attached. One mutex guards it all
// and is held only for lookups and changes; component values are read under each component's
// own lock (never two at once), after the mutex is released.
#pragma once

#include "protocol/messages.h"
#include "service/core/handle_counter.h"
#include "service/driverhost/input_device.h"
#include "service/input/paths.h"
#include "service/session/space_table.h"

#include <openxr/openxr.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qor::input {

// Bounds on what one client can make: every record costs service memory until its instance goes.
constexpr size_t kMaxActionSetsPerInstance = 256;
constexpr size_t kMaxActionsPerSet = 1024;
constexpr size_t kMaxNameLength = XR_MAX_ACTION_NAME_SIZE - 1;  // 63, for sets and actions alike

// The session a request names, already found and owned by the caller.
struct SessionRef {
    uint64_t handle = 0;
    uint64_t instance = 0;
    uint32_t owner = 0;
};

// What a state query answers, before it is put into the reply of its type.
struct ActionState {
    XrBool32 boolean = XR_FALSE;
    float scalar = 0.0f;
    XrVector2f vector {0.0f, 0.0f};
    XrBool32 changed = XR_FALSE;
    int64_t lastChangeTime = 0;
    XrBool32 isActive = XR_FALSE;
};

class ActionSystem final : public ActionSpaceChecks {
public:
    ActionSystem(HandleCounter& handles, ImplQorInputDevice& device) : handles_(handles), device_(device) {}
    ActionSystem(const ActionSystem&) = delete;
    ActionSystem& operator=(const ActionSystem&) = delete;

    // An instance's input state exists from its creation to its destruction.
    void AddInstance(uint64_t instance, uint32_t owner);
    // Drops the instance's paths, current profiles, action sets and actions.
    void RemoveInstance(uint64_t instance);
    // Drops what the session attached.
    void RemoveSession(uint64_t session);

    XrResult StringToPath(uint64_t instance, uint32_t owner, std::string_view text, uint64_t* path);
    XrResult PathToString(uint64_t instance, uint32_t owner, uint64_t path, std::string* text);

    XrResult CreateActionSet(uint64_t instance, uint32_t owner, std::string_view name, std::string_view localizedName,
                             uint32_t priority, uint64_t* handle);
    XrResult DestroyActionSet(uint64_t handle, uint32_t owner);
    XrResult CreateAction(uint64_t set, uint32_t owner, std::string_view name, uint32_t type,
                          std::span<const uint64_t> subactionPaths, std::string_view localizedName, uint64_t* handle);
    XrResult DestroyAction(uint64_t handle, uint32_t owner);
    XrResult SuggestBindings(uint64_t instance, uint32_t owner, uint64_t profile,
                             std::span<const protocol::ActionSubactionPair> bindings);
    XrResult Attach(const SessionRef& session, std::span<const uint64_t> sets);
    XrResult CurrentProfile(const SessionRef& session, uint64_t userPath, uint64_t* profile);
    // Whether some top-level user path of the instance has a current interaction profile.
    bool HasCurrentProfile(uint64_t instance);
    // Copies live values into synced values for the active sets' bound components.
    XrResult Sync(const SessionRef& session, std::span<const protocol::ActionSubactionPair> activeSets);
    XrResult State(const SessionRef& session, uint64_t action, uint64_t subactionPath, XrActionType type,
                   ActionState* state);
    // The checks of the two haptic calls (no device vibrates).
    XrResult CheckHaptic(const SessionRef& session, uint64_t action, uint64_t subactionPath);
    XrResult BoundSources(const SessionRef& session, uint64_t action, std::vector<uint64_t>* sources);
    XrResult LocalizedName(const SessionRef& session, uint64_t source, uint64_t whichComponents, std::string* name);

    // ActionSpaceChecks
    XrResult CheckPoseAction(uint32_t ownerProcess, uint64_t action, uint64_t subactionPath) override;
    void RememberSpace(uint64_t action, uint64_t space) override;
    bool CurrentPose(uint64_t action, uint64_t subactionPath, XrPosef* pose) override;

private:
    struct CurrentProfileEntry {
        uint64_t profile = 0;
        float score = 0.0f;
    };
    struct InstanceInput {
        uint32_t owner = 0;
        PathTable paths;
        std::map<uint64_t, CurrentProfileEntry> currentProfiles;  // by top-level user path
        size_t actionSetCount = 0;
    };
    struct ActionSetRecord {
        uint64_t instance = 0;
        uint32_t owner = 0;
        std::string name;
        std::string localizedName;
        uint32_t priority = 0;
        bool attached = false;
        std::vector<uint64_t> actions;
    };
    struct ActionRecord {
        uint64_t set = 0;
        uint32_t owner = 0;
        std::string name;
        std::string localizedName;
        XrActionType type = XR_ACTION_TYPE_BOOLEAN_INPUT;
        std::vector<uint64_t> subactionPaths;
        uint64_t currentProfile = 0;
        std::vector<InputComponent*> bound;  // in binding order, each once
        uint64_t space = 0;  // the last action space made from it
    };

    // Under mutex_: the record when the owner matches; null otherwise.
    InstanceInput* InstanceLocked(uint64_t instance, uint32_t owner);
    ActionSetRecord* SetLocked(uint64_t handle, uint32_t owner);
    ActionRecord* ActionLocked(uint64_t handle, uint32_t owner);
    bool AttachedLocked(uint64_t session, uint64_t set) const;
    // Under mutex_: the action's bound components, after the checks every per-action call of
    // a session makes (handle, type, attachment, subaction path).
    XrResult SessionActionLocked(const SessionRef& session, uint64_t action, uint64_t subactionPath,
                                 ActionRecord** record);
    // Whether the profile became (or stays) current for some user path of the instance.
    bool ScoreLocked(InstanceInput& instance, uint64_t profile);

    HandleCounter& handles_;
    ImplQorInputDevice& device_;
    std::mutex mutex_;
    std::map<uint64_t, InstanceInput> instances_;
    std::map<uint64_t, ActionSetRecord> sets_;
    std::map<uint64_t, ActionRecord> actions_;
    std::map<uint64_t, std::vector<uint64_t>> attached_;  // session → its attached sets
};

}  // namespace qor::input
