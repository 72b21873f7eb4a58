// Loader negotiation and the function lookup the loader and applications go through.
#include "tests/runtime/runtime_fixture.h"

#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace qor::test {
namespace {

using runtime::GetInstanceProcAddr;
using runtime::NegotiateLoaderRuntimeInterface;

const XrInstance kSomeInstance = reinterpret_cast<XrInstance>(uint64_t {0x1000001});

XrNegotiateLoaderInfo ValidLoaderInfo() {
    XrNegotiateLoaderInfo info {};
    info.structType = XR_LOADER_INTERFACE_STRUCT_LOADER_INFO;
    info.structVersion = 1;
    info.structSize = sizeof(XrNegotiateLoaderInfo);
    info.minInterfaceVersion = 1;
    info.maxInterfaceVersion = 1;
    info.minApiVersion = XR_MAKE_VERSION(1, 0, 0);
    info.maxApiVersion = XR_MAKE_VERSION(1, 0x3ff, 0xfff);
    return info;
}

XrResult XRAPI_CALL SentinelProcAddr(XrInstance, const char*, PFN_xrVoidFunction*) { return XR_ERROR_RUNTIME_FAILURE; }

// A request whose outputs hold values negotiation never writes.
XrNegotiateRuntimeRequest SentinelRequest() {
    XrNegotiateRuntimeRequest request {};
    request.structType = XR_LOADER_INTERFACE_STRUCT_RUNTIME_REQUEST;
    request.structVersion = 1;
    request.structSize = sizeof(XrNegotiateRuntimeRequest);
    request.runtimeInterfaceVersion = 0xDEAD;
    request.runtimeApiVersion = 0xBEEF;
    request.getInstanceProcAddr = SentinelProcAddr;
    return request;
}

struct NegotiationCase {
    const char* name;
    std::function<void(XrNegotiateLoaderInfo&, XrNegotiateRuntimeRequest&)> change;
    bool accepted;
};

TEST(NegotiationTest, AcceptsOnlyWhatTheRuntimeSupports) {
    using Info = XrNegotiateLoaderInfo;
    using Request = XrNegotiateRuntimeRequest;
    const NegotiationCase cases[] = {
        {"interface 1..1", [](Info&, Request&) {}, true},
        {"interface 0..1", [](Info& i, Request&) { i.minInterfaceVersion = 0; }, true},
        {"interface 1..2", [](Info& i, Request&) { i.maxInterfaceVersion = 2; }, false},
        {"interface 2..2", [](Info& i, Request&) { i.minInterfaceVersion = 2; i.maxInterfaceVersion = 2; }, false},
        {"interface 0..0", [](Info& i, Request&) { i.minInterfaceVersion = 0; i.maxInterfaceVersion = 0; }, false},
        {"min API 1.0.0", [](Info& i, Request&) { i.minApiVersion = XR_MAKE_VERSION(1, 0, 0); }, true},
        {"min API 1.0.17", [](Info& i, Request&) { i.minApiVersion = XR_MAKE_VERSION(1, 0, 17); }, true},
        {"min API just below 1.1.0", [](Info& i, Request&) { i.minApiVersion = XR_MAKE_VERSION(1, 0, 0xFFFFFFFF); },
         true},
        {"min API 1.1.0", [](Info& i, Request&) { i.minApiVersion = XR_MAKE_VERSION(1, 1, 0); }, false},
        {"min API 2.0.0", [](Info& i, Request&) { i.minApiVersion = XR_MAKE_VERSION(2, 0, 0); }, false},
        {"min API 0.1.0", [](Info& i, Request&) { i.minApiVersion = XR_MAKE_VERSION(0, 1, 0); }, true},
        {"min API 0.0.9", [](Info& i, Request&) { i.minApiVersion = XR_MAKE_VERSION(0, 0, 9); }, false},
        {"min API 0.0.0", [](Info& i, Request&) { i.minApiVersion = 0; }, false},
        {"max API 2.0.0", [](Info& i, Request&) { i.maxApiVersion = XR_MAKE_VERSION(2, 0, 0); }, true},
        {"max API below min", [](Info& i, Request&) { i.maxApiVersion = XR_MAKE_VERSION(0, 0, 1); }, true},
        {"loader info of the request's struct type",
         [](Info& i, Request&) { i.structType = XR_LOADER_INTERFACE_STRUCT_RUNTIME_REQUEST; }, false},
        {"loader info version 2", [](Info& i, Request&) { i.structVersion = 2; }, false},
        {"loader info size 32", [](Info& i, Request&) { i.structSize = 32; }, false},
        {"loader info size 48", [](Info& i, Request&) { i.structSize = 48; }, false},
        {"request of the loader info's struct type",
         [](Info&, Request& r) { r.structType = XR_LOADER_INTERFACE_STRUCT_LOADER_INFO; }, false},
        {"request of the layer request's struct type",
         [](Info&, Request& r) { r.structType = XR_LOADER_INTERFACE_STRUCT_API_LAYER_REQUEST; }, false},
        {"request version 0", [](Info&, Request& r) { r.structVersion = 0; }, false},
        {"request size 39", [](Info&, Request& r) { r.structSize = 39; }, false},
    };
    for (const NegotiationCase& c : cases) {
        SCOPED_TRACE(c.name);
        XrNegotiateLoaderInfo info = ValidLoaderInfo();
        XrNegotiateRuntimeRequest request = SentinelRequest();
        c.change(info, request);
        const XrResult result = NegotiateLoaderRuntimeInterface(&info, &request);
        if (c.accepted) {
            EXPECT_EQ(result, XR_SUCCESS);
            EXPECT_EQ(request.runtimeInterfaceVersion, 1u);
            EXPECT_EQ(request.runtimeApiVersion, 0x0001000000000011u);
            EXPECT_NE(request.getInstanceProcAddr, &SentinelProcAddr);
        } else {
            EXPECT_EQ(result, XR_ERROR_INITIALIZATION_FAILED);
            EXPECT_EQ(request.runtimeInterfaceVersion, 0xDEADu);
            EXPECT_EQ(request.runtimeApiVersion, 0xBEEFu);
            EXPECT_EQ(request.getInstanceProcAddr, &SentinelProcAddr);
        }
    }
}

TEST(NegotiationTest, NullPointersAreRefused) {
    XrNegotiateLoaderInfo info = ValidLoaderInfo();
    XrNegotiateRuntimeRequest request = SentinelRequest();
    EXPECT_EQ(NegotiateLoaderRuntimeInterface(nullptr, &request), XR_ERROR_INITIALIZATION_FAILED);
    EXPECT_EQ(request.getInstanceProcAddr, &SentinelProcAddr);
    EXPECT_EQ(request.runtimeInterfaceVersion, 0xDEADu);
    EXPECT_EQ(NegotiateLoaderRuntimeInterface(&info, nullptr), XR_ERROR_INITIALIZATION_FAILED);
    EXPECT_EQ(NegotiateLoaderRuntimeInterface(nullptr, nullptr), XR_ERROR_INITIALIZATION_FAILED);
}

TEST(NegotiationTest, NegotiatedLookupResolvesTheRuntimesFunctions) {
    XrNegotiateLoaderInfo info = ValidLoaderInfo();
    XrNegotiateRuntimeRequest request = SentinelRequest();
    ASSERT_EQ(NegotiateLoaderRuntimeInterface(&info, &request), XR_SUCCESS);
    PFN_xrVoidFunction viaNegotiated = nullptr;
    ASSERT_EQ(request.getInstanceProcAddr(XR_NULL_HANDLE, "xrCreateInstance", &viaNegotiated), XR_SUCCESS);
    PFN_xrVoidFunction direct = nullptr;
    ASSERT_EQ(GetInstanceProcAddr(XR_NULL_HANDLE, "xrCreateInstance", &direct), XR_SUCCESS);
    EXPECT_NE(viaNegotiated, nullptr);
    EXPECT_EQ(viaNegotiated, direct);
}

// ---- Function lookup ----

const char* const kGlobalNames[] = {"xrGetInstanceProcAddr", "xrEnumerateInstanceExtensionProperties",
                                    "xrCreateInstance", "xrEnumerateApiLayerProperties"};

// Every forwarded function the table hands out once an instance is given.
const char* const kForwardedNames[] = {
    "xrDestroyInstance", "xrGetInstanceProperties", "xrPollEvent", "xrResultToString", "xrStructureTypeToString",
    "xrGetSystem", "xrGetSystemProperties", "xrEnumerateEnvironmentBlendModes", "xrEnumerateViewConfigurations",
    "xrGetViewConfigurationProperties", "xrEnumerateViewConfigurationViews", "xrCreateSession", "xrDestroySession",
    "xrBeginSession", "xrEndSession", "xrRequestExitSession", "xrEnumerateReferenceSpaces", "xrCreateReferenceSpace",
    "xrGetReferenceSpaceBoundsRect", "xrCreateActionSpace", "xrLocateSpace", "xrDestroySpace", "xrLocateViews",
    "xrEnumerateSwapchainFormats", "xrCreateSwapchain", "xrDestroySwapchain", "xrEnumerateSwapchainImages",
    "xrAcquireSwapchainImage", "xrWaitSwapchainImage", "xrReleaseSwapchainImage", "xrWaitFrame", "xrBeginFrame",
    "xrEndFrame", "xrStringToPath", "xrPathToString", "xrCreateActionSet", "xrDestroyActionSet", "xrCreateAction",
    "xrDestroyAction", "xrSuggestInteractionProfileBindings", "xrAttachSessionActionSets",
    "xrGetCurrentInteractionProfile", "xrGetActionStateBoolean", "xrGetActionStateFloat", "xrGetActionStateVector2f",
    "xrGetActionStatePose", "xrSyncActions", "xrEnumerateBoundSourcesForAction", "xrGetInputSourceLocalizedName",
    "xrApplyHapticFeedback", "xrStopHapticFeedback"};

// The functions of XR_KHR_D3D11_enable and XR_KHR_D3D12_enable.
const char* const kExtensionFunctions[] = {"xrGetD3D11GraphicsRequirementsKHR", "xrGetD3D12GraphicsRequirementsKHR"};

const char* const kDebugUtilsNames[] = {
    "xrSetDebugUtilsObjectNameEXT",          "xrCreateDebugUtilsMessengerEXT",
    "xrDestroyDebugUtilsMessengerEXT",       "xrSubmitDebugUtilsMessageEXT",
    "xrSessionBeginDebugUtilsLabelRegionEXT", "xrSessionEndDebugUtilsLabelRegionEXT",
    "xrSessionInsertDebugUtilsLabelEXT"};

PFN_xrVoidFunction NotWritten() { return reinterpret_cast<PFN_xrVoidFunction>(&SentinelProcAddr); }

TEST(ProcAddrTest, GlobalNamesResolveWithOrWithoutAnInstance) {
    std::set<PFN_xrVoidFunction> seen;
    for (const char* name : kGlobalNames) {
        SCOPED_TRACE(name);
        PFN_xrVoidFunction withoutInstance = NotWritten();
        EXPECT_EQ(GetInstanceProcAddr(XR_NULL_HANDLE, name, &withoutInstance), XR_SUCCESS);
        EXPECT_NE(withoutInstance, nullptr);
        PFN_xrVoidFunction withInstance = nullptr;
        EXPECT_EQ(GetInstanceProcAddr(kSomeInstance, name, &withInstance), XR_SUCCESS);
        EXPECT_EQ(withInstance, withoutInstance);
        seen.insert(withoutInstance);
    }
    EXPECT_EQ(seen.size(), std::size(kGlobalNames));

    // The lookup hands out itself.
    PFN_xrVoidFunction self = nullptr;
    ASSERT_EQ(GetInstanceProcAddr(XR_NULL_HANDLE, "xrGetInstanceProcAddr", &self), XR_SUCCESS);
    PFN_xrVoidFunction found = nullptr;
    EXPECT_EQ(reinterpret_cast<PFN_xrGetInstanceProcAddr>(self)(kSomeInstance, "xrGetSystem", &found), XR_SUCCESS);
    EXPECT_NE(found, nullptr);
}

TEST(ProcAddrTest, InstanceFunctionsNeedAnInstance) {
    for (const char* name : kForwardedNames) {
        SCOPED_TRACE(name);
        PFN_xrVoidFunction function = NotWritten();
        EXPECT_EQ(GetInstanceProcAddr(XR_NULL_HANDLE, name, &function), XR_ERROR_HANDLE_INVALID);
        EXPECT_EQ(function, nullptr);
    }
    for (const char* name : kExtensionFunctions) {
        SCOPED_TRACE(name);
        PFN_xrVoidFunction function = NotWritten();
        EXPECT_EQ(GetInstanceProcAddr(XR_NULL_HANDLE, name, &function), XR_ERROR_HANDLE_INVALID);
        EXPECT_EQ(function, nullptr);
    }
}

TEST(ProcAddrTest, EveryTableNameResolvesToItsOwnFunction) {
    std::set<PFN_xrVoidFunction> seen;
    for (const char* name : kForwardedNames) {
        SCOPED_TRACE(name);
        PFN_xrVoidFunction function = nullptr;
        EXPECT_EQ(GetInstanceProcAddr(kSomeInstance, name, &function), XR_SUCCESS);
        EXPECT_NE(function, nullptr);
        EXPECT_TRUE(seen.insert(function).second) << "shares its function with another name";
    }
    for (const char* name : kGlobalNames) {
        PFN_xrVoidFunction function = nullptr;
        GetInstanceProcAddr(kSomeInstance, name, &function);
        EXPECT_EQ(seen.count(function), 0u) << name;
    }
}

TEST(ProcAddrTest, NamesOutsideTheTableAreUnsupported) {
    const char* const names[] = {
        "xrGetVisibilityMaskKHR",        "xrgetsystem",
        "XRGETSYSTEM",                   "xrGetSystem ",
        "xrGetSyste",                    "xrGetSystemX",
        "",                              "xrcreateinstance",
        "xrGetVulkanGraphicsRequirementsKHR", "xrGetOpenGLGraphicsRequirementsKHR",
        "xrConvertTimeToWin32PerformanceCounterKHR", "xrConvertWin32PerformanceCounterToTimeKHR",
        "xrGetVulkanInstanceExtensionsKHR", "xrNegotiateLoaderRuntimeInterface",
    };
    // Debug utils are left to the Khronos loader, which offers them when the runtime does not.
    std::vector<const char*> unsupported(std::begin(names), std::end(names));
    unsupported.insert(unsupported.end(), std::begin(kDebugUtilsNames), std::end(kDebugUtilsNames));
    for (const char* name : unsupported) {
        SCOPED_TRACE(name);
        PFN_xrVoidFunction function = NotWritten();
        EXPECT_EQ(GetInstanceProcAddr(kSomeInstance, name, &function), XR_ERROR_FUNCTION_UNSUPPORTED);
        EXPECT_EQ(function, nullptr);
    }
    // Without an instance, an unknown name is refused for the missing instance first.
    PFN_xrVoidFunction function = NotWritten();
    EXPECT_EQ(GetInstanceProcAddr(XR_NULL_HANDLE, "xrgetsystem", &function), XR_ERROR_HANDLE_INVALID);
    EXPECT_EQ(function, nullptr);
}

// An extension's functions resolve for the instances created with it, until they are destroyed.
class ExtensionFunctionsTest : public RuntimeTest {
protected:
    XrInstance CreateInstance(uint64_t handle, std::vector<const char*> extensions) {
        XrInstanceCreateInfo info {XR_TYPE_INSTANCE_CREATE_INFO};
        std::strcpy(info.applicationInfo.applicationName, "extensions");
        info.applicationInfo.apiVersion = XR_MAKE_VERSION(1, 0, 17);
        info.enabledExtensionCount = static_cast<uint32_t>(extensions.size());
        info.enabledExtensionNames = extensions.data();
        service_.Reply(XR_SUCCESS, ByteBuilder().U64(handle));
        XrInstance instance = XR_NULL_HANDLE;
        EXPECT_EQ(Get<PFN_xrCreateInstance>("xrCreateInstance")(&info, &instance), XR_SUCCESS);
        return instance;
    }
    // Which of kExtensionFunctions resolve for `instance`; the others answer unsupported.
    std::vector<std::string> Resolved(XrInstance instance) {
        std::vector<std::string> resolved;
        for (const char* name : kExtensionFunctions) {
            PFN_xrVoidFunction function = NotWritten();
            const XrResult result = GetInstanceProcAddr(instance, name, &function);
            if (result == XR_SUCCESS && function != nullptr) {
                resolved.push_back(name);
            } else {
                EXPECT_EQ(result, XR_ERROR_FUNCTION_UNSUPPORTED) << name;
                EXPECT_EQ(function, nullptr) << name;
            }
        }
        return resolved;
    }
};

TEST_F(ExtensionFunctionsTest, ResolveOnlyForInstancesThatEnabledTheirExtension) {
    const struct {
        std::vector<const char*> enabled;
        std::vector<std::string> resolved;
    } cases[] = {
        {{}, {}},
        {{"XR_EXT_win32_appcontainer_compatible"}, {}},
        {{"XR_KHR_D3D11_enable"}, {"xrGetD3D11GraphicsRequirementsKHR"}},
        {{"XR_KHR_D3D12_enable"}, {"xrGetD3D12GraphicsRequirementsKHR"}},
        {{"XR_KHR_D3D12_enable", "XR_KHR_D3D11_enable"},
         {"xrGetD3D11GraphicsRequirementsKHR", "xrGetD3D12GraphicsRequirementsKHR"}},
    };
    uint64_t handle = 0x1000001;
    std::vector<XrInstance> instances;
    for (const auto& c : cases) instances.push_back(CreateInstance(handle++, c.enabled));
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Resolved(instances[i]), cases[i].resolved);
    }
    // Destroyed, the instance has no extensions left, whatever the service answered.
    service_.Reply(XR_ERROR_HANDLE_INVALID);
    EXPECT_EQ(Get<PFN_xrDestroyInstance>("xrDestroyInstance")(instances.back()), XR_ERROR_HANDLE_INVALID);
    EXPECT_TRUE(Resolved(instances.back()).empty());
    EXPECT_EQ(Resolved(instances[2]), cases[2].resolved);
}

TEST_F(ExtensionFunctionsTest, InstancesNeverDestroyedAreForgottenOldestFirst) {
    std::vector<XrInstance> instances;
    for (uint64_t i = 0; i <= runtime::InstanceExtensions::kMaxInstances; ++i) {
        instances.push_back(CreateInstance(0x1000001 + i, {"XR_KHR_D3D11_enable"}));
    }
    EXPECT_TRUE(Resolved(instances.front()).empty());
    for (size_t i = 1; i < instances.size(); ++i) EXPECT_EQ(Resolved(instances[i]).size(), 1u) << i;
}

}  // namespace
}  // namespace qor::test
