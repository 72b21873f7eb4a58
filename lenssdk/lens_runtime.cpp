#include "lenssdk/lens_runtime.h"

#include "lenssdk/eye_tracker.h"

namespace lens {

int runtimeVersion() {
    // Refers to the other libraries, so they stay needed by this one.
    LensContext context(0);
    return Screen::create(context) != nullptr ? 10000 : 0;
}

}  // namespace lens
