// The staged tree end to end: "Norvik XR Service" on a temporary folder loads the basic
// driver from drivers/default, and an application reaches it through the Khronos loader
// and the runtime library.
#include "gpu/device.h"
#include "platform/pipe.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "tests/support/child_process.h"
#include "tests/support/service_pipe.h"
#include "tests/support/soft_session.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>
#include <openxr/openxr.h>
#include <png.h>

#include <signal.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// The Debian loader keeps a little memory per created instance until the process ends.
extern "C" const char* __lsan_default_suppressions() { return "leak:libopenxr_loader.so\n"; }

namespace qor::test {
namespace {

const std::string kStage = NORVIK_STAGE_DIR;

std::string TodaysServerLog(const TempEnvironment& environment) {
    char name[32];
    const std::time_t now = std::time(nullptr);
    std::strftime(name, sizeof name, "server_%Y-%m-%d.log", std::localtime(&now));
    return ReadFile(environment.Path("local/Norvik/OpenXR/Logs/") + name);
}

class ServiceCoreEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        environment_.Set("XR_RUNTIME_JSON", kStage + "/norvik_openxr_runtime.json");
        // The basic driver's window also writes what it presents there (and is offscreen
        // without a display).
        captureDir_ = environment_.Path("capture");
        service_ = StartStagedService(environment_, kStage);
        ASSERT_TRUE(service_) << "the service never answered";
        ASSERT_NE(KeepServiceRunning(), 0u);
    }
    void TearDown() override {
        if (!service_) return;
        service_->Signal(SIGTERM);
        EXPECT_EQ(service_->WaitForExit(std::chrono::seconds(30)), 0);
    }

    TempEnvironment environment_;
    std::string captureDir_;
    std::unique_ptr<ChildProcess> service_;
};

struct Capture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgb;

    const uint8_t* At(uint32_t x, uint32_t y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

// The newest PNG the display window wrote into `folder` (names carry the frame number).
bool ReadLastCapture(const std::string& folder, Capture* capture, std::string* name) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() == ".png") names.push_back(entry.path().string());
    }
    if (names.empty()) return false;
    *name = *std::max_element(names.begin(), names.end());
    png_image png {};
    png.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&png, name->c_str()) == 0) return false;
    png.format = PNG_FORMAT_RGB;
    capture->width = png.width;
    capture->height = png.height;
    capture->rgb.resize(PNG_IMAGE_SIZE(png));
    return png_image_finish_read(&png, nullptr, capture->rgb.data(), 0, nullptr) != 0;
}

// Mean column, counted from the half's left edge, of the strongly red pixels (xr_demo's far
// box) in one half of the capture; negative when there are none.
double RedBoxColumn(const Capture& capture, uint32_t half) {
    const uint32_t width = capture.width / 2;
    double sum = 0;
    size_t count = 0;
    for (uint32_t y = 0; y < capture.height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* p = capture.At(half * width + x, y);
            if (p[0] > p[1] + 60 && p[0] > p[2] + 60) {
                sum += x;
                ++count;
            }
        }
    }
    return count < 20 ? -1 : sum / static_cast<double>(count);
}

