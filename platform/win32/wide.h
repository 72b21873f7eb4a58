// UTF-8 text as the wide strings of the Windows API.
#pragma once

#include "platform/system.h"

#include <string>
#include <string_view>

namespace qor::platform {

inline std::wstring Wide(std::string_view text) {
    const std::u16string utf16 = Utf8ToUtf16(text);
    return std::wstring(utf16.begin(), utf16.end());
}

inline std::string Narrow(std::wstring_view text) {
    return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

}  // namespace qor::platform
