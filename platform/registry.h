// The registry: HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER on Windows; on POSIX a folder tree
// under $NORVIK_REGISTRY_DIR where a key is a folder and a value a file holding
// "dword:<number>" or "sz:<text>". Key paths use backslashes as on Windows. Text is UTF-8.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qor::platform {

enum class RegistryRoot { LocalMachine, CurrentUser };

enum class RegistryType { Dword, String };

struct RegistryValue {
    std::string name;
    RegistryType type = RegistryType::Dword;
    uint32_t dword = 0;
    std::string text;
};

// Each read accepts only its own type: a string value read as a DWORD is missing, and so is
// a missing key or value.
std::optional<uint32_t> RegistryReadDword(RegistryRoot root, std::string_view key, std::string_view value);
std::optional<std::string> RegistryReadString(RegistryRoot root, std::string_view key, std::string_view value);

// Writes create the key (and its parents) when missing; on POSIX each write is atomic.
bool RegistryWriteDword(RegistryRoot root, std::string_view key, std::string_view value, uint32_t data);
bool RegistryWriteString(RegistryRoot root, std::string_view key, std::string_view value, std::string_view data);
bool RegistryCreateKey(RegistryRoot root, std::string_view key);
bool RegistryDeleteValue(RegistryRoot root, std::string_view key, std::string_view value);
// Removes the key with its values and subkeys.
bool RegistryDeleteTree(RegistryRoot root, std::string_view key);

// The key's values of the two supported types (others are skipped); empty when the key is missing.
std::vector<RegistryValue> RegistryEnumerateValues(RegistryRoot root, std::string_view key);

// Change notification on one existing key: a value written, added or removed.
class RegistryWatch {
public:
    virtual ~RegistryWatch() = default;
    // Waits up to `timeoutMs` for a change since the watch was made or since the last
    // change it reported; true when one happened.
    virtual bool WaitForChange(uint32_t timeoutMs) = 0;
};
// Null when the key does not exist or cannot be watched.
std::unique_ptr<RegistryWatch> WatchRegistryKey(RegistryRoot root, std::string_view key);

}  // namespace qor::platform
