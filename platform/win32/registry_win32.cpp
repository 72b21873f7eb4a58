// The Windows registry. Key and value names arrive as UTF-8 and go to the wide API.
#include "platform/registry.h"
#include "platform/win32/wide.h"

#include "platform/system.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace qor::platform {

namespace {

// Registry text up to its terminating null (the stored size may or may not include it).
std::string Narrow(const wchar_t* text, size_t maxLength) {
    size_t length = 0;
    while (length < maxLength && text[length] != L'\0') ++length;
    return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
}

HKEY RootKey(RegistryRoot root) { return root == RegistryRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

// Opens (creating when missing) the key with the given access. Null on failure.
HKEY CreateKey(RegistryRoot root, std::string_view key, REGSAM access) {
    HKEY handle = nullptr;
    const LSTATUS status = ::RegCreateKeyExW(RootKey(root), Wide(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                             access, nullptr, &handle, nullptr);
    return status == ERROR_SUCCESS ? handle : nullptr;
}

class Win32RegistryWatch final : public RegistryWatch {
public:
    Win32RegistryWatch(HKEY key, HANDLE event) : key_(key), event_(event) {}
    ~Win32RegistryWatch() override {
        ::RegCloseKey(key_);
        ::CloseHandle(event_);
    }
    Win32RegistryWatch(const Win32RegistryWatch&) = delete;
    Win32RegistryWatch& operator=(const Win32RegistryWatch&) = delete;

    bool Arm() {
        return ::RegNotifyChangeKeyValue(key_, FALSE, REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_NAME, event_,
                                         TRUE) == ERROR_SUCCESS;
    }

    bool WaitForChange(uint32_t timeoutMs) override {
        if (::WaitForSingleObject(event_, timeoutMs) != WAIT_OBJECT_0) return false;
        // A notification fires once; watch again for the next change.
        Arm();
        return true;
    }

private:
    HKEY key_;
    HANDLE event_;  // auto-reset
};

}  // namespace

std::optional<uint32_t> RegistryReadDword(RegistryRoot root, std::string_view key, std::string_view value) {
    DWORD data = 0;
    DWORD size = sizeof data;
    if (::RegGetValueW(RootKey(root), Wide(key).c_str(), Wide(value).c_str(), RRF_RT_REG_DWORD, nullptr, &data,
                       &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(data);
}

std::optional<std::string> RegistryReadString(RegistryRoot root, std::string_view key, std::string_view value) {
    const std::wstring wideKey = Wide(key);
    const std::wstring wideValue = Wide(value);
    DWORD size = 0;
    LSTATUS status =
        ::RegGetValueW(RootKey(root), wideKey.c_str(), wideValue.c_str(), RRF_RT_REG_SZ, nullptr, nullptr, &size);
    // The value may grow between asking for its size and reading it; ask again then.
    for (int attempt = 0; attempt < 8 && status == ERROR_SUCCESS; ++attempt) {
        std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
        DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        status = ::RegGetValueW(RootKey(root), wideKey.c_str(), wideValue.c_str(), RRF_RT_REG_SZ, nullptr,
                                buffer.data(), &bytes);
        if (status == ERROR_SUCCESS) return Narrow(buffer.data(), bytes / sizeof(wchar_t));
        if (status == ERROR_MORE_DATA) {
            size = bytes;
            status = ERROR_SUCCESS;
        }
    }
    return std::nullopt;
}

bool RegistryWriteDword(RegistryRoot root, std::string_view key, std::string_view value, uint32_t data) {
    HKEY handle = CreateKey(root, key, KEY_SET_VALUE);
    if (handle == nullptr) return false;
    const DWORD dword = data;
    const LSTATUS status = ::RegSetValueExW(handle, Wide(value).c_str(), 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&dword), sizeof dword);
    ::RegCloseKey(handle);
    return status == ERROR_SUCCESS;
}

bool RegistryWriteString(RegistryRoot root, std::string_view key, std::string_view value, std::string_view data) {
    HKEY handle = CreateKey(root, key, KEY_SET_VALUE);
    if (handle == nullptr) return false;
    const std::wstring text = Wide(data);
    const LSTATUS status =
        ::RegSetValueExW(handle, Wide(value).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                         static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(handle);
    return status == ERROR_SUCCESS;
}

bool RegistryCreateKey(RegistryRoot root, std::string_view key) {
    HKEY handle = CreateKey(root, key, KEY_QUERY_VALUE);
    if (handle == nullptr) return false;
    ::RegCloseKey(handle);
    return true;
}

bool RegistryDeleteValue(RegistryRoot root, std::string_view key, std::string_view value) {
    HKEY handle = nullptr;
    if (::RegOpenKeyExW(RootKey(root), Wide(key).c_str(), 0, KEY_SET_VALUE, &handle) != ERROR_SUCCESS) return false;
    const LSTATUS status = ::RegDeleteValueW(handle, Wide(value).c_str());
    ::RegCloseKey(handle);
    return status == ERROR_SUCCESS;
}

bool RegistryDeleteTree(RegistryRoot root, std::string_view key) {
    // An empty path would name the whole root.
    if (key.empty()) return false;
    const std::wstring wideKey = Wide(key);
    if (::RegDeleteTreeW(RootKey(root), wideKey.c_str()) != ERROR_SUCCESS) return false;
    // RegDeleteTreeW removes the key itself too on most systems; make sure it is gone.
    const LSTATUS status = ::RegDeleteKeyW(RootKey(root), wideKey.c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

std::vector<RegistryValue> RegistryEnumerateValues(RegistryRoot root, std::string_view key) {
    std::vector<RegistryValue> values;
    HKEY handle = nullptr;
    if (::RegOpenKeyExW(RootKey(root), Wide(key).c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) {
        return values;
    }
    DWORD maxName = 0;
    DWORD maxData = 0;
    ::RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, &maxData,
                       nullptr, nullptr);
    std::wstring name(maxName + 1, L'\0');
    std::wstring data(maxData / sizeof(wchar_t) + 2, L'\0');
    for (DWORD index = 0;;) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataBytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        DWORD type = REG_NONE;
        const LSTATUS status = ::RegEnumValueW(handle, index, name.data(), &nameLength, nullptr, &type,
                                               reinterpret_cast<BYTE*>(data.data()), &dataBytes);
        if (status == ERROR_MORE_DATA && name.size() < 65536) {
            // A value written since the sizes were taken; grow and read the same index again.
            name.resize(name.size() * 2);
            data.resize(std::max<size_t>(data.size() * 2, dataBytes / sizeof(wchar_t) + 2));
            continue;
        }
        if (status != ERROR_SUCCESS) break;  // ERROR_NO_MORE_ITEMS at the end
        ++index;
        RegistryValue value;
        value.name = Narrow(name.data(), nameLength);
        if (type == REG_DWORD && dataBytes == sizeof(DWORD)) {
            DWORD dword = 0;
            std::memcpy(&dword, data.data(), sizeof dword);
            value.type = RegistryType::Dword;
            value.dword = dword;
        } else if (type == REG_SZ) {
            value.type = RegistryType::String;
            value.text = Narrow(data.data(), dataBytes / sizeof(wchar_t));
        } else {
            continue;
        }
        values.push_back(std::move(value));
    }
    ::RegCloseKey(handle);
    return values;
}

std::unique_ptr<RegistryWatch> WatchRegistryKey(RegistryRoot root, std::string_view key) {
    HKEY handle = nullptr;
    if (::RegOpenKeyExW(RootKey(root), Wide(key).c_str(), 0, KEY_NOTIFY, &handle) != ERROR_SUCCESS) return nullptr;
    HANDLE event = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr) {
        ::RegCloseKey(handle);
        return nullptr;
    }
    auto watch = std::make_unique<Win32RegistryWatch>(handle, event);
    if (!watch->Arm()) return nullptr;
    return watch;
}

}  // namespace qor::platform
