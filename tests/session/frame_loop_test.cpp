// The frame loop through the dispatcher: frame timing, the order of wait, begin and end with
// their 16-bit counters, pacing across request threads, and the checks of submitted layers.
#include "service/core/service_clock.h"
#include "service/session/session_present_target.h"
#include "tests/session/session_fixture.h"

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

namespace qor::test {
namespace {

class FrameLoopTest : public SessionFixture {
protected:
    void SetUp() override {
        SessionFixture::SetUp();
        session_ = CreateSession(CreateInstance());
        ASSERT_EQ(BeginSession(session_), XR_SUCCESS);
        record_ = state_.sessions.Find(session_);
    }
    XrResult End(const Layers& layers) { return EndFrame(session_, layers.bytes, layers.count); }

    uint64_t session_ = 0;
    std::shared_ptr<Session> record_;
};

TEST_F(FrameLoopTest, WaitReportsTheFixedFrameTiming) {
    const int64_t before = state_.clock.NowMicroseconds();
    XrResult result;
    const auto reply = Reply(WaitFrameRequest {session_, {XR_TYPE_FRAME_WAIT_INFO, 0}}, &result);
    const int64_t after = state_.clock.NowMicroseconds();
    ASSERT_EQ(result, XR_SUCCESS);
    ASSERT_EQ(reply.size(), 4u + 32u);
    WaitFrameReply state;
    ASSERT_TRUE(DecodeReply(reply.data(), reply.size(), &state));
    EXPECT_EQ(state.header.type, static_cast<uint32_t>(XR_TYPE_FRAME_STATE));
    EXPECT_GE(state.predictedDisplayTime, before + 7407407);
    EXPECT_LE(state.predictedDisplayTime, after + 7407407);
    EXPECT_EQ(state.predictedDisplayPeriod, 11111111);
    EXPECT_EQ(state.shouldRender, 1u);
}

TEST_F(FrameLoopTest, CallsOutOfOrder) {
    EXPECT_EQ(WaitFrame(session_ + 1000), XR_ERROR_HANDLE_INVALID);
    EXPECT_EQ(BeginFrame(session_ + 1000), XR_ERROR_HANDLE_INVALID);
    EXPECT_EQ(EndFrame(session_ + 1000), XR_ERROR_HANDLE_INVALID);
    EXPECT_EQ(BeginFrame(session_), XR_ERROR_CALL_ORDER_INVALID) << "begin before any wait";
    EXPECT_EQ(EndFrame(session_), XR_ERROR_CALL_ORDER_INVALID) << "end before any begin";
    ASSERT_EQ(WaitFrame(session_), XR_SUCCESS);
    EXPECT_EQ(EndFrame(session_), XR_ERROR_CALL_ORDER_INVALID) << "end after a wait alone";
    ASSERT_EQ(BeginFrame(session_), XR_SUCCESS);
    EXPECT_EQ(BeginFrame(session_), XR_ERROR_CALL_ORDER_INVALID) << "two begins after one wait";
    ASSERT_EQ(EndFrame(session_), XR_SUCCESS);
    EXPECT_EQ(EndFrame(session_), XR_ERROR_CALL_ORDER_INVALID) << "two ends";
    EXPECT_EQ(BeginFrame(session_), XR_ERROR_CALL_ORDER_INVALID) << "begin after an end without a wait";
    EXPECT_EQ(Frame(session_), XR_SUCCESS);

    const uint64_t idle = CreateSession(instances_[0]);  // never begun
    EXPECT_EQ(WaitFrame(idle), XR_ERROR_SESSION_NOT_RUNNING);
    EXPECT_EQ(BeginFrame(idle), XR_ERROR_SESSION_NOT_RUNNING);
    EXPECT_EQ(EndFrame(idle), XR_ERROR_CALL_ORDER_INVALID) << "end frame does not look at the running flag";
}

TEST_F(FrameLoopTest, BeginAfterAnUnendedFrameIsDiscardedAlsoAcrossTheCounterWrap) {
    for (const uint16_t start : {uint16_t {0}, uint16_t {0xFFFE}, uint16_t {0xFFFF}}) {
        record_->waitCounter = record_->beginCounter = record_->endCounter = start;
        ASSERT_EQ(WaitFrame(session_), XR_SUCCESS);
        ASSERT_EQ(BeginFrame(session_), XR_SUCCESS);
        ASSERT_EQ(WaitFrame(session_), XR_SUCCESS);
        EXPECT_EQ(BeginFrame(session_), XR_FRAME_DISCARDED) << start;
        EXPECT_EQ(EndFrame(session_), XR_SUCCESS) << "ends the begun frame, " << start;
        EXPECT_EQ(Frame(session_), XR_SUCCESS) << start;
    }
    record_->waitCounter = record_->beginCounter = record_->endCounter = 0xFFFD;
    for (int frame = 0; frame < 4; ++frame) ASSERT_EQ(Frame(session_), XR_SUCCESS) << frame;
    EXPECT_EQ(record_->endCounter, 2) << "0xFFFE, 0xFFFF, 1, 2";
}

TEST_F(FrameLoopTest, ASecondWaitBlocksUntilTheFirstFrameIsBegun) {
    ASSERT_EQ(WaitFrame(session_), XR_SUCCESS);
    std::atomic<bool> begun {false}, returned {false}, early {false};
    XrResult result = XR_ERROR_RUNTIME_FAILURE;
    std::thread waiter([&] {
        result = WaitFrame(session_);
        early = !begun;
        returned = true;
    });
    EXPECT_FALSE(WaitUntil([&] { return returned.load(); }, std::chrono::milliseconds(200)));
    begun = true;
    EXPECT_EQ(BeginFrame(session_), XR_SUCCESS);
    EXPECT_TRUE(WaitUntil([&] { return returned.load(); }));
    waiter.join();
    EXPECT_EQ(result, XR_SUCCESS);
    EXPECT_FALSE(early);
    EXPECT_EQ(EndFrame(session_), XR_SUCCESS);
    EXPECT_EQ(BeginFrame(session_), XR_SUCCESS) << "the second wait's frame";
}

TEST_F(FrameLoopTest, EndingOrDestroyingTheSessionReleasesABlockedWait) {
    for (const bool destroy : {false, true}) {
        const uint64_t session = CreateSession(instances_[0]);
        ASSERT_EQ(BeginSession(session), XR_SUCCESS);
        ASSERT_EQ(WaitFrame(session), XR_SUCCESS);
        XrResult result = XR_SUCCESS;
        std::thread waiter([&] { result = WaitFrame(session); });
        if (destroy) {
            EXPECT_EQ(DestroySession(session), XR_SUCCESS);
        } else {
            EXPECT_EQ(RequestExit(session), XR_SUCCESS);
            EXPECT_EQ(EndSession(session), XR_SUCCESS);
        }
        waiter.join();
        EXPECT_EQ(result, destroy ? XR_ERROR_HANDLE_INVALID : XR_ERROR_SESSION_NOT_RUNNING);
    }
}

TEST_F(FrameLoopTest, WaitOnOneThreadAndSubmitOnAnotherKeepsInStep) {
    constexpr int kFrames = 200;
    std::atomic<int> waited {0};
    std::atomic<bool> failed {false};
    std::thread renderer([&] {
        for (int i = 0; i < kFrames && !failed; ++i, ++waited) failed = failed || WaitFrame(session_) != XR_SUCCESS;
    });
    for (int i = 0; i < kFrames && !failed; ++i) {
        if (!WaitUntil([&] { return waited > i || failed; })) failed = true;
        if (BeginFrame(session_) != XR_SUCCESS || EndFrame(session_) != XR_SUCCESS) failed = true;
    }
    if (failed) {  // frees a wait still blocked
        RequestExit(session_);
        EndSession(session_);
    }
    renderer.join();
    EXPECT_FALSE(failed);
    EXPECT_EQ(record_->endCounter, kFrames);
}

TEST_F(FrameLoopTest, BeginResetsAcquireCountsAndForgetsDestroyedSwapchains) {
    const uint64_t left = AddSwapchain(session_);
    const uint64_t right = AddSwapchain(session_);
    state_.swapchains.Find(left)->acquiredThisFrame = 2;
    state_.swapchains.Find(right)->acquiredThisFrame = 1;
    ASSERT_EQ(Frame(session_), XR_SUCCESS);
    EXPECT_EQ(state_.swapchains.Find(left)->acquiredThisFrame, 0);
    EXPECT_EQ(state_.swapchains.Find(right)->acquiredThisFrame, 0);
    ASSERT_EQ(Send(DestroySwapchainRequest {{left}}), XR_SUCCESS);
    for (int frame = 0; frame < 2; ++frame) {
        state_.swapchains.Find(right)->acquiredThisFrame = 3;
        ASSERT_EQ(WaitFrame(session_), XR_SUCCESS);
        EXPECT_EQ(BeginFrame(session_), XR_SUCCESS) << "a destroyed swapchain is no missing one";
        EXPECT_EQ(state_.swapchains.Find(right)->acquiredThisFrame, 0);
        EXPECT_EQ(EndFrame(session_), XR_SUCCESS);
    }
}

TEST_F(FrameLoopTest, LayerChecksInTheirOrder) {
    const uint64_t good = AddSwapchain(session_);
    const uint64_t unreleased = AddSwapchain(session_, 1, false);
    const uint64_t array = AddSwapchain(session_, 2);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float half = std::sqrt(0.5f);
    const XrPosef twice {{0, 0, 0, 2}, {}}, turned {{0, half, 0, half}, {nan, 1e30f, 0}};
    const auto rect = [](int32_t x, int32_t y, int32_t w, int32_t h) { return XrRect2Di {{x, y}, {w, h}}; };
    const auto pose = [](float x, float y, float z, float w) { return XrPosef {{x, y, z, w}, {}}; };
    const struct {
        const char* what;
        Layers layers;
        XrResult expected;
    } cases[] = {
        {"valid projection and quad", Layers().Projection(good).Quad(good, XR_EYE_VISIBILITY_LEFT), XR_SUCCESS},
        {"unit quaternion, any position", Layers().Projection(good, turned), XR_SUCCESS},
        {"one view", Layers().Projection(good, Layers::kIdentity, Layers::kFull, 1), XR_ERROR_VALIDATION_FAILURE},
        {"three views", Layers().Projection(good, Layers::kIdentity, Layers::kFull, 3), XR_ERROR_VALIDATION_FAILURE},
        {"orientation of length 2", Layers().Projection(good, twice), XR_ERROR_POSE_INVALID},
        {"length two floats below 1", Layers().Projection(good, pose(0, 0, 0, 0.9999998f)), XR_ERROR_POSE_INVALID},
        {"NaN orientation", Layers().Projection(good, pose(nan, 0, 0, 1)), XR_ERROR_POSE_INVALID},
        {"infinite orientation", Layers().Projection(good, pose(0, INFINITY, 0, 1)), XR_ERROR_POSE_INVALID},
        {"pose before swapchain", Layers().Projection(999, twice), XR_ERROR_POSE_INVALID},
        {"unknown swapchain", Layers().Projection(999), XR_ERROR_HANDLE_INVALID},
        {"never released", Layers().Projection(unreleased), XR_ERROR_LAYER_INVALID},
        {"wider", Layers().Projection(good, Layers::kIdentity, rect(1, 0, 1920, 8)), XR_ERROR_SWAPCHAIN_RECT_INVALID},
        {"taller", Layers().Projection(good, Layers::kIdentity, rect(0, 2000, 8, 161)), XR_ERROR_SWAPCHAIN_RECT_INVALID},
        {"negative offset", Layers().Projection(good, Layers::kIdentity, rect(0, -1, 8, 8)), XR_ERROR_SWAPCHAIN_RECT_INVALID},
        {"offset that would wrap", Layers().Projection(good, Layers::kIdentity, rect(0x7FFFFFFF, 0, 2, 8)),
         XR_ERROR_SWAPCHAIN_RECT_INVALID},
        {"array index past the array", Layers().Projection(array, Layers::kIdentity, rect(0, 0, 8, 8), 2, 2),
         XR_ERROR_VALIDATION_FAILURE},
        {"last array index", Layers().Projection(array, Layers::kIdentity, rect(0, 0, 8, 8), 2, 1), XR_SUCCESS},
        {"quad eye visibility", Layers().Quad(good, XR_EYE_VISIBILITY_MAX_ENUM), XR_ERROR_LAYER_INVALID},
        {"quad pose", Layers().Quad(good, XR_EYE_VISIBILITY_RIGHT, twice), XR_ERROR_POSE_INVALID},
        {"quad swapchain before pose", Layers().Quad(999, XR_EYE_VISIBILITY_BOTH, twice), XR_ERROR_HANDLE_INVALID},
        {"quad rect", Layers().Quad(good, XR_EYE_VISIBILITY_BOTH, Layers::kIdentity, rect(1900, 0, 64, 8)),
         XR_ERROR_SWAPCHAIN_RECT_INVALID},
        {"other layer type", Layers().HeaderOnly(XR_TYPE_COMPOSITION_LAYER_CUBE_KHR), XR_ERROR_LAYER_INVALID},
    };
    for (const auto& c : cases) {
        // Layers are checked before the frame order, so valid ones meet the unbegun frame.
        EXPECT_EQ(End(c.layers), c.expected == XR_SUCCESS ? XR_ERROR_CALL_ORDER_INVALID : c.expected) << c.what;
        state_.compositor.DrawLayers(session_, SessionPresentTarget(state_, session_));
    }
    // Blend mode and display time come before the layers.
    const Layers other = Layers().HeaderOnly(XR_TYPE_COMPOSITION_LAYER_CUBE_KHR);
    EXPECT_EQ(EndFrame(session_, other.bytes, 1, 1000, XR_ENVIRONMENT_BLEND_MODE_ADDITIVE),
              XR_ERROR_ENVIRONMENT_BLEND_MODE_UNSUPPORTED);
    EXPECT_EQ(EndFrame(session_, other.bytes, 1, 0), XR_ERROR_TIME_INVALID);
}

TEST_F(FrameLoopTest, RefusedFramesLeaveNoLayersAndAcceptedOnesAreBounded) {
    const uint64_t swapchain = AddSwapchain(session_);
    const XrPosef twice {{0, 0, 0, 2}, {}};
    Layers cut = Layers().Quad(swapchain).Projection(swapchain);
    cut.bytes.resize(cut.bytes.size() - 10);
    const Layers good = Layers().Projection(swapchain).Quad(swapchain);
    // Refused for a later layer, for cut bytes, and (many times over) for the frame order.
    ASSERT_EQ(WaitFrame(session_), XR_SUCCESS);
    ASSERT_EQ(BeginFrame(session_), XR_SUCCESS);
    EXPECT_EQ(End(Layers().Projection(swapchain).Quad(swapchain).Quad(swapchain, XR_EYE_VISIBILITY_BOTH, twice)),
              XR_ERROR_POSE_INVALID);
    EXPECT_EQ(End(cut), XR_ERROR_VALIDATION_FAILURE);
    ASSERT_EQ(End(good), XR_SUCCESS);
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(End(good), XR_ERROR_CALL_ORDER_INVALID);
    // Without a graphics device nothing is drawn: accepted frames wait, but only the last few.
    for (int frame = 0; frame < 50; ++frame) {
        ASSERT_EQ(WaitFrame(session_), XR_SUCCESS);
        ASSERT_EQ(BeginFrame(session_), XR_SUCCESS);
        ASSERT_EQ(End(good), XR_SUCCESS);
    }
    EXPECT_LE(state_.compositor.QueuedLayers(), good.count * (Compositor::kHeldFrames + 1));
    // A destroyed session's layers go with it.
    ASSERT_EQ(DestroySession(session_), XR_SUCCESS);
    EXPECT_EQ(state_.compositor.QueuedLayers(), 0u);
}

}  // namespace
}  // namespace qor::test
