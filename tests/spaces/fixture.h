// Shared ground of the space and swapchain tests: requests through the dispatcher, sessions
// put straight into the registry, a display component whose eyes the test sets, and a
// service device that records the textures made on it.
#pragma once

#include "driver_api/driver_interfaces.h"
#include "platform/system.h"
#include "protocol/layouts.h"
#include "service/core/handle_counter.h"
#include "service/server/qor_server.h"
#include "service/server/service_state.h"
#include "service/driverhost/driver_registry.h"
#include "service/driverhost/graphics_devices.h"
#include "service/session/session_registry.h"
#include "service/session/space_table.h"
#include "service/session/swapchain.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace qor::test {

using namespace protocol;

struct Answer {
    XrResult result = XR_SUCCESS;
    std::vector<uint8_t> reply;  // the whole reply, result included
};

class FakeEyes final : public IQorDisplayComponent {
public:
    XrView eyes[2] {{XR_TYPE_VIEW}, {XR_TYPE_VIEW}};
    uint32_t count = 2;
    DriverResult result = kDriverOk;
    std::vector<uint32_t> capacities;  // one per call

    void SetEyes(XrQuaternionf orientation, XrVector3f left, XrVector3f right) {
        eyes[0] = {XR_TYPE_VIEW, nullptr, {orientation, left}, {-0.5f, 0.4f, 0.3f, -0.2f}};
        eyes[1] = {XR_TYPE_VIEW, nullptr, {orientation, right}, {-0.4f, 0.5f, 0.3f, -0.2f}};
    }
    DriverResult LocateViews(uint32_t capacity, uint32_t* out, XrView* views) override {
        capacities.push_back(capacity);
        *out = count;
        for (uint32_t i = 0; result == kDriverOk && i < 2 && i < capacity; ++i) {
            views[i].pose = eyes[i].pose;
            views[i].fov = eyes[i].fov;
        }
        return result;
    }
    void GetFormFactor(int32_t*) override {}
    void GetTrackingProperties(TrackingProperties*) override {}
    DriverResult EnumerateViewConfigurations(uint32_t, uint32_t*, int32_t*) override { return kDriverOk; }
    void GetRecommendedRenderSize(uint32_t*, uint32_t*) override {}
    void GetEyeFov(uint32_t, float*, float*, float*, float*) override {}
    void PresentFrame(uint64_t) override {}
    void SetDisplayState(int32_t) override {}
};

// What the device saw of one texture; outlives the texture.
struct TextureRecord {
    gpu::TextureDesc desc;
    uint32_t srvFormat = 0;
    uint32_t dsvFormat = 0;
    uint64_t handle = 0;
    std::u16string name;
    bool destroyed = false;
};

class FakeTexture final : public gpu::Texture {
public:
    FakeTexture(std::shared_ptr<TextureRecord> record, bool refuseViews, bool refuseShare)
        : r_(std::move(record)), refuseViews_(refuseViews), refuseShare_(refuseShare) {}
    ~FakeTexture() override { r_->destroyed = true; }
    const gpu::TextureDesc& Desc() const override { return r_->desc; }
    bool CreateShaderResourceView(uint32_t format) override { return !refuseViews_ && (r_->srvFormat = format, true); }
    bool CreateRenderTargetView(uint32_t) override { return true; }
    bool CreateDepthStencilView(uint32_t format) override { return r_->dsvFormat = format, true; }
    bool HasShaderResourceView() const override { return r_->srvFormat != 0; }
    uint64_t SharedHandle() override { return refuseShare_ ? 0 : r_->handle; }
    bool ShareByName(std::u16string_view name) override { return !refuseShare_ && (r_->name = name, true); }
    uint32_t AcquireSync(uint64_t, uint32_t) override { return gpu::kSyncFailed; }
    bool ReleaseSync(uint64_t) override { return false; }
    bool ReadPixels(uint32_t, std::vector<uint8_t>*) override { return false; }
    bool WritePixels(uint32_t, const uint8_t*, size_t) override { return false; }
    void* Native() override { return this; }

private:
    std::shared_ptr<TextureRecord> r_;
    bool refuseViews_;
    bool refuseShare_;
};

