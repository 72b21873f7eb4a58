// xr_demo's input: one action set with a select click (either hand's simple controller, or
// the gamepad's A button) and the gamepad's left stick, read every frame. The stick is read as
// its x and y values: the xbox profile's stick path itself names no input of this runtime.
#pragma once

#include <openxr/openxr.h>

#include <string>

namespace xr_demo {

class DemoInput {
public:
    // Creates the actions, suggests their bindings and attaches them to the session.
    void Create(XrInstance instance, XrSession session);
    // Syncs the actions and reads them; outside the focused session they read inactive.
    void Read(XrSession session);
    // What the actions read: presses counted, the stick's last and largest deflection.
    std::string Summary() const;
    // Destroys the action set (its actions go with it).
    void Destroy();

private:
    XrPath Path(XrInstance instance, const char* text) const;

    XrActionSet set_ = XR_NULL_HANDLE;
    XrAction select_ = XR_NULL_HANDLE;
    XrAction stickX_ = XR_NULL_HANDLE;
    XrAction stickY_ = XR_NULL_HANDLE;
    unsigned presses_ = 0;
    bool selectActive_ = false;
    bool stickActive_ = false;
    XrVector2f lastStick_ {};
    float largestStick_ = 0;
};

}  // namespace xr_demo
