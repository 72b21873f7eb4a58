// What the layer takes from the lenticular driver's settings file.
#pragma once

#include <string>

namespace qor::apilayer {

struct LayerSettings {
    bool fixFovMode = false;   // rewrite the views' fields of view (the driver's fixed-fov mode)
    float heightOffset = 0.0f;  // metres the driver added to the eyes' height
};

// LocalAppData + "\Norvik\OpenXR\config\devices\lentic_driver\driver_settings.json"; empty
// when the known folder is unknown.
std::string LayerSettingsPath();

// The settings after reading `path`: a file that cannot be opened gives the driver's defaults
// (fixed-fov mode on, no offset); a file that does not parse, or has no "lentic_driver"
// member, leaves `previous` as it was. Never throws.
LayerSettings ReadLayerSettings(const std::string& path, const LayerSettings& previous);

}  // namespace qor::apilayer
