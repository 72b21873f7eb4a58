// The SDK's context, eye tracker, screen and lens hint: the calls the weaving window makes.
// The tracker delivers eye pairs to a listener on a thread of its own.
#pragma once

#include "lenssdk/eye_source.h"
#include "lenssdk/lens_api.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace lens {

// How often a stream delivers an eye pair.
constexpr std::chrono::milliseconds kEyePairInterval{10};

class LENS_CORE_API LensContext {
public:
    explicit LensContext(int networkMode) : networkMode_(networkMode), epoch_(std::chrono::steady_clock::now()) {}
    // Ready to hand out trackers; always succeeds on this stand-in (no device to reach).
    bool initialize();
    bool isInitialized() const { return initialized_; }
    int networkMode() const { return networkMode_; }
    // The time base of every tracker made from this context, so that all of them (the
    // weaver's and its caller's) see the same simulated viewer at the same moment.
    std::chrono::steady_clock::time_point epoch() const { return epoch_; }

private:
    int networkMode_;
    std::chrono::steady_clock::time_point epoch_;
    bool initialized_ = false;
};

// Receives eye positions in millimetres, panel-centred: x right, y up, z towards the viewer.
class EyePairListener {
public:
    virtual void onEyePair(double leftX, double leftY, double leftZ, double rightX, double rightY, double rightZ) = 0;
    virtual ~EyePairListener() = default;
};

// Delivers pairs to one listener until stopListening() or destruction. The listener must
// outlive the stream's delivery, which ends when either returns.
class LENS_FACE_TRACKERS_API EyePairStream {
public:
    // Delivers the source's eyes at the time since `epoch`.
    EyePairStream(const EyeSource& source, EyePairListener* listener,
                  std::chrono::steady_clock::time_point epoch = std::chrono::steady_clock::now());
    ~EyePairStream();
    EyePairStream(const EyePairStream&) = delete;
    EyePairStream& operator=(const EyePairStream&) = delete;

    // Ends delivery and joins the thread (from within the listener: ends it, without joining).
    void stopListening();
    bool isListening() const;

private:
    // Shared with the thread, so a stream released from inside its own listener stays valid
    // until the thread has returned.
    struct State {
        std::mutex mutex;
        std::condition_variable wake;
        bool stopping = false;
    };
    static void Run(std::shared_ptr<State> state, EyeSource source, EyePairListener* listener,
                    std::chrono::steady_clock::time_point epoch);

    std::shared_ptr<State> state_ = std::make_shared<State>();
    std::thread thread_;
};

class LENS_FACE_TRACKERS_API EyeTracker {
public:
    static std::unique_ptr<EyeTracker> create(LensContext& context);

    // Callers reach the stream through the sixth entry of this interface: keep the order.
    virtual bool isAvailable() const = 0;
    virtual int networkMode() const = 0;
    virtual std::chrono::milliseconds updateInterval() const = 0;
    virtual bool usesFixedEyes() const = 0;
    virtual EyePair currentEyePair() const = 0;
    virtual std::shared_ptr<EyePairStream> openEyePairStream(EyePairListener* listener) = 0;

    virtual ~EyeTracker() = default;
};

// The panel's physical facts.
class LENS_DISPLAYS_API Screen {
public:
    static std::unique_ptr<Screen> create(LensContext& context);
    int widthPixels() const { return 3840; }
    int heightPixels() const { return 2160; }
    double widthMm() const { return 344.2; }
    double heightMm() const { return 344.2 * 2160 / 3840; }
};

// Whether the lens layer is switched to 3D; it keeps what it was last told.
class LENS_CORE_API SwitchableLensHint {
public:
    static std::unique_ptr<SwitchableLensHint> create(LensContext& context);
    virtual void enable();
    virtual void disable();
    virtual bool isEnabled() const;
    virtual ~SwitchableLensHint() = default;

private:
    mutable std::mutex mutex_;
    bool enabled_ = false;
};

}  // namespace lens