TEST_F(ServiceCoreEndToEnd, ApplicationSeesTheBasicDriversSystem) {
    uint32_t count = 0;
    ASSERT_EQ(xrEnumerateInstanceExtensionProperties(nullptr, 0, &count, nullptr), XR_SUCCESS);
    std::vector<XrExtensionProperties> extensions(count, {XR_TYPE_EXTENSION_PROPERTIES});
    ASSERT_EQ(xrEnumerateInstanceExtensionProperties(nullptr, count, &count, extensions.data()), XR_SUCCESS);
    std::vector<std::string> names;
    for (const auto& extension : extensions) names.push_back(extension.extensionName);
    for (const char* expected : {"XR_KHR_D3D11_enable", "XR_KHR_D3D12_enable", "XR_EXT_win32_appcontainer_compatible"}) {
        EXPECT_NE(std::find(names.begin(), names.end(), expected), names.end()) << expected;
    }

    XrInstanceCreateInfo createInfo {XR_TYPE_INSTANCE_CREATE_INFO};
    std::strcpy(createInfo.applicationInfo.applicationName, "e2e");
    createInfo.applicationInfo.apiVersion = XR_MAKE_VERSION(1, 0, 17);
    const char* enabled[] = {"XR_KHR_D3D11_enable"};
    createInfo.enabledExtensionCount = 1;
    createInfo.enabledExtensionNames = enabled;
    XrInstance instance = XR_NULL_HANDLE;
    ASSERT_EQ(xrCreateInstance(&createInfo, &instance), XR_SUCCESS);

    XrSystemGetInfo getInfo {XR_TYPE_SYSTEM_GET_INFO};
    getInfo.formFactor = XR_FORM_FACTOR_HEAD_MOUNTED_DISPLAY;
    XrSystemId system = XR_NULL_SYSTEM_ID;
    ASSERT_EQ(xrGetSystem(instance, &getInfo, &system), XR_SUCCESS);
    EXPECT_GE(system, 0x2000000u);
    getInfo.formFactor = XR_FORM_FACTOR_HANDHELD_DISPLAY;
    XrSystemId none = XR_NULL_SYSTEM_ID;
    EXPECT_EQ(xrGetSystem(instance, &getInfo, &none), XR_ERROR_FORM_FACTOR_UNSUPPORTED);

    XrSystemProperties properties {XR_TYPE_SYSTEM_PROPERTIES};
    ASSERT_EQ(xrGetSystemProperties(instance, system, &properties), XR_SUCCESS);
    EXPECT_STREQ(properties.systemName, "norvik_default_display");
    EXPECT_EQ(properties.systemId, system);
    EXPECT_EQ(properties.graphicsProperties.maxLayerCount, 16u);

    uint32_t viewCount = 0;
    ASSERT_EQ(xrEnumerateViewConfigurationViews(instance, system, XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO, 0,
                                                &viewCount, nullptr),
              XR_SUCCESS);
    ASSERT_EQ(viewCount, 2u);
    std::vector<XrViewConfigurationView> views(viewCount, {XR_TYPE_VIEW_CONFIGURATION_VIEW});
    ASSERT_EQ(xrEnumerateViewConfigurationViews(instance, system, XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO, viewCount,
                                                &viewCount, views.data()),
              XR_SUCCESS);
    EXPECT_GT(views[0].recommendedImageRectWidth, 0u);
    EXPECT_EQ(views[0].maxImageRectWidth, 2 * views[0].recommendedImageRectWidth);

    uint32_t modeCount = 0;
    XrEnvironmentBlendMode mode {};
    ASSERT_EQ(xrEnumerateEnvironmentBlendModes(instance, system, XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO, 1,
                                               &modeCount, &mode),
              XR_SUCCESS);
    EXPECT_EQ(modeCount, 1u);
    EXPECT_EQ(mode, XR_ENVIRONMENT_BLEND_MODE_OPAQUE);

    XrEventDataBuffer event {XR_TYPE_EVENT_DATA_BUFFER};
    EXPECT_EQ(xrPollEvent(instance, &event), XR_EVENT_UNAVAILABLE);

    char name[XR_MAX_RESULT_STRING_SIZE];
    ASSERT_EQ(xrResultToString(instance, XR_ERROR_SESSION_LOST, name), XR_SUCCESS);
    EXPECT_STREQ(name, "XR_ERROR_SESSION_LOST");
    char typeName[XR_MAX_STRUCTURE_NAME_SIZE];
    ASSERT_EQ(xrStructureTypeToString(instance, XR_TYPE_SYSTEM_PROPERTIES, typeName), XR_SUCCESS);
    EXPECT_STREQ(typeName, "XR_TYPE_SYSTEM_PROPERTIES");

    EXPECT_EQ(xrDestroyInstance(instance), XR_SUCCESS);

    // The service wrote its settings file and logged the driver it loaded.
    EXPECT_TRUE(WaitUntil([&] {
        return platform::FileExists(environment_.Path("local/Norvik/OpenXR/config/qor_settings.json"));
    }));
    std::string log;
    EXPECT_TRUE(WaitUntil([&] {
        log = TodaysServerLog(environment_);
        return log.find("Loaded driver : default") != std::string::npos &&
               log.find("Destroy Instance : ") != std::string::npos;
    })) << log;
    EXPECT_NE(log.find("Found driver folder : " + kStage + "/drivers/default"), std::string::npos) << log;
    EXPECT_NE(log.find("Create Instance : "), std::string::npos);
}

