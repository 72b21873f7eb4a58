// The staged layer library driven as the loader drives it: negotiation through its export,
// then its create-instance and xrGetInstanceProcAddr, with a fake next layer below it.
#include "apilayer/layer_interface.h"
#include "platform/library.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qor::test {
namespace {

constexpr const char* kLayerName = "XR_APILAYER_NORVIK_stereoview";
constexpr XrVersion kLayerApi = XR_MAKE_VERSION(1, 0, 17);

template <typename Handle>
Handle MakeHandle(uint64_t value) {
    return reinterpret_cast<Handle>(value);
}

// Handle values no other test of this process used (under Wine all tests share one process).
uint64_t FreshValue() {
    static std::atomic<uint64_t> next {0x1000100};
    return next += 0x10;
}

// ---- the fake next layer -------------------------------------------------------------------

struct FakeNext {
    XrResult createResult = XR_SUCCESS;
    XrInstance createdInstance = XR_NULL_HANDLE;
    const XrApiLayerNextInfo* seenNextInfo = nullptr;
    size_t seenCreateInfoSize = 0;
    int createCalls = 0;
    XrResult createSessionResult = XR_SUCCESS;
    XrResult destroySessionResult = XR_SUCCESS;
    int destroyInstanceCalls = 0;
    XrResult locateResult = XR_SUCCESS;
    uint32_t locateCount = 2;
    XrView locatedView {XR_TYPE_VIEW, nullptr, {{0.1f, 0.2f, 0.3f, 0.927362f}, {0.0f, 0.0f, 0.6f}}, {-0.5f, 0.5f, 0.3f, -0.3f}};
};
// Touched by several threads at once.
std::atomic<uint64_t> g_sessionValue {0x3000000};
std::atomic<int> g_destroySessionCalls {0};
FakeNext g_next;

XrResult XRAPI_CALL FakeCreateInstance(const XrInstanceCreateInfo*, const XrApiLayerCreateInfo* info, XrInstance* instance) {
    ++g_next.createCalls;
    g_next.seenNextInfo = info->nextInfo;
    g_next.seenCreateInfoSize = info->structSize;
    if (XR_SUCCEEDED(g_next.createResult)) *instance = g_next.createdInstance;
    return g_next.createResult;
}

XrResult XRAPI_CALL FakeCreateSession(XrInstance, const XrSessionCreateInfo*, XrSession* session) {
    if (XR_SUCCEEDED(g_next.createSessionResult) && session != nullptr) *session = MakeHandle<XrSession>(++g_sessionValue);
    return g_next.createSessionResult;
}

XrResult XRAPI_CALL FakeDestroySession(XrSession) {
    ++g_destroySessionCalls;
    return g_next.destroySessionResult;
}

XrResult XRAPI_CALL FakeDestroyInstance(XrInstance) {
    ++g_next.destroyInstanceCalls;
    return XR_SUCCESS;
}

// A lenient runtime: it reports locateCount views but writes no more than the capacity.
XrResult XRAPI_CALL FakeLocateViews(XrSession, const XrViewLocateInfo*, XrViewState*, uint32_t capacity, uint32_t* count,
                                    XrView* views) {
    if (count != nullptr) *count = g_next.locateCount;
    if (capacity != 0 && views != nullptr) {
        for (uint32_t i = 0; i < std::min(capacity, g_next.locateCount); ++i) views[i] = g_next.locatedView;
    }
    return g_next.locateResult;
}

template <int Chain>
void XRAPI_CALL OtherFunction() {}

// Two next layers that differ in what they give for "xrOtherFunction".
template <int Chain>
XrResult XRAPI_CALL FakeProcAddr(XrInstance, const char* name, PFN_xrVoidFunction* function) {
    const std::string wanted = name;
    *function = nullptr;
    if (wanted == "xrCreateSession") *function = reinterpret_cast<PFN_xrVoidFunction>(FakeCreateSession);
    if (wanted == "xrDestroySession") *function = reinterpret_cast<PFN_xrVoidFunction>(FakeDestroySession);
    if (wanted == "xrDestroyInstance") *function = reinterpret_cast<PFN_xrVoidFunction>(FakeDestroyInstance);
    if (wanted == "xrLocateViews") *function = reinterpret_cast<PFN_xrVoidFunction>(FakeLocateViews);
    if (wanted == "xrOtherFunction") *function = OtherFunction<Chain>;
    return *function != nullptr ? XR_SUCCESS : XR_ERROR_FUNCTION_UNSUPPORTED;
}

// ---- the layer -------------------------------------------------------------------------------

PFN_xrNegotiateLoaderApiLayerInterface LayerNegotiation() {
    static const auto negotiate = reinterpret_cast<PFN_xrNegotiateLoaderApiLayerInterface>(
        platform::FindLibraryExport(platform::LoadSharedLibrary(NORVIK_API_LAYER), "xrNegotiateLoaderApiLayerInterface"));
    return negotiate;
}

XrNegotiateLoaderInfo LoaderInfo() {
    return {XR_LOADER_INTERFACE_STRUCT_LOADER_INFO, 1, sizeof(XrNegotiateLoaderInfo), 1, 1,
            XR_MAKE_VERSION(1, 0, 0), XR_MAKE_VERSION(1, 0x3ff, 0xfff)};
}

XrNegotiateApiLayerRequest EmptyRequest() {
    XrNegotiateApiLayerRequest request {};
    request.structType = XR_LOADER_INTERFACE_STRUCT_API_LAYER_REQUEST;
    request.structVersion = 1;
    request.structSize = sizeof(XrNegotiateApiLayerRequest);
    return request;
}

// What the loader builds for the layer: its own link, and `below` as the following one.
struct Chain {
    XrApiLayerNextInfo link {};
    XrApiLayerCreateInfo info {};

