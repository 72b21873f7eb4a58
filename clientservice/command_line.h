// QorClientService's command line: install, uninstall, serve, run, and the usage text.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace qor::clientservice {

// Command-line words compare without regard to case, as on Windows.
inline bool SameText(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

struct InstallOptions {
    uint32_t startType = 2;  // started by the service manager at system start
    std::optional<std::string> account;
    std::optional<std::string> password;
    std::optional<std::string> configuration;
};

// The options after "install"; the text to print when they are not valid.
std::variant<InstallOptions, std::string> ParseInstallOptions(const std::vector<std::string>& options);

// The service's own command line: the quoted program, then "serve" or
// serve -config "<path>".
std::string ServiceCommandLine(const std::string& modulePath, const InstallOptions& options);

// Runs the program for `arguments` (the program itself first), printing to `out`; the
// process's exit code.
int RunCommandLine(const std::vector<std::string>& arguments, std::FILE* out);

}  // namespace qor::clientservice
