#include "service/core/layer_features.h"

#include "platform/api_layers.h"
#include "platform/system.h"

#include <json/json.h>

#include <fstream>
#include <mutex>

namespace qor {

namespace {
std::mutex featuresMutex;
LayerFeatures features;

bool ReadManifest(const std::string& path, Json::Value* root) {
    std::ifstream file(platform::PathFromUtf8(path), std::ios::binary);
    if (!file) return false;
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    std::string errors;
    return Json::parseFromStream(builder, file, root, &errors);
}

// A string member, or empty when it is missing or of another type (never throws).
std::string StringMember(const Json::Value& object, const char* name) {
    const Json::Value& value = object[name];
    return value.isString() ? value.asString() : std::string();
}
}  // namespace

void ScanLayerManifests(const std::vector<std::string>& manifestPaths) {
    for (const auto& path : manifestPaths) {
        Json::Value root;
        if (!ReadManifest(path, &root) || !root.isObject()) continue;
        const Json::Value& layer = root["api_layer"];
        if (!layer.isObject()) continue;
        const std::string disable = StringMember(layer, "disable_environment");
        if (!disable.empty() && platform::GetEnv(disable.c_str())) return;
        const Json::Value& extensions = layer["instance_extensions"];
        if (!extensions.isArray()) continue;
        std::lock_guard lock(featuresMutex);
        for (const auto& extension : extensions) {
            if (!extension.isObject()) continue;
            const std::string name = StringMember(extension, "name");
            if (!features.handTracking && name == "XR_EXT_hand_tracking") features.handTracking = true;
            if (!features.eyeGaze && name == "XR_EXT_eye_gaze_interaction") features.eyeGaze = true;
            if (!features.handTrackingMesh && name == "supportsHandTrackingMesh") features.handTrackingMesh = true;
        }
    }
}

void ScanImplicitLayerManifests() { ScanLayerManifests(platform::ImplicitApiLayerManifests()); }

LayerFeatures CurrentLayerFeatures() {
    std::lock_guard lock(featuresMutex);
    return features;
}

}  // namespace qor