    explicit Chain(PFN_xrGetInstanceProcAddr next, XrApiLayerNextInfo* below = nullptr) {
        link.structType = XR_LOADER_INTERFACE_STRUCT_API_LAYER_NEXT_INFO;
        link.structVersion = 1;
        link.structSize = sizeof(XrApiLayerNextInfo);
        std::strcpy(link.layerName, kLayerName);
        link.nextGetInstanceProcAddr = next;
        link.nextCreateApiLayerInstance = FakeCreateInstance;
        link.next = below;
        info.structType = XR_LOADER_INTERFACE_STRUCT_API_LAYER_CREATE_INFO;
        info.structVersion = 1;
        info.structSize = sizeof(XrApiLayerCreateInfo);
        info.nextInfo = &link;
    }
};

class StereoviewLayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_next = FakeNext {};
        g_destroySessionCalls = 0;
        ASSERT_NE(LayerNegotiation(), nullptr) << "no export in " << NORVIK_API_LAYER;
        Negotiate();
    }

    std::string SettingsPath() const {
        return environment_.Path("local/Norvik/OpenXR/config/devices/lentic_driver/driver_settings.json");
    }
    // Writes the settings file (or removes it) and negotiates, which reads it.
    void NegotiateWith(const std::optional<std::string>& settings) {
        std::filesystem::remove(SettingsPath());
        if (settings) {
            std::filesystem::create_directories(std::filesystem::path(SettingsPath()).parent_path());
            std::ofstream(SettingsPath(), std::ios::binary) << *settings;
        }
        Negotiate();
    }
    void Negotiate() {
        const XrNegotiateLoaderInfo info = LoaderInfo();
        request_ = EmptyRequest();
        ASSERT_EQ(LayerNegotiation()(&info, kLayerName, &request_), XR_SUCCESS);
    }

    XrResult CreateInstance(const XrApiLayerCreateInfo& chain, XrInstance* instance) {
        const XrInstanceCreateInfo createInfo {XR_TYPE_INSTANCE_CREATE_INFO};
        return request_.createApiLayerInstance(&createInfo, &chain, instance);
    }
    // A new instance of the fake next layer `next`, as the layer recorded it.
    XrInstance NewInstance(PFN_xrGetInstanceProcAddr next = FakeProcAddr<0>, uint64_t value = FreshValue()) {
        g_next.createdInstance = MakeHandle<XrInstance>(value);
        Chain chain(next);
        XrInstance instance = XR_NULL_HANDLE;
        EXPECT_EQ(CreateInstance(chain.info, &instance), XR_SUCCESS);
        return instance;
    }

    template <typename Function>
    Function Get(XrInstance instance, const char* name) {
        PFN_xrVoidFunction function = nullptr;
        EXPECT_EQ(request_.getInstanceProcAddr(instance, name, &function), XR_SUCCESS) << name;
        return reinterpret_cast<Function>(function);
    }
    XrResult Locate(XrInstance instance, XrSession session, uint32_t capacity, uint32_t* count, XrView* views) {
        const XrViewLocateInfo info {XR_TYPE_VIEW_LOCATE_INFO};
        XrViewState state {XR_TYPE_VIEW_STATE};
        return Get<PFN_xrLocateViews>(instance, "xrLocateViews")(session, &info, &state, capacity, count, views);
    }

    TempEnvironment environment_;
    XrNegotiateApiLayerRequest request_ {};
};

