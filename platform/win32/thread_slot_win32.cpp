#include "platform/thread_slot.h"

#include <windows.h>

namespace qor::platform {

static_assert(TLS_OUT_OF_INDEXES == 0xFFFFFFFF);

bool ThreadSlot::Open() {
    if (index_.load() != kClosed) return true;
    const DWORD index = ::TlsAlloc();
    if (index == TLS_OUT_OF_INDEXES) return false;
    uint32_t expected = kClosed;
    if (!index_.compare_exchange_strong(expected, index)) ::TlsFree(index);  // another thread opened it first
    return true;
}

void ThreadSlot::Close() {
    const uint32_t index = index_.exchange(kClosed);
    if (index != kClosed) ::TlsFree(index);
}

void* ThreadSlot::Block() const {
    const uint32_t index = index_.load();
    return index == kClosed ? nullptr : ::TlsGetValue(index);
}

void* ThreadSlot::MakeBlock() {
    const uint32_t index = index_.load();
    if (index == kClosed) return nullptr;
    void* block = ::TlsGetValue(index);
    if (block == nullptr) {
        block = ::LocalAlloc(LPTR, blockSize_);
        if (block != nullptr) ::TlsSetValue(index, block);
    }
    return block;
}

void ThreadSlot::FreeBlock() {
    const uint32_t index = index_.load();
    if (index == kClosed) return;
    if (void* block = ::TlsGetValue(index)) {
        ::LocalFree(block);
        ::TlsSetValue(index, nullptr);
    }
}

}  // namespace qor::platform
