// xr_demo: an OpenXR application through the Khronos loader with a Direct3D 11 binding
// (on Linux the soft GPU's application device). It runs the whole session life cycle and a
// frame loop of N frames that renders a small stereo scene, then shuts down cleanly.
//   xr_demo [--frames N]
#include "app_graphics.h"
#include "demo_input.h"
#include "scene.h"
#include "xr_check.h"

#include <openxr/openxr.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

// The D3D11 structures of XR_KHR_D3D11_enable in their memory layout; the Direct3D headers
// are not needed to fill them.
struct GraphicsBindingD3D11 {
    XrStructureType type;
    const void* next;
    void* device;
};
struct SwapchainImageD3D11 {
    XrStructureType type;
    void* next;
    void* texture;
};
struct GraphicsRequirementsD3D11 {
    XrStructureType type;
    void* next;
    uint64_t adapterLuid;
    int32_t minFeatureLevel;
};

constexpr int64_t kSrgbFormat = 29;  // DXGI_FORMAT_R8G8B8A8_UNORM_SRGB

using xr_demo::Check;
using xr_demo::Failure;

template <typename Function>
Function Lookup(XrInstance instance, const char* name) {
    PFN_xrVoidFunction function = nullptr;
    Check(xrGetInstanceProcAddr(instance, name, &function), name);
    return reinterpret_cast<Function>(function);
}

struct EyeSwapchain {
    XrSwapchain handle = XR_NULL_HANDLE;
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<SwapchainImageD3D11> images;
};

class Demo {
public:
    explicit Demo(uint32_t frames) : frames_(frames) {}

    void Run() {
        CreateInstance();
        CreateSession();
        CreateSwapchains();
        Loop();
        Shutdown();
    }

    // Tears down whatever exists, after a failure too.
    void Cleanup() {
        input_.Destroy();
        for (auto& eye : eyes_) {
            if (eye.handle != XR_NULL_HANDLE) xrDestroySwapchain(eye.handle);
            eye.handle = XR_NULL_HANDLE;
        }
        if (local_ != XR_NULL_HANDLE) xrDestroySpace(local_);
        local_ = XR_NULL_HANDLE;
        if (session_ != XR_NULL_HANDLE) xrDestroySession(session_);
        session_ = XR_NULL_HANDLE;
        if (instance_ != XR_NULL_HANDLE) xrDestroyInstance(instance_);
        instance_ = XR_NULL_HANDLE;
    }

private:
    void CreateInstance() {
        XrInstanceCreateInfo info {XR_TYPE_INSTANCE_CREATE_INFO};
        std::strcpy(info.applicationInfo.applicationName, "xr_demo");
        std::strcpy(info.applicationInfo.engineName, "xr_demo");
        info.applicationInfo.apiVersion = XR_MAKE_VERSION(1, 0, 17);
        const char* extensions[] = {"XR_KHR_D3D11_enable"};
        info.enabledExtensionCount = 1;
        info.enabledExtensionNames = extensions;
        Check(xrCreateInstance(&info, &instance_), "xrCreateInstance");
        XrSystemGetInfo getInfo {XR_TYPE_SYSTEM_GET_INFO};
        getInfo.formFactor = XR_FORM_FACTOR_HEAD_MOUNTED_DISPLAY;
        Check(xrGetSystem(instance_, &getInfo, &system_), "xrGetSystem");
        XrSystemProperties properties {XR_TYPE_SYSTEM_PROPERTIES};
        Check(xrGetSystemProperties(instance_, system_, &properties), "xrGetSystemProperties");
        std::printf("xr_demo: system \"%s\"\n", properties.systemName);
    }

    void CreateSession() {
        auto requirementsFn = Lookup<XrResult(XRAPI_PTR*)(XrInstance, XrSystemId, GraphicsRequirementsD3D11*)>(
            instance_, "xrGetD3D11GraphicsRequirementsKHR");
        GraphicsRequirementsD3D11 requirements {XR_TYPE_GRAPHICS_REQUIREMENTS_D3D11_KHR};
        Check(requirementsFn(instance_, system_, &requirements), "xrGetD3D11GraphicsRequirementsKHR");
        std::string error;
        graphics_ = xr_demo::CreateAppGraphics(requirements.adapterLuid, &error);
        if (!graphics_) throw Failure("no graphics device: " + error);

        GraphicsBindingD3D11 binding {XR_TYPE_GRAPHICS_BINDING_D3D11_KHR, nullptr, graphics_->Device()};
        XrSessionCreateInfo info {XR_TYPE_SESSION_CREATE_INFO};
        info.next = &binding;
        info.systemId = system_;
        Check(xrCreateSession(instance_, &info, &session_), "xrCreateSession");

        XrReferenceSpaceCreateInfo spaceInfo {XR_TYPE_REFERENCE_SPACE_CREATE_INFO};
        spaceInfo.referenceSpaceType = XR_REFERENCE_SPACE_TYPE_LOCAL;
        spaceInfo.poseInReferenceSpace.orientation.w = 1.0f;
        Check(xrCreateReferenceSpace(session_, &spaceInfo, &local_), "xrCreateReferenceSpace");
        input_.Create(instance_, session_);
    }

