#include "platform/memory.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace qor::platform {

void ReleaseFreeMemory() {
#if defined(__GLIBC__)
    // 0: keep no spare bytes at the top of the heap; the pages of free blocks inside every
    // arena go back as well.
    ::malloc_trim(0);
#endif
}

}  // namespace qor::platform