class FakeDevice final : public gpu::Device {
public:
    std::mutex mutex;
    std::vector<std::shared_ptr<TextureRecord>> textures;  // one per texture made
    int calls = 0;  // CreateTexture calls; the three below name the call whose step fails
    int refuseTextureAt = -1;
    int refuseViewsAt = -1;
    int refuseShareAt = -1;

    gpu::Api Kind() const override { return gpu::Api::D3D11; }
    uint64_t AdapterLuid() const override { return 0; }
    void* NativeDevice() const override { return nullptr; }
    void* NativeContext() const override { return nullptr; }
    std::unique_ptr<gpu::Texture> CreateTexture(const gpu::TextureDesc& desc) override {
        std::lock_guard lock(mutex);
        const int call = calls++;
        if (call == refuseTextureAt) return nullptr;
        textures.push_back(std::make_shared<TextureRecord>(TextureRecord {desc, 0, 0, 0x4000u + 4u * call, {}, false}));
        return std::make_unique<FakeTexture>(textures.back(), call == refuseViewsAt, call == refuseShareAt);
    }
    std::unique_ptr<gpu::Texture> OpenSharedTexture(uint64_t) override { return nullptr; }
    std::unique_ptr<gpu::Texture> OpenSharedTextureByName(std::u16string_view) override { return nullptr; }
    void Flush() override {}
    void WaitIdle() override {}
};

class ServiceFixture : public ::testing::Test {
protected:
    void SetUp() override {
        auto device = std::make_unique<FakeDevice>();
        device_ = device.get();
        state_.graphics.d3d11Device = std::move(device);
        auto system = std::make_unique<SystemEntry>();
        system->systemId = systemId_ = state_.handles.New(kSystemIdBase);
        system->display = &eyes_;
        state_.drivers.AddSystem(std::move(system));
    }
    std::shared_ptr<Session> AddSession(gpu::Api graphicsApi = gpu::Api::D3D11) {
        auto session = std::make_shared<Session>();
        session->handle = state_.handles.New(kSessionHandleBase);
        session->ownerProcess = platform::ProcessId();
        session->systemId = systemId_;
        session->graphicsApi = graphicsApi;
        std::lock_guard lock(state_.sessions.Mutex());
        state_.sessions.SessionsLocked()[session->handle] = session;
        return session;
    }

    template <typename Request>
    Answer Send(const Request& request) {
        std::array<uint8_t, kMaxRequestSize> bytes {};
        const uint32_t size = EncodeRequest(request, bytes.data(), bytes.size());
        EXPECT_GT(size, 0u);
        return SendBytes(bytes.data(), size);
    }
    Answer SendBytes(const uint8_t* bytes, uint32_t size) {
        std::array<uint8_t, kMaxReplySize> reply {};
        uint32_t replySize = 0;
        server_.Dispatch(bytes, size, reply.data(), &replySize);
        Answer answer;
        std::memcpy(&answer.result, reply.data(), 4);
        answer.reply.assign(reply.begin(), reply.begin() + replySize);
        return answer;
    }
    template <typename Reply>
    static Reply Decode(const Answer& answer) {
        Reply reply;
        EXPECT_TRUE(DecodeReply(answer.reply.data(), answer.reply.size(), &reply));
        return reply;
    }
    uint64_t HandleOf(const Answer& answer) {
        EXPECT_EQ(answer.result, XR_SUCCESS);
        return Decode<HandleReply>(answer).handle;
    }

    TempEnvironment environment_;
    FakeEyes eyes_;
    // After the eyes: the drivers' system points at them until the state goes.
    ServiceState state_;
    QorServer server_ {state_};
    FakeDevice* device_ = nullptr;
    uint64_t systemId_ = 0;
};

}  // namespace qor::test
