// The staged service watching over itself: it closes without applications, destroys the
// instance of an application that was killed, and obeys the exit keys held down (through the
// keys-down file of the POSIX key state) and chosen in the registry while it runs.
#include "platform/pipe.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "protocol/layouts.h"
#include "tests/support/child_process.h"
#include "tests/support/service_pipe.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <cinttypes>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>

namespace qor::test {
namespace {

using namespace protocol;
using namespace std::chrono_literals;
using platform::PipeStatus;
const std::string kStage = NORVIK_STAGE_DIR;

std::string Hex(const uint8_t* bytes, size_t size) {
    std::string text;
    char pair[3];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

class WatchdogEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        started_ = std::chrono::steady_clock::now();
        service_ = StartStagedService(environment_, kStage);
        ASSERT_TRUE(service_) << "the service never answered";
    }

    std::string Log() const {
        char name[32];
        const std::time_t now = std::time(nullptr);
        std::strftime(name, sizeof name, "server_%Y-%m-%d.log", std::localtime(&now));
        return ReadFile(environment_.Path("local/Norvik/OpenXR/Logs/") + name);
    }

    void Hold(std::initializer_list<uint32_t> keys) {
        const std::string path = environment_.Path("pipe/keys-down");
        std::string text;
        for (const uint32_t key : keys) text += std::to_string(key) + "\n";
        std::ofstream(path + ".new") << text;
        std::filesystem::rename(path + ".new", path);
    }

    TempEnvironment environment_;
    std::chrono::steady_clock::time_point started_;
    std::unique_ptr<ChildProcess> service_;
};

TEST_F(WatchdogEndToEnd, WithoutApplicationsTheServiceClosesItselfAfterTwoChecks) {
    EXPECT_EQ(service_->WaitForExit(60s), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - started_, 10s);
    EXPECT_FALSE(ServiceAnswers());
    const std::string log = Log();
    EXPECT_NE(log.find("Norvik OpenXR runtime stop."), std::string::npos) << log;
}

TEST_F(WatchdogEndToEnd, AKilledApplicationsInstanceIsDestroyedAndTheServiceClosesAfterIt) {
    const std::string probePath = NORVIK_QOR_PROBE;
    CreateInstanceRequest request;
    request.info.type = XR_TYPE_INSTANCE_CREATE_INFO;
    std::snprintf(request.applicationName.text.data(), request.applicationName.text.size(), "killed");
    request.apiVersion = XR_MAKE_VERSION(1, 0, 17);
    const std::u16string path = platform::Utf8ToUtf16(probePath);
    std::copy(path.begin(), path.end(), request.executablePath.text.begin());
    std::array<uint8_t, kMaxRequestSize> bytes {};
    const uint32_t size = EncodeRequest(request, bytes.data(), bytes.size());
    const std::string argument = std::to_string(static_cast<uint32_t>(OperationOf<CreateInstanceRequest>::op)) + ":" +
                                 Hex(bytes.data() + 4, size - 4);
    const std::string out = environment_.Path("probe.out");
    ChildProcess application(probePath, {"--hold", argument}, "", out);
    ASSERT_TRUE(application.Started());

    // "result 0 XR_SUCCESS, 12 reply bytes: 00 00 00 00" then the handle, little-endian.
    const std::regex created(R"(result 0 XR_SUCCESS, 12 reply bytes: 00 00 00 00((?: [0-9a-f]{2}){8}))");
    std::smatch match;
    std::string printed;
    ASSERT_TRUE(WaitUntil([&] {
        printed = ReadFile(out);
        return std::regex_search(printed, match, created);
    })) << printed;
    uint64_t handle = 0;
    for (int i = 7; i >= 0; --i) handle = (handle << 8) | std::stoul(match[1].str().substr(1 + 3 * i, 2), nullptr, 16);
    char handleText[32];
    std::snprintf(handleText, sizeof handleText, "%016" PRIX64, handle);
    EXPECT_NE(Log().find("Add process into watchdog : " + probePath), std::string::npos);

    application.Signal(SIGKILL);
    application.WaitForExit(10s);
    const auto killed = std::chrono::steady_clock::now();
    std::string log;
    ASSERT_TRUE(WaitUntil([&] {
        log = Log();
        return log.find(std::string("Destroy Instance : ") + handleText + "\n\tSUCCESS") != std::string::npos;
    }, 20s)) << log;
    // One check, 5 s apart; a loaded machine may add some.
    EXPECT_LT(std::chrono::steady_clock::now() - killed, 12s);

    // The application was the last one: two checks later the service is gone.
    EXPECT_EQ(service_->WaitForExit(60s), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - killed, 5s);
}

TEST_F(WatchdogEndToEnd, ExitKeysChosenWhileRunningStopTheSessionsAndLeftAltMBStopsTheService) {
    const uint64_t instance = KeepServiceRunning();
    ASSERT_NE(instance, 0u);
    const uint64_t system =
        HandleOf(CallService(GetSystemRequest {instance, {XR_TYPE_SYSTEM_GET_INFO, 0}, XR_FORM_FACTOR_HEAD_MOUNTED_DISPLAY}));
    CreateSessionRequest create {instance, {XR_TYPE_SESSION_CREATE_INFO, 0}, 0, system, {}};
    create.binding = {true, {{XR_TYPE_GRAPHICS_BINDING_D3D11_KHR, 0}, 0x1234, {false, 0}}};
    const uint64_t session = HandleOf(CallService(create));
    ASSERT_EQ(CallService(BeginSessionRequest {session, {XR_TYPE_SESSION_BEGIN_INFO, 0}, XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO})
                  .result,
              XR_SUCCESS);

    // A lower-case y as the second key is Y; chosen while the service runs.
    ASSERT_TRUE(platform::RegistryWriteDword(platform::RegistryRoot::CurrentUser, "SOFTWARE\\Norvik\\Tavrix",
                                             "XRExitKey2", 0x79));
    Hold({0xA4, 0x59});
    std::vector<XrSessionState> states;
    ASSERT_TRUE(WaitUntil([&] {
        const ServiceReply event = CallService(PollEventRequest {{instance}});
        if (event.result == XR_SUCCESS && event.bytes.size() >= 4 + sizeof(XrEventDataSessionStateChanged)) {
            XrEventDataSessionStateChanged changed;
            std::memcpy(&changed, event.bytes.data() + 4, sizeof changed);
            if (changed.type == XR_TYPE_EVENT_DATA_SESSION_STATE_CHANGED) states.push_back(changed.state);
        }
        return !states.empty() && states.back() == XR_SESSION_STATE_STOPPING;
    }, 20s));
    EXPECT_EQ(states, (std::vector<XrSessionState> {XR_SESSION_STATE_IDLE, XR_SESSION_STATE_READY,
                                                     XR_SESSION_STATE_SYNCHRONIZED, XR_SESSION_STATE_STOPPING}));

    Hold({0xA4, 0x4D, 0x42});
    EXPECT_EQ(service_->WaitForExit(30s), 0);
    const std::string log = Log();
    EXPECT_NE(log.find("Exit keys : left Alt + M + B"), std::string::npos) << log;
    EXPECT_NE(log.find("Norvik OpenXR runtime stop."), std::string::npos) << log;
    // The single-instance lock went with it: a new copy starts.
    ChildProcess next(kStage + "/Norvik XR Service");
    EXPECT_TRUE(WaitUntil(ServiceAnswers));
    next.Signal(SIGTERM);
    EXPECT_EQ(next.WaitForExit(30s), 0);
}

}  // namespace
}  // namespace qor::test
