// The context and the lens hint: the core library's part of the SDK.
#include "lenssdk/eye_tracker.h"

namespace lens {

bool LensContext::initialize() {
    initialized_ = true;
    return true;
}

std::unique_ptr<SwitchableLensHint> SwitchableLensHint::create(LensContext&) {
    return std::make_unique<SwitchableLensHint>();
}

void SwitchableLensHint::enable() {
    std::lock_guard lock(mutex_);
    enabled_ = true;
}

void SwitchableLensHint::disable() {
    std::lock_guard lock(mutex_);
    enabled_ = false;
}

bool SwitchableLensHint::isEnabled() const {
    std::lock_guard lock(mutex_);
    return enabled_;
}

}  // namespace lens
