#include "platform/api_layers.h"

#include "platform/posix/private_folder.h"
#include "platform/system.h"

#include <algorithm>
#include <filesystem>
#include <sstream>

namespace qor::platform {

namespace {
std::vector<std::string> SplitFolders(const std::string& list) {
    std::vector<std::string> folders;
    std::stringstream stream(list);
    std::string folder;
    while (std::getline(stream, folder, ':')) {
        if (!folder.empty()) folders.push_back(folder);
    }
    return folders;
}

std::string EnvOr(const char* name, const std::string& fallback) {
    const auto value = GetEnv(name);
    return value && !value->empty() ? *value : fallback;
}
}  // namespace

std::vector<std::string> ImplicitApiLayerManifests() {
    // Without a home the per-user folders are skipped: a shared stand-in such as /tmp could
    // hold another user's manifests.
    const std::string home = HomeFolder().value_or(kUnusableFolder);
    std::vector<std::string> bases;
    bases.push_back(EnvOr("XDG_CONFIG_HOME", home + "/.config"));
    for (const auto& folder : SplitFolders(EnvOr("XDG_CONFIG_DIRS", "/etc/xdg"))) bases.push_back(folder);
    bases.push_back("/etc");
    bases.push_back(EnvOr("XDG_DATA_HOME", home + "/.local/share"));
    for (const auto& folder : SplitFolders(EnvOr("XDG_DATA_DIRS", "/usr/local/share:/usr/share"))) bases.push_back(folder);

    std::vector<std::string> paths;
    for (const auto& base : bases) {
        std::error_code error;
        std::vector<std::string> inFolder;
        for (const auto& entry : std::filesystem::directory_iterator(base + "/openxr/1/api_layers/implicit.d", error)) {
            if (entry.path().extension() == ".json") inFolder.push_back(entry.path().string());
        }
        std::sort(inFolder.begin(), inFolder.end());
        paths.insert(paths.end(), inFolder.begin(), inFolder.end());
    }
    return paths;
}

}  // namespace qor::platform
