#include "platform/api_layers.h"

#include "platform/registry.h"

namespace qor::platform {

std::vector<std::string> ImplicitApiLayerManifests() {
    std::vector<std::string> paths;
    for (const auto& value : RegistryEnumerateValues(RegistryRoot::LocalMachine, "SOFTWARE\\Khronos\\OpenXR\\1\\ApiLayers\\Implicit")) {
        paths.push_back(value.name);
    }
    return paths;
}

}  // namespace qor::platform
