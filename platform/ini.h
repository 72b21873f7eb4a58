// INI files as GetPrivateProfileStringW reads them: on POSIX through inih.
#pragma once

#include <string>
#include <string_view>

namespace qor::platform {

// The text of `key` in `section` of the file at `path`; `fallback` when the file, section or
// key is missing or the value is empty.
std::string ReadIniString(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view fallback);

}  // namespace qor::platform