    void CreateSwapchains() {
        uint32_t count = 0;
        Check(xrEnumerateViewConfigurationViews(instance_, system_, XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO, 0, &count,
                                                nullptr),
              "xrEnumerateViewConfigurationViews");
        std::vector<XrViewConfigurationView> views(count, {XR_TYPE_VIEW_CONFIGURATION_VIEW});
        Check(xrEnumerateViewConfigurationViews(instance_, system_, XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO, count,
                                                &count, views.data()),
              "xrEnumerateViewConfigurationViews");
        if (count != 2) throw Failure("expected two views, got " + std::to_string(count));
        for (uint32_t eye = 0; eye < 2; ++eye) {
            XrSwapchainCreateInfo info {XR_TYPE_SWAPCHAIN_CREATE_INFO};
            info.usageFlags = XR_SWAPCHAIN_USAGE_COLOR_ATTACHMENT_BIT | XR_SWAPCHAIN_USAGE_SAMPLED_BIT;
            info.format = kSrgbFormat;
            info.sampleCount = 1;
            info.width = views[eye].recommendedImageRectWidth;
            info.height = views[eye].recommendedImageRectHeight;
            info.faceCount = 1;
            info.arraySize = 1;
            info.mipCount = 1;
            EyeSwapchain& swapchain = eyes_[eye];
            Check(xrCreateSwapchain(session_, &info, &swapchain.handle), "xrCreateSwapchain");
            swapchain.width = info.width;
            swapchain.height = info.height;
            uint32_t images = 0;
            Check(xrEnumerateSwapchainImages(swapchain.handle, 0, &images, nullptr), "xrEnumerateSwapchainImages");
            swapchain.images.assign(images, {XR_TYPE_SWAPCHAIN_IMAGE_D3D11_KHR});
            Check(xrEnumerateSwapchainImages(swapchain.handle, images, &images,
                                             reinterpret_cast<XrSwapchainImageBaseHeader*>(swapchain.images.data())),
                  "xrEnumerateSwapchainImages");
        }
        std::printf("xr_demo: two swapchains of %ux%u\n", eyes_[0].width, eyes_[0].height);
    }

    // Drains the event queue; returns false once the session has reached EXITING.
    bool HandleEvents() {
        for (;;) {
            XrEventDataBuffer event {XR_TYPE_EVENT_DATA_BUFFER};
            const XrResult result = xrPollEvent(instance_, &event);
            if (result == XR_EVENT_UNAVAILABLE) return state_ != XR_SESSION_STATE_EXITING;
            Check(result, "xrPollEvent");
            if (event.type != XR_TYPE_EVENT_DATA_SESSION_STATE_CHANGED) continue;
            const auto& changed = reinterpret_cast<const XrEventDataSessionStateChanged&>(event);
            state_ = changed.state;
            std::printf("xr_demo: session state %d\n", static_cast<int>(state_));
            if (state_ == XR_SESSION_STATE_READY) {
                XrSessionBeginInfo begin {XR_TYPE_SESSION_BEGIN_INFO};
                begin.primaryViewConfigurationType = XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO;
                Check(xrBeginSession(session_, &begin), "xrBeginSession");
                running_ = true;
            } else if (state_ == XR_SESSION_STATE_STOPPING) {
                Check(xrEndSession(session_), "xrEndSession");
                running_ = false;
            }
        }
    }

