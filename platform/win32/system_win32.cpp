// Small OS services on Windows: known folders, paths, the named-mutex instance lock, the
// performance counter and debugger output.
#include "platform/system.h"
#include "platform/win32/wide.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace qor::platform {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

class MutexInstanceLock final : public InstanceLock {
public:
    explicit MutexInstanceLock(HANDLE mutex) : mutex_(mutex) {}
    ~MutexInstanceLock() override { ::CloseHandle(mutex_); }
    MutexInstanceLock(const MutexInstanceLock&) = delete;
    MutexInstanceLock& operator=(const MutexInstanceLock&) = delete;

private:
    HANDLE mutex_;
};

}  // namespace

std::string LocalAppDataFolder() {
    // Tests point this at a folder of their own; the known folder cannot be redirected per
    // process otherwise.
    if (auto folder = GetEnv("NORVIK_TEST_LOCALAPPDATA"); folder && !folder->empty()) return *folder;
    PWSTR path = nullptr;
    std::string result;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &path))) result = Narrow(path);
    ::CoTaskMemFree(path);
    return result;
}

std::string ProgramDataFolder() {
    if (auto folder = GetEnv("PROGRAMDATA"); folder && !folder->empty()) return *folder;
    PWSTR path = nullptr;
    std::string result;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &path))) result = Narrow(path);
    ::CoTaskMemFree(path);
    return result;
}

std::string JoinPath(std::string_view folder, std::string_view windowsRelative) {
    std::string result(folder);
    while (!windowsRelative.empty() && IsSeparator(windowsRelative.front())) windowsRelative.remove_prefix(1);
    if (windowsRelative.empty()) return result;
    if (result.empty() || !IsSeparator(result.back())) result += '\\';
    for (char c : windowsRelative) result += (c == '/') ? '\\' : c;
    return result;
}

bool CreateFolders(const std::string& path) {
    std::wstring wide = Wide(path);
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    if (IsFolder(wide)) return true;
    // Each prefix that ends before a separator is a parent; creating one that exists fails
    // harmlessly ("C:", "\\server\share" and the like included).
    for (size_t pos = wide.find(L'\\', 1); pos != std::wstring::npos; pos = wide.find(L'\\', pos + 1)) {
        if (wide[pos - 1] == L'\\') continue;
        ::CreateDirectoryW(wide.substr(0, pos).c_str(), nullptr);
    }
    ::CreateDirectoryW(wide.c_str(), nullptr);
    return IsFolder(wide);
}

bool FileExists(const std::string& path) { return ::GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

std::optional<std::string> GetEnv(const char* name) {
    const std::wstring wideName = Wide(name);
    std::wstring value(64, L'\0');
    for (;;) {
        ::SetLastError(ERROR_SUCCESS);
        const DWORD length = ::GetEnvironmentVariableW(wideName.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (length == 0) {
            if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::string();
        }
        if (length < value.size()) {
            value.resize(length);
            return Narrow(value);
        }
        value.resize(length);  // the size needed, terminating null included
    }
}

std::string ExecutablePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return std::string();
        if (length < path.size()) {
            path.resize(length);
            return Narrow(path);
        }
        path.resize(path.size() * 2);  // cut off: try a larger buffer
    }
}

uint32_t ProcessId() { return static_cast<uint32_t>(::GetCurrentProcessId()); }

std::string UserName() {
    wchar_t name[257];  // UNLEN + 1
    DWORD size = 257;
    if (!::GetUserNameW(name, &size) || size == 0) return std::string();
    return Narrow(std::wstring_view(name, size - 1));  // the count includes the terminator
}

std::unique_ptr<InstanceLock> TryAcquireInstanceLock(std::string_view name) {
    const std::wstring wideName = Wide(name);
    // A mutex that opens belongs to another running copy (or to a live lock of this process).
    HANDLE existing = ::OpenMutexW(MUTEX_ALL_ACCESS, FALSE, wideName.c_str());
    if (existing != nullptr) {
        ::CloseHandle(existing);
        return nullptr;
    }
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, wideName.c_str());
    if (mutex == nullptr) return nullptr;
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {  // another copy created it just now
        ::CloseHandle(mutex);
        return nullptr;
    }
    return std::make_unique<MutexInstanceLock>(mutex);
}

int64_t PerformanceCounter() {
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

int64_t PerformanceFrequency() {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

std::tm LocalTime(int64_t seconds) {
    const std::time_t value = static_cast<std::time_t>(seconds);
    std::tm local {};
    localtime_s(&local, &value);
    return local;
}

// Known folders come from the shell with their own access control; nothing is refused here.
std::vector<std::string> FolderRefusals() { return {}; }

void DebugOutput(std::string_view text) { ::OutputDebugStringW(Wide(text).c_str()); }

void DebugPrintf(const char* format, ...) {
    char buffer[100];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (length < 0) return;
    DebugOutput(std::string_view(buffer, std::min<size_t>(static_cast<size_t>(length), sizeof buffer - 1)));
}

}  // namespace qor::platform
