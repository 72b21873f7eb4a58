// The service clock: every XrTime the service issues is microseconds since runtime start-up.
#pragma once

#include <cstdint>

namespace qor {

class ServiceClock {
public:
    // Takes the counter's frequency and start value; later calls keep the first values.
    static void Start();
    static bool Started();
    // Microseconds since Start() (0 before it).
    static int64_t NowMicroseconds();
    // Converts a counter difference to microseconds without overflowing for long uptimes.
    static int64_t TicksToMicroseconds(int64_t ticks, int64_t frequency);
};

}  // namespace qor
