// Per-thread request and reply buffers, one block per thread behind the library's thread slot
// (filled at thread attach or at a thread's first call).
#include "platform/thread_slot.h"
#include "runtime/lifecycle.h"
#include "runtime/service_link.h"

namespace qor::runtime {

namespace {
constinit platform::ThreadSlot threadSlot {sizeof(ThreadBuffer)};
}

bool AllocateThreadSlot() { return threadSlot.Open(); }

void FreeThreadSlot() { threadSlot.Close(); }

bool HasThreadBuffer() { return threadSlot.Block() != nullptr; }

ThreadBuffer* CurrentThreadBuffer() {
    // Code that links the library statically (the tests) never ran process attach.
    if (!threadSlot.Open()) return nullptr;
    return static_cast<ThreadBuffer*>(threadSlot.MakeBlock());
}

void FreeThreadBuffer() { threadSlot.FreeBlock(); }

}  // namespace qor::runtime
