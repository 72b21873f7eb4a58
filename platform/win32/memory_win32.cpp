#include "platform/memory.h"

#include <malloc.h>
#include <windows.h>

namespace qor::platform {

// Blocks above about half a megabyte are virtual allocations of their own that the heap frees
// at once; for the rest, the C runtime's heap (malloc and new) and the process heap give back
// what they can decommit.
void ReleaseFreeMemory() {
    ::_heapmin();
    ::HeapCompact(::GetProcessHeap(), 0);
}

}  // namespace qor::platform
