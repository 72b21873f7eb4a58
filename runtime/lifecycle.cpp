#include "runtime/lifecycle.h"

#include "platform/system.h"
#include "platform/thread_slot.h"
#include "runtime/runtime.h"

#include <atomic>

namespace qor::runtime {

namespace {
std::atomic<bool> gaveUp {false};

// The product writes this one text for all four attach and detach reasons.
void AttachMessage() { platform::DebugOutput("OpenXR DLL_PROCESS_ATTACH\n"); }

void AllocateBufferOrSay() {
    if (CurrentThreadBuffer() == nullptr) platform::DebugOutput("\tLocalAlloc Fail\n");
}
}  // namespace

bool ServiceGaveUp() { return gaveUp; }

void OnProcessAttach() {
    AttachMessage();
    AllocateThreadSlot();
    SendStartRequest();
    AllocateBufferOrSay();
    // Loading completes after the limit even without a service, so no application hangs for
    // good; its calls then fail with XR_ERROR_RUNTIME_FAILURE until a service answers.
    gaveUp = !ProbeUntilAnswered(kProcessProbeCadence, StartLimit());
}

void OnThreadAttach() {
    AttachMessage();
    AllocateBufferOrSay();
    if (!gaveUp) ProbeUntilAnswered(kThreadProbeCadence, ThreadStartLimit());
}

void OnThreadDetach() {
    AttachMessage();
    FreeThreadBuffer();
}

void OnProcessDetach() {
    AttachMessage();
    FreeThreadBuffer();
    FreeThreadSlot();
}

ThreadBuffer* BufferForCall() {
    if (!platform::kLibrariesSeeThreadAttach && !HasThreadBuffer()) OnThreadAttach();
    return CurrentThreadBuffer();
}

}  // namespace qor::runtime
