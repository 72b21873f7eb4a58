// Loading and thread life of the runtime library.
#pragma once

#include "runtime/service_link.h"

namespace qor::runtime {

// The slot of the per-thread buffers; false when the process has none left.
bool AllocateThreadSlot();
void FreeThreadSlot();
bool HasThreadBuffer();

// The buffer a forwarding function works in. Where libraries hear of no new threads (POSIX),
// the first call of a thread the library has not seen yet counts as that thread's attach (and
// probes the service).
ThreadBuffer* BufferForCall();

// True once loading gave up waiting for the service; new threads then do not probe.
bool ServiceGaveUp();

}  // namespace qor::runtime