TEST_F(ServiceCoreEndToEnd, PathsActionsAndBindingsTravelThroughTheLoader) {
    XrInstanceCreateInfo createInfo {XR_TYPE_INSTANCE_CREATE_INFO};
    std::strcpy(createInfo.applicationInfo.applicationName, "e2e-input");
    createInfo.applicationInfo.apiVersion = XR_MAKE_VERSION(1, 0, 17);
    XrInstance instance = XR_NULL_HANDLE;
    ASSERT_EQ(xrCreateInstance(&createInfo, &instance), XR_SUCCESS);

    XrPath left = XR_NULL_PATH;
    ASSERT_EQ(xrStringToPath(instance, "/user/hand/left", &left), XR_SUCCESS);
    EXPECT_EQ(left, 0x73de157267200771u);
    XrPath bad = XR_NULL_PATH;
    EXPECT_EQ(xrStringToPath(instance, "/user/Hand", &bad), XR_ERROR_PATH_FORMAT_INVALID);
    char text[XR_MAX_PATH_LENGTH];
    uint32_t count = 0;
    ASSERT_EQ(xrPathToString(instance, left, sizeof text, &count, text), XR_SUCCESS);
    EXPECT_EQ(count, 16u);
    EXPECT_STREQ(text, "/user/hand/left");

    XrActionSetCreateInfo setInfo {XR_TYPE_ACTION_SET_CREATE_INFO};
    std::strcpy(setInfo.actionSetName, "game");
    std::strcpy(setInfo.localizedActionSetName, "Game");
    XrActionSet set = XR_NULL_HANDLE;
    ASSERT_EQ(xrCreateActionSet(instance, &setInfo, &set), XR_SUCCESS);
    XrActionCreateInfo actionInfo {XR_TYPE_ACTION_CREATE_INFO};
    std::strcpy(actionInfo.actionName, "select");
    std::strcpy(actionInfo.localizedActionName, "Select");
    actionInfo.actionType = XR_ACTION_TYPE_BOOLEAN_INPUT;
    actionInfo.countSubactionPaths = 1;
    actionInfo.subactionPaths = &left;
    XrAction action = XR_NULL_HANDLE;
    ASSERT_EQ(xrCreateAction(set, &actionInfo, &action), XR_SUCCESS);
    XrAction twin = XR_NULL_HANDLE;
    EXPECT_EQ(xrCreateAction(set, &actionInfo, &twin), XR_ERROR_NAME_DUPLICATED);
    actionInfo.actionType = XR_ACTION_TYPE_FLOAT_INPUT;  // a name is taken whatever the action's type
    EXPECT_EQ(xrCreateAction(set, &actionInfo, &twin), XR_ERROR_NAME_DUPLICATED);
    actionInfo.actionType = XR_ACTION_TYPE_BOOLEAN_INPUT;

    XrPath profile = XR_NULL_PATH;
    XrPath select = XR_NULL_PATH;
    ASSERT_EQ(xrStringToPath(instance, "/interaction_profiles/khr/simple_controller", &profile), XR_SUCCESS);
    ASSERT_EQ(xrStringToPath(instance, "/user/hand/left/input/select/click", &select), XR_SUCCESS);
    const XrActionSuggestedBinding binding {action, select};
    XrInteractionProfileSuggestedBinding suggested {XR_TYPE_INTERACTION_PROFILE_SUGGESTED_BINDING};
    suggested.interactionProfile = profile;
    suggested.countSuggestedBindings = 1;
    suggested.suggestedBindings = &binding;
    EXPECT_EQ(xrSuggestInteractionProfileBindings(instance, &suggested), XR_SUCCESS);
    suggested.interactionProfile = left;
    EXPECT_EQ(xrSuggestInteractionProfileBindings(instance, &suggested), XR_ERROR_PATH_UNSUPPORTED);

    EXPECT_EQ(xrDestroyActionSet(set), XR_SUCCESS);
    EXPECT_EQ(xrDestroyInstance(instance), XR_SUCCESS);
}

void WriteAtomically(const std::string& path, const std::string& text) {
    std::ofstream(path + ".new") << text;
    std::filesystem::rename(path + ".new", path);
}

