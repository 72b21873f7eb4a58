#include "service/input/actions.h"

#include "service/input/profiles.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace qor::input {

namespace {

// Names of sets and actions: 1 to 63 characters of the path alphabet.
XrResult CheckName(std::string_view name, size_t capacity) {
    if (name.empty()) return XR_ERROR_NAME_INVALID;
    if (name.size() >= capacity || name.size() > kMaxNameLength) return XR_ERROR_PATH_FORMAT_INVALID;
    if (!std::all_of(name.begin(), name.end(), IsPathCharacter)) return XR_ERROR_PATH_FORMAT_INVALID;
    return XR_SUCCESS;
}

bool IsKnownActionType(uint32_t type) {
    return type == XR_ACTION_TYPE_BOOLEAN_INPUT || type == XR_ACTION_TYPE_FLOAT_INPUT ||
           type == XR_ACTION_TYPE_VECTOR2F_INPUT || type == XR_ACTION_TYPE_POSE_INPUT ||
           type == XR_ACTION_TYPE_VIBRATION_OUTPUT;
}

bool Contains(const std::vector<uint64_t>& values, uint64_t value) {
    return std::find(values.begin(), values.end(), value) != values.end();
}

// One component's synced state, read under its lock.
struct Reading {
    XrBool32 boolean;
    float scalar;
    XrVector2f vector;
    bool changed;
    bool bound;
    int64_t updateTime;
};

Reading Read(InputComponent& component) {
    std::lock_guard lock(component.lock);
    return {component.syncedBoolean, component.syncedFloat,  component.syncedVector,
            component.changed != 0,  component.driverBound != 0, component.updateTime};
}

// Combines the driver-bound components: OR of booleans, the largest-magnitude float, the
// longest vector (a later one wins a tie; NaN never wins), OR of change flags, the latest time.
ActionState Combine(const std::vector<InputComponent*>& components) {
    ActionState state;
    float bestScalar = -1.0f;
    float bestLength = -1.0f;
    for (InputComponent* component : components) {
        const Reading reading = Read(*component);
        if (!reading.bound) continue;
        state.isActive = XR_TRUE;
        if (reading.boolean) state.boolean = XR_TRUE;
        if (reading.changed) state.changed = XR_TRUE;
        state.lastChangeTime = std::max(state.lastChangeTime, reading.updateTime);
        if (!std::isnan(reading.scalar) && std::fabs(reading.scalar) >= bestScalar) {
            bestScalar = std::fabs(reading.scalar);
            state.scalar = reading.scalar;
        }
        const float length = std::hypot(reading.vector.x, reading.vector.y);
        if (!std::isnan(length) && length >= bestLength) {
            bestLength = length;
            state.vector = reading.vector;
        }
    }
    return state;
}

std::vector<InputComponent*> OfUserPath(const std::vector<InputComponent*>& components, uint64_t subactionPath) {
    if (subactionPath == XR_NULL_PATH) return components;
    std::vector<InputComponent*> matching;
    for (InputComponent* component : components) {
        if (component->userPathValue == subactionPath) matching.push_back(component);
    }
    return matching;
}

}  // namespace

void ActionSystem::AddInstance(uint64_t instance, uint32_t owner) {
    std::lock_guard lock(mutex_);
    instances_[instance] = InstanceInput {owner, {}, {}, 0};
}

void ActionSystem::RemoveInstance(uint64_t instance) {
    std::lock_guard lock(mutex_);
    instances_.erase(instance);
    for (auto set = sets_.begin(); set != sets_.end();) {
        if (set->second.instance != instance) {
            ++set;
            continue;
        }
        for (const uint64_t action : set->second.actions) actions_.erase(action);
        set = sets_.erase(set);
    }
}

void ActionSystem::RemoveSession(uint64_t session) {
    std::lock_guard lock(mutex_);
    attached_.erase(session);
}

