// The service's settings file "qor_settings.json" under local application data: the render
// buffer size the display side uses when a driver reports none.
#pragma once

#include <cstdint>
#include <string>

namespace qor {

struct ServiceSettings {
    uint32_t renderBufferWidth = 1920;
    uint32_t renderBufferHeight = 1080;
};

// Reads `path`; a missing file is written with the defaults (its folder made first), an
// unreadable or malformed one, or one whose "qor" is missing or null, leaves the defaults.
ServiceSettings LoadSettings(const std::string& path);
// local application data + "\Norvik\OpenXR\config\qor_settings.json"
std::string SettingsFilePath();

}  // namespace qor
