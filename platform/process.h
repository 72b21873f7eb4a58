// Whether a process that was seen once still runs. A process id alone can be taken again by
// a new process after the first one exits, so the identity carries the start time as well.
#pragma once

#include <cstdint>
#include <optional>

namespace qor::platform {

struct ProcessIdentity {
    uint32_t id = 0;
    uint64_t startTime = 0;  // in the platform's own units; only compared
};

// The identity of the running process with this id; nothing when no such process runs.
std::optional<ProcessIdentity> IdentifyProcess(uint32_t id);

// True while the process of this identity runs (the id not taken by another process since).
bool ProcessRunning(const ProcessIdentity& identity);

}  // namespace qor::platform