ActionSystem::InstanceInput* ActionSystem::InstanceLocked(uint64_t instance, uint32_t owner) {
    const auto found = instances_.find(instance);
    return found == instances_.end() || found->second.owner != owner ? nullptr : &found->second;
}

ActionSystem::ActionSetRecord* ActionSystem::SetLocked(uint64_t handle, uint32_t owner) {
    const auto found = sets_.find(handle);
    return found == sets_.end() || found->second.owner != owner ? nullptr : &found->second;
}

ActionSystem::ActionRecord* ActionSystem::ActionLocked(uint64_t handle, uint32_t owner) {
    const auto found = actions_.find(handle);
    return found == actions_.end() || found->second.owner != owner ? nullptr : &found->second;
}

bool ActionSystem::AttachedLocked(uint64_t session, uint64_t set) const {
    const auto found = attached_.find(session);
    return found != attached_.end() && Contains(found->second, set);
}

XrResult ActionSystem::StringToPath(uint64_t instance, uint32_t owner, std::string_view text, uint64_t* path) {
    std::lock_guard lock(mutex_);
    InstanceInput* input = InstanceLocked(instance, owner);
    if (input == nullptr) return XR_ERROR_HANDLE_INVALID;
    if (const XrResult checked = CheckPathString(text); XR_FAILED(checked)) return checked;
    return input->paths.Intern(text, path);
}

XrResult ActionSystem::PathToString(uint64_t instance, uint32_t owner, uint64_t path, std::string* text) {
    std::lock_guard lock(mutex_);
    InstanceInput* input = InstanceLocked(instance, owner);
    if (input == nullptr) return XR_ERROR_HANDLE_INVALID;
    const std::string* found = input->paths.Find(path);
    if (found == nullptr) return XR_ERROR_PATH_INVALID;
    *text = *found;
    return XR_SUCCESS;
}

XrResult ActionSystem::CreateActionSet(uint64_t instance, uint32_t owner, std::string_view name,
                                       std::string_view localizedName, uint32_t priority, uint64_t* handle) {
    std::lock_guard lock(mutex_);
    InstanceInput* input = InstanceLocked(instance, owner);
    if (input == nullptr) return XR_ERROR_HANDLE_INVALID;
    if (const XrResult checked = CheckName(name, XR_MAX_ACTION_SET_NAME_SIZE); XR_FAILED(checked)) return checked;
    if (localizedName.empty() || localizedName.size() >= XR_MAX_LOCALIZED_ACTION_SET_NAME_SIZE) {
        return XR_ERROR_LOCALIZED_NAME_INVALID;
    }
    for (const auto& [setHandle, set] : sets_) {
        if (set.instance != instance) continue;
        if (set.name == name) return XR_ERROR_NAME_DUPLICATED;
        if (set.localizedName == localizedName) return XR_ERROR_LOCALIZED_NAME_DUPLICATED;
    }
    if (input->actionSetCount >= kMaxActionSetsPerInstance) return XR_ERROR_LIMIT_REACHED;
    ActionSetRecord set;
    set.instance = instance;
    set.owner = owner;
    set.name = name;
    set.localizedName = localizedName;
    set.priority = priority;
    *handle = handles_.New(kActionSetHandleBase);
    sets_.emplace(*handle, std::move(set));
    ++input->actionSetCount;
    return XR_SUCCESS;
}

XrResult ActionSystem::DestroyActionSet(uint64_t handle, uint32_t owner) {
    std::lock_guard lock(mutex_);
    ActionSetRecord* set = SetLocked(handle, owner);
    if (set == nullptr) return XR_ERROR_HANDLE_INVALID;
    for (const uint64_t action : set->actions) actions_.erase(action);
    if (const auto input = instances_.find(set->instance); input != instances_.end()) --input->second.actionSetCount;
    sets_.erase(handle);
    return XR_SUCCESS;
}

