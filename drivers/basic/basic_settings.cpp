#include "drivers/basic/basic_settings.h"

#include "platform/system.h"

#include <json/json.h>

#include <fstream>

namespace qor::basic {

namespace {

constexpr const char* kSettingsFolder = "\\Norvik\\OpenXR\\config\\devices\\basic_driver";

uint32_t UnsignedMember(const Json::Value& object, const char* name, uint32_t fallback) {
    const Json::Value& value = object[name];
    return value.isUInt() ? value.asUInt() : fallback;
}

bool BoolMember(const Json::Value& object, const char* name, bool fallback) {
    const Json::Value& value = object[name];
    return value.isBool() ? value.asBool() : fallback;
}

void WriteDefaults(const std::string& path) {
    const BasicDriverSettings defaults;
    platform::CreateFolders(platform::PathFromUtf8(path).parent_path().string());
    Json::Value root(Json::objectValue);
    Json::Value& driver = root["basic_driver"];
    driver["window_width"] = defaults.windowWidth;
    driver["window_height"] = defaults.windowHeight;
    driver["display_mode"] = defaults.displayMode;
    driver["fullscreen"] = defaults.fullscreen;
    std::ofstream file(platform::PathFromUtf8(path), std::ios::binary | std::ios::trunc);
    if (!file) return;  // the defaults still apply in memory
    Json::StreamWriterBuilder writer;
    file << Json::writeString(writer, root);
}

BasicDriverSettings ReadSettings(std::ifstream& file) {
    // Objects absent from an existing file leave their fields zero, unlike a missing file.
    BasicDriverSettings settings {0, 0, 0, false, false};
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    Json::Value root;
    std::string errors;
    if (!Json::parseFromStream(builder, file, &root, &errors) || !root.isObject()) return settings;

    const BasicDriverSettings defaults;
    const Json::Value& driver = root["basic_driver"];
    if (driver.isObject()) {
        settings.windowWidth = UnsignedMember(driver, "window_width", defaults.windowWidth);
        settings.windowHeight = UnsignedMember(driver, "window_height", defaults.windowHeight);
        settings.displayMode = UnsignedMember(driver, "display_mode", defaults.displayMode);
        settings.fullscreen = BoolMember(driver, "fullscreen", defaults.fullscreen);
    }
    const Json::Value& debug = root["basic_driver_debug"];
    if (debug.isObject()) settings.showFps = BoolMember(debug, "show_fps", defaults.showFps);
    return settings;
}

}  // namespace

std::string BasicDriverSettingsPath() {
    return platform::JoinPath(platform::JoinPath(platform::LocalAppDataFolder(), kSettingsFolder),
                              "driver_settings.json");
}

BasicDriverSettings LoadBasicDriverSettings(const std::string& path) {
    try {
        std::ifstream file(platform::PathFromUtf8(path), std::ios::binary);
        if (!file) {
            WriteDefaults(path);
            return BasicDriverSettings {};
        }
        return ReadSettings(file);
    } catch (...) {
        // The settings are read inside Initialize; nothing may leave the driver.
        return BasicDriverSettings {};
    }
}

}  // namespace qor::basic
