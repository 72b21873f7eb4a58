// The basic driver's per-user settings file, "driver_settings.json" under local application data.
#pragma once

#include <cstdint>
#include <string>

namespace qor::basic {

struct BasicDriverSettings {
    uint32_t windowWidth = 1280;
    uint32_t windowHeight = 720;
    uint32_t displayMode = 0;  // 1: only the left half of the frame
    bool fullscreen = false;
    bool showFps = false;
};

// "<local application data>\Norvik\OpenXR\config\devices\basic_driver\driver_settings.json".
std::string BasicDriverSettingsPath();

// Reads the file at `path`. A file that cannot be opened is written with the defaults (its
// folder created first) and the defaults are used. In a file that opens, a missing object
// leaves its fields 0/false and a missing or mistyped member takes its default. Never throws.
BasicDriverSettings LoadBasicDriverSettings(const std::string& path);

}  // namespace qor::basic
