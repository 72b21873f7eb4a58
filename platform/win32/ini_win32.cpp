// INI files through GetPrivateProfileStringW.
#include "platform/ini.h"
#include "platform/win32/wide.h"

#include <windows.h>

#include <vector>

namespace qor::platform {

std::string ReadIniString(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view fallback) {
    std::vector<wchar_t> buffer(4096);
    const DWORD length = ::GetPrivateProfileStringW(Wide(section).c_str(), Wide(key).c_str(), L"", buffer.data(),
                                                    static_cast<DWORD>(buffer.size()), Wide(path).c_str());
    if (length == 0) return std::string(fallback);
    return Narrow(std::wstring_view(buffer.data(), length));
}

}  // namespace qor::platform
