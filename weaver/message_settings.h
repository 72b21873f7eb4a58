// What the on-screen messages read at start-up: the exit hint's registry values and the
// warning and exit-hint options of "feature.ini" beside the program.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qor::winpipe {
class DisplayLogWriter;
}

namespace qor::plexa {

inline constexpr std::string_view kMessageRegistryKey = "SOFTWARE\\Norvik\\Tavrix\\TavrixDisplayService\\Plexaview";
inline constexpr std::string_view kDefaultWarningMessage = "For better 3D experience, change resolution to 3840 x 2160";
// "Message_String" is read into a buffer of this many bytes; a longer value reads as empty.
inline constexpr size_t kMessageStringMaxBytes = 2048;

struct MessageSettings {
    // HKEY_LOCAL_MACHINE kMessageRegistryKey
    bool enableShow = false;         // "Enable_Show" is 1
    uint32_t showDurationMs = 3000;  // "Show_Duration"
    std::string messageString;       // "Message_String", UTF-8
    // "feature.ini" [4KWarningMessage]
    std::string warningMessage = std::string(kDefaultWarningMessage);  // "message"
    int64_t warningDurationMs = 10000;                                 // "duration"; negative: never on time alone
    bool warningAlways = true;                                         // "4KAlways"
    // "feature.ini" [AltExitMessage]
    bool altAlways = false;  // "AltAlways"
    int32_t red = 0;         // "Red", "Green", "Blue": the exit-hint box colour
    int32_t green = 40;
    int32_t blue = 60;
};

// "feature.ini" in the running program's folder.
std::string FeatureIniPath();

// The registry values and the file's options over the defaults; what cannot be read keeps its
// default, and unusable values are logged (`log` may be null).
MessageSettings ReadMessageSettings(const std::string& featureIniPath, winpipe::DisplayLogWriter* log);

}  // namespace qor::plexa