XrAction CreateAction(XrActionSet set, const char* name, XrActionType type) {
    XrActionCreateInfo info {XR_TYPE_ACTION_CREATE_INFO};
    std::strcpy(info.actionName, name);
    std::strcpy(info.localizedActionName, name);
    info.actionType = type;
    XrAction action = XR_NULL_HANDLE;
    EXPECT_EQ(xrCreateAction(set, &info, &action), XR_SUCCESS) << name;
    return action;
}

TEST_F(ServiceCoreEndToEnd, AGamepadHeldInTheGamepadFileReachesTheApplicationsActions) {
    // A pressed; the left stick, in raw units, half right and fully down once its dead zone is
    // taken off. The gamepad's stick exists as its x and y components only.
    const std::string padFile = environment_.Path("pipe/gamepad");
    WriteAtomically(padFile, "a 1\nthumbstick_left_x 20308\nthumbstick_left_y -32767\n");

    SoftSession app;
    ASSERT_NO_FATAL_FAILURE(CreateSoftSession("e2e-gamepad", &app));
    const XrInstance instance = app.instance;
    const XrSession session = app.session;

    XrActionSetCreateInfo setInfo {XR_TYPE_ACTION_SET_CREATE_INFO};
    std::strcpy(setInfo.actionSetName, "pad");
    std::strcpy(setInfo.localizedActionSetName, "Pad");
    XrActionSet set = XR_NULL_HANDLE;
    ASSERT_EQ(xrCreateActionSet(instance, &setInfo, &set), XR_SUCCESS);
    const XrAction press = CreateAction(set, "press", XR_ACTION_TYPE_BOOLEAN_INPUT);
    const XrAction stickX = CreateAction(set, "stick_x", XR_ACTION_TYPE_FLOAT_INPUT);
    const XrAction stickY = CreateAction(set, "stick_y", XR_ACTION_TYPE_FLOAT_INPUT);
    const auto path = [&](const char* text) {
        XrPath value = XR_NULL_PATH;
        EXPECT_EQ(xrStringToPath(instance, text, &value), XR_SUCCESS) << text;
        return value;
    };
    const XrActionSuggestedBinding bindings[] = {
        {press, path("/user/gamepad/input/a/click")},
        {stickX, path("/user/gamepad/input/thumbstick_left/x")},
        {stickY, path("/user/gamepad/input/thumbstick_left/y")},
    };
    XrInteractionProfileSuggestedBinding suggested {XR_TYPE_INTERACTION_PROFILE_SUGGESTED_BINDING};
    suggested.interactionProfile = path("/interaction_profiles/microsoft/xbox_controller");
    suggested.countSuggestedBindings = static_cast<uint32_t>(std::size(bindings));
    suggested.suggestedBindings = bindings;
    ASSERT_EQ(xrSuggestInteractionProfileBindings(instance, &suggested), XR_SUCCESS);
    XrSessionActionSetsAttachInfo attach {XR_TYPE_SESSION_ACTION_SETS_ATTACH_INFO};
    attach.countActionSets = 1;
    attach.actionSets = &set;
    ASSERT_EQ(xrAttachSessionActionSets(session, &attach), XR_SUCCESS);

    // One pass of the application's loop: events (beginning the session once it is ready),
    // a frame without layers (the driver polls the pad as the frame is presented), a sync and
    // the reads.
    XrActionStateBoolean pressed {XR_TYPE_ACTION_STATE_BOOLEAN};
    XrActionStateFloat x {XR_TYPE_ACTION_STATE_FLOAT};
    XrActionStateFloat y {XR_TYPE_ACTION_STATE_FLOAT};
    const auto pass = [&] {
        if (!RunEmptyFrame(app)) return false;
        const XrActiveActionSet active {set, XR_NULL_PATH};
        XrActionsSyncInfo sync {XR_TYPE_ACTIONS_SYNC_INFO};
        sync.countActiveActionSets = 1;
        sync.activeActionSets = &active;
        EXPECT_TRUE(XR_SUCCEEDED(xrSyncActions(session, &sync)));
        XrActionStateGetInfo get {XR_TYPE_ACTION_STATE_GET_INFO};
        get.action = press;
        EXPECT_EQ(xrGetActionStateBoolean(session, &get, &pressed), XR_SUCCESS);
        get.action = stickX;
        EXPECT_EQ(xrGetActionStateFloat(session, &get, &x), XR_SUCCESS);
        get.action = stickY;
        EXPECT_EQ(xrGetActionStateFloat(session, &get, &y), XR_SUCCESS);
        // Inputs read active only in the focused session.
        return pressed.isActive && x.isActive && y.isActive;
    };

    EXPECT_TRUE(WaitUntil([&] { return pass() && pressed.currentState && x.currentState == 0.5f; },
                          std::chrono::seconds(30)));
    EXPECT_TRUE(pressed.currentState);
    EXPECT_FLOAT_EQ(x.currentState, 0.5f);
    EXPECT_FLOAT_EQ(y.currentState, -1.0f);

    // Released and centred: an empty file is a controller at rest.
    WriteAtomically(padFile, "");
    EXPECT_TRUE(WaitUntil([&] { return pass() && !pressed.currentState; }, std::chrono::seconds(30)));
    EXPECT_TRUE(pressed.isActive);
    EXPECT_TRUE(pressed.changedSinceLastSync);
    EXPECT_FALSE(pressed.currentState);
    EXPECT_EQ(x.currentState, 0.0f);
    EXPECT_EQ(y.currentState, 0.0f);

    EXPECT_EQ(xrDestroySession(session), XR_SUCCESS);
    EXPECT_EQ(xrDestroyInstance(instance), XR_SUCCESS);
}


