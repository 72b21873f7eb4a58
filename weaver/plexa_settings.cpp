#include "weaver/plexa_settings.h"

#include "platform/registry.h"
#include "platform/system.h"

#include <json/json.h>

#include <cctype>
#include <fstream>
#include <limits>

namespace qor::plexa {

namespace {

constexpr const char* kSettingsFile = "\\Norvik\\OpenXR\\config\\devices\\lentic_driver\\driver_settings.json";
constexpr const char* kDisplayServiceKey = "SOFTWARE\\Norvik\\Tavrix\\TavrixDisplayService";
constexpr const char* kWeavingWindowKey = "SOFTWARE\\Norvik\\Tavrix\\TavrixDisplayService\\Plexaview";
// What a value that cannot be read counts as.
constexpr int64_t kUnreadable = -1;

int64_t ReadSwitch(const char* key, const char* value) {
    const std::optional<uint32_t> data = platform::RegistryReadDword(platform::RegistryRoot::LocalMachine, key, value);
    return data ? int64_t(*data) : kUnreadable;
}

int IntMember(const Json::Value& object, const char* name, int fallback) {
    const Json::Value& value = object[name];
    return value.isInt() ? value.asInt() : fallback;
}

}  // namespace

std::string DriverSettingsPath() { return platform::JoinPath(platform::LocalAppDataFolder(), kSettingsFile); }

PlexaSettings LoadPlexaSettings(const std::string& path) {
    PlexaSettings settings;
    try {
        std::ifstream file(platform::PathFromUtf8(path), std::ios::binary);
        if (!file) return settings;
        Json::CharReaderBuilder builder;
        builder["collectComments"] = false;
        Json::Value root;
        std::string errors;
        if (!Json::parseFromStream(builder, file, &root, &errors) || !root.isObject()) return settings;
        const Json::Value& debug = root["lentic_driver_debug"];
        if (debug.isObject() && debug["show_fps"].isBool()) settings.showFps = debug["show_fps"].asBool();
        const Json::Value& driver = root["lentic_driver"];
        if (driver.isObject()) {
            settings.weaverWidth = IntMember(driver, "weaver_width", settings.weaverWidth);
            settings.weaverHeight = IntMember(driver, "weaver_height", settings.weaverHeight);
        }
    } catch (...) {
        // A file that cannot be read whole keeps the defaults, as a missing one does.
        return PlexaSettings {};
    }
    return settings;
}

Size WeaverInputSize(const PlexaSettings& settings) {
    // Negative sizes are as unusable as 0; larger than a texture may be are refused the same way.
    constexpr int kLargestView = 8192;
    if (settings.weaverWidth <= 0 || settings.weaverHeight <= 0 || settings.weaverWidth > kLargestView ||
        settings.weaverHeight > kLargestView) {
        return {2 * kDefaultWeaverView.width, kDefaultWeaverView.height};
    }
    return {2 * uint32_t(settings.weaverWidth), uint32_t(settings.weaverHeight)};
}

uint32_t SharedHandleFromCommandLine(std::string_view commandLine) {
    size_t at = 0;
    while (at < commandLine.size() && (commandLine[at] == ' ' || commandLine[at] == '\t')) ++at;
    uint64_t value = 0;
    for (; at < commandLine.size() && std::isdigit(static_cast<unsigned char>(commandLine[at])); ++at) {
        // Only the low 32 bits are kept, so wrapping the high ones away is harmless.
        value = value * 10 + uint64_t(commandLine[at] - '0');
    }
    return static_cast<uint32_t>(value);
}

WeavingSwitches ReadWeavingSwitches() {
    WeavingSwitches switches;
    if (ReadSwitch(kDisplayServiceKey, "DeveloperMode") == 1) {
        switches.weaving = ReadSwitch(kWeavingWindowKey, "WeavingStatus") != 0;
    }
    switches.lensHint = ReadSwitch(kWeavingWindowKey, "LensHintStatus") != 0;
    return switches;
}

}  // namespace qor::plexa
