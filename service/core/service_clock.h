// The service clock: every XrTime the service issues is microseconds since runtime start-up.
#pragma once

#include <cstdint>

namespace qor {

class ServiceClock {
public:
    // Takes the counter's frequency and start value.
    ServiceClock();
    // Microseconds since construction.
    int64_t NowMicroseconds() const;
    // Converts a counter difference to microseconds without overflowing for long uptimes.
    static int64_t TicksToMicroseconds(int64_t ticks, int64_t frequency);

private:
    int64_t frequency_;
    int64_t startCounter_;
};

}  // namespace qor