// What the loader hands an application: a lookup of `name` on `instance`.
template <typename Function>
Function Lookup(XrInstance instance, const char* name) {
    PFN_xrVoidFunction function = nullptr;
    EXPECT_EQ(xrGetInstanceProcAddr(instance, name, &function), XR_SUCCESS) << name;
    return reinterpret_cast<Function>(function);
}

XrInstanceCreateInfo CreateInfo(const char* name, std::vector<const char*>& extensions) {
    XrInstanceCreateInfo info {XR_TYPE_INSTANCE_CREATE_INFO};
    std::strcpy(info.applicationInfo.applicationName, name);
    info.applicationInfo.apiVersion = XR_MAKE_VERSION(1, 0, 17);
    info.enabledExtensionCount = static_cast<uint32_t>(extensions.size());
    info.enabledExtensionNames = extensions.data();
    return info;
}

// The texts of the messages a messenger received.
XrBool32 XRAPI_CALL RecordMessage(XrDebugUtilsMessageSeverityFlagsEXT, XrDebugUtilsMessageTypeFlagsEXT,
                                  const XrDebugUtilsMessengerCallbackDataEXT* data, void* user) {
    if (data != nullptr && data->message != nullptr) static_cast<std::vector<std::string>*>(user)->push_back(data->message);
    return XR_FALSE;
}