XrFovf ExpectedFrustum(double x, double y, double z) {
    return {static_cast<float>(-std::atan((x + 172.675) / z)), static_cast<float>(std::atan((172.675 - x) / z)),
            static_cast<float>(std::atan((97.13 - y) / z)), static_cast<float>(-std::atan((y + 97.13) / z))};
}

void ExpectFov(const XrFovf& actual, const XrFovf& expected, const std::string& context) {
    EXPECT_FLOAT_EQ(actual.angleLeft, expected.angleLeft) << context;
    EXPECT_FLOAT_EQ(actual.angleRight, expected.angleRight) << context;
    EXPECT_FLOAT_EQ(actual.angleUp, expected.angleUp) << context;
    EXPECT_FLOAT_EQ(actual.angleDown, expected.angleDown) << context;
}

void ExpectVector(const XrVector3f& actual, const XrVector3f& expected, const std::string& context) {
    EXPECT_EQ(actual.x, expected.x) << context;
    EXPECT_EQ(actual.y, expected.y) << context;
    EXPECT_EQ(actual.z, expected.z) << context;
}

void ExpectQuaternion(const XrQuaternionf& actual, const XrQuaternionf& expected, const std::string& context) {
    EXPECT_EQ(actual.x, expected.x) << context;
    EXPECT_EQ(actual.y, expected.y) << context;
    EXPECT_EQ(actual.z, expected.z) << context;
    EXPECT_EQ(actual.w, expected.w) << context;
}

// ---- negotiation -------------------------------------------------------------------------------

