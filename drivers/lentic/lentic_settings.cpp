#include "drivers/lentic/lentic_settings.h"

#include "platform/system.h"

#include <json/json.h>

#include <cmath>
#include <fstream>
#include <limits>

namespace qor::lentic {

namespace {

constexpr const char* kSettingsFile = "\\Norvik\\OpenXR\\config\\devices\\lentic_driver\\driver_settings.json";
constexpr const char* kDriverMember = "lentic_driver";
// Read by the weaving window only; written here so that a new file holds every key.
constexpr int kDefaultWeaverWidth = 1920;
constexpr int kDefaultWeaverHeight = 1080;

bool BoolMember(const Json::Value& object, const char* name, bool fallback) {
    const Json::Value& value = object[name];
    return value.isBool() ? value.asBool() : fallback;
}

// Numbers only, and only those a float holds: converting a larger double is undefined.
float FloatMember(const Json::Value& object, const char* name, float fallback) {
    const Json::Value& value = object[name];
    if (!value.isNumeric()) return fallback;
    const double number = value.asDouble();
    if (!std::isfinite(number) || std::fabs(number) > std::numeric_limits<float>::max()) return fallback;
    return static_cast<float>(number);
}

void WriteDefaults(const std::string& path) {
    const LenticSettings defaults;
    // A folder or file that cannot be made leaves only the defaults in memory.
    platform::CreateFolders(platform::PathFromUtf8(path).parent_path().string());
    Json::Value root(Json::objectValue);
    Json::Value& driver = root[kDriverMember];
    driver["fix_fov_mode"] = defaults.fixFovMode;
    driver["enable_pitch"] = defaults.enablePitch;
    driver["enable_yaw"] = defaults.enableYaw;
    driver["fov_scale"] = static_cast<double>(defaults.fovScale);
    driver["hfov"] = static_cast<double>(defaults.hfov);
    driver["height_offset"] = static_cast<double>(defaults.heightOffset);
    driver["weaver_width"] = kDefaultWeaverWidth;
    driver["weaver_height"] = kDefaultWeaverHeight;
    std::ofstream file(platform::PathFromUtf8(path), std::ios::binary | std::ios::trunc);
    if (!file) return;
    const Json::StreamWriterBuilder writer;
    file << Json::writeString(writer, root);
}

LenticSettings ReadSettings(std::ifstream& file) {
    LenticSettings settings;
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    Json::Value root;
    std::string errors;
    if (!Json::parseFromStream(builder, file, &root, &errors)) return settings;
    // Another shape than an object holding an object keeps every default.
    if (!root.isObject()) return settings;
    const Json::Value& driver = root[kDriverMember];
    if (!driver.isObject()) return settings;
    settings.fixFovMode = BoolMember(driver, "fix_fov_mode", settings.fixFovMode);
    settings.enablePitch = BoolMember(driver, "enable_pitch", settings.enablePitch);
    settings.enableYaw = BoolMember(driver, "enable_yaw", settings.enableYaw);
    // The tracked frustum divides by it: only a positive scale is taken.
    const float fovScale = FloatMember(driver, "fov_scale", settings.fovScale);
    if (fovScale > 0.0f) settings.fovScale = fovScale;
    settings.hfov = FloatMember(driver, "hfov", settings.hfov);
    settings.heightOffset = FloatMember(driver, "height_offset", settings.heightOffset);
    return settings;
}

}  // namespace

std::string LenticSettingsPath() { return platform::JoinPath(platform::LocalAppDataFolder(), kSettingsFile); }

LenticSettings LoadLenticSettings(const std::string& path) {
    try {
        std::ifstream file(platform::PathFromUtf8(path), std::ios::binary);
        if (file) return ReadSettings(file);
        // A file that exists but cannot be read is the user's: it is never overwritten.
        if (!platform::FileExists(path)) WriteDefaults(path);
        return LenticSettings {};
    } catch (...) {
        // The settings are read inside Initialize; nothing may reach the host.
        return LenticSettings {};
    }
}

}  // namespace qor::lentic
