// The process's own heap: handing memory it no longer uses back to the system.
#pragma once

namespace qor::platform {

// Returns free heap memory to the system, e.g. after the last session, when large frame
// buffers were freed but the allocator keeps their pages. glibc's malloc_trim on POSIX (the
// freed blocks of a few tens of megabytes raise its own thresholds, so it keeps them);
// HeapCompact of the process heap on Windows. Safe to call at any time, from any thread.
void ReleaseFreeMemory();

}  // namespace qor::platform
