// Process identities from the process's creation time; the process snapshot and module paths
// of the tool-help and process-status calls.
#include "platform/process.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cwchar>
#include <string>

namespace qor::platform {

namespace {
// Main-module paths are read into this many wide characters.
constexpr DWORD kModulePathUnits = 512;

std::optional<uint64_t> CreationTime(HANDLE process) {
    FILETIME created {}, exited {}, kernel {}, user {};
    if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) return std::nullopt;
    return (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

std::string Narrow(const wchar_t* text, int units) {
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr, nullptr);
    std::string out(bytes > 0 ? static_cast<size_t>(bytes) : 0, '\0');
    if (bytes > 0) ::WideCharToMultiByte(CP_UTF8, 0, text, units, out.data(), bytes, nullptr, nullptr);
    return out;
}
}  // namespace

std::optional<ProcessIdentity> IdentifyProcess(uint32_t id) {
    if (id == 0) return std::nullopt;
    // A handle may still open an exited process while others hold it: waiting 0 ms tells.
    bool running = false;
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, id);
    if (process != nullptr) {
        running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    } else {
        // Without the right to wait (another user's process), the exit code tells instead.
        process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
        if (process == nullptr) return std::nullopt;
        DWORD exitCode = 0;
        running = ::GetExitCodeProcess(process, &exitCode) && exitCode == STILL_ACTIVE;
    }
    std::optional<ProcessIdentity> identity;
    if (running) {
        if (const auto created = CreationTime(process)) identity = ProcessIdentity {id, *created};
    }
    ::CloseHandle(process);
    return identity;
}

bool ProcessRunning(const ProcessIdentity& identity) {
    const auto now = IdentifyProcess(identity.id);
    return now && now->startTime == identity.startTime;
}

bool TerminateProcess(const ProcessIdentity& identity, uint32_t exitCode, uint32_t waitMs) {
    HANDLE process = ::OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, identity.id);
    if (process == nullptr) return !ProcessRunning(identity);
    bool gone = true;
    const auto created = CreationTime(process);
    if (created && *created == identity.startTime && ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(process, exitCode);
        gone = ::WaitForSingleObject(process, waitMs) == WAIT_OBJECT_0;
    }
    ::CloseHandle(process);
    return gone;
}

std::vector<uint32_t> ProcessesNamed(std::string_view name) {
    std::vector<uint32_t> ids;
    if (name.empty()) return ids;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return ids;
    PROCESSENTRY32W entry {};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
        if (Narrow(entry.szExeFile, static_cast<int>(::wcslen(entry.szExeFile))) == name) ids.push_back(entry.th32ProcessID);
    }
    ::CloseHandle(snapshot);
    return ids;
}

std::optional<std::string> ProcessModulePath(uint32_t id) {
    if (id == 0) return std::nullopt;
    HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
    if (process == nullptr) return std::nullopt;
    wchar_t path[kModulePathUnits];
    const DWORD units = ::K32GetModuleFileNameExW(process, nullptr, path, kModulePathUnits);
    ::CloseHandle(process);
    if (units == 0) return std::nullopt;
    return Narrow(path, static_cast<int>(units));
}

}  // namespace qor::platform
