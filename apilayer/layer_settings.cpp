#include "apilayer/layer_settings.h"

#include "platform/system.h"

#include <json/json.h>

#include <cmath>
#include <fstream>

namespace qor::apilayer {

namespace {

constexpr const char* kSettingsFile = "\\Norvik\\OpenXR\\config\\devices\\lentic_driver\\driver_settings.json";

// What the driver itself assumes when it finds no settings.
constexpr LayerSettings kDriverDefaults {true, 0.0f};

// A value of the wrong JSON type (or an offset that is not a finite float) counts as absent:
// the reader's own conversions would throw inside the application's process.
LayerSettings FromDriverMember(const Json::Value& driver) {
    LayerSettings settings = kDriverDefaults;
    if (!driver.isObject()) return settings;
    const Json::Value& fix = driver["fix_fov_mode"];
    if (fix.isBool()) settings.fixFovMode = fix.asBool();
    const Json::Value& offset = driver["height_offset"];
    if (offset.isNumeric() && std::isfinite(static_cast<float>(offset.asDouble()))) {
        settings.heightOffset = static_cast<float>(offset.asDouble());
    }
    return settings;
}

}  // namespace

std::string LayerSettingsPath() {
    const std::string folder = platform::LocalAppDataFolder();
    // Without the known folder the relative path would name a file somewhere else entirely.
    if (folder.empty()) return {};
    return platform::JoinPath(folder, kSettingsFile);
}

LayerSettings ReadLayerSettings(const std::string& path, const LayerSettings& previous) {
    try {
        if (path.empty()) return kDriverDefaults;
        std::ifstream file(platform::PathFromUtf8(path), std::ios::binary);
        if (!file) return kDriverDefaults;
        Json::CharReaderBuilder builder;
        builder["collectComments"] = false;
        Json::Value root;
        std::string errors;
        if (!Json::parseFromStream(builder, file, &root, &errors)) return previous;
        if (!root.isObject() || !root.isMember("lentic_driver") || root["lentic_driver"].isNull()) return previous;
        return FromDriverMember(root["lentic_driver"]);
    } catch (...) {
        // Reading happens inside the loader's negotiation; nothing may escape into the application.
        return previous;
    }
}

}  // namespace qor::apilayer