XrResult ActionSystem::CreateAction(uint64_t setHandle, uint32_t owner, std::string_view name, uint32_t type,
                                    std::span<const uint64_t> subactionPaths, std::string_view localizedName,
                                    uint64_t* handle) {
    std::lock_guard lock(mutex_);
    ActionSetRecord* set = SetLocked(setHandle, owner);
    if (set == nullptr) return XR_ERROR_HANDLE_INVALID;
    if (set->attached) return XR_ERROR_ACTIONSETS_ALREADY_ATTACHED;
    if (name.empty()) return XR_ERROR_NAME_INVALID;
    if (!IsKnownActionType(type)) return XR_ERROR_VALIDATION_FAILURE;
    const Catalogue& catalogue = Catalogue::Get();
    for (const uint64_t path : subactionPaths) {
        if (catalogue.FindUserPath(path) == nullptr) return XR_ERROR_PATH_UNSUPPORTED;
    }
    if (localizedName.empty() || localizedName.size() >= XR_MAX_LOCALIZED_ACTION_NAME_SIZE) {
        return XR_ERROR_LOCALIZED_NAME_INVALID;
    }
    if (const XrResult checked = CheckName(name, XR_MAX_ACTION_NAME_SIZE); XR_FAILED(checked)) return checked;
    // Names are unique within the set whatever the actions' types.
    for (const uint64_t other : set->actions) {
        const ActionRecord& action = actions_.at(other);
        if (action.name == name) return XR_ERROR_NAME_DUPLICATED;
        if (action.localizedName == localizedName) return XR_ERROR_LOCALIZED_NAME_DUPLICATED;
    }
    for (size_t i = 0; i < subactionPaths.size(); ++i) {
        if (std::find(subactionPaths.begin(), subactionPaths.begin() + static_cast<std::ptrdiff_t>(i),
                      subactionPaths[i]) != subactionPaths.begin() + static_cast<std::ptrdiff_t>(i)) {
            return XR_ERROR_PATH_UNSUPPORTED;
        }
    }
    if (set->actions.size() >= kMaxActionsPerSet) return XR_ERROR_LIMIT_REACHED;
    ActionRecord action;
    action.set = setHandle;
    action.owner = owner;
    action.name = name;
    action.localizedName = localizedName;
    action.type = static_cast<XrActionType>(type);
    action.subactionPaths.assign(subactionPaths.begin(), subactionPaths.end());
    *handle = handles_.New(kActionHandleBase);
    actions_.emplace(*handle, std::move(action));
    set->actions.push_back(*handle);
    return XR_SUCCESS;
}

XrResult ActionSystem::DestroyAction(uint64_t handle, uint32_t owner) {
    std::lock_guard lock(mutex_);
    ActionRecord* action = ActionLocked(handle, owner);
    if (action == nullptr) return XR_ERROR_HANDLE_INVALID;
    if (const auto set = sets_.find(action->set); set != sets_.end()) std::erase(set->second.actions, handle);
    actions_.erase(handle);
    return XR_SUCCESS;
}

bool ActionSystem::ScoreLocked(InstanceInput& instance, uint64_t profileValue) {
    const InteractionProfileRecord* profile = Catalogue::Get().FindProfile(profileValue);
    if (profile == nullptr || profile->userPaths.empty()) return false;
    bool current = false;
    for (const auto& [userPath, user] : profile->userPaths) {
        size_t provided = 0;
        for (const uint64_t binding : user.bindings) {
            InputComponent* component = device_.FindComponent(binding);
            if (component == nullptr) continue;
            std::lock_guard lock(component->lock);
            if (component->driverBound != 0) ++provided;
        }
        const float score = static_cast<float>(provided) / static_cast<float>(user.bindings.size());
        const auto found = instance.currentProfiles.find(userPath);
        if (found == instance.currentProfiles.end() || score > found->second.score) {
            instance.currentProfiles[userPath] = {profileValue, score};
        }
        if (instance.currentProfiles[userPath].profile == profileValue) current = true;
    }
    return current;
}

