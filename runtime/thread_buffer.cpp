// Per-thread request and reply buffers: a TLS slot on Windows (filled at thread attach or
// lazily), a thread-local buffer on POSIX (freed when the thread ends).
#include "runtime/lifecycle.h"
#include "runtime/service_link.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <memory>
#include <new>
#endif

namespace qor::runtime {

#if defined(_WIN32)

namespace {
DWORD tlsSlot = TLS_OUT_OF_INDEXES;
}

bool AllocateThreadSlot() {
    if (tlsSlot == TLS_OUT_OF_INDEXES) tlsSlot = ::TlsAlloc();
    return tlsSlot != TLS_OUT_OF_INDEXES;
}

void FreeThreadSlot() {
    if (tlsSlot == TLS_OUT_OF_INDEXES) return;
    ::TlsFree(tlsSlot);
    tlsSlot = TLS_OUT_OF_INDEXES;
}

bool HasThreadBuffer() { return tlsSlot != TLS_OUT_OF_INDEXES && ::TlsGetValue(tlsSlot) != nullptr; }

ThreadBuffer* CurrentThreadBuffer() {
    // Code that links the library statically (the tests) never ran process attach.
    if (tlsSlot == TLS_OUT_OF_INDEXES && !AllocateThreadSlot()) return nullptr;
    auto* buffer = static_cast<ThreadBuffer*>(::TlsGetValue(tlsSlot));
    if (buffer == nullptr) {
        buffer = static_cast<ThreadBuffer*>(::LocalAlloc(LPTR, sizeof(ThreadBuffer)));
        if (buffer != nullptr) ::TlsSetValue(tlsSlot, buffer);
    }
    return buffer;
}

void FreeThreadBuffer() {
    if (tlsSlot == TLS_OUT_OF_INDEXES) return;
    if (void* buffer = ::TlsGetValue(tlsSlot)) {
        ::LocalFree(buffer);
        ::TlsSetValue(tlsSlot, nullptr);
    }
}

#else

namespace {
thread_local std::unique_ptr<ThreadBuffer> threadBuffer;
}

bool AllocateThreadSlot() { return true; }
void FreeThreadSlot() {}

bool HasThreadBuffer() { return threadBuffer != nullptr; }

ThreadBuffer* CurrentThreadBuffer() {
    if (!threadBuffer) threadBuffer.reset(new (std::nothrow) ThreadBuffer {});
    return threadBuffer.get();
}

void FreeThreadBuffer() { threadBuffer.reset(); }

#endif

}  // namespace qor::runtime
