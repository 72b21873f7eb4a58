// Process identities from the process's creation time.
#include "platform/process.h"

#include <windows.h>

namespace qor::platform {

std::optional<ProcessIdentity> IdentifyProcess(uint32_t id) {
    if (id == 0) return std::nullopt;
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (process == nullptr) return std::nullopt;
    std::optional<ProcessIdentity> identity;
    FILETIME created {}, exited {}, kernel {}, user {};
    DWORD exitCode = 0;
    // A handle may still open an exited process while others hold it.
    if (::GetExitCodeProcess(process, &exitCode) && exitCode == STILL_ACTIVE &&
        ::GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        identity = ProcessIdentity {id, (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime};
    }
    ::CloseHandle(process);
    return identity;
}

bool ProcessRunning(const ProcessIdentity& identity) {
    const auto now = IdentifyProcess(identity.id);
    return now && now->startTime == identity.startTime;
}

}  // namespace qor::platform