XrResult ActionSystem::SuggestBindings(uint64_t instanceHandle, uint32_t owner, uint64_t profile,
                                       std::span<const protocol::ActionSubactionPair> bindings) {
    std::lock_guard lock(mutex_);
    InstanceInput* instance = InstanceLocked(instanceHandle, owner);
    if (instance == nullptr) return XR_ERROR_HANDLE_INVALID;
    if (bindings.empty()) return XR_ERROR_VALIDATION_FAILURE;
    if (!instance->paths.Holds(profile)) return XR_ERROR_PATH_INVALID;
    const Catalogue& catalogue = Catalogue::Get();
    if (catalogue.FindProfile(profile) == nullptr) return XR_ERROR_PATH_UNSUPPORTED;
    for (const auto& binding : bindings) {
        const ActionRecord* action = ActionLocked(binding.handle, owner);
        if (action == nullptr || sets_.at(action->set).instance != instanceHandle) return XR_ERROR_HANDLE_INVALID;
        if (sets_.at(action->set).attached) return XR_ERROR_ACTIONSETS_ALREADY_ATTACHED;
        if (!instance->paths.Holds(binding.path)) return XR_ERROR_PATH_INVALID;
        if (!catalogue.IsBindingValid(profile, binding.path)) return XR_ERROR_PATH_UNSUPPORTED;
    }
    // Bindings apply while the profile is the best one for some user path; a profile that
    // wins nowhere leaves every action as it was.
    if (!ScoreLocked(*instance, profile)) return XR_SUCCESS;
    // A new suggestion for a profile replaces the previous one for it.
    for (auto& [handle, action] : actions_) {
        if (action.currentProfile == profile && sets_.at(action.set).instance == instanceHandle) action.bound.clear();
    }
    for (const auto& binding : bindings) {
        ActionRecord& action = actions_.at(binding.handle);
        if (action.currentProfile != profile) {
            action.currentProfile = profile;
            action.bound.clear();
        }
        InputComponent* component = device_.FindComponent(binding.path);
        if (component != nullptr && std::find(action.bound.begin(), action.bound.end(), component) == action.bound.end()) {
            action.bound.push_back(component);
        }
    }
    return XR_SUCCESS;
}

XrResult ActionSystem::Attach(const SessionRef& session, std::span<const uint64_t> sets) {
    std::lock_guard lock(mutex_);
    if (sets.empty()) return XR_ERROR_VALIDATION_FAILURE;
    if (attached_.contains(session.handle)) return XR_ERROR_ACTIONSETS_ALREADY_ATTACHED;
    for (const uint64_t handle : sets) {
        const ActionSetRecord* set = SetLocked(handle, session.owner);
        if (set == nullptr || set->instance != session.instance) return XR_ERROR_HANDLE_INVALID;
    }
    auto& list = attached_[session.handle];
    for (const uint64_t handle : sets) {
        if (Contains(list, handle)) continue;
        list.push_back(handle);
        sets_.at(handle).attached = true;
    }
    return XR_SUCCESS;
}

XrResult ActionSystem::CurrentProfile(const SessionRef& session, uint64_t userPath, uint64_t* profile) {
    std::lock_guard lock(mutex_);
    if (!attached_.contains(session.handle)) return XR_ERROR_ACTIONSET_NOT_ATTACHED;
    *profile = XR_NULL_PATH;
    const auto instance = instances_.find(session.instance);
    if (instance == instances_.end()) return XR_ERROR_INSTANCE_LOST;
    if (const auto found = instance->second.currentProfiles.find(userPath);
        found != instance->second.currentProfiles.end()) {
        *profile = found->second.profile;
    }
    return XR_SUCCESS;
}

bool ActionSystem::HasCurrentProfile(uint64_t instance) {
    std::lock_guard lock(mutex_);
    const auto found = instances_.find(instance);
    return found != instances_.end() && !found->second.currentProfiles.empty();
}

