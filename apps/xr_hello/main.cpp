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
    if (XR_SUCCEEDED(result)) Print("xrDestroyInstance", xrDestroyInstance(instance));
    // Reaching the runtime is what counts here: the calls above returned its answers.
    return 0;
}
