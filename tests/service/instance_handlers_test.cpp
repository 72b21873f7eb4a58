// The instance-level handlers, driven through the dispatcher with requests as the runtime
// library sends them.
#include "platform/system.h"
#include "protocol/layouts.h"
#include "service/instance/extensions.h"
#include "service/server/qor_server.h"
#include "service/server/service_state.h"
#include "service/core/handle_counter.h"
#include "service/core/instance_registry.h"
#include "service/core/layer_features.h"
#include "service/core/logger.h"
#include "service/core/xr_names.h"
#include "service/driverhost/driver_registry.h"
#include "service/driverhost/graphics_devices.h"
#include "service/driverhost/watchdog.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>

namespace qor {
namespace {

using namespace protocol;

struct Answer {
    XrResult result = XR_SUCCESS;
    std::vector<uint8_t> reply;  // the whole reply, result included
};

class InstanceHandlersTest : public ::testing::Test {
protected:
    template <typename Request>
    Answer Send(const Request& request) {
        std::array<uint8_t, kMaxRequestSize> bytes {};
        const uint32_t size = EncodeRequest(request, bytes.data(), bytes.size());
        EXPECT_GT(size, 0u);
        std::array<uint8_t, kMaxReplySize> reply {};
        uint32_t replySize = 0;
        server_.Dispatch(bytes.data(), size, reply.data(), &replySize);
        Answer answer;
        std::memcpy(&answer.result, reply.data(), 4);
        answer.reply.assign(reply.begin(), reply.begin() + replySize);
        return answer;
    }
    template <typename Reply>
    Reply Decode(const Answer& answer) {
        Reply reply;
        EXPECT_TRUE(DecodeReply(answer.reply.data(), answer.reply.size(), &reply));
        return reply;
    }

    static CreateInstanceRequest CreateRequest(const char* name = "app", std::vector<uint32_t> extensions = {}) {
        static std::vector<uint32_t> storage;
        storage = std::move(extensions);
        CreateInstanceRequest request;
        request.info.type = XR_TYPE_INSTANCE_CREATE_INFO;
        std::snprintf(request.applicationName.text.data(), 128, "%s", name);
        request.applicationVersion = 3;
        std::snprintf(request.engineName.text.data(), 128, "%s", "engine");
        request.apiVersion = XR_MAKE_VERSION(1, 0, 17);
        request.extensionIndices.items = storage;
        const std::u16string path = u"C:\\Games\\app.exe";
        std::copy(path.begin(), path.end(), request.executablePath.text.begin());
        return request;
    }
    uint64_t CreateInstance(const char* name = "app") {
        const Answer answer = Send(CreateRequest(name));
        EXPECT_EQ(answer.result, XR_SUCCESS);
        return Decode<HandleReply>(answer).handle;
    }

