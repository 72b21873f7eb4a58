// The weaving window program: start-up (display choice, the window over the panel, settings,
// the output manager, the stage buffer from the command line) and the main loop, which sends
// the eye positions to the window service, lets the output manager show one frame, and takes
// at most one message per pass.
#pragma once

#include "display/winpipe/display_log_writer.h"
#include "weaver/output_manager.h"

#include <memory>
#include <string_view>

namespace qor::plexa {

// Virtual keys of the exit combination: Left Alt, M and B.
inline constexpr uint16_t kVkLeftAlt = 0xA4;
inline constexpr uint16_t kVkM = 'M';
inline constexpr uint16_t kVkB = 'B';
// The window service's "clear the occlusion flag" message.
inline constexpr uint32_t kWmUser = 0x0400;

// Runs the program with this command line; returns its exit code once the loop has ended.
int RunPlexa(std::string_view commandLine);

// The eye positions of one pass as command 4 sends them: the listener's latest while weaving,
// zeros otherwise. False when the window service's pipe did not take them.
bool SendEyePositions(const OutputManager& output);

}  // namespace qor::plexa
