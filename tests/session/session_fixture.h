// Shared ground of the session and frame-loop tests: requests go through QorServer::Dispatch
// encoded as the runtime library encodes them, against a system whose display records the
// states it is switched to.
#pragma once

#include "platform/system.h"
#include "protocol/layouts.h"
#include "service/compositor/compositor.h"
#include "service/core/handle_counter.h"
#include "service/core/instance_registry.h"
#include "service/server/qor_server.h"
#include "service/server/service_state.h"
#include "service/driverhost/driver_registry.h"
#include "service/session/session_registry.h"
#include "service/session/swapchain.h"
#include "tests/driverhost/fake_display.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <ostream>
#include <vector>

namespace qor::test {

using namespace protocol;

// A polled event: its type, the session it names (0 for none) and, for a state change, the state.
struct Event {
    uint32_t type = 0;
    uint64_t session = 0;
    XrSessionState state = XR_SESSION_STATE_UNKNOWN;
    bool operator==(const Event&) const = default;
};
inline Event State(uint64_t session, XrSessionState state) { return {XR_TYPE_EVENT_DATA_SESSION_STATE_CHANGED, session, state}; }
inline std::ostream& operator<<(std::ostream& out, const Event& e) {
    return out << "{" << e.type << ", " << std::hex << e.session << std::dec << ", " << e.state << "}";
}
using Events = std::vector<Event>;

class TestSwapchain final : public QorSwapchain {
public:
    bool CreateImages(gpu::Device&) override { return true; }
};

class SessionFixture : public ::testing::Test {
protected:
    void SetUp() override {
        auto system = std::make_unique<SystemEntry>();
        systemId_ = system->systemId = state_.handles.New(kSystemIdBase);
        system->formFactor = XR_FORM_FACTOR_HEAD_MOUNTED_DISPLAY;
        system->viewConfigurations.push_back({XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO, XR_FALSE, {{}, {}}});
        system->display = display_.Component();
        state_.drivers.AddSystem(std::move(system));
    }

    void TearDown() override {
        for (const uint64_t instance : instances_) Send(DestroyInstanceRequest {{instance}});
        for (const uint64_t swapchain : swapchains_) state_.swapchains.Erase(swapchain, platform::ProcessId());
    }

    template <typename Request>
    std::vector<uint8_t> Reply(const Request& request, XrResult* result = nullptr) {
        std::array<uint8_t, kMaxRequestSize> bytes {};
        const uint32_t size = EncodeRequest(request, bytes.data(), bytes.size());
        EXPECT_GT(size, 0u);
        return SendBytes(bytes.data(), size, result);
    }
    std::vector<uint8_t> SendBytes(const uint8_t* bytes, uint32_t size, XrResult* result = nullptr) {
        std::array<uint8_t, kMaxReplySize> reply {};
        uint32_t replySize = 0;
        server_.Dispatch(bytes, size, reply.data(), &replySize);
        if (result != nullptr) std::memcpy(result, reply.data(), sizeof *result);
        return {reply.begin(), reply.begin() + replySize};
    }
    template <typename Request>
    XrResult Send(const Request& request) {
        XrResult result;
        Reply(request, &result);
        return result;
    }
    uint64_t HandleOf(const std::vector<uint8_t>& reply) {
        HandleReply handle;
        EXPECT_TRUE(DecodeReply(reply.data(), reply.size(), &handle));
        return handle.handle;
    }

    uint64_t CreateInstance(const char* name = "app") {
        CreateInstanceRequest request;
        request.info.type = XR_TYPE_INSTANCE_CREATE_INFO;
        std::snprintf(request.applicationName.text.data(), request.applicationName.text.size(), "%s", name);
        request.apiVersion = XR_MAKE_VERSION(1, 0, 17);
        instances_.push_back(HandleOf(Reply(request)));
        return instances_.back();
    }

    CreateSessionRequest SessionRequest(uint64_t instance, uint32_t binding = XR_TYPE_GRAPHICS_BINDING_D3D11_KHR) {
        CreateSessionRequest request {instance, {XR_TYPE_SESSION_CREATE_INFO, 0}, 0, systemId_, {}};
        request.binding = {binding != 0, {{binding, 0}, 0x1234, {binding != XR_TYPE_GRAPHICS_BINDING_D3D11_KHR, 0x5678}}};
        return request;
    }
    uint64_t CreateSession(uint64_t instance) {
        XrResult result;
        const uint64_t handle = HandleOf(Reply(SessionRequest(instance), &result));
        EXPECT_EQ(result, XR_SUCCESS);
        return handle;
    }

    // Every event waiting on the instance, oldest first.
    Events PollEvents(uint64_t instance) {
        Events events;
        for (;;) {
            XrResult result;
            const auto reply = Reply(PollEventRequest {{instance}}, &result);
            if (result != XR_SUCCESS) return events;
            const uint8_t* bytes = reply.data() + 4;
            Event event;
            std::memcpy(&event.type, bytes, sizeof event.type);
            // The three event types that name a session keep it after the (type, next) head.
            if (event.type == XR_TYPE_EVENT_DATA_SESSION_STATE_CHANGED ||
                event.type == XR_TYPE_EVENT_DATA_REFERENCE_SPACE_CHANGE_PENDING ||
                event.type == XR_TYPE_EVENT_DATA_INTERACTION_PROFILE_CHANGED) {
                std::memcpy(&event.session, bytes + 16, sizeof event.session);
            }
            if (event.type == XR_TYPE_EVENT_DATA_SESSION_STATE_CHANGED) {
                EXPECT_EQ(reply.size(), 4u + 40u);
                std::memcpy(&event.state, bytes + offsetof(XrEventDataSessionStateChanged, state), sizeof event.state);
            }
            events.push_back(event);
        }
    }