TEST_F(StereoviewLayerTest, NegotiationAcceptsOnlyWhatTheLayerSupports) {
    using Info = XrNegotiateLoaderInfo;
    using Request = XrNegotiateApiLayerRequest;
    struct Case {
        const char* name;
        std::function<void(Info&, Request&)> change;
        bool accepted;
    };
    const Case cases[] = {
        {"interface 1..1", [](Info&, Request&) {}, true},
        {"interface 0..1", [](Info& i, Request&) { i.minInterfaceVersion = 0; }, true},
        {"interface 1..2", [](Info& i, Request&) { i.maxInterfaceVersion = 2; }, false},
        {"interface 2..2", [](Info& i, Request&) { i.minInterfaceVersion = i.maxInterfaceVersion = 2; }, false},
        {"API exactly 1.0.17", [](Info& i, Request&) { i.minApiVersion = i.maxApiVersion = kLayerApi; }, true},
        {"API only above 1.0.17", [](Info& i, Request&) { i.minApiVersion = XR_MAKE_VERSION(1, 0, 18); }, false},
        {"API only below 1.0.17", [](Info& i, Request&) { i.maxApiVersion = XR_MAKE_VERSION(1, 0, 16); }, false},
        {"loader info type", [](Info& i, Request&) { i.structType = XR_LOADER_INTERFACE_STRUCT_API_LAYER_REQUEST; }, false},
        {"loader info version 2", [](Info& i, Request&) { i.structVersion = 2; }, false},
        {"loader info size 48", [](Info& i, Request&) { i.structSize = 48; }, false},
        {"request type", [](Info&, Request& r) { r.structType = XR_LOADER_INTERFACE_STRUCT_RUNTIME_REQUEST; }, false},
        {"request version 0", [](Info&, Request& r) { r.structVersion = 0; }, false},
        {"request size 40", [](Info&, Request& r) { r.structSize = 40; }, false},
    };
    for (const Case& c : cases) {
        Info info = LoaderInfo();
        Request request = EmptyRequest();
        c.change(info, request);
        const XrResult result = LayerNegotiation()(&info, "any name", &request);
        if (c.accepted) {
            EXPECT_EQ(result, XR_SUCCESS) << c.name;
            EXPECT_EQ(request.layerInterfaceVersion, 1u) << c.name;
            EXPECT_EQ(request.layerApiVersion, kLayerApi) << c.name;
            EXPECT_NE(request.getInstanceProcAddr, nullptr) << c.name;
            EXPECT_NE(request.createApiLayerInstance, nullptr) << c.name;
        } else {
            EXPECT_EQ(result, XR_ERROR_INITIALIZATION_FAILED) << c.name;
            EXPECT_EQ(request.getInstanceProcAddr, nullptr) << c.name;
        }
    }
    const Info info = LoaderInfo();
    Request request = EmptyRequest();
    EXPECT_EQ(LayerNegotiation()(nullptr, kLayerName, &request), XR_ERROR_INITIALIZATION_FAILED);
    EXPECT_EQ(LayerNegotiation()(&info, kLayerName, nullptr), XR_ERROR_INITIALIZATION_FAILED);
}

// ---- instance creation -------------------------------------------------------------------------

TEST_F(StereoviewLayerTest, CreateInstanceRefusesAChainNotMadeForIt) {
    using Info = XrApiLayerCreateInfo;
    using Link = XrApiLayerNextInfo;
    struct Case {
        const char* name;
        std::function<void(Info&, Link&)> change;
    };
    const Case cases[] = {
        {"create info type", [](Info& i, Link&) { i.structType = XR_LOADER_INTERFACE_STRUCT_API_LAYER_NEXT_INFO; }},
        {"create info version 0", [](Info& i, Link&) { i.structVersion = 0; }},
        {"create info size 543", [](Info& i, Link&) { i.structSize = 543; }},
        {"no next info", [](Info& i, Link&) { i.nextInfo = nullptr; }},
        {"next info type", [](Info&, Link& l) { l.structType = XR_LOADER_INTERFACE_STRUCT_API_LAYER_CREATE_INFO; }},
        {"next info version 0", [](Info&, Link& l) { l.structVersion = 0; }},
        {"next info size 295", [](Info&, Link& l) { l.structSize = 295; }},
        {"another layer's link", [](Info&, Link& l) { std::strcpy(l.layerName, "XR_APILAYER_NORVIK_stereoview2"); }},
        {"name in another case", [](Info&, Link& l) { std::strcpy(l.layerName, "xr_apilayer_norvik_stereoview"); }},
        {"unterminated name", [](Info&, Link& l) { std::memset(l.layerName, 'X', sizeof l.layerName); }},
        {"no next xrGetInstanceProcAddr", [](Info&, Link& l) { l.nextGetInstanceProcAddr = nullptr; }},
        {"no next create", [](Info&, Link& l) { l.nextCreateApiLayerInstance = nullptr; }},
    };
    for (const Case& c : cases) {
        Chain chain(FakeProcAddr<0>);
        c.change(chain.info, chain.link);
        XrInstance instance = XR_NULL_HANDLE;
        EXPECT_EQ(CreateInstance(chain.info, &instance), XR_ERROR_INITIALIZATION_FAILED) << c.name;
        EXPECT_EQ(g_next.createCalls, 0) << c.name;
    }
    XrInstance instance = XR_NULL_HANDLE;
    const XrInstanceCreateInfo createInfo {XR_TYPE_INSTANCE_CREATE_INFO};
    EXPECT_EQ(request_.createApiLayerInstance(&createInfo, nullptr, &instance), XR_ERROR_INITIALIZATION_FAILED);
}

