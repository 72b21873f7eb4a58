#include "service/core/settings.h"

#include "platform/system.h"

#include <json/json.h>

#include <filesystem>
#include <fstream>

namespace qor {

namespace {
// An unsigned member, or `fallback` when it is missing or not a non-negative integer.
uint32_t UnsignedMember(const Json::Value& object, const char* name, uint32_t fallback) {
    const Json::Value& value = object[name];
    if (value.isNull()) return fallback;
    return value.isUInt() ? value.asUInt() : fallback;
}

void WriteDefaults(const std::string& path, const ServiceSettings& settings) {
    platform::CreateFolders(platform::PathFromUtf8(path).parent_path().string());
    Json::Value root;
    root["qor"]["renderBufferWidth"] = settings.renderBufferWidth;
    root["qor"]["renderBufferHeight"] = settings.renderBufferHeight;
    std::ofstream file(platform::PathFromUtf8(path), std::ios::binary | std::ios::trunc);
    if (!file) return;  // write failures leave only the defaults in memory
    Json::StreamWriterBuilder writer;
    file << Json::writeString(writer, root);
}
}  // namespace

ServiceSettings LoadSettings(const std::string& path) {
    ServiceSettings settings;
    std::ifstream file(platform::PathFromUtf8(path), std::ios::binary);
    if (!file) {
        WriteDefaults(path, settings);
        return settings;
    }
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    Json::Value root;
    std::string errors;
    if (!Json::parseFromStream(builder, file, &root, &errors) || !root.isObject()) return settings;
    const Json::Value& qor = root["qor"];
    if (qor.isNull() || !qor.isObject()) return settings;
    // A member that is missing or unusable keeps its default.
    settings.renderBufferWidth = UnsignedMember(qor, "renderBufferWidth", settings.renderBufferWidth);
    settings.renderBufferHeight = UnsignedMember(qor, "renderBufferHeight", settings.renderBufferHeight);
    return settings;
}

std::string SettingsFilePath() {
    return platform::JoinPath(platform::LocalAppDataFolder(), "\\Norvik\\OpenXR\\config\\qor_settings.json");
}

}  // namespace qor