    // A session that is begun and has its first frame ended (FOCUSED), its events polled.
    uint64_t FocusedSession(uint64_t instance) {
        const uint64_t session = CreateSession(instance);
        EXPECT_EQ(BeginSession(session), XR_SUCCESS);
        EXPECT_EQ(Frame(session), XR_SUCCESS);
        PollEvents(instance);
        return session;
    }

    XrResult BeginSession(uint64_t session, uint32_t type = XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO) {
        return Send(BeginSessionRequest {session, {XR_TYPE_SESSION_BEGIN_INFO, 0}, type});
    }
    XrResult EndSession(uint64_t session) { return Send(EndSessionRequest {{session}}); }
    XrResult RequestExit(uint64_t session) { return Send(RequestExitSessionRequest {{session}}); }
    XrResult DestroySession(uint64_t session) { return Send(DestroySessionRequest {{session}}); }
    XrResult WaitFrame(uint64_t session) { return Send(WaitFrameRequest {session, {}}); }
    XrResult BeginFrame(uint64_t session) { return Send(BeginFrameRequest {session, {}}); }
    XrResult EndFrame(uint64_t session, const std::vector<uint8_t>& layers = {}, uint32_t count = 0,
                      int64_t time = 1000, uint32_t blend = XR_ENVIRONMENT_BLEND_MODE_OPAQUE) {
        return Send(EndFrameRequest {session, {XR_TYPE_FRAME_END_INFO, 0}, time, blend, count, {layers}});
    }
    XrResult Frame(uint64_t session) {
        if (const XrResult result = WaitFrame(session); result != XR_SUCCESS) return result;
        if (const XrResult result = BeginFrame(session); result != XR_SUCCESS) return result;
        return EndFrame(session);
    }

    // A swapchain of the session as the swapchain handlers leave it, an image released unless told.
    uint64_t AddSwapchain(uint64_t session, uint32_t arraySize = 1, bool released = true) {
        auto swapchain = std::make_shared<TestSwapchain>();
        swapchain->session = session;
        swapchain->ownerProcess = platform::ProcessId();
        swapchain->width = 1920;
        swapchain->height = 2160;
        swapchain->arraySize = arraySize;
        swapchain->lastReleased = released ? 0 : -1;
        swapchains_.push_back(state_.swapchains.Insert(swapchain));
        const auto record = state_.sessions.Find(session);
        std::lock_guard lock(record->swapchainsLock);
        record->swapchains.push_back(swapchains_.back());
        return swapchains_.back();
    }

    TempEnvironment environment_;
    FakeDisplay display_;
    // After the display: the drivers' systems point at it until the state goes.
    ServiceState state_;
    QorServer server_ {state_};
    uint64_t systemId_ = 0;
    std::vector<uint64_t> instances_;
    std::vector<uint64_t> swapchains_;
};

// Layer bytes built one layer at a time, as the runtime library writes them.
class Layers {
public:
    static constexpr XrPosef kIdentity {{0, 0, 0, 1}, {0, 0, 0}};
    static constexpr XrRect2Di kFull {{0, 0}, {1920, 2160}};

    Layers& Projection(uint64_t swapchain, XrPosef pose = kIdentity, XrRect2Di rect = kFull, uint32_t viewCount = 2,
                       uint32_t arrayIndex = 0) {
        std::vector<XrCompositionLayerProjectionView> views(viewCount, {XR_TYPE_COMPOSITION_LAYER_PROJECTION_VIEW});
        for (auto& view : views) {
            view.pose = pose;
            view.fov = {-0.5f, 0.5f, 0.4f, -0.4f};
            view.subImage = {reinterpret_cast<XrSwapchain>(swapchain), rect, arrayIndex};
        }
        XrCompositionLayerProjection layer {XR_TYPE_COMPOSITION_LAYER_PROJECTION};
        layer.viewCount = viewCount;
        layer.views = views.data();
        return Append([&](PacketWriter& writer) { return WriteProjectionLayer(writer, layer); });
    }

    Layers& Quad(uint64_t swapchain, XrEyeVisibility visibility = XR_EYE_VISIBILITY_BOTH, XrPosef pose = kIdentity,
                 XrRect2Di rect = {{0, 0}, {64, 64}}) {
        XrCompositionLayerQuad layer {XR_TYPE_COMPOSITION_LAYER_QUAD};
        layer.eyeVisibility = visibility;
        layer.subImage = {reinterpret_cast<XrSwapchain>(swapchain), rect, 0};
        layer.pose = pose;
        layer.size = {1.0f, 0.5f};
        return Append([&](PacketWriter& writer) { return WriteQuadLayer(writer, layer); });
    }

    // A layer header of any type with nothing after it.
    Layers& HeaderOnly(uint32_t type) {
        return Append([&](PacketWriter& writer) {
            FieldWriter fields(writer);
            fields(LayerHeaderRecord {type, 0, 0, 0, 0});
            return writer.ok();
        });
    }

    std::vector<uint8_t> bytes;
    uint32_t count = 0;

private:
    template <typename Write>
    Layers& Append(Write write) {
        std::array<uint8_t, kMaxRequestSize> buffer {};
        PacketWriter writer(buffer.data(), buffer.size());
        EXPECT_TRUE(write(writer));
        bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + writer.size());
        ++count;
        return *this;
    }
};

}  // namespace qor::test