TEST_F(StereoviewLayerTest, CreateInstanceHandsTheRestOfTheChainDownAndRecordsWhatSucceeded) {
    XrApiLayerNextInfo following {};
    struct Case {
        const char* name;
        XrApiLayerNextInfo* below;  // null: this layer is the innermost
        XrResult nextResult;
    };
    const Case cases[] = {
        {"innermost layer", nullptr, XR_SUCCESS},
        {"a layer below", &following, XR_SUCCESS},
        {"the next create fails", nullptr, XR_ERROR_LIMIT_REACHED},
    };
    for (const Case& c : cases) {
        g_next = FakeNext {};
        g_next.createResult = c.nextResult;
        g_next.createdInstance = MakeHandle<XrInstance>(FreshValue());
        Chain chain(FakeProcAddr<0>, c.below);
        chain.info.structSize = sizeof(XrApiLayerCreateInfo) + 64;  // a later version of the structure
        XrInstance instance = XR_NULL_HANDLE;
        EXPECT_EQ(CreateInstance(chain.info, &instance), c.nextResult) << c.name;
        EXPECT_EQ(g_next.createCalls, 1) << c.name;
        EXPECT_EQ(g_next.seenNextInfo, c.below) << c.name;
        EXPECT_EQ(g_next.seenCreateInfoSize, sizeof(XrApiLayerCreateInfo)) << c.name << ": the copy's own size";
        EXPECT_EQ(chain.info.nextInfo, &chain.link) << c.name << ": the loader's structure is left alone";

        PFN_xrVoidFunction function = nullptr;
        const XrResult lookup = request_.getInstanceProcAddr(g_next.createdInstance, "xrOtherFunction", &function);
        if (XR_SUCCEEDED(c.nextResult)) {
            EXPECT_EQ(instance, g_next.createdInstance) << c.name;
            EXPECT_EQ(lookup, XR_SUCCESS) << c.name;
            EXPECT_EQ(function, OtherFunction<0>) << c.name;
        } else {
            EXPECT_EQ(lookup, XR_ERROR_HANDLE_INVALID) << c.name << ": nothing recorded";
        }
    }
}

// ---- function lookup ---------------------------------------------------------------------------

