// The panel's description: the displays library's part of the SDK.
#include "lenssdk/eye_tracker.h"

namespace lens {

std::unique_ptr<Screen> Screen::create(LensContext&) { return std::make_unique<Screen>(); }

}  // namespace lens
