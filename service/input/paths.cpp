#include "service/input/paths.h"

namespace qor::input {

bool IsPathCharacter(char c) {
    return (c >= '-' && c <= '9') || c == '_' || (c >= 'a' && c <= 'z');
}

XrResult CheckPathString(std::string_view text) {
    if (text.empty() || text.size() >= XR_MAX_PATH_LENGTH) return XR_ERROR_PATH_FORMAT_INVALID;
    for (const char c : text) {
        if (!IsPathCharacter(c)) return XR_ERROR_PATH_FORMAT_INVALID;
    }
    // Well-formed as OpenXR defines it: "/" then segments, none empty and none of dots only.
    if (text.front() != '/' || text.back() == '/') return XR_ERROR_PATH_FORMAT_INVALID;
    size_t start = 1;
    while (start <= text.size()) {
        size_t end = text.find('/', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view segment = text.substr(start, end - start);
        if (segment.empty() || segment.find_first_not_of('.') == std::string_view::npos) {
            return XR_ERROR_PATH_FORMAT_INVALID;
        }
        start = end + 1;
    }
    return XR_SUCCESS;
}

XrResult PathTable::Intern(std::string_view text, uint64_t* value) {
    const uint64_t hash = PathHash(text);
    if (entries_.find(hash) == entries_.end()) {
        if (entries_.size() >= kMaxPathsPerInstance) return XR_ERROR_PATH_COUNT_EXCEEDED;
        entries_.emplace(hash, std::string(text));
    }
    *value = hash;
    return XR_SUCCESS;
}

const std::string* PathTable::Find(uint64_t value) const {
    const auto found = entries_.find(value);
    return found == entries_.end() ? nullptr : &found->second;
}

}  // namespace qor::input
