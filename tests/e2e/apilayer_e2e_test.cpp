// The staged API layer end to end: the Khronos loader finds its manifest as an implicit layer
// (in the test's own XDG folders), places it before the staged runtime, and an application's
// located views come back with the panel frustum, or as the runtime gave them when the
// lenticular driver's settings turn the fixed-fov mode off.
#include "gpu/device.h"
#include "tests/support/child_process.h"
#include "tests/support/service_pipe.h"
#include "tests/support/soft_session.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>
#include <openxr/openxr.h>

#include <signal.h>

#include <cmath>
#include <cstdlib>
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

// The basic driver's own field of view for both eyes.
constexpr XrFovf kRuntimeFov {-0.5235988f, 0.5235988f, 0.2945243f, -0.2945243f};
// The LOCAL space is turned about y, so that the runtime's views have a turned orientation.
const XrQuaternionf kSpaceTurn {0.0f, std::sin(0.1f), 0.0f, std::cos(0.1f)};

class ApiLayerEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        environment_.Set("XR_RUNTIME_JSON", kStage + "/norvik_openxr_runtime.json");
        // The loader's implicit-layer folders, all inside the test folder; the install script
        // puts the staged layer into one.
        for (const char* variable : {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME", "XDG_DATA_DIRS"}) {
            environment_.Set(variable, environment_.Path(std::string("xdg/") + variable));
        }
        const std::string install =
            std::string("bash '") + NORVIK_SOURCE_DIR + "/scripts/install-api-layer.sh' '" + kStage + "' >/dev/null";
        ASSERT_EQ(std::system(install.c_str()), 0);

        service_ = StartStagedService(environment_, kStage);
        ASSERT_TRUE(service_) << "the service never answered";
        ASSERT_NE(KeepServiceRunning(), 0u);
    }
    void TearDown() override {
        if (!service_) return;
        service_->Signal(SIGTERM);
        EXPECT_EQ(service_->WaitForExit(std::chrono::seconds(30)), 0);
    }

    void WriteDriverSettings(const std::string& text) {
        const std::string folder = environment_.Path("local/Norvik/OpenXR/config/devices/lentic_driver");
        std::filesystem::create_directories(folder);
        std::ofstream(folder + "/driver_settings.json", std::ios::binary) << text;
    }

    // One application run: an instance (the layer negotiates and reads its settings), a session
    // on the soft device, the turned LOCAL space, and the two views located in it.
    void LocateViews(XrView (&views)[2]) {
        SoftSession app;
        ASSERT_NO_FATAL_FAILURE(CreateSoftSession("apilayer-e2e", &app));
        const XrInstance instance = app.instance;
        const XrSession session = app.session;
        XrReferenceSpaceCreateInfo spaceInfo {XR_TYPE_REFERENCE_SPACE_CREATE_INFO};
        spaceInfo.referenceSpaceType = XR_REFERENCE_SPACE_TYPE_LOCAL;
        spaceInfo.poseInReferenceSpace.orientation = kSpaceTurn;
        XrSpace space = XR_NULL_HANDLE;
        ASSERT_EQ(xrCreateReferenceSpace(session, &spaceInfo, &space), XR_SUCCESS);

        XrViewLocateInfo locateInfo {XR_TYPE_VIEW_LOCATE_INFO};
        locateInfo.viewConfigurationType = XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO;
        locateInfo.space = space;
        XrViewState state {XR_TYPE_VIEW_STATE};
        uint32_t count = 0;
        EXPECT_EQ(xrLocateViews(session, &locateInfo, &state, 2, &count, views), XR_SUCCESS);
        EXPECT_EQ(count, 2u);

        EXPECT_EQ(xrDestroySpace(space), XR_SUCCESS);
        EXPECT_EQ(xrDestroySession(session), XR_SUCCESS);
        EXPECT_EQ(xrDestroyInstance(instance), XR_SUCCESS);
    }

    TempEnvironment environment_;
    std::unique_ptr<ChildProcess> service_;
};

