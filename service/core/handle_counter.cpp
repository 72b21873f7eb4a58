#include "service/core/handle_counter.h"

#include <mutex>

namespace qor {

namespace {
std::mutex counterMutex;
uint64_t counter = 0;
}  // namespace

uint64_t NewHandle(uint64_t base) {
    std::lock_guard lock(counterMutex);
    return base + counter++;
}

}  // namespace qor
