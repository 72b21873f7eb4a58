// INI files: GetPrivateProfileStringW on Windows, inih on POSIX. Text is UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace qor::platform {

// The text of `key` in `section` of the INI file at `path`; `fallback` when the file, the
// section or the key is missing, or the value is empty. Section and key names compare without
// regard to ASCII case; the first occurrence of a key counts.
std::string ReadIniString(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view fallback);

}  // namespace qor::platform