TEST_F(StereoviewLayerTest, GetInstanceProcAddrAnswersItsOwnFunctionsForAnyInstance) {
    const XrInstance known = NewInstance();
    const XrInstance unknown = MakeHandle<XrInstance>(FreshValue());
    enum class Expect { Own, Next, None };
    struct Case {
        XrInstance instance;
        const char* name;
        XrResult result;
        Expect expect;
    };
    const Case cases[] = {
        {unknown, "xrGetInstanceProcAddr", XR_SUCCESS, Expect::Own},
        {unknown, "xrLocateViews", XR_SUCCESS, Expect::Own},
        {XR_NULL_HANDLE, "xrCreateSession", XR_SUCCESS, Expect::Own},
        {unknown, "xrDestroySession", XR_SUCCESS, Expect::Own},
        {known, "xrDestroySession", XR_SUCCESS, Expect::Own},
        {unknown, "xrdestroysession", XR_ERROR_HANDLE_INVALID, Expect::None},
        {unknown, "xrOtherFunction", XR_ERROR_HANDLE_INVALID, Expect::None},
        {XR_NULL_HANDLE, "xrOtherFunction", XR_ERROR_HANDLE_INVALID, Expect::None},
        {known, "xrOtherFunction", XR_SUCCESS, Expect::Next},
        {known, "xrUnsupportedFunction", XR_ERROR_FUNCTION_UNSUPPORTED, Expect::None},
    };
    for (const Case& c : cases) {
        PFN_xrVoidFunction function = OtherFunction<9>;
        EXPECT_EQ(request_.getInstanceProcAddr(c.instance, c.name, &function), c.result) << c.name;
        switch (c.expect) {
            case Expect::Own:
                EXPECT_NE(function, nullptr) << c.name;
                EXPECT_NE(function, OtherFunction<0>) << c.name;
                break;
            case Expect::Next:
                EXPECT_EQ(function, OtherFunction<0>) << c.name;
                break;
            case Expect::None:
                EXPECT_EQ(function, nullptr) << c.name;
                break;
        }
    }
    PFN_xrVoidFunction self = nullptr;
    ASSERT_EQ(request_.getInstanceProcAddr(unknown, "xrGetInstanceProcAddr", &self), XR_SUCCESS);
    EXPECT_EQ(self, reinterpret_cast<PFN_xrVoidFunction>(request_.getInstanceProcAddr));
    // Null pointers from the application are refused, not followed.
    PFN_xrVoidFunction function = nullptr;
    EXPECT_EQ(request_.getInstanceProcAddr(known, nullptr, &function), XR_ERROR_VALIDATION_FAILURE);
    EXPECT_EQ(request_.getInstanceProcAddr(known, "xrLocateViews", nullptr), XR_ERROR_VALIDATION_FAILURE);
}

// ---- located views -----------------------------------------------------------------------------

TEST_F(StereoviewLayerTest, LocatedViewsGetThePanelFrustumInFixedFovMode) {
    const char* const fixOff = R"({"lentic_driver": {"fix_fov_mode": false}})";
    struct Case {
        const char* name;
        const char* before;                   // settings of an earlier negotiation, if any
        std::optional<std::string> settings;  // the file at the last negotiation; none: no file
        XrVector3f eye;
        uint32_t capacity;
        uint32_t count;  // what the next layer reports
        XrResult nextResult;
        std::optional<XrFovf> frustum;  // none: the next layer's views come through unchanged
    };
    const XrFovf atPanel = ExpectedFrustum(0, 0, 600);
    const Case cases[] = {
        {"no settings file", nullptr, std::nullopt, {0, 0, 0.6f}, 2, 2, XR_SUCCESS, atPanel},
        {"height offset", nullptr, R"({"lentic_driver": {"height_offset": 0.05}})", {0, 0.05f, 0.6f}, 2, 2, XR_SUCCESS,
         atPanel},
        {"eye off centre", nullptr, R"({"lentic_driver": {}})", {-0.1f, 0.02f, 0.5f}, 2, 2, XR_SUCCESS,
         ExpectedFrustum(-100, 20, 500)},
        {"fix_fov_mode false", nullptr, fixOff, {0, 0, 0.6f}, 2, 2, XR_SUCCESS, std::nullopt},
        {"capacity 0", nullptr, std::nullopt, {0, 0, 0.6f}, 0, 2, XR_SUCCESS, std::nullopt},
        {"next layer failed", nullptr, std::nullopt, {0, 0, 0.6f}, 2, 2, XR_ERROR_SIZE_INSUFFICIENT, std::nullopt},
        {"no views returned", nullptr, std::nullopt, {0, 0, 0.6f}, 2, 0, XR_SUCCESS, std::nullopt},
        {"unparsable file keeps the earlier settings", fixOff, "{\"lentic_driver\": ", {0, 0, 0.6f}, 2, 2, XR_SUCCESS,
         std::nullopt},
        {"file without the member keeps the earlier settings", fixOff, R"({"other": 1})", {0, 0, 0.6f}, 2, 2,
         XR_SUCCESS, std::nullopt},
        {"values of the wrong type are defaults", fixOff,
         R"({"lentic_driver": {"fix_fov_mode": "no", "height_offset": "high"}})", {0, 0, 0.6f}, 2, 2, XR_SUCCESS,
         atPanel},
        {"a member that is no object gives defaults", fixOff, R"({"lentic_driver": 5})", {0, 0, 0.6f}, 2, 2,
         XR_SUCCESS, atPanel},
        {"more views reported than the capacity", nullptr, std::nullopt, {0, 0, 0.6f}, 2, 4, XR_SUCCESS, atPanel},
    };
    const XrInstance instance = NewInstance();
    XrSession session = XR_NULL_HANDLE;
    const XrSessionCreateInfo createInfo {XR_TYPE_SESSION_CREATE_INFO};
    ASSERT_EQ(Get<PFN_xrCreateSession>(instance, "xrCreateSession")(instance, &createInfo, &session), XR_SUCCESS);
    for (const Case& c : cases) {
        if (c.before != nullptr) NegotiateWith(std::string(c.before));
        NegotiateWith(c.settings);
        g_next.locateResult = c.nextResult;
        g_next.locateCount = c.count;
        g_next.locatedView.pose.position = c.eye;
        // Exactly the capacity: writing past it is caught by the address sanitizer.
        std::vector<XrView> views(c.capacity, XrView {XR_TYPE_VIEW});
        uint32_t count = 0;
        EXPECT_EQ(Locate(instance, session, c.capacity, &count, views.data()), c.nextResult) << c.name;
        EXPECT_EQ(count, c.count) << c.name;
        const XrView& given = g_next.locatedView;
        for (uint32_t i = 0; i < std::min(c.capacity, c.count); ++i) {
            const XrView& view = views[i];
            EXPECT_EQ(view.type, XR_TYPE_VIEW) << c.name;
            ExpectVector(view.pose.position, given.pose.position, c.name + std::string(": the position is kept"));
            if (c.frustum) {
                ExpectFov(view.fov, *c.frustum, c.name);
                ExpectQuaternion(view.pose.orientation, {0, 0, 0, 1}, c.name);
            } else {
                ExpectFov(view.fov, given.fov, c.name + std::string(": unchanged"));
                ExpectQuaternion(view.pose.orientation, given.pose.orientation, c.name + std::string(": unchanged"));
            }
        }
    }
}

