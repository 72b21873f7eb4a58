#include "platform/library.h"

#include "platform/system.h"

#include <windows.h>

namespace qor::platform {

LibraryHandle LoadSharedLibrary(const std::string& path) {
    const std::u16string wide = Utf8ToUtf16(path);
    return ::LoadLibraryW(reinterpret_cast<LPCWSTR>(wide.c_str()));
}

void* FindLibraryExport(LibraryHandle library, const char* name) {
    if (library == nullptr || name == nullptr) return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

std::string LibraryPathOf(const void* address) {
    HMODULE module = nullptr;
    // UNCHANGED_REFCOUNT: asking must not keep the module loaded longer.
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCWSTR>(address), &module)) {
        return {};
    }
    std::u16string path(MAX_PATH, u'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(module, reinterpret_cast<LPWSTR>(path.data()), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return Utf16ToUtf8(path);
        }
        path.resize(path.size() * 2);  // cut off: try a larger buffer
    }
}

}  // namespace qor::platform
