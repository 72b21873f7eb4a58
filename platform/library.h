// Shared libraries loaded at run time (the device drivers): load by path, look up an export
// by name. Libraries stay loaded until the process ends; nothing here unloads them.
#pragma once

#include <string>
#include <string_view>

namespace qor::platform {

// Where a driver keeps its 64-bit binaries and how a library file ends on this platform:
// "bin\win64\<name>Driver.dll" on Windows, "bin/linux64/<name>Driver.so" on POSIX.
#if defined(_WIN32)
inline constexpr std::string_view kBinaryFolderName = "win64";
inline constexpr std::string_view kLibraryPrefix = "";
inline constexpr std::string_view kLibrarySuffix = ".dll";
#else
inline constexpr std::string_view kBinaryFolderName = "linux64";
inline constexpr std::string_view kLibraryPrefix = "lib";
inline constexpr std::string_view kLibrarySuffix = ".so";
#endif

// The file of a library the system loads by name: "Name.dll" on Windows, "libName.so" on POSIX.
inline std::string LibraryFileName(std::string_view name) {
    return std::string(kLibraryPrefix) + std::string(name) + std::string(kLibrarySuffix);
}

// Opaque handle of a loaded library; null means "not loaded".
using LibraryHandle = void*;

// LoadLibraryW on Windows, dlopen (RTLD_NOW | RTLD_LOCAL) on POSIX. Loading a library that is
// already loaded returns the same library. A bare file name is looked for on the system's
// library search path. Null on failure.
LibraryHandle LoadSharedLibrary(const std::string& path);
// GetProcAddress / dlsym; null when the library has no such export.
void* FindLibraryExport(LibraryHandle library, const char* name);
// The file of the loaded library (or program) that contains `address`; empty when unknown.
std::string LibraryPathOf(const void* address);

}  // namespace qor::platform
