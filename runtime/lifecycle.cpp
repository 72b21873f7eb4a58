#include "runtime/lifecycle.h"

#include "platform/system.h"
#include "platform/thread_slot.h"
#include "runtime/runtime.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace qor::runtime {

namespace {
std::atomic<bool> gaveUp {false};

// The product writes this one text for all four attach and detach reasons.
void AttachMessage() { platform::DebugOutput("OpenXR DLL_PROCESS_ATTACH\n"); }

// The one line an application's developer sees in the debugger when no service ever answered.
void SayWhyNoService(bool startRequested, std::chrono::milliseconds waited) {
    char text[256];
    const double seconds = static_cast<double>(waited.count()) / 1000.0;
    if (startRequested) {
        std::snprintf(text, sizeof text,
                      "Norvik OpenXR runtime: the XR service did not answer within %.1f s of the start request; "
                      "every call fails.\n",
                      seconds);
    } else {
        std::snprintf(text, sizeof text,
                      "Norvik OpenXR runtime: neither the XR service nor the client service (%s) answers; gave up "
                      "after %.1f s, every call fails.\n",
                      kClientServicePipeName, seconds);
    }
    platform::DebugOutput(text);
}

void AllocateBufferOrSay() {
    if (CurrentThreadBuffer() == nullptr) platform::DebugOutput("\tLocalAlloc Fail\n");
}
}  // namespace

bool ServiceGaveUp() { return gaveUp; }

void OnProcessAttach() {
    AttachMessage();
    AllocateThreadSlot();
    const bool startRequested = SendStartRequest();
    AllocateBufferOrSay();
    // Loading completes after the limit even without a service, so no application hangs for
    // good; its calls then fail with XR_ERROR_RUNTIME_FAILURE until a service answers.
    const auto limit = startRequested ? StartLimit() : std::min(StartLimit(), kUnstartedServiceLimit);
    gaveUp = !ProbeUntilAnswered(kProcessProbeCadence, limit);
    if (gaveUp) SayWhyNoService(startRequested, limit);
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
