// Path values and the per-instance path table of xrStringToPath / xrPathToString. A path
// value is the FNV-1a hash of its string (PathHash), so values match the component tables.
#pragma once

#include "service/driverhost/input_device.h"

#include <openxr/openxr.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

namespace qor::input {

// An application may create many paths, but not without limit: the table lives as long as
// its instance and every entry costs service memory.
constexpr size_t kMaxPathsPerInstance = 4096;

// XR_SUCCESS, or XR_ERROR_PATH_FORMAT_INVALID for an empty or over-long string, one with a
// character other than lower-case letters, digits, '-', '.', '/' and '_', or one that is not
// "/" followed by non-empty segments (no trailing "/", no segment of dots only).
XrResult CheckPathString(std::string_view text);

// The characters allowed in path strings and in action and action set names.
bool IsPathCharacter(char c);

class PathTable {
public:
    // The path's value, entered when new (the first string of a value is kept on a hash
    // collision). XR_ERROR_PATH_COUNT_EXCEEDED when the table is full.
    XrResult Intern(std::string_view text, uint64_t* value);
    // Null when this table never produced `value`.
    const std::string* Find(uint64_t value) const;
    bool Holds(uint64_t value) const { return Find(value) != nullptr; }
    size_t Size() const { return entries_.size(); }

private:
    std::unordered_map<uint64_t, std::string> entries_;
};

}  // namespace qor::input
