#include "demo_input.h"

#include "xr_check.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace xr_demo {

XrPath DemoInput::Path(XrInstance instance, const char* text) const {
    XrPath path = XR_NULL_PATH;
    Check(xrStringToPath(instance, text, &path), text);
    return path;
}

void DemoInput::Create(XrInstance instance, XrSession session) {
    XrActionSetCreateInfo setInfo {XR_TYPE_ACTION_SET_CREATE_INFO};
    std::strcpy(setInfo.actionSetName, "demo");
    std::strcpy(setInfo.localizedActionSetName, "Demo");
    Check(xrCreateActionSet(instance, &setInfo, &set_), "xrCreateActionSet");

    XrActionCreateInfo selectInfo {XR_TYPE_ACTION_CREATE_INFO};
    selectInfo.actionType = XR_ACTION_TYPE_BOOLEAN_INPUT;
    std::strcpy(selectInfo.actionName, "select");
    std::strcpy(selectInfo.localizedActionName, "Select");
    Check(xrCreateAction(set_, &selectInfo, &select_), "xrCreateAction select");
    XrActionCreateInfo stickInfo {XR_TYPE_ACTION_CREATE_INFO};
    stickInfo.actionType = XR_ACTION_TYPE_FLOAT_INPUT;
    std::strcpy(stickInfo.actionName, "stick_x");
    std::strcpy(stickInfo.localizedActionName, "Stick X");
    Check(xrCreateAction(set_, &stickInfo, &stickX_), "xrCreateAction stick_x");
    std::strcpy(stickInfo.actionName, "stick_y");
    std::strcpy(stickInfo.localizedActionName, "Stick Y");
    Check(xrCreateAction(set_, &stickInfo, &stickY_), "xrCreateAction stick_y");

    const XrActionSuggestedBinding simple[] = {
        {select_, Path(instance, "/user/hand/left/input/select/click")},
        {select_, Path(instance, "/user/hand/right/input/select/click")},
    };
    XrInteractionProfileSuggestedBinding simpleInfo {XR_TYPE_INTERACTION_PROFILE_SUGGESTED_BINDING};
    simpleInfo.interactionProfile = Path(instance, "/interaction_profiles/khr/simple_controller");
    simpleInfo.countSuggestedBindings = static_cast<uint32_t>(std::size(simple));
    simpleInfo.suggestedBindings = simple;
    Check(xrSuggestInteractionProfileBindings(instance, &simpleInfo), "xrSuggestInteractionProfileBindings simple");

    const XrActionSuggestedBinding gamepad[] = {
        {select_, Path(instance, "/user/gamepad/input/a/click")},
        {stickX_, Path(instance, "/user/gamepad/input/thumbstick_left/x")},
        {stickY_, Path(instance, "/user/gamepad/input/thumbstick_left/y")},
    };
    XrInteractionProfileSuggestedBinding gamepadInfo {XR_TYPE_INTERACTION_PROFILE_SUGGESTED_BINDING};
    gamepadInfo.interactionProfile = Path(instance, "/interaction_profiles/microsoft/xbox_controller");
    gamepadInfo.countSuggestedBindings = static_cast<uint32_t>(std::size(gamepad));
    gamepadInfo.suggestedBindings = gamepad;
    Check(xrSuggestInteractionProfileBindings(instance, &gamepadInfo), "xrSuggestInteractionProfileBindings gamepad");

    XrSessionActionSetsAttachInfo attach {XR_TYPE_SESSION_ACTION_SETS_ATTACH_INFO};
    attach.countActionSets = 1;
    attach.actionSets = &set_;
    Check(xrAttachSessionActionSets(session, &attach), "xrAttachSessionActionSets");
}

void DemoInput::Read(XrSession session) {
    const XrActiveActionSet active {set_, XR_NULL_PATH};
    XrActionsSyncInfo sync {XR_TYPE_ACTIONS_SYNC_INFO};
    sync.countActiveActionSets = 1;
    sync.activeActionSets = &active;
    Check(xrSyncActions(session, &sync), "xrSyncActions");

    XrActionStateGetInfo get {XR_TYPE_ACTION_STATE_GET_INFO};
    get.action = select_;
    XrActionStateBoolean select {XR_TYPE_ACTION_STATE_BOOLEAN};
    Check(xrGetActionStateBoolean(session, &get, &select), "xrGetActionStateBoolean");
    selectActive_ = selectActive_ || select.isActive;
    if (select.currentState && select.changedSinceLastSync) ++presses_;

    XrActionStateFloat axis {XR_TYPE_ACTION_STATE_FLOAT};
    get.action = stickX_;
    Check(xrGetActionStateFloat(session, &get, &axis), "xrGetActionStateFloat stick_x");
    stickActive_ = stickActive_ || axis.isActive;
    lastStick_.x = axis.currentState;
    get.action = stickY_;
    Check(xrGetActionStateFloat(session, &get, &axis), "xrGetActionStateFloat stick_y");
    stickActive_ = stickActive_ || axis.isActive;
    lastStick_.y = axis.currentState;
    largestStick_ = std::max(largestStick_, std::hypot(lastStick_.x, lastStick_.y));
}

std::string DemoInput::Summary() const {
    char text[192];
    std::snprintf(text, sizeof text, "select %s, pressed %u times; stick %s, last (%.2f, %.2f), largest %.2f",
                  selectActive_ ? "bound" : "unbound", presses_, stickActive_ ? "bound" : "unbound", lastStick_.x,
                  lastStick_.y, largestStick_);
    return text;
}

void DemoInput::Destroy() {
    if (set_ != XR_NULL_HANDLE) xrDestroyActionSet(set_);
    set_ = XR_NULL_HANDLE;
    select_ = stickX_ = stickY_ = XR_NULL_HANDLE;
}

}  // namespace xr_demo