    test::TempEnvironment environment_;
    ServiceState state_;
    QorServer server_ {state_};
};

TEST_F(InstanceHandlersTest, ExtensionListFollowsTheTwoCallIdiom) {
    EnumerateInstanceExtensionPropertiesRequest request;
    request.capacity = 0;
    Answer answer = Send(request);
    EXPECT_EQ(answer.result, XR_SUCCESS);
    EXPECT_EQ(answer.reply.size(), 8u);
    EXPECT_EQ(Decode<EnumerateInstanceExtensionPropertiesReply>(answer).count, 3u);

    request.capacity = 2;
    answer = Send(request);
    EXPECT_EQ(answer.result, XR_ERROR_SIZE_INSUFFICIENT);
    EXPECT_EQ(answer.reply.size(), 8u);
    EXPECT_EQ(Decode<EnumerateInstanceExtensionPropertiesReply>(answer).count, 3u);

    request.capacity = 8;
    answer = Send(request);
    ASSERT_EQ(answer.result, XR_SUCCESS);
    const auto list = Decode<EnumerateInstanceExtensionPropertiesReply>(answer);
    ASSERT_EQ(list.items.items.size(), 3u);
    EXPECT_EQ(list.items.items[0].extensionName.View(), "XR_KHR_D3D11_enable");
    EXPECT_EQ(list.items.items[0].extensionVersion, 4u);
    EXPECT_EQ(list.items.items[1].extensionName.View(), "XR_KHR_D3D12_enable");
    EXPECT_EQ(list.items.items[1].extensionVersion, 7u);
    EXPECT_EQ(list.items.items[2].extensionName.View(), "XR_EXT_win32_appcontainer_compatible");
    EXPECT_EQ(list.items.items[2].header.type, static_cast<uint32_t>(XR_TYPE_EXTENSION_PROPERTIES));
}

TEST_F(InstanceHandlersTest, AtMostEightInstancesAndHandlesAreNeverReused) {
    std::vector<uint64_t> handles;
    for (int i = 0; i < 8; ++i) handles.push_back(CreateInstance());
    for (uint64_t handle : handles) EXPECT_GE(handle, kInstanceHandleBase);
    EXPECT_EQ(Send(CreateRequest()).result, XR_ERROR_LIMIT_REACHED);

    DestroyInstanceRequest destroy;
    destroy.handle = handles[3];
    EXPECT_EQ(Send(destroy).result, XR_SUCCESS);
    const uint64_t fresh = CreateInstance();
    EXPECT_EQ(std::count(handles.begin(), handles.end(), fresh), 0);
    EXPECT_GT(fresh, *std::max_element(handles.begin(), handles.end()));
    EXPECT_EQ(Send(destroy).result, XR_ERROR_HANDLE_INVALID);
}

TEST_F(InstanceHandlersTest, CreateChecksVersionNameAndExtensions) {
    auto request = CreateRequest();
    const XrVersion refused[] = {0, XR_MAKE_VERSION(0, 0, 1), XR_MAKE_VERSION(0, 9, 0), XR_MAKE_VERSION(1, 1, 0),
                                 XR_MAKE_VERSION(2, 0, 0)};
    for (const XrVersion version : refused) {
        request.apiVersion = version;
        EXPECT_EQ(Send(request).result, XR_ERROR_API_VERSION_UNSUPPORTED) << std::hex << version;
    }
    EXPECT_EQ(Send(CreateRequest("")).result, XR_ERROR_NAME_INVALID);
    EXPECT_EQ(Send(CreateRequest("app", {11})).result, XR_ERROR_INITIALIZATION_FAILED);  // OpenGL ES
    EXPECT_EQ(Send(CreateRequest("app", {8, 13})).result, XR_ERROR_EXTENSION_NOT_PRESENT);  // Vulkan
    // Failed creates leave nothing behind.
    EXPECT_EQ(state_.instances.Count(), 0u);

    // Every 1.0.x is served.
    const XrVersion served[] = {XR_MAKE_VERSION(1, 0, 0), XR_MAKE_VERSION(1, 0, 0xFFFFFFFF)};
    for (const XrVersion version : served) {
        request.apiVersion = version;
        const Answer created = Send(request);
        ASSERT_EQ(created.result, XR_SUCCESS) << std::hex << version;
        DestroyInstanceRequest destroy;
        destroy.handle = Decode<HandleReply>(created).handle;
        EXPECT_EQ(Send(destroy).result, XR_SUCCESS);
    }

    const Answer answer = Send(CreateRequest("app", {8, 23}));
    ASSERT_EQ(answer.result, XR_SUCCESS);
    const auto instance = state_.instances.Find(Decode<HandleReply>(answer).handle);
    ASSERT_TRUE(instance);
    EXPECT_EQ(instance->enabledExtensions, (std::vector<uint32_t> {8, 23}));
    EXPECT_EQ(instance->process.executablePath, u"C:\\Games\\app.exe");
    EXPECT_EQ(instance->displayEnable, 1u);
}

TEST_F(InstanceHandlersTest, CreateRegistersTheProcessWithTheWatchdogAndDestroyRemovesIt) {
    // The application is this process: its own executable is the path it gives.
    auto request = CreateRequest("KVDSOpenXRApp");
    const std::u16string path = platform::Utf8ToUtf16(platform::ExecutablePath());
    request.executablePath.text.fill(0);
    std::copy(path.begin(), path.end(), request.executablePath.text.begin());
    const Answer answer = Send(request);
    ASSERT_EQ(answer.result, XR_SUCCESS);
    const uint64_t handle = Decode<HandleReply>(answer).handle;
    EXPECT_EQ(state_.instances.Find(handle)->displayEnable, 0u);
    const auto watched = state_.watchdog.WatchedInstances();
    EXPECT_NE(std::find(watched.begin(), watched.end(), std::make_pair(platform::ProcessId(), handle)), watched.end());
    // A path no running program has leaves the instance unwatched.
    EXPECT_EQ(state_.watchdog.WatchedInstances().size(), 1u);
    CreateInstance();
    EXPECT_EQ(state_.watchdog.WatchedInstances().size(), 1u);
    DestroyInstanceRequest destroy;
    destroy.handle = handle;
    ASSERT_EQ(Send(destroy).result, XR_SUCCESS);
    EXPECT_TRUE(state_.watchdog.WatchedInstances().empty());
}

#if !defined(_WIN32)
// The service log is process-wide; natively every test runs in its own process.
TEST_F(InstanceHandlersTest, CreateAndDestroyWriteTheirLogEntries) {
    ASSERT_EQ(platform::PathFromUtf8(ServiceLogger().Folder()),
              platform::PathFromUtf8(environment_.Path("local/Norvik/OpenXR/Logs")));
    const uint64_t handle = CreateInstance("demo");
    DestroyInstanceRequest destroy;
    destroy.handle = handle;
    Send(destroy);
    Send(destroy);
    ServiceLogger().Flush();
    char today[32];
    const std::time_t now = std::time(nullptr);
    std::strftime(today, sizeof today, "server_%Y-%m-%d.log", std::localtime(&now));
    const std::string log = test::ReadFile(environment_.Path("local/Norvik/OpenXR/Logs/") + today);
    char handleText[32];
    std::snprintf(handleText, sizeof handleText, "%016llX", static_cast<unsigned long long>(handle));
    EXPECT_NE(log.find(std::string("Create Instance : ") + handleText + "\n  Application Name : demo\n"
                       "  Application Version : 3\n  API Version : " + std::to_string(XR_MAKE_VERSION(1, 0, 17)) +
                       "\n  Engine Name : engine\n  Engine Version : 0\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Add process into watchdog : C:\\Games\\app.exe"), std::string::npos);
    EXPECT_NE(log.find(std::string("Destroy Instance : ") + handleText + "\n\tSUCCESS"), std::string::npos);
    EXPECT_NE(log.find(std::string("Destroy Instance : ") + handleText + "\n\tERROR_HANDLE_INVALID"), std::string::npos);
}

// A client must not be able to write lines of its own into the service log.
TEST_F(InstanceHandlersTest, ClientNamesCannotForgeLogLines) {
    ASSERT_EQ(platform::PathFromUtf8(ServiceLogger().Folder()),
              platform::PathFromUtf8(environment_.Path("local/Norvik/OpenXR/Logs")));
    CreateInstance("demo\n2021-06-01  00:00:00\t[ERROR] forged");
    ServiceLogger().Flush();
    char today[32];
    const std::time_t now = std::time(nullptr);
    std::strftime(today, sizeof today, "server_%Y-%m-%d.log", std::localtime(&now));
    const std::string log = test::ReadFile(environment_.Path("local/Norvik/OpenXR/Logs/") + today);
    EXPECT_NE(log.find("\n  Application Name : demo\\n2021-06-01  00:00:00\\t[ERROR] forged\n"), std::string::npos)
        << log;
    EXPECT_EQ(log.find("\n2021-06-01  00:00:00"), std::string::npos) << log;
}
#endif

TEST_F(InstanceHandlersTest, InstancePropertiesNameTheRuntime) {
    GetInstancePropertiesRequest request;
    request.handle = 0xDEAD;  // not looked at
    const Answer answer = Send(request);
    ASSERT_EQ(answer.result, XR_SUCCESS);
    const auto properties = Decode<GetInstancePropertiesReply>(answer);
    EXPECT_EQ(properties.header.type, static_cast<uint32_t>(XR_TYPE_INSTANCE_PROPERTIES));
    EXPECT_EQ(properties.runtimeVersion, 0x0001000100000000ull);
    EXPECT_EQ(properties.runtimeName.View(), "Norvik XR Runtime");
}

TEST_F(InstanceHandlersTest, OverflowingQueueCountsOneLostEventAndReportsItLast) {
    const uint64_t handle = CreateInstance();
    auto instance = state_.instances.Find(handle);
    for (uint32_t i = 0; i < 300; ++i) {
        XrEventDataSessionStateChanged event {XR_TYPE_EVENT_DATA_SESSION_STATE_CHANGED};
        event.time = i;
        QueueEvent(*instance, &event, sizeof event);
    }
    EXPECT_EQ(instance->lostEvents, 1u);

    PollEventRequest poll;
    poll.handle = handle;
    Answer answer = Send(poll);
    ASSERT_EQ(answer.result, XR_SUCCESS);
    ASSERT_EQ(answer.reply.size(), 4 + sizeof(XrEventDataSessionStateChanged));
    XrEventDataSessionStateChanged first;
    std::memcpy(&first, answer.reply.data() + 4, sizeof first);
    EXPECT_EQ(first.time, 0);
    // The other 299, then the events-lost event.
    for (int i = 1; i < 300; ++i) ASSERT_EQ(Send(poll).result, XR_SUCCESS);
    answer = Send(poll);
    ASSERT_EQ(answer.result, XR_SUCCESS);
    XrEventDataEventsLost lost;
    ASSERT_EQ(answer.reply.size(), 4 + sizeof lost);
    std::memcpy(&lost, answer.reply.data() + 4, sizeof lost);
    EXPECT_EQ(lost.type, XR_TYPE_EVENT_DATA_EVENTS_LOST);
    EXPECT_EQ(lost.lostEventCount, 1u);
    EXPECT_EQ(Send(poll).result, XR_EVENT_UNAVAILABLE);
}

TEST_F(InstanceHandlersTest, PollingAnEmptyQueueStillRefreshesLastPoll) {
    const uint64_t handle = CreateInstance();
    auto instance = state_.instances.Find(handle);
    ASSERT_EQ(instance->lastPoll, 0);
    PollEventRequest poll;
    poll.handle = handle;
    const Answer answer = Send(poll);
    EXPECT_EQ(answer.result, XR_EVENT_UNAVAILABLE);
    EXPECT_EQ(answer.reply.size(), 4u);
    EXPECT_GT(instance->lastPoll, 0);
    poll.handle = handle + 1000;
    EXPECT_EQ(Send(poll).result, XR_ERROR_INSTANCE_LOST);
}

TEST_F(InstanceHandlersTest, NamesOfResultsAndStructureTypes) {
    const uint64_t handle = CreateInstance();
    const auto resultName = [&](int32_t value) {
        const Answer answer = Send(ResultToStringRequest {handle, value});
        EXPECT_EQ(answer.result, XR_SUCCESS);
        return std::string(Decode<NameReply>(answer).name.text);
    };
    const auto typeName = [&](uint32_t value) {
        const Answer answer = Send(StructureTypeToStringRequest {handle, value});
        EXPECT_EQ(answer.result, XR_SUCCESS);
        return std::string(Decode<NameReply>(answer).name.text);
    };
    EXPECT_EQ(resultName(XR_ERROR_SESSION_LOST), "XR_ERROR_SESSION_LOST");
    EXPECT_EQ(resultName(2), "XR_UNKNOWN_SUCCESS_2");
    EXPECT_EQ(resultName(-100), "XR_UNKNOWN_FAILURE_-100");
    EXPECT_EQ(resultName(XR_ERROR_COLOR_SPACE_UNSUPPORTED_FB), "XR_ERROR_COLOR_SPACE_UNSUPPORTED_FB");
    EXPECT_EQ(typeName(0), "XR_TYPE_UNKNOWN");
    EXPECT_EQ(typeName(999), "XR_UNKNOWN_STRUCTURE_TYPE_999");
    EXPECT_EQ(typeName(0x7FFFFFFF), "XR_STRUCTURE_TYPE_MAX_ENUM");
    EXPECT_EQ(typeName(XR_TYPE_VIEW), "XR_TYPE_VIEW");

    // The reply: 8-byte length counting the NUL, then the name and its NUL.
    const Answer answer = Send(ResultToStringRequest {handle, XR_SUCCESS});
    ASSERT_EQ(answer.reply.size(), 4 + 8 + 11u);
    uint64_t length;
    std::memcpy(&length, answer.reply.data() + 4, 8);
    EXPECT_EQ(length, 11u);
    EXPECT_EQ(answer.reply.back(), 0);

    EXPECT_EQ(Send(ResultToStringRequest {handle + 1000, 0}).result, XR_ERROR_INSTANCE_LOST);
    EXPECT_EQ(Send(StructureTypeToStringRequest {handle + 1000, 0}).result, XR_ERROR_INSTANCE_LOST);
}

TEST(XrNamesTest, TablesHoldEveryEnumerantOfTheImplementedVersion) {
    EXPECT_EQ(ResultNameCount(), 69u);
    EXPECT_EQ(StructureTypeNameCount(), 156u);
    for (int32_t value = -2000; value <= 2000; ++value) EXPECT_LE(ResultName(value).size(), 63u);
    EXPECT_EQ(StructureTypeName(XR_TYPE_GRAPHICS_BINDING_D3D11_KHR), "XR_TYPE_GRAPHICS_BINDING_D3D11_KHR");
    // XR_RESULT_MAX_ENUM and what newer headers add (XR_ERROR_UNEXPECTED_STATE_PASSTHROUGH_FB,
    // XR_TYPE_COMPOSITION_LAYER_IMAGE_LAYOUT_FB) stay unknown.
    EXPECT_EQ(ResultName(-1000118000), "XR_UNKNOWN_FAILURE_-1000118000");
    EXPECT_EQ(ResultName(0x7FFFFFFF), "XR_UNKNOWN_SUCCESS_2147483647");
    EXPECT_EQ(StructureTypeName(1000040000), "XR_UNKNOWN_STRUCTURE_TYPE_1000040000");
}

// Registers a head-mounted system as a display driver would.
uint64_t AddHeadMountedSystem(ServiceState& state, const char* name) {
    auto system = std::make_unique<SystemEntry>();
    system->systemId = state.handles.New(kSystemIdBase);
    system->formFactor = XR_FORM_FACTOR_HEAD_MOUNTED_DISPLAY;
    system->vendorId = 0x502;
    system->systemName = name;
    system->maxSwapchainImageWidth = 1920;
    system->maxSwapchainImageHeight = 1080;
    system->maxLayerCount = 16;
    system->orientationTracking = XR_TRUE;
    system->positionTracking = XR_TRUE;
    const uint64_t id = system->systemId;
    state.drivers.AddSystem(std::move(system));
    return id;
}

TEST_F(InstanceHandlersTest, SystemsAreFoundByFormFactorAndDescribeThemselves) {
    const uint64_t instance = CreateInstance();
    const uint64_t id = AddHeadMountedSystem(state_, "norvik_test_display");
    GetSystemRequest get {instance, {XR_TYPE_SYSTEM_GET_INFO, 0}, XR_FORM_FACTOR_HEAD_MOUNTED_DISPLAY};
    Answer answer = Send(get);
    ASSERT_EQ(answer.result, XR_SUCCESS);
    EXPECT_EQ(Decode<HandleReply>(answer).handle, state_.drivers.Systems().begin()->first);
    get.formFactor = XR_FORM_FACTOR_HANDHELD_DISPLAY;
    EXPECT_EQ(Send(get).result, XR_ERROR_FORM_FACTOR_UNSUPPORTED);
    get.instance = instance + 1000;
    EXPECT_EQ(Send(get).result, XR_ERROR_INSTANCE_LOST);

    answer = Send(GetSystemPropertiesRequest {instance, id});
    ASSERT_EQ(answer.result, XR_SUCCESS);
    const auto properties = Decode<GetSystemPropertiesReply>(answer);
    EXPECT_EQ(properties.properties.systemId, id);
    EXPECT_EQ(properties.properties.vendorId, 0x502u);
    EXPECT_EQ(properties.properties.systemName.View(), "norvik_test_display");
    EXPECT_EQ(properties.properties.maxSwapchainImageWidth, 1920u);
    EXPECT_EQ(properties.properties.maxLayerCount, 16u);
    EXPECT_EQ(Send(GetSystemPropertiesRequest {instance, id + 1000}).result, XR_ERROR_SYSTEM_INVALID);
    EXPECT_EQ(Send(GetSystemPropertiesRequest {instance + 1000, id}).result, XR_ERROR_INSTANCE_LOST);
}

TEST_F(InstanceHandlersTest, ManifestWithItsDisableVariableSetEndsTheScan) {
    const auto manifest = [&](const std::string& file, const std::string& disable, const std::string& extension) {
        const std::string path = environment_.Path(file);
        std::ofstream(platform::PathFromUtf8(path))
            << R"({"file_format_version": "1.0.0", "api_layer": {"name": "XR_APILAYER_test", "library_path": "x.so",)"
            << R"("api_version": "1.0", "implementation_version": "1", "description": "",)"
            << R"("disable_environment": ")" << disable << R"(", "instance_extensions": [{"name": ")" << extension
            << R"(", "extension_version": 1, "entrypoints": []}]}})";
        return path;
    };
    std::ofstream(platform::PathFromUtf8(environment_.Path("broken.json"))) << "{ not json";
    // Unreadable manifests are skipped; the first real one stops the scan while its variable is set.
    const std::vector<std::string> manifests = {
        environment_.Path("missing.json"),
        environment_.Path("broken.json"),
        manifest("first.json", "NORVIK_TEST_DISABLE_FIRST", "XR_EXT_eye_gaze_interaction"),
        manifest("second.json", "", "XR_EXT_hand_tracking"),
    };
    environment_.Set("NORVIK_TEST_DISABLE_FIRST", "1");
    ScanLayerManifests(manifests);
    EXPECT_FALSE(CurrentLayerFeatures().handTracking);
    EXPECT_FALSE(CurrentLayerFeatures().eyeGaze);

    test::UnsetEnv("NORVIK_TEST_DISABLE_FIRST");
    ScanLayerManifests(manifests);
    EXPECT_TRUE(CurrentLayerFeatures().eyeGaze);
    EXPECT_TRUE(CurrentLayerFeatures().handTracking);
}