// ---- sessions and instances --------------------------------------------------------------------

TEST_F(StereoviewLayerTest, SessionAndInstanceEntriesLiveAsLongAsTheirHandles) {
    const XrSessionCreateInfo createInfo {XR_TYPE_SESSION_CREATE_INFO};
    const XrInstance stranger = MakeHandle<XrInstance>(FreshValue());
    XrSession session = XR_NULL_HANDLE;
    EXPECT_EQ(Get<PFN_xrCreateSession>(stranger, "xrCreateSession")(stranger, &createInfo, &session),
              XR_ERROR_VALIDATION_FAILURE);

    const uint64_t value = FreshValue();
    const XrInstance instance = NewInstance(FakeProcAddr<0>, value);
    const auto createSession = Get<PFN_xrCreateSession>(instance, "xrCreateSession");
    const auto destroySession = Get<PFN_xrDestroySession>(instance, "xrDestroySession");
    ASSERT_EQ(createSession(instance, &createInfo, &session), XR_SUCCESS);
    std::vector<XrView> views(2, XrView {XR_TYPE_VIEW});
    uint32_t count = 0;
    EXPECT_EQ(Locate(instance, session, 2, &count, views.data()), XR_SUCCESS);
    const XrSession unknown = MakeHandle<XrSession>(FreshValue());
    EXPECT_EQ(Locate(instance, unknown, 2, &count, views.data()), XR_ERROR_HANDLE_INVALID);
    EXPECT_EQ(destroySession(unknown), XR_ERROR_HANDLE_INVALID);
    EXPECT_EQ(g_destroySessionCalls, 0);

    // A destroy the next layer refuses still ends the session here.
    g_next.destroySessionResult = XR_ERROR_RUNTIME_FAILURE;
    EXPECT_EQ(destroySession(session), XR_ERROR_RUNTIME_FAILURE);
    EXPECT_EQ(g_destroySessionCalls, 1);
    EXPECT_EQ(Locate(instance, session, 2, &count, views.data()), XR_ERROR_HANDLE_INVALID);

    // Destroying the instance ends its entry and its sessions' entries ...
    ASSERT_EQ(createSession(instance, &createInfo, &session), XR_SUCCESS);
    EXPECT_EQ(Get<PFN_xrDestroyInstance>(instance, "xrDestroyInstance")(instance), XR_SUCCESS);
    EXPECT_EQ(g_next.destroyInstanceCalls, 1);
    EXPECT_EQ(Locate(instance, session, 2, &count, views.data()), XR_ERROR_HANDLE_INVALID);
    PFN_xrVoidFunction function = nullptr;
    EXPECT_EQ(request_.getInstanceProcAddr(instance, "xrOtherFunction", &function), XR_ERROR_HANDLE_INVALID);
    EXPECT_EQ(Get<PFN_xrDestroyInstance>(instance, "xrDestroyInstance")(instance), XR_ERROR_HANDLE_INVALID);

    // ... so that a new instance with the same handle value reaches its own next layer.
    const XrInstance reused = NewInstance(FakeProcAddr<1>, value);
    ASSERT_EQ(reused, instance);
    EXPECT_EQ(request_.getInstanceProcAddr(reused, "xrOtherFunction", &function), XR_SUCCESS);
    EXPECT_EQ(function, OtherFunction<1>);

    // Null output pointers pass to the next layer, which refuses them; the layer follows none.
    g_next.createSessionResult = XR_ERROR_VALIDATION_FAILURE;
    EXPECT_EQ(createSession(reused, &createInfo, nullptr), XR_ERROR_VALIDATION_FAILURE);
    g_next.createSessionResult = XR_SUCCESS;
    EXPECT_EQ(createSession(reused, &createInfo, nullptr), XR_SUCCESS);  // a lenient next layer
    ASSERT_EQ(createSession(reused, &createInfo, &session), XR_SUCCESS);
    EXPECT_EQ(Locate(reused, session, 2, nullptr, views.data()), XR_SUCCESS);
    EXPECT_EQ(Locate(reused, session, 2, &count, nullptr), XR_SUCCESS);
}

