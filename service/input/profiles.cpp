#include "service/input/profiles.h"

#include <algorithm>
#include <cstring>
#include <cctype>

namespace qor::input {

namespace {

const std::vector<const char*> kHandComponents {
    "/input/a/click", "/input/a/touch", "/input/aim/pose", "/input/b/click", "/input/b/touch",
    "/input/back/click", "/input/grip/pose", "/input/menu/click", "/input/select/click", "/input/squeeze/click",
    "/input/squeeze/force", "/input/squeeze/value", "/input/system/click", "/input/system/touch",
    "/input/thumbrest/touch", "/input/thumbstick/click", "/input/thumbstick/touch", "/input/thumbstick/x",
    "/input/thumbstick/y", "/input/thumbstick", "/input/trackpad/click", "/input/trackpad/force",
    "/input/trackpad/touch", "/input/trackpad/x", "/input/trackpad/y", "/input/trackpad", "/input/trigger/click",
    "/input/trigger/touch", "/input/trigger/value", "/input/x/click", "/input/x/touch", "/input/y/click",
    "/input/y/touch", "/output/haptic"};

const std::vector<const char*> kGamepadComponents {
    "/input/a/click", "/input/b/click", "/input/dpad_down/click", "/input/dpad_left/click",
    "/input/dpad_right/click", "/input/dpad_up/click", "/input/menu/click", "/input/shoulder_left/click",
    "/input/shoulder_right/click", "/input/thumbstick_left/click", "/input/thumbstick_left/x",
    "/input/thumbstick_left/y", "/input/thumbstick_left", "/input/thumbstick_right/click",
    "/input/thumbstick_right/x", "/input/thumbstick_right/y", "/input/thumbstick_right",
    "/input/trigger_left/value", "/input/trigger_right/value", "/input/view/click", "/input/x/click",
    "/input/y/click", "/output/haptic_left", "/output/haptic_left_trigger", "/output/haptic_right",
    "/output/haptic_right_trigger"};

const std::vector<const char*> kHeadComponents {"/input/mute_mic/click", "/input/volume_down/click",
                                                "/input/volume_up/click", "/input/system/click"};

const std::vector<const char*> kSimple {"/input/select/click", "/input/menu/click", "/input/grip/pose",
                                        "/input/aim/pose", "/output/haptic"};
const std::vector<const char*> kDaydream {"/input/select/click", "/input/trackpad/x", "/input/trackpad/y",
                                          "/input/trackpad", "/input/trackpad/click", "/input/trackpad/touch",
                                          "/input/grip/pose", "/input/aim/pose"};
const std::vector<const char*> kVive {"/input/system/click", "/input/squeeze/click", "/input/menu/click",
                                      "/input/trigger/click", "/input/trigger/value", "/input/trackpad/x",
                                      "/input/trackpad/y", "/input/trackpad", "/input/trackpad/click",
                                      "/input/trackpad/touch", "/input/grip/pose", "/input/aim/pose",
                                      "/output/haptic"};
const std::vector<const char*> kVivePro {"/input/system/click", "/input/volume_up/click", "/input/volume_down/click",
                                         "/input/mute_mic/click"};
const std::vector<const char*> kMotion {"/input/menu/click", "/input/squeeze/click", "/input/trigger/value",
                                        "/input/thumbstick/x", "/input/thumbstick/y", "/input/thumbstick",
                                        "/input/thumbstick/click", "/input/trackpad/x", "/input/trackpad/y",
                                        "/input/trackpad", "/input/trackpad/click", "/input/trackpad/touch",
                                        "/input/grip/pose", "/input/aim/pose", "/output/haptic"};
const std::vector<const char*> kXbox {
    "/input/menu/click", "/input/view/click", "/input/a/click", "/input/b/click", "/input/x/click",
    "/input/y/click", "/input/dpad_down/click", "/input/dpad_right/click", "/input/dpad_up/click",
    "/input/dpad_left/click", "/input/shoulder_left/click", "/input/shoulder_right/click",
    "/input/thumbstick_left/click", "/input/thumbstick_right/click", "/input/trigger_left/value",
    "/input/trigger_right/value", "/input/thumbstick_left/x", "/input/thumbstick_left/y", "/input/thumbstick_left",
    "/input/thumbstick_right/x", "/input/thumbstick_right/y", "/input/thumbstick_right", "/output/haptic_left",
    "/output/haptic_right", "/output/haptic_left_trigger", "/output/haptic_right_trigger"};
const std::vector<const char*> kGo {"/input/system/click", "/input/trigger/click", "/input/back/click",
                                    "/input/trackpad/x", "/input/trackpad/y", "/input/trackpad",
                                    "/input/trackpad/click", "/input/trackpad/touch", "/input/grip/pose",
                                    "/input/aim/pose"};
const std::vector<const char*> kTouchLeft {
    "/input/x/click", "/input/x/touch", "/input/y/click", "/input/y/touch", "/input/menu/click",
    "/input/squeeze/value", "/input/trigger/value", "/input/trigger/touch", "/input/thumbstick/x",
    "/input/thumbstick/y", "/input/thumbstick", "/input/thumbstick/click", "/input/thumbstick/touch",
    "/input/thumbrest/touch", "/input/grip/pose", "/input/aim/pose", "/output/haptic"};
const std::vector<const char*> kTouchRight {
    "/input/a/click", "/input/a/touch", "/input/b/click", "/input/b/touch", "/input/system/click",
    "/input/squeeze/value", "/input/trigger/value", "/input/trigger/touch", "/input/thumbstick/x",
    "/input/thumbstick/y", "/input/thumbstick", "/input/thumbstick/click", "/input/thumbstick/touch",
    "/input/thumbrest/touch", "/input/grip/pose", "/input/aim/pose", "/output/haptic"};
const std::vector<const char*> kIndex {
    "/input/system/click", "/input/system/touch", "/input/a/click", "/input/a/touch", "/input/b/click",
    "/input/b/touch", "/input/squeeze/value", "/input/squeeze/force", "/input/trigger/click",
    "/input/trigger/value", "/input/trigger/touch", "/input/thumbstick/x", "/input/thumbstick/y",
    "/input/thumbstick", "/input/thumbstick/click", "/input/thumbstick/touch", "/input/trackpad/x",
    "/input/trackpad/y", "/input/trackpad", "/input/trackpad/force", "/input/trackpad/touch", "/input/grip/pose",
    "/input/aim/pose", "/output/haptic"};

constexpr const char* kLeft = "/user/hand/left";
constexpr const char* kRight = "/user/hand/right";

}  // namespace

std::optional<ComponentKind> KindOfComponent(std::string_view componentPath) {
    const size_t slash = componentPath.rfind('/');
    if (slash == std::string_view::npos) return std::nullopt;
    const std::string_view last = componentPath.substr(slash);
    if (last == "/click" || last == "/touch") return ComponentKind::Boolean;
    if (last == "/force" || last == "/value" || last == "/x" || last == "/y" || last == "/twist") {
        return ComponentKind::Float;
    }
    if (last == "/joystick" || last == "/trackball" || last == "/trackpad" || last == "/thumbstick") {
        return ComponentKind::Vector2;
    }
    if (last == "/pose") return ComponentKind::Pose;
    if (last == "/haptic" || last.starts_with("/haptic_")) return ComponentKind::Haptic;
    return std::nullopt;
}

std::optional<ComponentDirection> DirectionOfComponent(std::string_view componentPath) {
    if (componentPath.size() < 8 || componentPath.starts_with("/input")) return ComponentDirection::Input;
    if (componentPath.starts_with("/output")) return ComponentDirection::Output;
    return std::nullopt;
}

const Catalogue& Catalogue::Get() {
    static const Catalogue catalogue;
    return catalogue;
}

Catalogue::Catalogue() {
    const auto user = [this](const char* path, const char* name, const std::vector<const char*>& components) {
        TopLevelUserPath entry {path, PathHash(path), name, {}};
        for (const char* component : components) {
            if (KindOfComponent(component) && DirectionOfComponent(component)) entry.components.emplace_back(component);
        }
        userPaths_.push_back(std::move(entry));
    };
    user(kLeft, "Left Hand", kHandComponents);
    user(kRight, "Right Hand", kHandComponents);
    user("/user/head", "Head", kHeadComponents);
    user("/user/gamepad", "Gamepad", kGamepadComponents);
    user("/user/treadmill", "Treadmill", {});

    AddProfile("/interaction_profiles/khr/simple_controller", "Simple Controller", {{kLeft, &kSimple}, {kRight, &kSimple}});
    AddProfile("/interaction_profiles/google/daydream_controller", "Daydream Controller",
               {{kLeft, &kDaydream}, {kRight, &kDaydream}});
    AddProfile("/interaction_profiles/htc/vive_controller", "Vive Controller", {{kLeft, &kVive}, {kRight, &kVive}});
    AddProfile("/interaction_profiles/htc/vive_pro", "Vive Pro", {{"/user/head", &kVivePro}});
    AddProfile("/interaction_profiles/microsoft/motion_controller", "Motion Controller",
               {{kLeft, &kMotion}, {kRight, &kMotion}});
    AddProfile("/interaction_profiles/microsoft/xbox_controller", "Xbox Controller", {{"/user/gamepad", &kXbox}});
    AddProfile("/interaction_profiles/oculus/go_controller", "Go Controller", {{kLeft, &kGo}, {kRight, &kGo}});
    AddProfile("/interaction_profiles/oculus/touch_controller", "Touch Controller",
               {{kLeft, &kTouchLeft}, {kRight, &kTouchRight}});
    AddProfile("/interaction_profiles/valve/index_controller", "Index Controller",
               {{kLeft, &kIndex}, {kRight, &kIndex}});
}

void Catalogue::AddProfile(const char* path, const char* localizedName,
                           const std::vector<std::pair<const char*, const std::vector<const char*>*>>& userPaths) {
    InteractionProfileRecord profile;
    profile.path = path;
    profile.value = PathHash(path);
    profile.localizedName = localizedName;
    const auto append = [&profile](UserPathRecord& user, uint64_t value) {
        user.bindings.push_back(value);
        if (profile.accepted.insert(value).second) profile.bindings.push_back(value);
    };
    for (const auto& [userPath, components] : userPaths) {
        UserPathRecord user {userPath, PathHash(userPath), {}};
        for (const char* component : *components) {
            const std::string full = std::string(userPath) + component;
            append(user, PathHash(full));
            // A three-segment component ("/input/trigger/value") also admits its identifier path.
            if (std::count(component, component + std::strlen(component), '/') == 3) {
                append(user, PathHash(std::string_view(full).substr(0, full.rfind('/'))));
            }
        }
        profile.userPaths.emplace(user.value, std::move(user));
    }
    profiles_.emplace(profile.value, std::move(profile));
}

const TopLevelUserPath* Catalogue::FindUserPath(uint64_t value) const {
    for (const auto& user : userPaths_) {
        if (user.value == value) return &user;
    }
    return nullptr;
}

const InteractionProfileRecord* Catalogue::FindProfile(uint64_t value) const {
    const auto found = profiles_.find(value);
    return found == profiles_.end() ? nullptr : &found->second;
}

bool Catalogue::IsBindingValid(uint64_t profile, uint64_t fullPathValue) const {
    const InteractionProfileRecord* record = FindProfile(profile);
    return record != nullptr && record->accepted.contains(fullPathValue);
}

void Catalogue::FillInputDevice(ImplQorInputDevice& device) const {
    for (const auto& user : userPaths_) {
        for (const auto& component : user.components) {
            device.AddComponent(user.path, component, *DirectionOfComponent(component), *KindOfComponent(component));
        }
    }
}

std::string ComponentLocalizedName(std::string_view componentPath) {
    // The identifier is the segment after "/input" or "/output".
    std::string_view rest = componentPath;
    if (rest.starts_with("/input/")) rest.remove_prefix(7);
    else if (rest.starts_with("/output/")) rest.remove_prefix(8);
    else return {};
    rest = rest.substr(0, rest.find('/'));
    std::string name;
    bool wordStart = true;
    for (const char c : rest) {
        if (c == '_') {
            name += ' ';
            wordStart = true;
            continue;
        }
        name += wordStart ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
        wordStart = false;
    }
    return name;
}

}  // namespace qor::input