TEST_F(InstanceHandlersTest, BlendModesOnlyForAKnownSystemInStereo) {
    EnumerateEnvironmentBlendModesRequest request;
    request.viewConfigurationType = XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO;
    const uint64_t system = AddHeadMountedSystem(state_, "norvik_test_display");
    for (const uint64_t unknown : {uint64_t {0}, system + 1000}) {
        request.systemId = unknown;
        EXPECT_EQ(Send(request).result, XR_ERROR_SYSTEM_INVALID) << unknown;
    }
    request.systemId = system;
    request.viewConfigurationType = XR_VIEW_CONFIGURATION_TYPE_PRIMARY_MONO;
    EXPECT_EQ(Send(request).result, XR_ERROR_VIEW_CONFIGURATION_TYPE_UNSUPPORTED);
    request.viewConfigurationType = XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO;
    Answer answer = Send(request);
    ASSERT_EQ(answer.result, XR_SUCCESS);
    EXPECT_EQ(answer.reply.size(), 8u);
    request.capacity = 4;
    answer = Send(request);
    const auto modes = Decode<EnumerateEnvironmentBlendModesReply>(answer);
    ASSERT_EQ(modes.items.items.size(), 1u);
    EXPECT_EQ(modes.items.items[0], static_cast<uint32_t>(XR_ENVIRONMENT_BLEND_MODE_OPAQUE));
}

