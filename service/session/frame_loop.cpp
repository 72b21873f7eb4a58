// The frame loop: xrWaitFrame pacing, xrBeginFrame and xrEndFrame with layer validation and
// the hand-over of layers to the compositor.
#include "protocol/layouts.h"
#include "service/compositor/compositor.h"
#include "service/server/ownership.h"
#include "service/core/service_clock.h"
#include "service/session/frame_counters.h"
#include "service/server/handlers.h"
#include "service/server/service_state.h"
#include "service/session/session_present_target.h"
#include "service/session/session_state.h"
#include "service/session/swapchain.h"

#include <chrono>
#include <cmath>
#include <new>

namespace qor {

using namespace protocol;

namespace {
// The display is paced at 90 Hz: one period is 11111111 ns.
constexpr int64_t kPredictedDisplayPeriod = 1'000'000'000 / 90;
// A waited frame is predicted to be shown two thirds of a period ahead (7407407 ns), added
// unchanged to the service clock's reading, which counts microseconds.
constexpr int64_t kPredictedDisplayOffset = kPredictedDisplayPeriod * 2 / 3;
static_assert(kPredictedDisplayPeriod == 11111111 && kPredictedDisplayOffset == 7407407);
constexpr auto kEyeVisibilityMaxEnum = static_cast<uint32_t>(XR_EYE_VISIBILITY_MAX_ENUM);
// A blocked wait re-checks its condition at least this often, whatever wakes it.
constexpr auto kWaitRecheck = std::chrono::milliseconds(50);

// The length is taken in double from the single-precision components and rounded back, so an
// orientation normalised in single precision passes; the bounds are 1's float neighbours.
bool PoseValid(const XrPosef& pose) {
    const XrQuaternionf& q = pose.orientation;
    if (!std::isfinite(q.x) || !std::isfinite(q.y) || !std::isfinite(q.z) || !std::isfinite(q.w)) return false;
    const double squares = double(q.x) * q.x + double(q.y) * q.y + double(q.z) * q.z + double(q.w) * q.w;
    const float length = static_cast<float>(std::sqrt(squares));
    return length >= 0.9999999f && length <= 1.0000001f;
}

// The layers of one xrEndFrame; they reach the compositor only when the whole call succeeds.
using FrameLayers = std::vector<std::unique_ptr<CompositorLayer>>;

// `image` receives the swapchain the layer draws from.
XrResult CheckSubImage(const Caller& caller, uint64_t handle, const XrRect2Di& rect, uint32_t arrayIndex,
                       LayerImage* image) {
    // Another process's swapchain is not drawn in this one's frame.
    const auto swapchain = OwnedOnly(caller, caller.state.swapchains.Find(handle));
    if (!swapchain) return XR_ERROR_HANDLE_INVALID;
    if (swapchain->lastReleased == -1) return XR_ERROR_LAYER_INVALID;
    // In 64 bits, so offsets near the i32 limit cannot wrap past the check.
    if (rect.offset.x < 0 || rect.offset.y < 0 ||
        int64_t(rect.offset.x) + rect.extent.width > int64_t(swapchain->width) ||
        int64_t(rect.offset.y) + rect.extent.height > int64_t(swapchain->height)) {
        return XR_ERROR_SWAPCHAIN_RECT_INVALID;
    }
    if (uint64_t(arrayIndex) + 1 > swapchain->arraySize) return XR_ERROR_VALIDATION_FAILURE;
    *image = swapchain;
    return XR_SUCCESS;
}

XrResult CheckProjectionView(const Caller& caller, const ProjectionViewRecord& view, LayerImage* image) {
    if (!PoseValid(view.pose)) return XR_ERROR_POSE_INVALID;
    return CheckSubImage(caller, view.swapchain, view.imageRect, view.imageArrayIndex, image);
}

std::unique_ptr<CompositorLayer> LayerOf(const LayerHeaderRecord& header) {
    auto layer = std::make_unique<CompositorLayer>();
    layer->type = header.type;
    layer->next = header.next;
    layer->layerFlags = header.layerFlags;
    layer->space = header.space;
    return layer;
}

// Reads and checks one layer and adds it to `layers`; the reader stands at its header.
XrResult TakeLayer(const Caller& caller, FieldReader& fields, PacketReader& reader, FrameLayers& layers) {
    LayerHeaderRecord header;
    fields(header);
    if (!reader.ok()) return XR_ERROR_VALIDATION_FAILURE;
    if (header.type == XR_TYPE_COMPOSITION_LAYER_PROJECTION) {
        if (header.ViewCount() != kProjectionViewCount) return XR_ERROR_VALIDATION_FAILURE;
        ProjectionViewRecord views[kProjectionViewCount];
        for (auto& view : views) fields(view);
        if (!reader.ok()) return XR_ERROR_VALIDATION_FAILURE;
        LayerImage images[kProjectionViewCount];
        for (uint32_t i = 0; i < kProjectionViewCount; ++i) {
            if (const XrResult result = CheckProjectionView(caller, views[i], &images[i]); XR_FAILED(result)) {
                return result;
            }
        }
        auto layer = LayerOf(header);
        layer->viewCount = kProjectionViewCount;
        for (uint32_t i = 0; i < kProjectionViewCount; ++i) {
            CompositorView& out = layer->views[i];
            out.type = views[i].header.type;
            out.next = views[i].header.next;
            out.pose = views[i].pose;
            out.fov = views[i].fov;
            out.image = std::move(images[i]);
            out.imageRect = views[i].imageRect;
            out.imageArrayIndex = views[i].imageArrayIndex;
        }
        layers.push_back(std::move(layer));
        return XR_SUCCESS;
    }
    if (header.type == XR_TYPE_COMPOSITION_LAYER_QUAD) {
        if (header.EyeVisibility() == kEyeVisibilityMaxEnum) return XR_ERROR_LAYER_INVALID;
        QuadLayerBodyRecord body;
        fields(body);
        if (!reader.ok()) return XR_ERROR_VALIDATION_FAILURE;
        LayerImage image;
        if (const XrResult result = CheckSubImage(caller, body.swapchain, body.imageRect, body.imageArrayIndex, &image);
            XR_FAILED(result)) {
            return result;
        }
        if (!PoseValid(body.pose)) return XR_ERROR_POSE_INVALID;
        auto layer = LayerOf(header);
        layer->eyeVisibility = static_cast<int32_t>(header.EyeVisibility());
        layer->image = std::move(image);
        layer->imageRect = body.imageRect;
        layer->imageArrayIndex = body.imageArrayIndex;
        layer->pose = body.pose;
        layer->size = body.size;
        layers.push_back(std::move(layer));
        return XR_SUCCESS;
    }
    return XR_ERROR_LAYER_INVALID;
}

}  // namespace

XrResult HandleWaitFrame(const Caller& caller, const WaitFrameRequest& message, Reply& reply) {
    const auto session = OwnedOnly(caller, caller.state.sessions.Find(message.session));
    if (!session) return XR_ERROR_HANDLE_INVALID;
    if (!session->running) return XR_ERROR_SESSION_NOT_RUNNING;

    FrameStateRecord state;
    state.header.type = XR_TYPE_FRAME_STATE;
    state.predictedDisplayTime = caller.state.clock.NowMicroseconds() + kPredictedDisplayOffset;
    state.predictedDisplayPeriod = kPredictedDisplayPeriod;
    state.shouldRender = XR_TRUE;

    if (session->waitCounter != 0) {
        // Until the previous wait's frame has been begun. An ended or destroyed session ends
        // the wait, and so does a client that went away or a service that stops, so no request
        // thread stays blocked on a frame that will never begin.
        std::unique_lock lock(session->frameMutex);
        while (session->waitCounter != session->beginCounter) {
            if (session->removed) return XR_ERROR_HANDLE_INVALID;
            if (!session->running) return XR_ERROR_SESSION_NOT_RUNNING;
            if (caller.client.Gone()) return XR_ERROR_RUNTIME_FAILURE;  // nobody reads the answer
            session->frameChanged.wait_for(lock, kWaitRecheck);
        }
    }
    session->waitCounter = NextFrameCount(session->waitCounter);
    reply.Encode(state);
    return XR_SUCCESS;
}

XrResult HandleBeginFrame(const Caller& caller, const BeginFrameRequest& message, Reply&) {
    const auto session = OwnedOnly(caller, caller.state.sessions.Find(message.session));
    if (!session) return XR_ERROR_HANDLE_INVALID;
    if (!session->running) return XR_ERROR_SESSION_NOT_RUNNING;

    const uint16_t waited = session->waitCounter;
    const uint16_t begun = session->beginCounter;
    const uint16_t ended = session->endCounter;
    if (waited == 0 || ended == waited || begun == waited) return XR_ERROR_CALL_ORDER_INVALID;
    if (FrameBehind(ended, begun)) {
        // The previous frame was never ended: this begin is dropped and its wait given back.
        session->waitCounter = PreviousFrameCount(waited);
        WakeFrameWaiters(*session);
        return XR_FRAME_DISCARDED;
    }
    session->beginCounter = NextFrameCount(begun);
    WakeFrameWaiters(*session);

    std::vector<uint64_t> swapchains;
    {
        std::lock_guard lock(session->swapchainsLock);
        swapchains = session->swapchains;
    }
    bool anyMissing = false;
    for (const uint64_t handle : swapchains) {
        if (const auto swapchain = caller.state.swapchains.Find(handle)) {
            swapchain->acquiredThisFrame = 0;
        } else {
            anyMissing = true;
        }
    }
    return anyMissing ? XR_FRAME_DISCARDED : XR_SUCCESS;
}

XrResult HandleEndFrame(const Caller& caller, const EndFrameRequest& message, Reply&) {
    const auto session = OwnedOnly(caller, caller.state.sessions.Find(message.session));
    if (!session) return XR_ERROR_HANDLE_INVALID;
    if (message.environmentBlendMode != XR_ENVIRONMENT_BLEND_MODE_OPAQUE) {
        return XR_ERROR_ENVIRONMENT_BLEND_MODE_UNSUPPORTED;
    }
    if (message.displayTime == 0) return XR_ERROR_TIME_INVALID;

    PacketReader reader(message.layers.bytes.data(), message.layers.bytes.size());
    FieldReader fields(reader);
    FrameLayers layers;
    for (uint32_t i = 0; i < message.layerCount; ++i) {
        if (const XrResult result = TakeLayer(caller, fields, reader, layers); XR_FAILED(result)) return result;
    }

    const uint16_t ended = session->endCounter;
    if (session->beginCounter != NextFrameCount(ended)) return XR_ERROR_CALL_ORDER_INVALID;
    session->endCounter = NextFrameCount(ended);
    if (!session->firstFrameEnded.exchange(true)) RunFirstFrameTransitions(*session);
    // Only a frame that was accepted is handed over, and drawn at once: refused calls leave
    // nothing behind.
    Compositor& compositor = caller.state.compositor;
    for (auto& layer : layers) compositor.AddLayer(session->handle, std::move(layer));
    compositor.DrawLayers(session->handle, SessionPresentTarget(caller.state, session->handle));
    return XR_SUCCESS;
}

}  // namespace qor