XrResult ActionSystem::Sync(const SessionRef& session, std::span<const protocol::ActionSubactionPair> activeSets) {
    // Each component once per call, so a component bound to two actions keeps its change flag.
    std::set<InputComponent*> components;
    {
        std::lock_guard lock(mutex_);
        if (activeSets.empty()) return XR_ERROR_VALIDATION_FAILURE;
        for (const auto& active : activeSets) {
            if (SetLocked(active.handle, session.owner) == nullptr) return XR_ERROR_HANDLE_INVALID;
            if (!AttachedLocked(session.handle, active.handle)) return XR_ERROR_ACTIONSET_NOT_ATTACHED;
        }
        for (const auto& active : activeSets) {
            for (const uint64_t action : sets_.at(active.handle).actions) {
                for (InputComponent* component : OfUserPath(actions_.at(action).bound, active.path)) {
                    components.insert(component);
                }
            }
        }
    }
    for (InputComponent* component : components) device_.Synchronise(*component);
    return XR_SUCCESS;
}

XrResult ActionSystem::SessionActionLocked(const SessionRef& session, uint64_t action, uint64_t subactionPath,
                                           ActionRecord** record) {
    ActionRecord* found = ActionLocked(action, session.owner);
    if (found == nullptr) return XR_ERROR_HANDLE_INVALID;
    *record = found;
    if (!AttachedLocked(session.handle, found->set)) return XR_ERROR_ACTIONSET_NOT_ATTACHED;
    if (subactionPath != XR_NULL_PATH && !Contains(found->subactionPaths, subactionPath)) {
        return XR_ERROR_PATH_UNSUPPORTED;
    }
    return XR_SUCCESS;
}

XrResult ActionSystem::State(const SessionRef& session, uint64_t action, uint64_t subactionPath, XrActionType type,
                             ActionState* state) {
    std::vector<InputComponent*> components;
    {
        std::lock_guard lock(mutex_);
        ActionRecord* record = ActionLocked(action, session.owner);
        if (record == nullptr) return XR_ERROR_HANDLE_INVALID;
        if (record->type != type) return XR_ERROR_ACTION_TYPE_MISMATCH;
        if (const XrResult checked = SessionActionLocked(session, action, subactionPath, &record); XR_FAILED(checked)) {
            return checked;
        }
        components = OfUserPath(record->bound, subactionPath);
    }
    *state = Combine(components);
    return XR_SUCCESS;
}

XrResult ActionSystem::CheckHaptic(const SessionRef& session, uint64_t action, uint64_t subactionPath) {
    std::lock_guard lock(mutex_);
    ActionRecord* record = ActionLocked(action, session.owner);
    if (record == nullptr) return XR_ERROR_HANDLE_INVALID;
    if (record->type != XR_ACTION_TYPE_VIBRATION_OUTPUT) return XR_ERROR_ACTION_TYPE_MISMATCH;
    return SessionActionLocked(session, action, subactionPath, &record);
}

XrResult ActionSystem::BoundSources(const SessionRef& session, uint64_t action, std::vector<uint64_t>* sources) {
    std::lock_guard lock(mutex_);
    ActionRecord* record = nullptr;
    if (const XrResult checked = SessionActionLocked(session, action, XR_NULL_PATH, &record); XR_FAILED(checked)) {
        return checked;
    }
    const auto instance = instances_.find(session.instance);
    if (instance == instances_.end()) return XR_ERROR_INSTANCE_LOST;
    for (InputComponent* component : record->bound) {
        // The application will turn these into strings or names: the instance must know them.
        uint64_t value = 0;
        if (XR_SUCCEEDED(instance->second.paths.Intern(component->fullPath, &value))) sources->push_back(value);
    }
    return XR_SUCCESS;
}

