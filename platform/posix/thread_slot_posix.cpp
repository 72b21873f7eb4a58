#include "platform/thread_slot.h"

#include <cstdlib>

namespace qor::platform {

namespace {
// Slots a process can open; a closed slot's number is not handed out again, since threads may
// still hold blocks under it.
constexpr uint32_t kSlotCount = 16;
std::atomic<uint32_t> slotsOpened {0};

// Plain pointers without a destructor: they stay readable while their thread ends, after the
// owner below has freed the blocks.
thread_local void* blocks[kSlotCount];

struct BlockOwner {
    ~BlockOwner() {
        for (void*& block : blocks) {
            std::free(block);
            block = nullptr;
        }
    }
};

// Makes the calling thread free its blocks when it ends.
void OwnBlocksOfThisThread() {
    thread_local BlockOwner owner;
    (void)owner;
}
}  // namespace

bool ThreadSlot::Open() {
    if (index_.load() != kClosed) return true;
    const uint32_t index = slotsOpened.fetch_add(1);
    if (index >= kSlotCount) return false;
    uint32_t expected = kClosed;
    index_.compare_exchange_strong(expected, index);  // another thread opened it first: its number stays
    return true;
}

void ThreadSlot::Close() { index_.store(kClosed); }

void* ThreadSlot::Block() const {
    const uint32_t index = index_.load();
    return index == kClosed ? nullptr : blocks[index];
}

void* ThreadSlot::MakeBlock() {
    const uint32_t index = index_.load();
    if (index == kClosed) return nullptr;
    if (blocks[index] == nullptr) {
        OwnBlocksOfThisThread();
        blocks[index] = std::calloc(1, blockSize_);
    }
    return blocks[index];
}

void ThreadSlot::FreeBlock() {
    const uint32_t index = index_.load();
    if (index == kClosed) return;
    std::free(blocks[index]);
    blocks[index] = nullptr;
}

}  // namespace qor::platform
