// The window service's commands against a stand-in system: the eye-position store, the
// weaving window's start, record and shared handle, the launch mode and the side-by-side status.
#include "winservice/window_commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <thread>

namespace qor::winservice {
namespace {

using winpipe::Bytes;
using winpipe::ByteView;

class FakeHost final : public WeavingWindowHost {
public:
    bool ProgramRunning() override { return runningChecks > 0 && runningChecks-- > 0; }
    bool WindowRunning(const platform::ProcessIdentity& process) override {
        return std::find(ended.begin(), ended.end(), process.id) == ended.end();
    }
    std::optional<platform::ProcessIdentity> Launch(const std::string& handleText, LaunchMode mode) override {
        launches.push_back({handleText, mode});
        if (!launchSucceeds) return std::nullopt;
        return platform::ProcessIdentity {static_cast<uint32_t>(1000 + launches.size()), 1};
    }
    void PostSharedHandle(uint32_t value) override { posted.push_back(value); }
    void Terminate(const platform::ProcessIdentity& process, std::chrono::milliseconds) override {
        terminated.push_back(process.id);
    }

    std::atomic<int> runningChecks {0};  // how many more checks find an earlier window running
    bool launchSucceeds = true;
    std::vector<std::pair<std::string, LaunchMode>> launches;
    std::vector<uint32_t> posted;
    std::vector<uint32_t> terminated;
    std::vector<uint32_t> ended;  // started windows that died on their own
};

class WindowCommandsTest : public ::testing::Test {
protected:
    // Declared before the processor, which keeps a copy.
    DisplaySettingsReader Settings() {
        DisplaySettingsReader settings;
        settings.developerMode = [this] { return developerMode_; };
        settings.osdStatus = [this] { return osdStatus_; };
        settings.writeSbsStatus = [this](uint32_t status) {
            sbsWrites_.push_back(status);
            return true;
        };
        return settings;
    }

    std::optional<Bytes> Send(uint16_t command, std::initializer_list<ByteView> arguments) {
        const Bytes message = winpipe::EncodeRequest(command, arguments);
        const auto request = winpipe::DecodeRequest(message);
        EXPECT_TRUE(request);
        return processor_.Handle(*request);
    }
    static std::optional<int32_t> IntegerOf(const std::optional<Bytes>& reply) {
        if (!reply) return std::nullopt;
        return winpipe::ReadIntegerReply(*reply);
    }
    // The handle text as the driver sends it: the decimal digits, zero-padded to 20 bytes.
    static Bytes HandleText(const char* digits) {
        Bytes text(20, 0);
        std::memcpy(text.data(), digits, std::strlen(digits));
        return text;
    }