    void RenderFrame(const XrFrameState& frameState) {
        XrViewLocateInfo locate {XR_TYPE_VIEW_LOCATE_INFO};
        locate.viewConfigurationType = XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO;
        locate.displayTime = frameState.predictedDisplayTime;
        locate.space = local_;
        XrViewState viewState {XR_TYPE_VIEW_STATE};
        XrView views[2] {{XR_TYPE_VIEW}, {XR_TYPE_VIEW}};
        uint32_t viewCount = 0;
        Check(xrLocateViews(session_, &locate, &viewState, 2, &viewCount, views), "xrLocateViews");

        XrCompositionLayerProjectionView projectionViews[2] {{XR_TYPE_COMPOSITION_LAYER_PROJECTION_VIEW},
                                                             {XR_TYPE_COMPOSITION_LAYER_PROJECTION_VIEW}};
        // The two eyes are drawn at once, the second on a thread of its own; the OpenXR calls
        // stay on this thread. The images are kept from frame to frame.
        for (uint32_t eye = 0; eye < 2; ++eye) {
            eyeImages_[eye].width = eyes_[eye].width;
            eyeImages_[eye].height = eyes_[eye].height;
        }
        std::thread secondEye([&] { xr_demo::RenderEye(views[1].pose, views[1].fov, frame_, &eyeImages_[1]); });
        xr_demo::RenderEye(views[0].pose, views[0].fov, frame_, &eyeImages_[0]);
        secondEye.join();
        for (uint32_t eye = 0; eye < 2; ++eye) {
            EyeSwapchain& swapchain = eyes_[eye];
            uint32_t index = 0;
            Check(xrAcquireSwapchainImage(swapchain.handle, nullptr, &index), "xrAcquireSwapchainImage");
            XrSwapchainImageWaitInfo wait {XR_TYPE_SWAPCHAIN_IMAGE_WAIT_INFO};
            wait.timeout = XR_INFINITE_DURATION;
            Check(xrWaitSwapchainImage(swapchain.handle, &wait), "xrWaitSwapchainImage");
            const xr_demo::EyeImage& image = eyeImages_[eye];
            if (index >= swapchain.images.size() || !graphics_->WriteImage(swapchain.images[index].texture, image)) {
                throw Failure("could not write swapchain image " + std::to_string(index));
            }
            Check(xrReleaseSwapchainImage(swapchain.handle, nullptr), "xrReleaseSwapchainImage");
            projectionViews[eye].pose = views[eye].pose;
            projectionViews[eye].fov = views[eye].fov;
            projectionViews[eye].subImage.swapchain = swapchain.handle;
            projectionViews[eye].subImage.imageRect = {{0, 0},
                                                       {static_cast<int32_t>(swapchain.width),
                                                        static_cast<int32_t>(swapchain.height)}};
        }
        XrCompositionLayerProjection layer {XR_TYPE_COMPOSITION_LAYER_PROJECTION};
        layer.space = local_;
        layer.viewCount = 2;
        layer.views = projectionViews;
        const XrCompositionLayerBaseHeader* layers[] = {reinterpret_cast<XrCompositionLayerBaseHeader*>(&layer)};
        XrFrameEndInfo end {XR_TYPE_FRAME_END_INFO};
        end.displayTime = frameState.predictedDisplayTime;
        end.environmentBlendMode = XR_ENVIRONMENT_BLEND_MODE_OPAQUE;
        end.layerCount = 1;
        end.layers = layers;
        Check(xrEndFrame(session_, &end), "xrEndFrame");
    }

    void Loop() {
        const auto start = std::chrono::steady_clock::now();
        auto last = start;
        double longest = 0;
        bool exitRequested = false;
        while (HandleEvents()) {
            if (!running_) continue;  // waiting for READY or for the walk-down
            XrFrameWaitInfo waitInfo {XR_TYPE_FRAME_WAIT_INFO};
            XrFrameState frameState {XR_TYPE_FRAME_STATE};
            Check(xrWaitFrame(session_, &waitInfo, &frameState), "xrWaitFrame");
            XrFrameBeginInfo beginInfo {XR_TYPE_FRAME_BEGIN_INFO};
            Check(xrBeginFrame(session_, &beginInfo), "xrBeginFrame");
            input_.Read(session_);
            RenderFrame(frameState);
            const auto now = std::chrono::steady_clock::now();
            longest = std::max(longest, std::chrono::duration<double, std::milli>(now - last).count());
            last = now;
            if (++frame_ >= frames_ && !exitRequested) {
                Check(xrRequestExitSession(session_), "xrRequestExitSession");
                exitRequested = true;
            }
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("xr_demo: %u frames in %.2f s: %.1f frames/s, longest frame %.1f ms\n", frame_, seconds,
                    seconds > 0 ? frame_ / seconds : 0.0, longest);
        std::printf("xr_demo: input: %s\n", input_.Summary().c_str());
    }

    void Shutdown() {
        Cleanup();
        std::printf("xr_demo: session ended, instance destroyed\n");
    }

    const uint32_t frames_;
    uint32_t frame_ = 0;
    XrInstance instance_ = XR_NULL_HANDLE;
    XrSystemId system_ = XR_NULL_SYSTEM_ID;
    XrSession session_ = XR_NULL_HANDLE;
    XrSpace local_ = XR_NULL_HANDLE;
    XrSessionState state_ = XR_SESSION_STATE_UNKNOWN;
    bool running_ = false;
    std::unique_ptr<xr_demo::AppGraphics> graphics_;
    xr_demo::DemoInput input_;
    EyeSwapchain eyes_[2];
    xr_demo::EyeImage eyeImages_[2];
};

}  // namespace

int main(int argc, char** argv) {
    uint32_t frames = 300;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
            char* end = nullptr;
            const unsigned long value = std::strtoul(argv[++i], &end, 10);
            if (*end != '\0' || value == 0) {
                std::fprintf(stderr, "xr_demo: --frames needs a positive number\n");
                return 2;
            }
            frames = static_cast<uint32_t>(value);
        } else {
            std::fprintf(stderr, "usage: xr_demo [--frames N]\n");
            return 2;
        }
    }
    Demo demo(frames);
    try {
        demo.Run();
        return 0;
    } catch (const Failure& failure) {
        std::fprintf(stderr, "xr_demo: %s\n", failure.Message().c_str());
        demo.Cleanup();
        return 1;
    }
}
