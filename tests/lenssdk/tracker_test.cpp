// The eye tracker's streams, the NORVIK_EYES parser and the lens hint.
#include "lenssdk/eye_tracker.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <mutex>
#include <optional>
#include <vector>

namespace {

using namespace std::chrono_literals;

class Recorder : public lens::EyePairListener {
public:
    void onEyePair(double lx, double ly, double lz, double rx, double ry, double rz) override {
        std::shared_ptr<lens::EyePairStream> release;
        {
            std::lock_guard lock(mutex_);
            pairs_.push_back({{lx, ly, lz}, {rx, ry, rz}});
            if (stopFromInside_ && pairs_.size() >= 3) {
                stopFromInside_->stopListening();
                release = std::move(stopFromInside_);
            }
        }
        changed_.notify_all();
    }
    // Waits (with a deadline) for at least n pairs.
    bool WaitFor(std::size_t n) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return pairs_.size() >= n; });
    }
    std::vector<lens::EyePair> Pairs() {
        std::lock_guard lock(mutex_);
        return pairs_;
    }
    void StopFromInside(std::shared_ptr<lens::EyePairStream> stream) {
        std::lock_guard lock(mutex_);
        stopFromInside_ = std::move(stream);
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<lens::EyePair> pairs_;
    std::shared_ptr<lens::EyePairStream> stopFromInside_;
};

TEST(LensEyeTracker, DeliversFixedEyesOnItsThreadUntilStopped) {
    enum class Stop { kStopListening, kRelease, kFromInsideTheListener };
    qor::test::SetEnv("NORVIK_EYES", "-30.5, 2, 610; 32.5,2,+590");
    const lens::EyePair expected{{-30.5, 2, 610}, {32.5, 2, 590}};
    for (const Stop stop : {Stop::kStopListening, Stop::kRelease, Stop::kFromInsideTheListener}) {
        SCOPED_TRACE(int(stop));
        lens::LensContext context(0);
        ASSERT_TRUE(context.initialize());
        const auto tracker = lens::EyeTracker::create(context);
        EXPECT_TRUE(tracker->usesFixedEyes());
        Recorder recorder;
        auto stream = tracker->openEyePairStream(&recorder);
        if (stop == Stop::kFromInsideTheListener) recorder.StopFromInside(stream);
        ASSERT_TRUE(recorder.WaitFor(3));
        switch (stop) {
            case Stop::kStopListening: stream->stopListening(); break;
            case Stop::kRelease: stream.reset(); break;
            case Stop::kFromInsideTheListener: {
                // Its own call ended delivery; ours joins the finished thread.
                stream->stopListening();
                break;
            }
        }
        if (stream) {
            EXPECT_FALSE(stream->isListening());
        }
        // Delivery has ended when the stop returns: nothing arrives after.
        const std::size_t delivered = recorder.Pairs().size();
        for (const lens::EyePair& pair : recorder.Pairs()) EXPECT_EQ(pair, expected);
        stream.reset();
        EXPECT_EQ(recorder.Pairs().size(), delivered);
    }
    qor::test::UnsetEnv("NORVIK_EYES");
}

TEST(LensEyeTracker, MalformedOrMissingEyesGiveTheSimulatedViewer) {
    for (const char* value : std::initializer_list<const char*>{"", "1,2,3", "1,2,3;4,5", "1,2,3;4,5,6;7", "a,b,c;d,e,f", "1,2,0;4,5,6", "1,2,3;4,5,nan",
                              "1,2,3;4,5,1e9", nullptr}) {
        SCOPED_TRACE(value ? value : "(unset)");
        if (value) {
            qor::test::SetEnv("NORVIK_EYES", value);
        } else {
            qor::test::UnsetEnv("NORVIK_EYES");
        }
        lens::LensContext context(1);
        const auto tracker = lens::EyeTracker::create(context);
        EXPECT_FALSE(tracker->usesFixedEyes());
        const lens::EyePair eyes = tracker->currentEyePair();
        EXPECT_DOUBLE_EQ(eyes.left.z, lens::kSimulatedDistanceMm);
        EXPECT_NEAR(eyes.right.x - eyes.left.x, lens::kSimulatedEyeDistanceMm, 1e-9);
        EXPECT_LE(std::abs((eyes.left.x + eyes.right.x) / 2), lens::kSimulatedSwayMm + 1e-9);
    }
    qor::test::UnsetEnv("NORVIK_EYES");
}

TEST(LensEyeTracker, ParsesEyesText) {
    struct Case {
        const char* text;
        std::optional<lens::EyePair> eyes;
    };
    const Case cases[] = {
        {"-31.5,0,600;31.5,0,600", lens::EyePair{{-31.5, 0, 600}, {31.5, 0, 600}}},
        {" 1 , -2 ,3e2;\t4,5,6 ", lens::EyePair{{1, -2, 300}, {4, 5, 6}}},
        {"1,2,3;4,5,6,", std::nullopt},
        {"1,,3;4,5,6", std::nullopt},
        {"1,2,3 4;4,5,6", std::nullopt},
        {"1,2,-3;4,5,6", std::nullopt},
        {"1,2,inf;4,5,6", std::nullopt},
        {"++1,2,3;4,5,6", std::nullopt},
        {"0x10,2,3;4,5,6", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(lens::ParseEyes(c.text), c.eyes);
    }
    EXPECT_EQ(lens::ParseEyes(std::string(lens::kEyesTextMaxBytes, ' ') + "1,2,3;4,5,6"), std::nullopt);
}

TEST(LensHint, KeepsTheStateItWasLastGiven) {
    lens::LensContext context(0);
    const auto hint = lens::SwitchableLensHint::create(context);
    EXPECT_FALSE(hint->isEnabled());
    struct Step {
        bool enable;
        bool expected;
    };
    for (const Step step : {Step{true, true}, {true, true}, {false, false}, {false, false}, {true, true}}) {
        step.enable ? hint->enable() : hint->disable();
        EXPECT_EQ(hint->isEnabled(), step.expected);
    }
}

}  // namespace