// Sessions come and go on several application threads while another negotiates again.
TEST_F(StereoviewLayerTest, ConcurrentSessionsAndNegotiation) {
    const XrInstance instance = NewInstance();
    const auto createSession = Get<PFN_xrCreateSession>(instance, "xrCreateSession");
    const auto destroySession = Get<PFN_xrDestroySession>(instance, "xrDestroySession");
    const auto locate = Get<PFN_xrLocateViews>(instance, "xrLocateViews");
    std::atomic<int> failures {0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            for (int round = 0; round < 50; ++round) {
                const XrSessionCreateInfo createInfo {XR_TYPE_SESSION_CREATE_INFO};
                XrSession session = XR_NULL_HANDLE;
                if (createSession(instance, &createInfo, &session) != XR_SUCCESS) ++failures;
                XrView views[2] {{XR_TYPE_VIEW}, {XR_TYPE_VIEW}};
                const XrViewLocateInfo info {XR_TYPE_VIEW_LOCATE_INFO};
                XrViewState state {XR_TYPE_VIEW_STATE};
                uint32_t count = 0;
                if (locate(session, &info, &state, 2, &count, views) != XR_SUCCESS) ++failures;
                if (destroySession(session) != XR_SUCCESS) ++failures;
            }
        });
    }
    threads.emplace_back([&] {
        for (int round = 0; round < 50; ++round) {
            const XrNegotiateLoaderInfo info = LoaderInfo();
            XrNegotiateApiLayerRequest request = EmptyRequest();
            if (LayerNegotiation()(&info, kLayerName, &request) != XR_SUCCESS) ++failures;
        }
    });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace qor::test
