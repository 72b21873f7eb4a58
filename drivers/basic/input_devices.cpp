#include "drivers/basic/input_devices.h"

#include "platform/system.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

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

namespace {

using PadComponent = CSampleGamePadDriver::Component;

struct ButtonRow {
    uint16_t bit;
    PadComponent component;
};

// Buttons in the order they are reported.
constexpr ButtonRow kButtonRows[] = {
    {basic::kPadStart, CSampleGamePadDriver::kMenu},
    {basic::kPadBack, CSampleGamePadDriver::kView},
    {basic::kPadA, CSampleGamePadDriver::kA},
    {basic::kPadB, CSampleGamePadDriver::kB},
    {basic::kPadX, CSampleGamePadDriver::kX},
    {basic::kPadY, CSampleGamePadDriver::kY},
    {basic::kPadDpadUp, CSampleGamePadDriver::kDpadUp},
    {basic::kPadDpadDown, CSampleGamePadDriver::kDpadDown},
    {basic::kPadDpadLeft, CSampleGamePadDriver::kDpadLeft},
    {basic::kPadDpadRight, CSampleGamePadDriver::kDpadRight},
    {basic::kPadLeftShoulder, CSampleGamePadDriver::kShoulderLeft},
    {basic::kPadRightShoulder, CSampleGamePadDriver::kShoulderRight},
    {basic::kPadLeftThumb, CSampleGamePadDriver::kThumbstickLeftClick},
    {basic::kPadRightThumb, CSampleGamePadDriver::kThumbstickRightClick},
};

// Scalar inputs after the buttons, in the order they are reported.
constexpr PadComponent kScalarRows[] = {
    CSampleGamePadDriver::kTriggerLeft,      CSampleGamePadDriver::kTriggerRight,
    CSampleGamePadDriver::kThumbstickLeftX,  CSampleGamePadDriver::kThumbstickLeftY,
    CSampleGamePadDriver::kThumbstickRightX, CSampleGamePadDriver::kThumbstickRightY,
};

float TriggerValue(uint8_t raw) {
    const int32_t t = raw;
    if (t <= CSampleGamePadDriver::kTriggerThreshold) return 0.0f;
    return static_cast<float>(t - CSampleGamePadDriver::kTriggerThreshold) /
           static_cast<float>(255 - CSampleGamePadDriver::kTriggerThreshold);
}

float StickValue(int16_t raw, int32_t deadZone) {
    const int32_t magnitude = std::abs(static_cast<int32_t>(raw));
    if (magnitude <= deadZone) return 0.0f;
    // -32768 reaches one step beyond full scale; an axis never reads past -1.
    const float scaled =
        std::min(1.0f, static_cast<float>(magnitude - deadZone) / static_cast<float>(32767 - deadZone));
    return raw < 0 ? -scaled : scaled;
}

std::string ValueText(const char* label, float value) { return std::string(label) + std::to_string(value) + "\n"; }

}  // namespace

std::array<float, CSampleGamePadDriver::kInputCount> CSampleGamePadDriver::InputValues(
    const basic::GamepadState& state) {
    std::array<float, kInputCount> values {};
    for (const ButtonRow& row : kButtonRows) values[row.component] = (state.buttons & row.bit) != 0 ? 1.0f : 0.0f;
    values[kTriggerLeft] = TriggerValue(state.leftTrigger);
    values[kTriggerRight] = TriggerValue(state.rightTrigger);
    values[kThumbstickLeftX] = StickValue(state.leftStickX, kLeftStickDeadZone);
    values[kThumbstickLeftY] = StickValue(state.leftStickY, kLeftStickDeadZone);
    values[kThumbstickRightX] = StickValue(state.rightStickX, kRightStickDeadZone);
    values[kThumbstickRightY] = StickValue(state.rightStickY, kRightStickDeadZone);
    return values;
}

void CSampleGamePadDriver::Poll() {
    if (pad_ == nullptr) return;
    std::lock_guard lock(pollMutex_);
    // One read serves every row, so the report is one consistent snapshot of the pad.
    const std::optional<basic::GamepadState> state = pad_->Read();
    if (!state) {
        // Unplugged: release what was held, so nothing stays pressed while the pad is away.
        Report({});
        leftMotor_ = 0;
        return;
    }
    const std::array<float, kInputCount> values = InputValues(*state);
    Report(values);
    Vibrate(values[kTriggerLeft]);
    const float leftX = values[kThumbstickLeftX];
    const float leftY = values[kThumbstickLeftY];
    if (leftX != 0.0f) platform::DebugOutput(ValueText("thumbstick_left_x : ", leftX));
    if (leftY != 0.0f) platform::DebugOutput(ValueText("thumbstick_left_y : ", leftY));
    IQorInputDevice* input = host_.Input();
    if (input == nullptr) return;
    for (size_t haptic = kHapticLeft; haptic < kComponentCount; ++haptic) input->Reserved5(handles_[haptic]);
}

void CSampleGamePadDriver::Report(const std::array<float, kInputCount>& values) {
    IQorInputDevice* input = host_.Input();
    if (input == nullptr) return;
    // Only changes are sent, so each component's change time is when its input changed.
    // Refused updates change nothing in the service and are not retried.
    for (const ButtonRow& row : kButtonRows) {
        if (values[row.component] == reported_[row.component]) continue;
        input->UpdateBooleanComponent(handles_[row.component], values[row.component] != 0.0f ? XR_TRUE : XR_FALSE);
        reported_[row.component] = values[row.component];
    }
    for (PadComponent component : kScalarRows) {
        if (values[component] == reported_[component]) continue;
        input->UpdateScalarComponent(handles_[component], values[component]);
        reported_[component] = values[component];
    }
}

void CSampleGamePadDriver::Vibrate(float leftTrigger) {
    // The left motor follows the left trigger; it is set on every poll while the trigger is
    // held (a backend may let a rumble run out) and switched off once on release.
    const auto speed = static_cast<uint16_t>(std::lround(std::clamp(leftTrigger, 0.0f, 1.0f) * 65535.0f));
    if (speed == 0 && leftMotor_ == 0) return;
    pad_->SetVibration(speed, 0);
    leftMotor_ = speed;
    if (speed != 0) platform::DebugOutput(ValueText("Left Trigger : ", leftTrigger));
}

}  // namespace qor
