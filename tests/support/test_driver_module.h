// What the test driver modules share: the factory's export and each copy's own name.
#pragma once

#include "platform/export.h"
#include "platform/library.h"

#include <string>

namespace qor::test {

// A copy of a test driver is named by its file, "<name>Driver.so" or "<name>Driver.dll". The
// marker lives in the module that includes this (built with hidden symbols, each module has
// its own), so its path is that module's.
inline std::string TestDriverName() {
    static const char marker = 0;
    static const std::string name = [] {
        std::string path = platform::LibraryPathOf(&marker);
        const size_t slash = path.find_last_of("/\\");
        if (slash != std::string::npos) path.erase(0, slash + 1);
        const size_t end = path.rfind("Driver");
        return end == std::string::npos ? path : path.substr(0, end);
    }();
    return name;
}

}  // namespace qor::test