XrResult ActionSystem::LocalizedName(const SessionRef& session, uint64_t source, uint64_t whichComponents,
                                     std::string* name) {
    constexpr uint64_t kKnownBits = XR_INPUT_SOURCE_LOCALIZED_NAME_USER_PATH_BIT |
                                    XR_INPUT_SOURCE_LOCALIZED_NAME_INTERACTION_PROFILE_BIT |
                                    XR_INPUT_SOURCE_LOCALIZED_NAME_COMPONENT_BIT;
    std::lock_guard lock(mutex_);
    const auto instance = instances_.find(session.instance);
    if (instance == instances_.end()) return XR_ERROR_INSTANCE_LOST;
    if (whichComponents == 0 || (whichComponents & ~kKnownBits) != 0) return XR_ERROR_VALIDATION_FAILURE;
    const std::string* text = instance->second.paths.Find(source);
    if (text == nullptr) return XR_ERROR_PATH_UNSUPPORTED;
    const Catalogue& catalogue = Catalogue::Get();
    const TopLevelUserPath* user = nullptr;
    for (const auto& candidate : catalogue.UserPaths()) {
        if (text->starts_with(candidate.path) &&
            (text->size() == candidate.path.size() || (*text)[candidate.path.size()] == '/')) {
            user = &candidate;
        }
    }
    if (user == nullptr) return XR_ERROR_PATH_UNSUPPORTED;
    std::vector<std::string> parts;
    if ((whichComponents & XR_INPUT_SOURCE_LOCALIZED_NAME_USER_PATH_BIT) != 0) parts.push_back(user->localizedName);
    if ((whichComponents & XR_INPUT_SOURCE_LOCALIZED_NAME_INTERACTION_PROFILE_BIT) != 0) {
        const auto current = instance->second.currentProfiles.find(user->value);
        if (current != instance->second.currentProfiles.end()) {
            if (const auto* profile = catalogue.FindProfile(current->second.profile)) parts.push_back(profile->localizedName);
        }
    }
    if ((whichComponents & XR_INPUT_SOURCE_LOCALIZED_NAME_COMPONENT_BIT) != 0) {
        std::string component = ComponentLocalizedName(std::string_view(*text).substr(user->path.size()));
        if (!component.empty()) parts.push_back(std::move(component));
    }
    name->clear();
    for (const auto& part : parts) {
        if (!name->empty()) *name += ' ';
        *name += part;
    }
    return XR_SUCCESS;
}

XrResult ActionSystem::CheckPoseAction(uint32_t ownerProcess, uint64_t action, uint64_t subactionPath) {
    std::lock_guard lock(mutex_);
    const auto found = actions_.find(action);
    if (found == actions_.end() || found->second.owner != ownerProcess) return XR_ERROR_HANDLE_INVALID;
    if (found->second.type != XR_ACTION_TYPE_POSE_INPUT) return XR_ERROR_ACTION_TYPE_MISMATCH;
    if (subactionPath != XR_NULL_PATH && !Contains(found->second.subactionPaths, subactionPath)) {
        return XR_ERROR_PATH_UNSUPPORTED;
    }
    return XR_SUCCESS;
}

void ActionSystem::RememberSpace(uint64_t action, uint64_t space) {
    std::lock_guard lock(mutex_);
    if (const auto found = actions_.find(action); found != actions_.end()) found->second.space = space;
}

bool ActionSystem::CurrentPose(uint64_t action, uint64_t subactionPath, XrPosef* pose) {
    InputComponent* component = nullptr;
    {
        std::lock_guard lock(mutex_);
        const auto found = actions_.find(action);
        if (found == actions_.end()) return false;
        for (InputComponent* candidate : OfUserPath(found->second.bound, subactionPath)) {
            if (candidate->kind == ComponentKind::Pose) {
                component = candidate;
                break;
            }
        }
    }
    if (component == nullptr) return false;
    std::lock_guard lock(component->lock);
    // A pose no driver provides is unknown, not the identity.
    if (component->driverBound == 0) return false;
    *pose = component->syncedPose;
    return true;
}

}  // namespace qor::input
