// The lenticular driver's per-user settings file, "driver_settings.json" under local
// application data. The weaving window reads the same file.
#pragma once

#include <string>

namespace qor::lentic {

struct LenticSettings {
    bool fixFovMode = true;
    bool enablePitch = true;
    bool enableYaw = true;
    float fovScale = 1.0f;
    float hfov = 60.0f;         // degrees
    float heightOffset = 0.0f;  // metres
};

// "<local application data>\Norvik\OpenXR\config\devices\lentic_driver\driver_settings.json".
std::string LenticSettingsPath();

// Reads the "lentic_driver" object of the file at `path`. A file that does not exist is
// written with the defaults (all eight keys, its folder made first); a file that does not
// parse is left as it is. Either way the defaults are used. A key of the wrong JSON type, or
// a number a float cannot hold, keeps that key's default. Never throws.
LenticSettings LoadLenticSettings(const std::string& path);

}  // namespace qor::lentic
