// Whether a process that was seen once still runs. A process id alone can be taken again by
// a new process after the first one exits, so the identity carries the start time as well.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qor::platform {

struct ProcessIdentity {
    uint32_t id = 0;
    uint64_t startTime = 0;  // in the platform's own units; only compared
};

// The identity of the running process with this id; nothing when no such process runs.
std::optional<ProcessIdentity> IdentifyProcess(uint32_t id);

// True while the process of this identity runs (the id not taken by another process since).
// An ended process that its parent has not reaped yet no longer runs.
bool ProcessRunning(const ProcessIdentity& identity);

// Ends the process of this identity (TerminateProcess; SIGKILL on POSIX) with `exitCode` and
// waits up to `waitMs` for it to be gone. True when it is gone; a process that already ended
// counts as gone, and a reused id is never touched.
bool TerminateProcess(const ProcessIdentity& identity, uint32_t exitCode, uint32_t waitMs);

// The ids of the running processes whose executable file name (without folder) equals `name`
// exactly, case-sensitive, in snapshot order: a process snapshot on Windows, a /proc scan on
// POSIX.
std::vector<uint32_t> ProcessesNamed(std::string_view name);

// The full path of the process's main module (UTF-8); nothing when the process cannot be
// opened or its path read.
std::optional<std::string> ProcessModulePath(uint32_t id);

}  // namespace qor::platform
