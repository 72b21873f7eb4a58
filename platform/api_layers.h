// The implicit OpenXR API layers installed on the machine, as the Khronos loader finds them.
#pragma once

#include <string>
#include <vector>

namespace qor::platform {

// Manifest paths in the loader's order: on Windows the value names of HKEY_LOCAL_MACHINE
// "SOFTWARE\Khronos\OpenXR\1\ApiLayers\Implicit"; on POSIX the *.json files of the
// "openxr/1/api_layers/implicit.d" folders under $XDG_CONFIG_HOME, $XDG_CONFIG_DIRS, /etc,
// $XDG_DATA_HOME and $XDG_DATA_DIRS.
std::vector<std::string> ImplicitApiLayerManifests();

}  // namespace qor::platform
