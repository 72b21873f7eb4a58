// The staged runtime library as an application reaches it through the Khronos loader: the
// manifest, negotiation, the loader's own lookups and calls that travel on to the service.
#include "tests/runtime/fake_service.h"
#include "tests/support/test_env.h"

#include <openxr/openxr.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Debian's loader (1.0.20) leaks its per-instance bookkeeping at xrCreateInstance, even after
// xrDestroyInstance; that is not this project's memory.
extern "C" const char* __lsan_default_suppressions() { return "leak:libopenxr_loader.so\n"; }

namespace qor::test {
namespace {

// What the fake service answers to the runtime's extension query.
Bytes RuntimeExtensions() {
    return ByteBuilder()
        .U32(2)
        .Header(XR_TYPE_EXTENSION_PROPERTIES)
        .Chars("XR_KHR_D3D11_enable", 128)
        .U32(9)
        .Header(XR_TYPE_EXTENSION_PROPERTIES)
        .Chars("XR_EXT_win32_appcontainer_compatible", 128)
        .U32(1);
}

uint32_t CodeOf(const Bytes& request) {
    uint32_t code = 0;
    if (request.size() >= 4) std::memcpy(&code, request.data(), 4);
    return code;
}

// The pipe folder and the manifest setting are made once for the whole program, since the
// loader may keep the runtime loaded from one test to the next.
class LoaderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        environment_ = new TempEnvironment();
        environment_->Set("XR_RUNTIME_JSON", std::string(NORVIK_STAGE_DIR) + "/norvik_openxr_runtime.json");
        // No API layers of the machine between the application and the runtime.
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME", "XDG_DATA_DIRS"}) {
            environment_->Set(name, environment_->Path("xdg"));
        }
    }
    static void TearDownTestSuite() {
        delete environment_;
        environment_ = nullptr;
    }

    // When the loader loads the runtime (at a program's first call, and again after the last
    // instance went away) it queries the runtime's extensions for itself. Loading it here
    // leaves each test's own service only the calls the test makes.
    void SetUp() override {
        {
            FakeService loading;
            for (int i = 0; i < 8; ++i) loading.Reply(XR_SUCCESS, RuntimeExtensions());
            uint32_t count = 0;
            ASSERT_EQ(xrEnumerateInstanceExtensionProperties(nullptr, 0, &count, nullptr), XR_SUCCESS);
            loadRequests_ = loading.Requests();
        }
        service_.emplace();
    }

    static inline TempEnvironment* environment_ = nullptr;
    std::vector<Bytes> loadRequests_;
    std::optional<FakeService> service_;
};

const XrExtensionProperties* FindExtension(const std::vector<XrExtensionProperties>& list, const char* name) {
    for (const auto& extension : list) {
        if (std::strcmp(extension.extensionName, name) == 0) return &extension;
    }
    return nullptr;
}

TEST_F(LoaderTest, ApplicationSeesTheRuntimesExtensions) {
    // Each application call becomes a count query and a list query to the runtime; every
    // answer carries the whole list (a count query ignores it). Unused answers go with the
    // service.
    for (int i = 0; i < 8; ++i) service_->Reply(XR_SUCCESS, RuntimeExtensions());
    uint32_t count = 0;
    ASSERT_EQ(xrEnumerateInstanceExtensionProperties(nullptr, 0, &count, nullptr), XR_SUCCESS);
    ASSERT_GE(count, 2u);
    std::vector<XrExtensionProperties> list(count, XrExtensionProperties {XR_TYPE_EXTENSION_PROPERTIES});
    ASSERT_EQ(xrEnumerateInstanceExtensionProperties(nullptr, count, &count, list.data()), XR_SUCCESS);
    list.resize(count);

    // Only the fake service knows these two, so they came through the runtime.
    const XrExtensionProperties* d3d11 = FindExtension(list, "XR_KHR_D3D11_enable");
    ASSERT_NE(d3d11, nullptr);
    EXPECT_EQ(d3d11->extensionVersion, 9u);
    const XrExtensionProperties* appContainer = FindExtension(list, "XR_EXT_win32_appcontainer_compatible");
    ASSERT_NE(appContainer, nullptr);
    EXPECT_EQ(appContainer->extensionVersion, 1u);

    // Whatever reached the service was the runtime's extension query without a layer name.
    auto requests = service_->Requests();
    ASSERT_FALSE(requests.empty());
    requests.insert(requests.end(), loadRequests_.begin(), loadRequests_.end());
    for (const Bytes& request : requests) {
        ASSERT_EQ(CodeOf(request), 10001u);
        ASSERT_EQ(request.size(), 16u);
        EXPECT_EQ(Bytes(request.begin() + 4, request.begin() + 12), Bytes(ByteBuilder().U64(0)));
    }
}

