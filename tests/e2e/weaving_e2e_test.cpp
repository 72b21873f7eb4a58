// The lenticular path end to end: the staged window service, XR service (with the lens
// runtime on its library path) and API layer, and xr_demo through the loader. The weaving
// window the window service starts weaves the composed frames for the eyes NORVIK_EYES gives,
// captures them beside their side-by-side input, and sends the eyes back to the window service.
#include "display/winpipe/pipe_client_connection.h"
#include "display/winpipe/window_pipe_message.h"
#include "lenssdk/tools/png_io.h"
#include "lenssdk/weaver_math.h"
#include "platform/process.h"
#include "tests/support/child_process.h"
#include "tests/support/service_pipe.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

namespace qor::test {
namespace {

using namespace std::chrono_literals;

const std::string kStage = NORVIK_STAGE_DIR;

// The newest woven capture whose side-by-side input was captured too.
std::optional<uint64_t> LastCapturedPair(const std::string& folder) {
    std::optional<uint64_t> last;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        unsigned long long number = 0;
        if (std::sscanf(name.c_str(), "Plexaview_%llu.png", &number) != 1 || name.find("input") != std::string::npos) continue;
        char input[64];
        std::snprintf(input, sizeof input, "/Plexaview_input_%06llu.png", number);
        if (std::filesystem::exists(folder + input) && (!last || number > *last)) last = number;
    }
    return last;
}

// Whether the staged weaving window runs (other tests run stand-ins of that name elsewhere).
bool StagedWeavingWindowRuns() {
    for (const uint32_t id : platform::ProcessesNamed("Plexa")) {
        if (platform::ProcessModulePath(id) == kStage + "/Plexa") return true;
    }
    return false;
}

// Mean absolute difference per channel of two RGBA images of one size (alpha left out).
double MeanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        if (i % 4 != 3) sum += std::abs(int(a[i]) - int(b[i]));
    }
    return sum / (a.size() * 3 / 4);
}