TEST_F(ServiceCoreEndToEnd, DebugUtilsMessagesReachTheApplicationsMessengers) {
    // The runtime does not offer debug utils; the loader does, and delivers the messages.
    std::vector<std::string> atCreation;
    std::vector<std::string> explicitly;
    XrDebugUtilsMessengerCreateInfoEXT messengerInfo {XR_TYPE_DEBUG_UTILS_MESSENGER_CREATE_INFO_EXT};
    messengerInfo.messageSeverities = XR_DEBUG_UTILS_MESSAGE_SEVERITY_INFO_BIT_EXT |
                                      XR_DEBUG_UTILS_MESSAGE_SEVERITY_WARNING_BIT_EXT |
                                      XR_DEBUG_UTILS_MESSAGE_SEVERITY_ERROR_BIT_EXT;
    messengerInfo.messageTypes = XR_DEBUG_UTILS_MESSAGE_TYPE_GENERAL_BIT_EXT;
    messengerInfo.userCallback = RecordMessage;
    messengerInfo.userData = &atCreation;
    std::vector<const char*> extensions = {"XR_EXT_debug_utils"};
    XrInstanceCreateInfo createInfo = CreateInfo("e2e-debug", extensions);
    createInfo.next = &messengerInfo;
    XrInstance instance = XR_NULL_HANDLE;
    ASSERT_EQ(xrCreateInstance(&createInfo, &instance), XR_SUCCESS);

    XrDebugUtilsMessengerCreateInfoEXT explicitInfo = messengerInfo;
    explicitInfo.userData = &explicitly;
    XrDebugUtilsMessengerEXT messenger = XR_NULL_HANDLE;
    ASSERT_EQ(Lookup<PFN_xrCreateDebugUtilsMessengerEXT>(instance, "xrCreateDebugUtilsMessengerEXT")(
                  instance, &explicitInfo, &messenger),
              XR_SUCCESS);
    EXPECT_NE(messenger, XR_NULL_HANDLE);

    XrDebugUtilsMessengerCallbackDataEXT data {XR_TYPE_DEBUG_UTILS_MESSENGER_CALLBACK_DATA_EXT};
    data.messageId = "e2e";
    data.functionName = "test";
    data.message = "norvik debug message";
    ASSERT_EQ(Lookup<PFN_xrSubmitDebugUtilsMessageEXT>(instance, "xrSubmitDebugUtilsMessageEXT")(
                  instance, XR_DEBUG_UTILS_MESSAGE_SEVERITY_WARNING_BIT_EXT,
                  XR_DEBUG_UTILS_MESSAGE_TYPE_GENERAL_BIT_EXT, &data),
              XR_SUCCESS);
    for (const auto* received : {&atCreation, &explicitly}) {
        EXPECT_EQ(std::count(received->begin(), received->end(), "norvik debug message"), 1);
    }
    EXPECT_EQ(Lookup<PFN_xrDestroyDebugUtilsMessengerEXT>(instance, "xrDestroyDebugUtilsMessengerEXT")(messenger),
              XR_SUCCESS);
    EXPECT_EQ(xrDestroyInstance(instance), XR_SUCCESS);
}

TEST_F(ServiceCoreEndToEnd, InstanceLevelCallsCheckWhatTheApplicationPasses) {
    std::vector<const char*> none;
    XrInstance instance = XR_NULL_HANDLE;
    // Only 1.0.x applications are served.
    const struct {
        XrVersion version;
        XrResult expected;
    } versions[] = {{0, XR_ERROR_API_VERSION_UNSUPPORTED},
                    {XR_MAKE_VERSION(0, 0, 1), XR_ERROR_API_VERSION_UNSUPPORTED},
                    {XR_MAKE_VERSION(2, 0, 0), XR_ERROR_API_VERSION_UNSUPPORTED},
                    {XR_MAKE_VERSION(1, 0, 0), XR_SUCCESS}};
    for (const auto& v : versions) {
        XrInstanceCreateInfo info = CreateInfo("e2e-version", none);
        info.applicationInfo.apiVersion = v.version;
        EXPECT_EQ(xrCreateInstance(&info, &instance), v.expected) << std::hex << v.version;
        if (v.expected == XR_SUCCESS) {
            EXPECT_EQ(xrDestroyInstance(instance), XR_SUCCESS);
        }
    }

    // Structures the runtime does not know are ignored wherever they are chained.
    const XrBaseInStructure unknown {static_cast<XrStructureType>(1000999001), nullptr};
    XrInstanceCreateInfo info = CreateInfo("e2e-checks", none);
    info.next = &unknown;
    ASSERT_EQ(xrCreateInstance(&info, &instance), XR_SUCCESS);
    const XrSystemGetInfo getInfo {XR_TYPE_SYSTEM_GET_INFO, &unknown, XR_FORM_FACTOR_HEAD_MOUNTED_DISPLAY};
    XrSystemId system = XR_NULL_SYSTEM_ID;
    ASSERT_EQ(xrGetSystem(instance, &getInfo, &system), XR_SUCCESS);

    // Blend modes belong to a system the runtime has.
    for (const XrSystemId unknownSystem : {XrSystemId {XR_NULL_SYSTEM_ID}, XrSystemId {system + 1000}}) {
        uint32_t count = 0;
        EXPECT_EQ(xrEnumerateEnvironmentBlendModes(instance, unknownSystem, XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO,
                                                   0, &count, nullptr),
                  XR_ERROR_SYSTEM_INVALID);
    }

    // The Direct3D requirement functions exist only for an instance that enabled their extension.
    for (const char* name : {"xrGetD3D11GraphicsRequirementsKHR", "xrGetD3D12GraphicsRequirementsKHR"}) {
        PFN_xrVoidFunction function = reinterpret_cast<PFN_xrVoidFunction>(&xrDestroyInstance);
        EXPECT_EQ(xrGetInstanceProcAddr(instance, name, &function), XR_ERROR_FUNCTION_UNSUPPORTED) << name;
        EXPECT_EQ(function, nullptr) << name;
    }
    // The loader holds one instance at a time.
    EXPECT_EQ(xrDestroyInstance(instance), XR_SUCCESS);
    std::vector<const char*> d3d11 = {"XR_KHR_D3D11_enable"};
    XrInstanceCreateInfo withD3D11 = CreateInfo("e2e-d3d11", d3d11);
    XrInstance second = XR_NULL_HANDLE;
    ASSERT_EQ(xrCreateInstance(&withD3D11, &second), XR_SUCCESS);
    struct {
        XrStructureType type;
        const void* next;
        uint64_t adapterLuid;
        int32_t minFeatureLevel;
    } requirements {XR_TYPE_GRAPHICS_REQUIREMENTS_D3D11_KHR, nullptr, 0, 0};
    using Requirements = XrResult(XRAPI_PTR*)(XrInstance, XrSystemId, decltype(requirements)*);
    EXPECT_EQ(Lookup<Requirements>(second, "xrGetD3D11GraphicsRequirementsKHR")(second, system, &requirements),
              XR_SUCCESS);
    EXPECT_EQ(requirements.minFeatureLevel, 0xb000);
    PFN_xrVoidFunction d3d12 = nullptr;
    EXPECT_EQ(xrGetInstanceProcAddr(second, "xrGetD3D12GraphicsRequirementsKHR", &d3d12), XR_ERROR_FUNCTION_UNSUPPORTED);

    EXPECT_EQ(xrDestroyInstance(second), XR_SUCCESS);
}

