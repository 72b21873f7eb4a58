// The two views of the stereoscopic panel from the tracked eye positions: poses in metres and
// either a fixed symmetric field of view or each eye's frustum towards the panel's edges.
#pragma once

#include "display/winpipe/window_pipe_protocol.h"
#include "drivers/lentic/lentic_settings.h"

#include <openxr/openxr.h>

namespace qor::lentic {

// The panel's half extents in millimetres.
inline constexpr double kPanelHalfWidthMm = 172.675;
inline constexpr double kPanelHalfHeightMm = 97.13;

// hfov/2 wide and 9/16 of that high, in radians.
XrFovf FixedFov(const LenticSettings& settings);
// The off-axis frustum from an eye (millimetres) to the panel's edges. An eye at z = 0 (none
// stored yet) looks out at ±π/2.
XrFovf TrackedFov(const winpipe::EyePosition& eye, const LenticSettings& settings);
// Yaw then pitch towards the eyes' midpoint in the fixed field-of-view mode; identity otherwise.
XrQuaternionf ViewOrientation(const winpipe::EyePair& eyes, const LenticSettings& settings);
// Millimetres to metres, raised by the height offset.
XrVector3f ViewPosition(const winpipe::EyePosition& eye, const LenticSettings& settings);

// Writes pose and fov of views[0] (left) and views[1] (right); type and next stay the caller's.
void FillViews(const winpipe::EyePair& eyes, const LenticSettings& settings, XrView* views);

}  // namespace qor::lentic