    FakeHost host_;
    int64_t developerMode_ = -1;
    int64_t osdStatus_ = -1;
    std::vector<uint32_t> sbsWrites_;
    WindowCommandProcessor processor_ {host_, Settings(), [](std::string_view, std::string_view) {}};
};

TEST_F(WindowCommandsTest, EyePositionsAreStoredAsTwoWholeRecordsAndFetchedAsTheyWere) {
    const Bytes zeros = Send(winpipe::kCommandFetchEyePositions, {}).value();
    ASSERT_EQ(zeros.size(), 33u);
    EXPECT_EQ(zeros, Bytes({2, 12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    const float left[3] = {-31.5f, 2.0f, 600.0f}, right[3] = {31.5f, 2.0f, 600.0f};
    EXPECT_EQ(IntegerOf(Send(winpipe::kCommandStoreEyePositions, {winpipe::BytesOf(left), winpipe::BytesOf(right)})), 0);
    const Bytes stored = Send(winpipe::kCommandFetchEyePositions, {winpipe::BytesOf(int32_t {1})}).value();
    EXPECT_EQ(std::memcmp(stored.data() + 5, left, 12), 0);
    EXPECT_EQ(std::memcmp(stored.data() + 21, right, 12), 0);

    // Anything but two 12-byte records is refused and changes nothing.
    const uint8_t longRecord[16] = {0xFF};
    const struct {
        std::vector<ByteView> arguments;
    } refused[] = {{{}}, {{winpipe::BytesOf(left)}}, {{ByteView(longRecord), winpipe::BytesOf(right)}},
                   {{winpipe::BytesOf(left), ByteView(longRecord, 8)}}};
    for (const auto& test : refused) {
        const Bytes message = [&] {
            switch (test.arguments.size()) {
                case 0: return winpipe::EncodeRequest(winpipe::kCommandStoreEyePositions, {});
                case 1: return winpipe::EncodeRequest(winpipe::kCommandStoreEyePositions, {test.arguments[0]});
                default: return winpipe::EncodeRequest(winpipe::kCommandStoreEyePositions, {test.arguments[0], test.arguments[1]});
            }
        }();
        EXPECT_EQ(IntegerOf(processor_.Handle(*winpipe::DecodeRequest(message))), -1);
    }
    EXPECT_EQ(Send(winpipe::kCommandFetchEyePositions, {}).value(), stored);
}

TEST_F(WindowCommandsTest, WeavingWindowIsStartedOnceRecordedAndForgottenOnClose) {
    const Bytes handle = HandleText("1073744386");
    // Wrong argument counts get no reply at all.
    EXPECT_FALSE(Send(winpipe::kCommandOpenApp, {handle, handle, handle}));
    EXPECT_FALSE(Send(winpipe::kCommandSharedHandler, {}));

    // Without a window, the shared handle is answered and posts nothing.
    EXPECT_EQ(IntegerOf(Send(winpipe::kCommandSharedHandler, {handle})), 0);
    EXPECT_TRUE(host_.posted.empty());

    EXPECT_EQ(IntegerOf(Send(winpipe::kCommandOpenApp, {handle})), 0);
    ASSERT_EQ(host_.launches.size(), 1u);
    EXPECT_EQ(host_.launches[0].first, "1073744386");
    EXPECT_EQ(IntegerOf(Send(winpipe::kCommandOpenApp, {handle})), -1);  // still recorded: nothing started
    EXPECT_EQ(host_.launches.size(), 1u);

    // With a window, each new value is posted once.
    EXPECT_EQ(IntegerOf(Send(winpipe::kCommandSharedHandler, {handle})), 0);
    EXPECT_EQ(IntegerOf(Send(winpipe::kCommandSharedHandler, {handle})), 0);
    EXPECT_EQ(IntegerOf(Send(winpipe::kCommandSharedHandler, {HandleText("4294967297")})), 0);  // low 32 bits: 1
    EXPECT_EQ(host_.posted, std::vector<uint32_t>({1073744386u, 1u}));

    // After close, a new start waits for the old program to exit first.
    EXPECT_EQ(IntegerOf(Send(winpipe::kCommandCloseApp, {winpipe::BytesOf(int32_t {1})})), 0);
    host_.runningChecks = 3;
    EXPECT_EQ(IntegerOf(Send(winpipe::kCommandOpenApp, {handle})), 0);
    EXPECT_EQ(host_.runningChecks, 0);
    EXPECT_EQ(host_.launches.size(), 2u);

    // A recorded window that died is forgotten at the next start.
    host_.ended.push_back(1002);
    EXPECT_EQ(IntegerOf(Send(winpipe::kCommandOpenApp, {handle})), 0);
    EXPECT_EQ(host_.launches.size(), 3u);

    // Stopping ends the recorded window.
    processor_.Stop();
    EXPECT_EQ(host_.terminated, std::vector<uint32_t>({1003u}));
    EXPECT_FALSE(processor_.WindowRecorded());
}

TEST_F(WindowCommandsTest, FailedStartRecordsNothingAndStopWakesAWaitingStart) {
    host_.launchSucceeds = false;
    EXPECT_EQ(IntegerOf(Send(winpipe::kCommandOpenApp, {HandleText("7")})), 0);
    EXPECT_FALSE(processor_.WindowRecorded());

    // An earlier window that does not exit holds a start only until the service stops.
    host_.runningChecks = 1'000'000;
    std::optional<int32_t> answer;
    std::thread start([&] { answer = IntegerOf(Send(winpipe::kCommandOpenApp, {HandleText("8")})); });
    while (host_.runningChecks == 1'000'000) std::this_thread::yield();
    processor_.Stop();
    start.join();
    EXPECT_EQ(answer, -1);
    EXPECT_EQ(host_.launches.size(), 1u);
}

TEST_F(WindowCommandsTest, LaunchModeAndSideBySideStatusFollowTheRegistryAndRequest) {
    const struct {
        int64_t developerMode, osdStatus;
        int32_t flag;
        LaunchMode expected;
    } modes[] = {
        {1, 2, 0, LaunchMode::MediumIntegrity}, {1, 1, 1, LaunchMode::UiAccess}, {0, 0, 0, LaunchMode::UiAccess},
        {0, 2, 1, LaunchMode::MediumIntegrity}, {-1, -1, 0, LaunchMode::UiAccess}, {1, 3, 1, LaunchMode::MediumIntegrity},
    };
    for (const auto& test : modes) {
        EXPECT_EQ(ChooseLaunchMode(test.developerMode, test.osdStatus, test.flag), test.expected)
            << test.developerMode << " " << test.osdStatus << " " << test.flag;
    }
    developerMode_ = 1;
    osdStatus_ = 2;
    EXPECT_EQ(IntegerOf(Send(winpipe::kCommandOpenApp, {HandleText("9"), winpipe::BytesOf(int32_t {0})})), 0);
    ASSERT_EQ(host_.launches.size(), 1u);
    EXPECT_EQ(host_.launches[0].second, LaunchMode::MediumIntegrity);

    const uint8_t two = 2, zero = 0;
    EXPECT_EQ(IntegerOf(Send(winpipe::kCommandSbsStatus, {ByteView(&two, 1)})), 0);
    EXPECT_EQ(IntegerOf(Send(winpipe::kCommandSbsStatus, {ByteView(&zero, 1)})), 0);
    EXPECT_EQ(IntegerOf(Send(winpipe::kCommandSbsStatus, {})), 0);
    EXPECT_EQ(sbsWrites_, std::vector<uint32_t>({1u, 0u}));
}

}  // namespace
}  // namespace qor::winservice