void ExpectFov(const XrFovf& actual, const XrFovf& expected, const std::string& context) {
    EXPECT_NEAR(actual.angleLeft, expected.angleLeft, 1e-5) << context;
    EXPECT_NEAR(actual.angleRight, expected.angleRight, 1e-5) << context;
    EXPECT_NEAR(actual.angleUp, expected.angleUp, 1e-5) << context;
    EXPECT_NEAR(actual.angleDown, expected.angleDown, 1e-5) << context;
}

void ExpectOrientation(const XrQuaternionf& actual, const XrQuaternionf& expected, const std::string& context) {
    EXPECT_NEAR(actual.x, expected.x, 1e-6) << context;
    EXPECT_NEAR(actual.y, expected.y, 1e-6) << context;
    EXPECT_NEAR(actual.z, expected.z, 1e-6) << context;
    EXPECT_NEAR(actual.w, expected.w, 1e-6) << context;
}

TEST_F(ApiLayerEndToEnd, LocatedViewsHaveThePanelFrustumUnlessTheDriverSettingsSayOtherwise) {
    // The loader lists the layer it found in the test's implicit-layer folder.
    uint32_t count = 0;
    ASSERT_EQ(xrEnumerateApiLayerProperties(0, &count, nullptr), XR_SUCCESS);
    std::vector<XrApiLayerProperties> layers(count, {XR_TYPE_API_LAYER_PROPERTIES});
    ASSERT_EQ(xrEnumerateApiLayerProperties(count, &count, layers.data()), XR_SUCCESS);
    ASSERT_EQ(count, 1u);
    EXPECT_STREQ(layers[0].layerName, "XR_APILAYER_NORVIK_stereoview");

    // No settings file: the fixed-fov mode of the driver's defaults.
    XrView views[2] {{XR_TYPE_VIEW}, {XR_TYPE_VIEW}};
    LocateViews(views);
    for (int eye = 0; eye < 2; ++eye) {
        const XrVector3f& p = views[eye].pose.position;
        const std::string context = "eye " + std::to_string(eye);
        ASSERT_GT(p.z, 0.5f) << context << ": the runtime's eye in front of the panel";
        const double x = p.x * 1000.0, y = p.y * 1000.0, z = p.z * 1000.0;
        const XrFovf panel {static_cast<float>(-std::atan((x + 172.675) / z)),
                            static_cast<float>(std::atan((172.675 - x) / z)),
                            static_cast<float>(std::atan((97.13 - y) / z)),
                            static_cast<float>(-std::atan((y + 97.13) / z))};
        ExpectFov(views[eye].fov, panel, context);
        ExpectOrientation(views[eye].pose.orientation, {0, 0, 0, 1}, context);
    }
    // Each eye has its own frustum: the right eye, further right, sees further past the left edge.
    EXPECT_GT(views[0].fov.angleLeft, views[1].fov.angleLeft + 0.01f);

    // The driver's fixed-fov mode off: the next instance's layer passes the runtime's views on.
    WriteDriverSettings(R"({"lentic_driver": {"fix_fov_mode": false}})");
    XrView own[2] {{XR_TYPE_VIEW}, {XR_TYPE_VIEW}};
    LocateViews(own);
    for (int eye = 0; eye < 2; ++eye) {
        const std::string context = "eye " + std::to_string(eye) + ", fix_fov_mode false";
        ExpectFov(own[eye].fov, kRuntimeFov, context);
        ExpectOrientation(own[eye].pose.orientation, kSpaceTurn, context);
        EXPECT_EQ(own[eye].pose.position.x, views[eye].pose.position.x) << context;
        EXPECT_EQ(own[eye].pose.position.z, views[eye].pose.position.z) << context;
    }
}

}  // namespace
}  // namespace qor::test
