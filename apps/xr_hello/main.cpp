// xr_hello: the smallest OpenXR application. It goes through the Khronos loader (which
// loads the runtime named by XR_RUNTIME_JSON or the system's active runtime) and prints what
// each call returns.
#include <openxr/openxr.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {
void Print(const char* call, XrResult result) { std::printf("%-42s -> %d\n", call, static_cast<int>(result)); }
}  // namespace

int main() {
    uint32_t layers = 0;
    Print("xrEnumerateApiLayerProperties", xrEnumerateApiLayerProperties(0, &layers, nullptr));

    uint32_t count = 0;
    XrResult result = xrEnumerateInstanceExtensionProperties(nullptr, 0, &count, nullptr);
    Print("xrEnumerateInstanceExtensionProperties", result);
    if (XR_SUCCEEDED(result) && count > 0) {
        std::vector<XrExtensionProperties> extensions(count, {XR_TYPE_EXTENSION_PROPERTIES});
        if (XR_SUCCEEDED(xrEnumerateInstanceExtensionProperties(nullptr, count, &count, extensions.data()))) {
            for (const auto& extension : extensions) std::printf("    %s v%u\n", extension.extensionName, extension.extensionVersion);
        }
    }

    XrInstanceCreateInfo info {XR_TYPE_INSTANCE_CREATE_INFO};
    std::strcpy(info.applicationInfo.applicationName, "xr_hello");
    info.applicationInfo.apiVersion = XR_MAKE_VERSION(1, 0, 17);
    XrInstance instance = XR_NULL_HANDLE;
    result = xrCreateInstance(&info, &instance);
    Print("xrCreateInstance", result);
    if (XR_FAILED(result)) return 0;

    XrSystemGetInfo getInfo {XR_TYPE_SYSTEM_GET_INFO};
    getInfo.formFactor = XR_FORM_FACTOR_HEAD_MOUNTED_DISPLAY;
    XrSystemId system = XR_NULL_SYSTEM_ID;
    result = xrGetSystem(instance, &getInfo, &system);
    Print("xrGetSystem", result);
    if (XR_SUCCEEDED(result)) {
        XrSystemProperties properties {XR_TYPE_SYSTEM_PROPERTIES};
        if (XR_SUCCEEDED(xrGetSystemProperties(instance, system, &properties))) {
            std::printf("    system 0x%llx \"%s\", vendor 0x%x, max %ux%u, %u layers\n",
                        static_cast<unsigned long long>(system), properties.systemName, properties.vendorId,
                        properties.graphicsProperties.maxSwapchainImageWidth,
                        properties.graphicsProperties.maxSwapchainImageHeight, properties.graphicsProperties.maxLayerCount);
        }
        uint32_t viewCount = 0;
        xrEnumerateViewConfigurationViews(instance, system, XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO, 0, &viewCount, nullptr);
        std::vector<XrViewConfigurationView> views(viewCount, {XR_TYPE_VIEW_CONFIGURATION_VIEW});
        if (XR_SUCCEEDED(xrEnumerateViewConfigurationViews(instance, system, XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO,
                                                           viewCount, &viewCount, views.data()))) {
            for (const auto& view : views) {
                std::printf("    view %ux%u (max %ux%u)\n", view.recommendedImageRectWidth, view.recommendedImageRectHeight,
                            view.maxImageRectWidth, view.maxImageRectHeight);
            }
        }
    }
    char name[XR_MAX_RESULT_STRING_SIZE];
    if (XR_SUCCEEDED(xrResultToString(instance, XR_ERROR_SESSION_LOST, name))) std::printf("    result -17 is %s\n", name);
    Print("xrDestroyInstance", xrDestroyInstance(instance));
    // Reaching the runtime is what counts here: the calls above returned its answers.
    return 0;
}
