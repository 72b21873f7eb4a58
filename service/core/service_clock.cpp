#include "service/core/service_clock.h"

#include "platform/system.h"

#include <atomic>
#include <mutex>

namespace qor {

namespace {
std::once_flag started;
std::atomic<bool> isStarted {false};
int64_t frequency = 1;
int64_t startCounter = 0;
}  // namespace

void ServiceClock::Start() {
    std::call_once(started, [] {
        frequency = platform::PerformanceFrequency();
        startCounter = platform::PerformanceCounter();
        isStarted = true;
    });
}

bool ServiceClock::Started() { return isStarted; }

int64_t ServiceClock::NowMicroseconds() {
    if (!isStarted) return 0;
    return TicksToMicroseconds(platform::PerformanceCounter() - startCounter, frequency);
}

int64_t ServiceClock::TicksToMicroseconds(int64_t ticks, int64_t ticksPerSecond) {
    constexpr int64_t kMicrosecondsPerSecond = 1'000'000;
    // ticks * 1000000 would overflow after about 2.5 hours at a 1 GHz counter.
    return (ticks / ticksPerSecond) * kMicrosecondsPerSecond +
           (ticks % ticksPerSecond) * kMicrosecondsPerSecond / ticksPerSecond;
}

}  // namespace qor
