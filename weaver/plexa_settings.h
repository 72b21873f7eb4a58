// What the weaving window reads at start-up besides its display choice: the lenticular
// driver's settings file, its command line, and the weaving switches in the registry.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qor::plexa {

struct PlexaSettings {
    bool showFps = false;  // "lentic_driver_debug"."show_fps"
    int weaverWidth = 0;   // "lentic_driver"."weaver_width": one view's width
    int weaverHeight = 0;  // "lentic_driver"."weaver_height"
};

// "<local application data>\Norvik\OpenXR\config\devices\lentic_driver\driver_settings.json".
std::string DriverSettingsPath();
// A missing file, or one that does not parse, keeps the defaults; so does each member of the
// wrong type.
PlexaSettings LoadPlexaSettings(const std::string& path);

struct Size {
    uint32_t width = 0;
    uint32_t height = 0;
};

// The view size when either setting is 0 (or not positive).
constexpr Size kDefaultWeaverView {1920, 1080};
// The weaver's side-by-side input: two views of weaver_width × weaver_height side by side.
Size WeaverInputSize(const PlexaSettings& settings);

// The command line as a decimal number, its low 32 bits kept; 0 (no handle) for an empty or
// non-numeric one. Leading blanks are skipped; digits stop at the first other character.
uint32_t SharedHandleFromCommandLine(std::string_view commandLine);

struct WeavingSwitches {
    bool weaving = true;   // draw through the weaver, or the stage stretched straight to the window
    bool lensHint = true;  // switch the lens layer through the SDK's lens hint
};

// HKLM "SOFTWARE\Norvik\Tavrix\TavrixDisplayService": "DeveloperMode" 1 lets "WeavingStatus"
// decide weaving; "LensHintStatus" 0 turns the lens hint off. Unreadable values count as -1.
WeavingSwitches ReadWeavingSwitches();

}  // namespace qor::plexa