class WeavingEndToEnd : public ::testing::Test {
protected:
    // One run of xr_demo with the viewer at `eyes`; the folder of its captures.
    std::string RunWithEyes(const char* eyes) {
        TempEnvironment& env = *environments_.emplace_back(std::make_unique<TempEnvironment>());
        const std::string captures = env.Path("captures");
        std::filesystem::create_directories(captures);
        env.Set("NORVIK_CAPTURE_DIR", captures);
        env.Set("NORVIK_EYES", eyes);
        env.Set("NORVIK_SERVICE", "1");
        for (const char* variable : {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME", "XDG_DATA_DIRS"}) {
            env.Set(variable, env.Path(std::string("xdg/") + variable));
        }
        const std::string install = "bash '" + std::string(NORVIK_SOURCE_DIR) + "/scripts/install-api-layer.sh' '" + kStage +
                                    "' >/dev/null";
        EXPECT_EQ(std::system(install.c_str()), 0);
        env.Set("XR_RUNTIME_JSON", kStage + "/norvik_openxr_runtime.json");
        env.Set("LD_LIBRARY_PATH", kStage + "/LensRuntime");

        ChildProcess windowService(kStage + "/PlexaSvc", {}, env.Path("window-service.err"), env.Path("window-service.out"));
        EXPECT_TRUE(WaitUntil([] { return platform::OpenPipeConnection("Plexaview_NamedPipe", 500) != nullptr; }));
        auto xrService = StartStagedService(env, kStage);
        EXPECT_TRUE(xrService) << "the XR service never answered";
        env.Set("NORVIK_CAPTURE_DIR", captures);  // the service's own captures folder is not ours

        env.Set("LSAN_OPTIONS", "suppressions=" + std::string(NORVIK_SOURCE_DIR) + "/tests/support/lsan_loader.supp");
        ChildProcess demo(kStage + "/xr_demo", {"--frames", "40"}, env.Path("xr_demo.err"), env.Path("xr_demo.out"));
        EXPECT_EQ(demo.WaitForExit(120s), 0) << ReadFile(env.Path("xr_demo.err"));
        // The session's end closes the weaving window, once its captures are written.
        EXPECT_TRUE(WaitUntil([] { return !StagedWeavingWindowRuns(); }, 60s));
        // The window sent the tracked eyes on every pass: the window service holds them.
        const winpipe::PipeClientReply stored =
            winpipe::SendRequest(winpipe::EncodeRequest(winpipe::kCommandFetchEyePositions, {}),
                                 winpipe::kEyePositionsReplyBufferSize);
        storedEyes_ = winpipe::EyePairFromReplyBuffer(stored.buffer);
        xrService->Signal(SIGTERM);
        EXPECT_EQ(xrService->WaitForExit(30s), 0);
        windowService.Signal(SIGTERM);
        EXPECT_EQ(windowService.WaitForExit(10s), 0);
        return captures;
    }

    std::vector<std::unique_ptr<TempEnvironment>> environments_;
    winpipe::EyePair storedEyes_;
};

TEST_F(WeavingEndToEnd, XrDemoFramesAreWovenForTheTrackedEyesAndTheEyesFlowBack) {
    const lens::EyePair eyesA {{-31.5, 0, 600}, {31.5, 0, 600}};
    const lens::EyePair eyesB {{-11.5, 10, 650}, {51.5, 10, 650}};
    const char* texts[2] = {"-31.5,0,600;31.5,0,600", "-11.5,10,650;51.5,10,650"};
    const lens::EyePair* eyes[2] = {&eyesA, &eyesB};
    for (int run = 0; run < 2; ++run) {
        const std::string captures = RunWithEyes(texts[run]);
        EXPECT_FLOAT_EQ(storedEyes_.left.x, float(eyes[run]->left.x)) << run;
        EXPECT_FLOAT_EQ(storedEyes_.right.z, float(eyes[run]->right.z)) << run;
        const std::optional<uint64_t> number = LastCapturedPair(captures);
        ASSERT_TRUE(number) << "no woven frame with its input in " << captures;
        char name[64];
        std::snprintf(name, sizeof name, "%06llu.png", static_cast<unsigned long long>(*number));
        lens::tools::RgbaImage woven, input;
        std::string error;
        ASSERT_TRUE(lens::tools::ReadPng(captures + "/Plexaview_" + name, woven, error)) << error;
        ASSERT_TRUE(lens::tools::ReadPng(captures + "/Plexaview_input_" + name, input, error)) << error;
        EXPECT_EQ(input.width, 3840);  // two views of the default 1920 x 1080
        EXPECT_EQ(input.height, 1080);
        // What each eye sees, traced through the lens model, beside the first frame with a picture.
        int previews = 0;
        for (const auto& entry : std::filesystem::directory_iterator(captures)) {
            const std::string file = entry.path().filename().string();
            previews += file.rfind("Plexaview_left_", 0) == 0 || file.rfind("Plexaview_right_", 0) == 0;
        }
        EXPECT_EQ(previews, 2) << captures;

        // The woven frame is the input woven for this run's eyes, not for the other run's.
        const lens::WeaveSettings settings;
        const lens::ImageView in {input.pixels.data(), input.width, input.height, size_t(input.width) * 4};
        std::vector<uint8_t> expected[2];
        for (int e = 0; e < 2; ++e) {
            expected[e].resize(woven.pixels.size());
            ASSERT_TRUE(lens::WeaveFast(settings, *eyes[e], in,
                                        {expected[e].data(), woven.width, woven.height, size_t(woven.width) * 4}));
        }
        EXPECT_LT(MeanDifference(woven.pixels, expected[run]), 0.05) << run;
        EXPECT_GT(MeanDifference(woven.pixels, expected[1 - run]), 1.0) << run;
    }
}

}  // namespace
}  // namespace qor::test