TEST_F(LoaderTest, InstanceCreationAndLookupsGoThroughToTheRuntime) {
    XrInstanceCreateInfo info {XR_TYPE_INSTANCE_CREATE_INFO};
    std::strcpy(info.applicationInfo.applicationName, "loader walk");
    info.applicationInfo.applicationVersion = 3;
    info.applicationInfo.apiVersion = XR_MAKE_VERSION(1, 0, 0);
    service_->Reply(XR_SUCCESS, ByteBuilder().U64(0x1000042));
    XrInstance instance = XR_NULL_HANDLE;
    ASSERT_EQ(xrCreateInstance(&info, &instance), XR_SUCCESS);
    EXPECT_EQ(reinterpret_cast<uint64_t>(instance), 0x1000042u);

    // The create request is the runtime's own: no extension indices, the application's name.
    const Bytes create = service_->LastRequest();
    ASSERT_EQ(CodeOf(create), 20000u);
    ASSERT_EQ(create.size(), 1340u);
    EXPECT_EQ(Bytes(create.begin() + 4, create.begin() + 4 + 152),
              Bytes(ByteBuilder().Header(XR_TYPE_INSTANCE_CREATE_INFO).U64(0).Chars("loader walk", 128).U32(3)));

    // A lookup through the loader yields a function that reaches the service.
    PFN_xrVoidFunction function = nullptr;
    ASSERT_EQ(xrGetInstanceProcAddr(instance, "xrGetSystem", &function), XR_SUCCESS);
    ASSERT_NE(function, nullptr);
    service_->ClearRequests();
    service_->Reply(XR_SUCCESS, ByteBuilder().U64(0x2000007));
    const XrSystemGetInfo getInfo {XR_TYPE_SYSTEM_GET_INFO, nullptr, XR_FORM_FACTOR_HEAD_MOUNTED_DISPLAY};
    XrSystemId system = XR_NULL_SYSTEM_ID;
    ASSERT_EQ(reinterpret_cast<PFN_xrGetSystem>(function)(instance, &getInfo, &system), XR_SUCCESS);
    EXPECT_EQ(system, 0x2000007u);
    ASSERT_EQ(service_->RequestCount(), 1u);
    EXPECT_EQ(service_->LastRequest(), Bytes(ByteBuilder()
                                                .U32(30000)
                                                .U64(0x1000042)
                                                .Header(XR_TYPE_SYSTEM_GET_INFO)
                                                .U32(XR_FORM_FACTOR_HEAD_MOUNTED_DISPLAY)));

    // Unknown names and wrongly cased ones are refused.
    for (const char* name : {"xrGetSystemX", "xrgetsystem", "XRGETSYSTEM", "xrNoSuchFunction"}) {
        SCOPED_TRACE(name);
        PFN_xrVoidFunction refused = reinterpret_cast<PFN_xrVoidFunction>(&xrGetInstanceProcAddr);
        EXPECT_EQ(xrGetInstanceProcAddr(instance, name, &refused), XR_ERROR_FUNCTION_UNSUPPORTED);
        EXPECT_EQ(refused, nullptr);
    }

    service_->ClearRequests();
    EXPECT_EQ(xrDestroyInstance(instance), XR_SUCCESS);
    ASSERT_EQ(service_->RequestCount(), 1u);
    EXPECT_EQ(service_->LastRequest(), Bytes(ByteBuilder().U32(20001).U64(0x1000042)));
}

TEST_F(LoaderTest, ServiceRefusingTheInstanceReachesTheApplication) {
    XrInstanceCreateInfo info {XR_TYPE_INSTANCE_CREATE_INFO};
    std::strcpy(info.applicationInfo.applicationName, "refused");
    info.applicationInfo.apiVersion = XR_MAKE_VERSION(1, 0, 0);
    service_->Reply(XR_ERROR_LIMIT_REACHED);
    XrInstance instance = XR_NULL_HANDLE;
    EXPECT_EQ(xrCreateInstance(&info, &instance), XR_ERROR_LIMIT_REACHED);
    EXPECT_EQ(instance, XR_NULL_HANDLE);
    ASSERT_FALSE(service_->Requests().empty());
    EXPECT_EQ(CodeOf(service_->LastRequest()), 20000u);
}

}  // namespace
}  // namespace qor::test
