#include "gpu/soft/shm_names.h"

#include "platform/pipe.h"

#include <cstdio>

namespace qor::gpu::soft {

namespace {
// shm_open names are single path components of at most NAME_MAX bytes.
constexpr size_t kMaxObjectName = 250;

uint64_t Fnv1a(std::string_view text) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (const unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    return hash;
}
}  // namespace

std::string ShmPrefix() {
    std::string folder = platform::PipePath("");
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    char text[40];
    std::snprintf(text, sizeof text, "norvik-gpu-%016llx-", static_cast<unsigned long long>(Fnv1a(folder)));
    return text;
}

std::string HandleObjectName(uint32_t handle) {
    char text[16];
    std::snprintf(text, sizeof text, "h%08x", handle);
    return "/" + ShmPrefix() + text;
}

std::optional<std::string> ShareObjectName(std::u16string_view name) {
    if (name.empty()) return std::nullopt;
    std::string object = "/" + ShmPrefix() + "n";
    for (const char16_t unit : name) {
        const bool plain = (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z') ||
                           (unit >= u'0' && unit <= u'9') || unit == u'_' || unit == u'-' || unit == u'.';
        if (plain) {
            object += static_cast<char>(unit);
        } else {
            char text[8];
            std::snprintf(text, sizeof text, "~%04x", static_cast<unsigned>(unit));
            object += text;
        }
        if (object.size() > kMaxObjectName) return std::nullopt;
    }
    return object;
}

}  // namespace qor::gpu::soft