TEST_F(InstanceHandlersTest, GraphicsRequirementsReportTheServiceAdapters) {
    state_.graphics.d3d11AdapterLuid = 0x0000000500001234ull;
    state_.graphics.d3d12AdapterLuid = 0x0000000600004321ull;
    GetD3D11GraphicsRequirementsRequest d3d11;
    Answer answer = Send(d3d11);
    ASSERT_EQ(answer.result, XR_SUCCESS);
    ASSERT_EQ(answer.reply.size(), 4 + 28u);
    auto record = Decode<GraphicsRequirementsReply>(answer);
    EXPECT_EQ(record.header.type, static_cast<uint32_t>(XR_TYPE_GRAPHICS_REQUIREMENTS_D3D11_KHR));
    EXPECT_EQ(record.adapterLuid, 0x0000000500001234ull);
    EXPECT_EQ(record.minFeatureLevel, 0xb000u);
    GetD3D12GraphicsRequirementsRequest d3d12;
    record = Decode<GraphicsRequirementsReply>(Send(d3d12));
    EXPECT_EQ(record.header.type, static_cast<uint32_t>(XR_TYPE_GRAPHICS_REQUIREMENTS_D3D12_KHR));
    EXPECT_EQ(record.adapterLuid, 0x0000000600004321ull);
}

}  // namespace
}  // namespace qor
