#include "platform/library.h"

#include <dlfcn.h>

namespace qor::platform {

LibraryHandle LoadSharedLibrary(const std::string& path) {
    // RTLD_LOCAL: two drivers may export the same names without seeing each other's.
    return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* FindLibraryExport(LibraryHandle library, const char* name) {
    if (library == nullptr || name == nullptr) return nullptr;
    return ::dlsym(library, name);
}

std::string LibraryPathOf(const void* address) {
    Dl_info info {};
    if (::dladdr(address, &info) == 0 || info.dli_fname == nullptr) return {};
    return info.dli_fname;
}

}  // namespace qor::platform
