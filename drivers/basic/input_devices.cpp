#include "drivers/basic/input_devices.h"

namespace qor {

namespace {

using basic::ComponentBinding;
using basic::kHintClick;
using basic::kHintHaptic;
using basic::kHintPose;
using basic::kHintValue;

// Binds in order and stops at the first refusal, whose result is returned.
template <size_t N>
DriverResult BindAll(basic::HostInterfaces& host, uint32_t deviceIndex, const std::array<ComponentBinding, N>& bindings,
                     std::array<uint64_t, N>& handles) {
    IQorInputDevice* input = host.Input();
    if (input == nullptr) return kDriverUnknownInterface;
    DriverResult result = kDriverOk;
    for (size_t i = 0; i < N; ++i) {
        result = input->BindComponent(deviceIndex, bindings[i].path, &handles[i], bindings[i].kindHint);
        if (result != kDriverOk) return result;
    }
    return result;
}

}  // namespace

const std::array<ComponentBinding, CSampleControllerDriver::kComponentCount> CSampleControllerDriver::kBindings = {{
    {"/user/hand/left/input/select/click", kHintClick},
    {"/user/hand/left/input/menu/click", kHintClick},
    {"/user/hand/left/input/grip/pose", kHintPose},
    {"/user/hand/left/input/aim/pose", kHintPose},
    {"/user/hand/left/output/haptic", kHintHaptic},
    {"/user/hand/right/input/select/click", kHintClick},
    {"/user/hand/right/input/menu/click", kHintClick},
    {"/user/hand/right/input/grip/pose", kHintPose},
    {"/user/hand/right/input/aim/pose", kHintPose},
    {"/user/hand/right/output/haptic", kHintHaptic},
}};

DriverResult CSampleControllerDriver::Activate(uint32_t deviceIndex, uint32_t) {
    deviceIndex_ = deviceIndex;
    return BindAll(host_, deviceIndex, kBindings, handles_);
}

void CSampleControllerDriver::ReportInputs() {
    IQorInputDevice* input = host_.Input();
    if (input == nullptr) return;
    // Refusals (unknown handle, other kind) change nothing and are not acted on.
    // Identity rather than all-zero bytes: a zero quaternion is no rotation at all and turns
    // an application's pose maths into NaN.
    XrPosef identity {};
    identity.orientation.w = 1.0f;
    input->UpdateBooleanComponent(handles_[kLeftSelect], XR_FALSE);
    input->UpdateBooleanComponent(handles_[kLeftMenu], XR_FALSE);
    input->UpdatePoseComponent(handles_[kLeftGrip], &identity);
    input->UpdatePoseComponent(handles_[kLeftAim], &identity);
}

const std::array<ComponentBinding, CSampleGamePadDriver::kComponentCount> CSampleGamePadDriver::kBindings = {{
    {"/user/gamepad/input/menu/click", kHintClick},
    {"/user/gamepad/input/view/click", kHintClick},
    {"/user/gamepad/input/a/click", kHintClick},
    {"/user/gamepad/input/b/click", kHintClick},
    {"/user/gamepad/input/x/click", kHintClick},
    {"/user/gamepad/input/y/click", kHintClick},
    {"/user/gamepad/input/dpad_down/click", kHintClick},
    {"/user/gamepad/input/dpad_right/click", kHintClick},
    {"/user/gamepad/input/dpad_up/click", kHintClick},
    {"/user/gamepad/input/dpad_left/click", kHintClick},
    {"/user/gamepad/input/shoulder_left/click", kHintClick},
    {"/user/gamepad/input/shoulder_right/click", kHintClick},
    {"/user/gamepad/input/thumbstick_left/click", kHintClick},
    {"/user/gamepad/input/thumbstick_right/click", kHintClick},
    {"/user/gamepad/input/trigger_left/value", kHintValue},
    {"/user/gamepad/input/trigger_right/value", kHintValue},
    {"/user/gamepad/input/thumbstick_left/x", kHintValue},
    {"/user/gamepad/input/thumbstick_left/y", kHintValue},
    {"/user/gamepad/input/thumbstick_right/x", kHintValue},
    {"/user/gamepad/input/thumbstick_right/y", kHintValue},
    {"/user/gamepad/output/haptic_left", kHintHaptic},
    {"/user/gamepad/output/haptic_right", kHintHaptic},
    {"/user/gamepad/output/haptic_left_trigger", kHintHaptic},
    {"/user/gamepad/output/haptic_right_trigger", kHintHaptic},
}};

DriverResult CSampleGamePadDriver::Activate(uint32_t deviceIndex, uint32_t) {
    deviceIndex_ = deviceIndex;
    return BindAll(host_, deviceIndex, kBindings, handles_);
}

void CSampleGamePadDriver::PollXInput() {}

}  // namespace qor
