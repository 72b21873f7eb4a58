// Handles and system ids: one counter plus a base per kind, so no value is ever handed out
// twice while the service runs.
#pragma once

#include <cstdint>
#include <mutex>

namespace qor {

constexpr uint64_t kInstanceHandleBase = 0x1000000;
constexpr uint64_t kSystemIdBase = 0x2000000;
constexpr uint64_t kSessionHandleBase = 0x3000000;
constexpr uint64_t kActionSetHandleBase = 0x4000000;
constexpr uint64_t kActionHandleBase = 0x5000000;
constexpr uint64_t kSwapchainHandleBase = 0x6000000;
constexpr uint64_t kSpaceHandleBase = 0x7000000;

class HandleCounter {
public:
    // `base` plus the counter's next value (the first value is 0), taken under the counter's lock.
    uint64_t New(uint64_t base) {
        std::lock_guard lock(mutex_);
        return base + next_++;
    }

private:
    std::mutex mutex_;
    uint64_t next_ = 0;
};

}  // namespace qor
