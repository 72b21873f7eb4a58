#include "tests/support/soft_session.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace qor::test {

namespace {

// XR_KHR_D3D11_enable's structures in their memory layout.
struct GraphicsBindingD3D11 {
    XrStructureType type;
    const void* next;
    void* device;
};
struct GraphicsRequirementsD3D11 {
    XrStructureType type;
    void* next;
    uint64_t adapterLuid;
    int32_t minFeatureLevel;
};
using GetRequirements = XrResult(XRAPI_PTR*)(XrInstance, XrSystemId, GraphicsRequirementsD3D11*);

}  // namespace

void CreateSoftSession(const char* applicationName, SoftSession* out) {
    XrInstanceCreateInfo createInfo {XR_TYPE_INSTANCE_CREATE_INFO};
    std::strncpy(createInfo.applicationInfo.applicationName, applicationName, XR_MAX_APPLICATION_NAME_SIZE - 1);
    createInfo.applicationInfo.apiVersion = XR_MAKE_VERSION(1, 0, 17);
    const char* extensions[] = {"XR_KHR_D3D11_enable"};
    createInfo.enabledExtensionCount = 1;
    createInfo.enabledExtensionNames = extensions;
    ASSERT_EQ(xrCreateInstance(&createInfo, &out->instance), XR_SUCCESS);

    XrSystemGetInfo getInfo {XR_TYPE_SYSTEM_GET_INFO};
    getInfo.formFactor = XR_FORM_FACTOR_HEAD_MOUNTED_DISPLAY;
    ASSERT_EQ(xrGetSystem(out->instance, &getInfo, &out->system), XR_SUCCESS);
    PFN_xrVoidFunction function = nullptr;
    ASSERT_EQ(xrGetInstanceProcAddr(out->instance, "xrGetD3D11GraphicsRequirementsKHR", &function), XR_SUCCESS);
    GraphicsRequirementsD3D11 requirements {XR_TYPE_GRAPHICS_REQUIREMENTS_D3D11_KHR, nullptr, 0, 0};
    ASSERT_EQ(reinterpret_cast<GetRequirements>(function)(out->instance, out->system, &requirements), XR_SUCCESS);

    std::string error;
    out->device = gpu::CreateDevice(gpu::Api::D3D11, requirements.adapterLuid, &error);
    ASSERT_TRUE(out->device) << error;
    const GraphicsBindingD3D11 binding {XR_TYPE_GRAPHICS_BINDING_D3D11_KHR, nullptr, out->device->NativeDevice()};
    XrSessionCreateInfo sessionInfo {XR_TYPE_SESSION_CREATE_INFO};
    sessionInfo.next = &binding;
    sessionInfo.systemId = out->system;
    ASSERT_EQ(xrCreateSession(out->instance, &sessionInfo, &out->session), XR_SUCCESS);
}

bool RunEmptyFrame(SoftSession& app) {
    XrEventDataBuffer event {XR_TYPE_EVENT_DATA_BUFFER};
    while (xrPollEvent(app.instance, &event) == XR_SUCCESS) {
        const auto& changed = reinterpret_cast<const XrEventDataSessionStateChanged&>(event);
        if (event.type == XR_TYPE_EVENT_DATA_SESSION_STATE_CHANGED && changed.state == XR_SESSION_STATE_READY) {
            XrSessionBeginInfo begin {XR_TYPE_SESSION_BEGIN_INFO};
            begin.primaryViewConfigurationType = XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO;
            EXPECT_EQ(xrBeginSession(app.session, &begin), XR_SUCCESS);
            app.running = true;
        }
        event = {XR_TYPE_EVENT_DATA_BUFFER};
    }
    if (!app.running) return false;
    XrFrameWaitInfo waitInfo {XR_TYPE_FRAME_WAIT_INFO};
    XrFrameState frameState {XR_TYPE_FRAME_STATE};
    EXPECT_EQ(xrWaitFrame(app.session, &waitInfo, &frameState), XR_SUCCESS);
    XrFrameBeginInfo beginInfo {XR_TYPE_FRAME_BEGIN_INFO};
    EXPECT_TRUE(XR_SUCCEEDED(xrBeginFrame(app.session, &beginInfo)));
    XrFrameEndInfo endInfo {XR_TYPE_FRAME_END_INFO};
    endInfo.displayTime = frameState.predictedDisplayTime;
    endInfo.environmentBlendMode = XR_ENVIRONMENT_BLEND_MODE_OPAQUE;
    EXPECT_EQ(xrEndFrame(app.session, &endInfo), XR_SUCCESS);
    return true;
}

}  // namespace qor::test
