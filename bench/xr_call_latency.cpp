// Per-call latency of OpenXR calls through the whole chain: Khronos loader, runtime library,
// service pipe and service handlers. Measures xrLocateViews and one wait/begin/end frame
// cycle with a projection layer, beside the bare liveness probe on the same pipe, all in one
// run against the staged service and basic driver on a temporary folder.
//
//   xr_call_latency [--iterations N]
#include "gpu/device.h"
#include "platform/pipe.h"

#include <openxr/openxr.h>

#include <signal.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
const std::string kStage = NORVIK_STAGE_DIR;

struct Figures {
    double medianUs = 0;
    double p99Us = 0;
};

Figures Measure(uint32_t iterations, const std::function<bool()>& call) {
    std::vector<double> samples;
    samples.reserve(iterations);
    for (uint32_t i = 0; i < iterations; ++i) {
        const auto start = Clock::now();
        if (!call()) {
            std::fprintf(stderr, "xr_call_latency: a call failed after %u iterations\n", i);
            std::exit(1);
        }
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples[std::min(samples.size() - 1, samples.size() * 99 / 100)]};
}

void Require(XrResult result, const char* what) {
    if (XR_FAILED(result)) {
        std::fprintf(stderr, "xr_call_latency: %s failed with %d\n", what, static_cast<int>(result));
        std::exit(1);
    }
}

struct GraphicsBindingD3D11 {
    XrStructureType type;
    const void* next;
    void* device;
};

}  // namespace