TEST_F(ServiceCoreEndToEnd, XrDemoRunsItsFramesAndShutsDownCleanly) {
    const std::string output = environment_.Path("xr_demo.out");
    // The sanitizer build of the application reports the loader's own leak, which is not ours.
    const std::string suppressions = environment_.Path("lsan.supp");
    std::ofstream(suppressions) << "leak:libopenxr_loader.so\n";
    environment_.Set("LSAN_OPTIONS", "suppressions=" + suppressions);
    ChildProcess demo(kStage + "/xr_demo", {"--frames", "30"}, output);
    ASSERT_TRUE(demo.Started());
    EXPECT_EQ(demo.WaitForExit(std::chrono::seconds(120)), 0) << ReadFile(output);
    // Its stdout is not captured here; the service log tells what happened.
    std::string log;
    EXPECT_TRUE(WaitUntil([&] {
        log = TodaysServerLog(environment_);
        return log.find("Destroy Instance : ") != std::string::npos;
    })) << log;
    EXPECT_NE(log.find("Create Session : "), std::string::npos) << log;
    EXPECT_NE(log.find("CreateSwapchain : SUCCESS"), std::string::npos) << log;
    EXPECT_NE(log.find("Destroy Session : "), std::string::npos) << log;

    // The frames reached the basic driver's window: each half shows its own eye's view.
    Capture capture;
    std::string name;
    ASSERT_TRUE(ReadLastCapture(captureDir_, &capture, &name)) << "no capture in " << captureDir_;
    ASSERT_GE(capture.width, 64u);
    ASSERT_GE(capture.height, 64u);
    for (uint32_t half = 0; half < 2; ++half) {
        // The sky darkens towards the top in both halves (the boxes are near the middle).
        const uint32_t x = half * (capture.width / 2) + capture.width / 40;
        EXPECT_GT(capture.At(x, capture.height - 2)[2], capture.At(x, 1)[2] + 20) << name << " half " << half;
    }
    // The far box sits a little further right in the left eye's image than in the right's.
    const double left = RedBoxColumn(capture, 0);
    const double right = RedBoxColumn(capture, 1);
    EXPECT_GE(left, 0) << name;
    EXPECT_GE(right, 0) << name;
    EXPECT_GT(left, right + 1) << name;
}

}  // namespace
}  // namespace qor::test
