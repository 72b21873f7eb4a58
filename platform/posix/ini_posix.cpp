#include "platform/ini.h"

#include <ini.h>

namespace qor::platform {

namespace {

struct Lookup {
    std::string_view section;
    std::string_view key;
    std::string value;
    bool found = false;
};

int OnEntry(void* user, const char* section, const char* name, const char* value) {
    auto* lookup = static_cast<Lookup*>(user);
    if (!lookup->found && lookup->section == section && lookup->key == name) {
        lookup->value = value;
        lookup->found = true;
    }
    return 1;
}

}  // namespace

std::string ReadIniString(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view fallback) {
    Lookup lookup {section, key, {}, false};
    if (ini_parse(path.c_str(), OnEntry, &lookup) < 0 || !lookup.found || lookup.value.empty()) {
        return std::string(fallback);
    }
    return lookup.value;
}

}  // namespace qor::platform
