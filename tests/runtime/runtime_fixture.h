// Runs the runtime library's functions, as the loader hands them out, against FakeService.
#pragma once

#include "gpu/device.h"
#include "runtime/instance_extensions.h"
#include "runtime/local_state.h"
#include "runtime/runtime.h"
#include "tests/runtime/fake_service.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

namespace qor::test {

class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        runtime::LocalState::Get().Clear();
        runtime::InstanceExtensions::Get().Clear();
    }
    void TearDown() override {
        runtime::LocalState::Get().Clear();
        runtime::InstanceExtensions::Get().Clear();
    }

    // A function of the library's table, looked up with an instance as the loader does.
    template <typename Function>
    Function Get(const char* name) {
        PFN_xrVoidFunction function = nullptr;
        const XrResult result = runtime::GetInstanceProcAddr(kInstance, name, &function);
        EXPECT_EQ(result, XR_SUCCESS) << name;
        return reinterpret_cast<Function>(function);
    }

    // The request bytes without the 4-byte operation code, with the code checked.
    Bytes BodyOf(const Bytes& request, uint32_t expectedCode) {
        EXPECT_GE(request.size(), 4u);
        if (request.size() < 4) return {};
        uint32_t code;
        std::memcpy(&code, request.data(), 4);
        EXPECT_EQ(code, expectedCode);
        return Bytes(request.begin() + 4, request.end());
    }

    // A device as an application hands it over in its binding (the soft GPU's application
    // device, or Direct3D on Windows); null where the platform cannot make one.
    void* AppDevice(gpu::Api api) {
        auto& device = api == gpu::Api::D3D11 ? d3d11Device_ : d3d12Device_;
        if (!device) {
            std::string error;
            device = gpu::CreateDevice(api, 0, &error);
        }
        return device ? device->NativeDevice() : nullptr;
    }

    // The queue an application puts beside its Direct3D 12 device: the device's own on
    // Windows; the soft GPU has no queues, so any value stands for one there.
    void* AppQueue() {
        AppDevice(gpu::Api::D3D12);
        if (d3d12Device_ && d3d12Device_->NativeContext() != nullptr) return d3d12Device_->NativeContext();
        return reinterpret_cast<void*>(uintptr_t {0x0E0E});
    }

    // Both kinds of application device exist (Direct3D needs a display under Wine).
    bool HaveAppDevices() { return AppDevice(gpu::Api::D3D11) != nullptr && AppDevice(gpu::Api::D3D12) != nullptr; }

    static inline const XrInstance kInstance = reinterpret_cast<XrInstance>(uint64_t {0x1000001});
    static inline const XrSession kSession = reinterpret_cast<XrSession>(uint64_t {0x3000005});

    TempEnvironment environment_;
    FakeService service_;
    std::unique_ptr<gpu::Device> d3d11Device_;
    std::unique_ptr<gpu::Device> d3d12Device_;
};

}  // namespace qor::test
