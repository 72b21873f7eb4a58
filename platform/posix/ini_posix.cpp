// INI files through inih.
#include "platform/ini.h"

#include <ini.h>

#include <optional>

namespace qor::platform {

namespace {

bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

struct Lookup {
    std::string_view section;
    std::string_view key;
    std::optional<std::string> found;
};

int OnEntry(void* user, const char* section, const char* name, const char* value) {
    auto* lookup = static_cast<Lookup*>(user);
    if (!lookup->found && SameIgnoringAsciiCase(section, lookup->section) && SameIgnoringAsciiCase(name, lookup->key)) {
        lookup->found = value;
    }
    return 1;  // lines inih cannot parse are skipped, not fatal, as GetPrivateProfileString does
}

}  // namespace

std::string ReadIniString(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view fallback) {
    Lookup lookup {section, key, std::nullopt};
    if (ini_parse(path.c_str(), OnEntry, &lookup) < 0) return std::string(fallback);  // not opened
    if (!lookup.found || lookup.found->empty()) return std::string(fallback);
    return *lookup.found;
}

}  // namespace qor::platform
