#include "lenssdk/eye_tracker.h"

#include <algorithm>

namespace lens {

EyePairStream::EyePairStream(const EyeSource& source, EyePairListener* listener,
                             std::chrono::steady_clock::time_point epoch) {
    if (listener == nullptr) {
        state_->stopping = true;
        return;
    }
    thread_ = std::thread(Run, state_, source, listener, epoch);
}

EyePairStream::~EyePairStream() {
    stopListening();
    // Released from inside the listener: the thread returns on its own once the call ends.
    if (thread_.joinable()) thread_.detach();
}

void EyePairStream::stopListening() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->wake.notify_all();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool EyePairStream::isListening() const {
    std::lock_guard lock(state_->mutex);
    return !state_->stopping;
}

void EyePairStream::Run(std::shared_ptr<State> state, EyeSource source, EyePairListener* listener,
                        std::chrono::steady_clock::time_point epoch) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = epoch;
    Clock::time_point next = Clock::now();
    for (;;) {
        {
            std::unique_lock lock(state->mutex);
            // Stopping wakes the wait at once; otherwise one pair per interval, never faster.
            if (state->wake.wait_until(lock, next, [&] { return state->stopping; })) return;
        }
        const Clock::time_point now = Clock::now();
        const EyePair eyes = source.At(std::chrono::duration<double>(now - start).count());
        listener->onEyePair(eyes.left.x, eyes.left.y, eyes.left.z, eyes.right.x, eyes.right.y, eyes.right.z);
        // A slow listener delays the next pair rather than causing a burst of them.
        next = std::max(next + kEyePairInterval, Clock::now());
    }
}

namespace {

class SourceTracker final : public EyeTracker {
public:
    SourceTracker(int networkMode, std::chrono::steady_clock::time_point epoch)
        : networkMode_(networkMode), start_(epoch) {}
    bool isAvailable() const override { return true; }
    int networkMode() const override { return networkMode_; }
    std::chrono::milliseconds updateInterval() const override { return kEyePairInterval; }
    bool usesFixedEyes() const override { return source_.IsFixed(); }
    EyePair currentEyePair() const override {
        return source_.At(std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count());
    }
    std::shared_ptr<EyePairStream> openEyePairStream(EyePairListener* listener) override {
        return std::make_shared<EyePairStream>(source_, listener, start_);
    }

private:
    int networkMode_;
    EyeSource source_;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace

std::unique_ptr<EyeTracker> EyeTracker::create(LensContext& context) {
    return std::make_unique<SourceTracker>(context.networkMode(), context.epoch());
}

}  // namespace lens
