// Loading and thread life of the runtime library.
#pragma once

#include "runtime/service_link.h"

namespace qor::runtime {

// The TLS slot (Windows); always succeeds on POSIX.
bool AllocateThreadSlot();
void FreeThreadSlot();
bool HasThreadBuffer();

// The buffer a forwarding function works in. On POSIX the first call of a thread the
// library has not seen yet counts as that thread's attach (and probes the service).
ThreadBuffer* BufferForCall();

// True once loading gave up waiting for the service; new threads then do not probe.
bool ServiceGaveUp();

}  // namespace qor::runtime