int main(int argc, char** argv) {
    uint32_t iterations = 2000;
    if (argc == 3 && std::strcmp(argv[1], "--iterations") == 0) iterations = static_cast<uint32_t>(std::atoi(argv[2]));
    if (iterations == 0) return 2;

    // A private system: pipes, registry and logs in a temporary folder.
    char folderTemplate[] = "/tmp/norvik-bench-XXXXXX";
    const std::string folder = mkdtemp(folderTemplate);
    setenv("NORVIK_PIPE_DIR", (folder + "/pipe").c_str(), 1);
    setenv("NORVIK_REGISTRY_DIR", (folder + "/registry").c_str(), 1);
    setenv("LOCALAPPDATA", (folder + "/local").c_str(), 1);
    setenv("PROGRAMDATA", (folder + "/programdata").c_str(), 1);
    setenv("XR_RUNTIME_JSON", (kStage + "/norvik_openxr_runtime.json").c_str(), 1);
    const std::string key = folder + "/registry/HKEY_LOCAL_MACHINE/SOFTWARE/Norvik/Norvik XR Service";
    std::filesystem::create_directories(key);
    std::ofstream(key + "/RuntimeDir") << "sz:" << kStage;

    const std::string service = kStage + "/Norvik XR Service";
    char* serviceArgv[] = {const_cast<char*>(service.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, service.c_str(), &actions, nullptr, serviceArgv, environ) != 0) {
        std::fprintf(stderr, "xr_call_latency: cannot start %s\n", service.c_str());
        return 1;
    }
    const auto stopService = [&] {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        std::filesystem::remove_all(folder);
    };

    const uint32_t probe = 0;
    uint8_t reply[8192];
    uint32_t replySize = 0;
    const auto liveness = [&] {
        return qor::platform::TransactPipe("NorvikOpenXRPipe", &probe, 4, reply, sizeof reply, &replySize, 500) ==
               qor::platform::PipeStatus::Ok;
    };
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!liveness()) {
        if (Clock::now() > deadline) {
            std::fprintf(stderr, "xr_call_latency: the service did not answer\n");
            stopService();
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    XrInstanceCreateInfo instanceInfo {XR_TYPE_INSTANCE_CREATE_INFO};
    std::strcpy(instanceInfo.applicationInfo.applicationName, "xr_call_latency");
    instanceInfo.applicationInfo.apiVersion = XR_MAKE_VERSION(1, 0, 17);
    const char* extensions[] = {"XR_KHR_D3D11_enable"};
    instanceInfo.enabledExtensionCount = 1;
    instanceInfo.enabledExtensionNames = extensions;
    XrInstance instance = XR_NULL_HANDLE;
    Require(xrCreateInstance(&instanceInfo, &instance), "xrCreateInstance");
    XrSystemGetInfo getInfo {XR_TYPE_SYSTEM_GET_INFO};
    getInfo.formFactor = XR_FORM_FACTOR_HEAD_MOUNTED_DISPLAY;
    XrSystemId system = XR_NULL_SYSTEM_ID;
    Require(xrGetSystem(instance, &getInfo, &system), "xrGetSystem");

    std::string error;
    auto device = qor::gpu::CreateDevice(qor::gpu::Api::D3D11, 0, &error);
    GraphicsBindingD3D11 binding {XR_TYPE_GRAPHICS_BINDING_D3D11_KHR, nullptr, device->NativeDevice()};
    XrSessionCreateInfo sessionInfo {XR_TYPE_SESSION_CREATE_INFO, &binding, 0, system};
    XrSession session = XR_NULL_HANDLE;
    Require(xrCreateSession(instance, &sessionInfo, &session), "xrCreateSession");
    XrSessionBeginInfo begin {XR_TYPE_SESSION_BEGIN_INFO};
    begin.primaryViewConfigurationType = XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO;
    Require(xrBeginSession(session, &begin), "xrBeginSession");
    XrReferenceSpaceCreateInfo spaceInfo {XR_TYPE_REFERENCE_SPACE_CREATE_INFO};
    spaceInfo.referenceSpaceType = XR_REFERENCE_SPACE_TYPE_LOCAL;
    spaceInfo.poseInReferenceSpace.orientation.w = 1;
    XrSpace local = XR_NULL_HANDLE;
    Require(xrCreateReferenceSpace(session, &spaceInfo, &local), "xrCreateReferenceSpace");

    XrSwapchainCreateInfo swapchainInfo {XR_TYPE_SWAPCHAIN_CREATE_INFO};
    swapchainInfo.usageFlags = XR_SWAPCHAIN_USAGE_COLOR_ATTACHMENT_BIT;
    swapchainInfo.format = 29;
    swapchainInfo.sampleCount = 1;
    swapchainInfo.width = 256;
    swapchainInfo.height = 256;
    swapchainInfo.faceCount = swapchainInfo.arraySize = swapchainInfo.mipCount = 1;
    XrSwapchain swapchain = XR_NULL_HANDLE;
    Require(xrCreateSwapchain(session, &swapchainInfo, &swapchain), "xrCreateSwapchain");

    XrViewLocateInfo locate {XR_TYPE_VIEW_LOCATE_INFO, nullptr, XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO, 1, local};
    XrViewState viewState {XR_TYPE_VIEW_STATE};
    XrView views[2] {{XR_TYPE_VIEW}, {XR_TYPE_VIEW}};
    uint32_t viewCount = 0;
    const Figures locateViews = Measure(iterations, [&] {
        return XR_SUCCEEDED(xrLocateViews(session, &locate, &viewState, 2, &viewCount, views));
    });

    XrCompositionLayerProjectionView projectionViews[2] {{XR_TYPE_COMPOSITION_LAYER_PROJECTION_VIEW},
                                                         {XR_TYPE_COMPOSITION_LAYER_PROJECTION_VIEW}};
    for (auto& view : projectionViews) {
        view.pose.orientation.w = 1;
        view.fov = views[0].fov;
        view.subImage.swapchain = swapchain;
        view.subImage.imageRect = {{0, 0}, {256, 256}};
    }
    XrCompositionLayerProjection layer {XR_TYPE_COMPOSITION_LAYER_PROJECTION};
    layer.space = local;
    layer.viewCount = 2;
    layer.views = projectionViews;
    const XrCompositionLayerBaseHeader* layers[] = {reinterpret_cast<XrCompositionLayerBaseHeader*>(&layer)};
    const Figures frameCycle = Measure(iterations, [&] {
        XrFrameState frameState {XR_TYPE_FRAME_STATE};
        uint32_t index = 0;
        XrSwapchainImageWaitInfo wait {XR_TYPE_SWAPCHAIN_IMAGE_WAIT_INFO, nullptr, XR_INFINITE_DURATION};
        XrFrameEndInfo end {XR_TYPE_FRAME_END_INFO};
        end.environmentBlendMode = XR_ENVIRONMENT_BLEND_MODE_OPAQUE;
        end.layerCount = 1;
        end.layers = layers;
        if (XR_FAILED(xrWaitFrame(session, nullptr, &frameState)) || XR_FAILED(xrBeginFrame(session, nullptr)) ||
            XR_FAILED(xrAcquireSwapchainImage(swapchain, nullptr, &index)) ||
            XR_FAILED(xrWaitSwapchainImage(swapchain, &wait)) || XR_FAILED(xrReleaseSwapchainImage(swapchain, nullptr))) {
            return false;
        }
        end.displayTime = frameState.predictedDisplayTime;
        return XR_SUCCEEDED(xrEndFrame(session, &end));
    });
    const Figures raw = Measure(iterations, liveness);

    xrDestroySwapchain(swapchain);
    xrDestroySpace(local);
    xrDestroySession(session);
    xrDestroyInstance(instance);
    stopService();

    std::printf("xr_call_latency: %u calls each, through the Khronos loader, QorRuntime and the service\n\n", iterations);
    std::printf("  %-34s %12s %12s %10s\n", "call", "median us", "p99 us", "/ probe");
    const auto row = [&](const char* name, const Figures& figures) {
        std::printf("  %-34s %12.1f %12.1f %9.1fx\n", name, figures.medianUs, figures.p99Us, figures.medianUs / raw.medianUs);
    };
    row("liveness probe (raw pipe exchange)", raw);
    row("xrLocateViews", locateViews);
    row("frame cycle (6 calls, one layer)", frameCycle);
    std::printf("\n  The frame cycle is wait, begin, acquire, wait image, release and end frame.\n");
    return 0;
}
