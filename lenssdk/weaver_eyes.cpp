#include "lenssdk/weaver.h"

namespace lens {

WeaverEyes::WeaverEyes(LensContext& context) : tracker_(EyeTracker::create(context)) {
    eyes_ = tracker_->currentEyePair();
    stream_ = tracker_->openEyePairStream(this);
}

// The stream stops before the members it writes go away.
WeaverEyes::~WeaverEyes() {
    if (stream_) stream_->stopListening();
}

void WeaverEyes::onEyePair(double leftX, double leftY, double leftZ, double rightX, double rightY, double rightZ) {
    std::lock_guard lock(mutex_);
    eyes_ = {{leftX, leftY, leftZ}, {rightX, rightY, rightZ}};
}

EyePair WeaverEyes::latest() const {
    std::lock_guard lock(mutex_);
    return eyes_;
}

}  // namespace lens
