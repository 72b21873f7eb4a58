#include "service/core/service_clock.h"

#include <gtest/gtest.h>

namespace qor {
namespace {

TEST(ServiceClockTest, ConvertsTicksToMicrosecondsExactly) {
    EXPECT_EQ(ServiceClock::TicksToMicroseconds(1'000'000'000, 1'000'000'000), 1'000'000);
    EXPECT_EQ(ServiceClock::TicksToMicroseconds(1'500, 1'000'000'000), 1);
    EXPECT_EQ(ServiceClock::TicksToMicroseconds(10'000'000, 10'000'000), 1'000'000);
    EXPECT_EQ(ServiceClock::TicksToMicroseconds(3, 10'000'000), 0);
}

TEST(ServiceClockTest, LongUptimesDoNotOverflow) {
    // 30 days at a 1 GHz counter: 2.6e15 ticks, whose product with 1e6 exceeds 64 bits.
    const int64_t thirtyDays = 30LL * 86400 * 1'000'000'000;
    EXPECT_EQ(ServiceClock::TicksToMicroseconds(thirtyDays, 1'000'000'000), 30LL * 86400 * 1'000'000);
    EXPECT_EQ(ServiceClock::TicksToMicroseconds(thirtyDays / 100 + 7, 10'000'000), 30LL * 86400 * 1'000'000);
}

TEST(ServiceClockTest, StartsAtZeroAndAdvances) {
    const ServiceClock clock;
    const int64_t first = clock.NowMicroseconds();
    EXPECT_GE(first, 0);
    EXPECT_LT(first, 60'000'000);
    EXPECT_GE(clock.NowMicroseconds(), first);
}

}  // namespace
}  // namespace qor
