#include "service/core/service_clock.h"

#include "platform/system.h"

namespace qor {

ServiceClock::ServiceClock()
    : frequency_(platform::PerformanceFrequency()), startCounter_(platform::PerformanceCounter()) {}

int64_t ServiceClock::NowMicroseconds() const {
    return TicksToMicroseconds(platform::PerformanceCounter() - startCounter_, frequency_);
}

int64_t ServiceClock::TicksToMicroseconds(int64_t ticks, int64_t ticksPerSecond) {
    // ticks * 1000000 would overflow after about 2.5 hours at a 1 GHz counter.
    return (ticks / ticksPerSecond) * 1000000 + (ticks % ticksPerSecond) * 1000000 / ticksPerSecond;
}

}  // namespace qor
