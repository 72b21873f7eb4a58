// The staged lenticular driver against a fake host and a small window service on
// "Plexaview_NamedPipe": provider, device, views from the served eye positions, the open and
// close requests, the settings file and the display-side log.
#include "tests/drivers/lentic_driver_test.h"

#include "display/winpipe/display_log_writer.h"
#include "display/winpipe/pipe_client_connection.h"
#include "display/winpipe/weaving_window_messages.h"
#include "display/winpipe/window_pipe_protocol.h"
#include "platform/pipe.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "platform/window.h"
#include "tests/drivers/fake_host.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>
#include <json/json.h>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace qor {
namespace {

using winpipe::Bytes;
using winpipe::ByteView;
using winpipe::EyePair;

constexpr float kPi = 3.14159265358979f;

// The test's lens runtime stand-in is found through the library search path: on POSIX the
// test's environment names its folder (read once at start); Windows reads PATH at each load.
void PutLensRuntimeOnSearchPath() {
#if defined(_WIN32)
    static const bool done = [] {
        const std::string folder = std::filesystem::absolute(platform::PathFromUtf8(NORVIK_LENS_RUNTIME_DIR)).string();
        test::SetEnv("PATH", folder + ";" + platform::GetEnv("PATH").value_or(""));
        return true;
    }();
    (void)done;
#endif
}

struct Request {
    uint16_t command = 0xFFFF;  // undecodable
    std::vector<Bytes> arguments;
};

// The window service's side of the pipe: answers 5 with the pair it holds and every other
// request with int32 0, or, as a test sets it, with fixed bytes or not at all. Records every
// request before it answers, so a request is recorded once the driver's call returns.
class FakeWindowService {
public:
    explicit FakeWindowService(EyePair eyes = {}) : eyes_(eyes) {
        server_ = platform::CreateMessagePipeServer();
        platform::PipeServerOptions options;
        options.name = std::string(winpipe::kWindowServicePipeName);
        options.instances = 4;
        started_ = server_->Start(options, [this](platform::PipeClient& client, const uint8_t* data, uint32_t size,
                                                  uint8_t* reply, uint32_t* replySize) {
            Bytes answer;
            {
                std::lock_guard lock(mutex_);
                Request request;
                if (const auto decoded = winpipe::DecodeRequest(ByteView(data, size))) {
                    request.command = decoded->command;
                    for (ByteView argument : decoded->arguments) request.arguments.emplace_back(argument.begin(), argument.end());
                }
                requests_.push_back(request);
                if (silent_) {
                    // Holds the connection without answering, as for a malformed request.
                } else if (fixedReply_) {
                    answer = *fixedReply_;
                } else if (request.command == winpipe::kCommandFetchEyePositions) {
                    answer = winpipe::EyePositionsReply(eyes_);
                } else {
                    answer = winpipe::IntegerReply(0);
                }
            }
            if (silent_) {
                while (!client.Gone()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
                return;
            }
            if (!answer.empty()) std::memcpy(reply, answer.data(), answer.size());
            *replySize = static_cast<uint32_t>(answer.size());
        });
    }
    ~FakeWindowService() { server_->Stop(); }

    bool Started() const { return started_; }
    void Silence() { silent_ = true; }
    void AnswerWith(Bytes reply) {
        std::lock_guard lock(mutex_);
        fixedReply_ = std::move(reply);
    }
    std::vector<Request> Requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    std::unique_ptr<platform::MessagePipeServer> server_;
    bool started_ = false;
    std::atomic<bool> silent_ {false};
    std::mutex mutex_;
    EyePair eyes_;
    std::optional<Bytes> fixedReply_;
    std::vector<Request> requests_;
};

class LenticDriverTest : public testing::Test {
protected:
    void SetUp() override { PutLensRuntimeOnSearchPath(); }

    std::string SettingsPath() const {
        return env_.Path("local/Norvik/OpenXR/config/devices/lentic_driver/driver_settings.json");
    }
    void WriteSettings(const std::string& text) const {
        std::filesystem::create_directories(std::filesystem::path(SettingsPath()).parent_path());
        std::ofstream(SettingsPath(), std::ios::binary) << text;
    }
    void WriteLenticSettings(const std::string& members) const {
        WriteSettings("{\"lentic_driver\": {" + members + "}}");
    }

    // Initializes the provider against a fresh host; the display component it announced.
    IQorDisplayComponent* Display() {
        host_ = test::FakeHost {};
        IServerDeviceProvider* provider = test::LenticProvider();
        if (provider == nullptr || provider->Initialize(host_.Context()) != kDriverOk || host_.devices.size() != 1) {
            return nullptr;
        }
        return host_.devices[0].display;
    }

    // Locates both views, their type and next set as a caller sets them.
    DriverResult Locate(IQorDisplayComponent* display, XrView (&views)[2], uint32_t* count) {
        for (XrView& view : views) {
            view = XrView {XR_TYPE_VIEW};
            view.next = &views;
        }
        return display->LocateViews(4, count, views);
    }
    // The views of a fresh device against a window service that holds `eyes`.
    bool LocateAgainst(const EyePair& eyes, XrView (&views)[2]) {
        FakeWindowService service(eyes);
        IQorDisplayComponent* display = service.Started() ? Display() : nullptr;
        uint32_t count = 0;
        return display != nullptr && Locate(display, views, &count) == kDriverOk && count == 2;
    }

    test::TempEnvironment env_;
    test::FakeHost host_;
};

void ExpectFov(const XrFovf& fov, float left, float right, float up, float down) {
    EXPECT_FLOAT_EQ(fov.angleLeft, left);
    EXPECT_FLOAT_EQ(fov.angleRight, right);
    EXPECT_FLOAT_EQ(fov.angleUp, up);
    EXPECT_FLOAT_EQ(fov.angleDown, down);
}

TEST_F(LenticDriverTest, FactoryAnswersOnlyTheExactProviderName) {
    const DeviceDriverFactoryFn factory = test::LenticDriverFactory();
    ASSERT_NE(factory, nullptr);
    const struct {
        const char* name;
        bool provider;
        int32_t code;
    } cases[] = {
        {"IServerDeviceProvider_000", true, 0},
        {"iserverdeviceprovider_000", false, 100},
        {"IServerDeviceProvider_001", false, 100},
        {"", false, 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int32_t code = -1;
        void* result = factory(c.name, &code);
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(result != nullptr, c.provider);
        if (c.provider) {
            EXPECT_EQ(result, test::LenticProvider());
        }
    }
    EXPECT_EQ(factory("IQorDisplayComponent_001", nullptr), nullptr);
}

TEST_F(LenticDriverTest, InitializeAnnouncesOneStereoDisplayFoundInAnyCase) {
    IQorDisplayComponent* display = Display();
    ASSERT_NE(display, nullptr);
    const test::AddDeviceCall& device = host_.devices[0];
    EXPECT_EQ(device.serial, "Frostline_Lentic");
    EXPECT_EQ(device.deviceClass, kDeviceStereoDisplay);
    EXPECT_EQ(host_.lookups,
              (std::vector<std::string> {"IQorServerDriverHost_001", "IQorDriverManager_000", "IQorInputDevice_000"}));
    for (const char* name : {"IQorDisplayComponent_001", "iqordisplaycomponent_001", "IQORDISPLAYCOMPONENT_001"}) {
        EXPECT_EQ(device.driver->GetComponent(name), display) << name;
    }
    for (const char* name : {"IQorDisplayComponent_002", "IQorDisplayComponent", "", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(device.driver->GetComponent(name), nullptr) << (name != nullptr ? name : "null");
    }

    // A host that lacks one of its three interfaces gets 100 and no device.
    for (const char* refused : {kServerDriverHostVersion, kDriverManagerVersion, kInputDeviceVersion}) {
        SCOPED_TRACE(refused);
        test::FakeHost host;
        host.refusedInterfaces = {refused};
        EXPECT_EQ(test::LenticProvider()->Initialize(host.Context()), 100);
        EXPECT_TRUE(host.devices.empty());
    }
}

TEST_F(LenticDriverTest, CountQueriesAnswerWithoutAskingTheWindowService) {
    FakeWindowService service;
    ASSERT_TRUE(service.Started());
    IQorDisplayComponent* display = Display();
    ASSERT_NE(display, nullptr);

    const struct {
        uint32_t capacity;
        DriverResult result;
    } locateCases[] = {{0, 0}, {1, 201}};
    for (const auto& c : locateCases) {
        SCOPED_TRACE(c.capacity);
        uint32_t viewCount = 0;
        XrView none[2] = {{XR_TYPE_VIEW}, {XR_TYPE_VIEW}};
        EXPECT_EQ(display->LocateViews(c.capacity, &viewCount, none), c.result);
        EXPECT_EQ(viewCount, 2u);
    }
    EXPECT_TRUE(service.Requests().empty());
    // A full query is one fetch: command 5 with the int32 1.
    XrView views[2];
    uint32_t count = 0;
    ASSERT_EQ(Locate(display, views, &count), 0);
    const auto requests = service.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].command, winpipe::kCommandFetchEyePositions);
    EXPECT_EQ(requests[0].arguments, std::vector<Bytes> {Bytes({1, 0, 0, 0})});

    const struct {
        uint32_t capacity;
        DriverResult result;
        int32_t type;
    } enumerateCases[] = {{0, 0, -1}, {1, 0, 2}, {2, 200, -1}};
    for (const auto& c : enumerateCases) {
        SCOPED_TRACE(c.capacity);
        uint32_t configurations = 0;
        int32_t types[2] = {-1, -1};
        EXPECT_EQ(display->EnumerateViewConfigurations(c.capacity, &configurations, types), c.result);
        EXPECT_EQ(configurations, 1u);
        EXPECT_EQ(types[0], c.type);
    }
}

TEST_F(LenticDriverTest, FixedFovIsTheSameWhateverTheEyes) {
    const EyePair cases[] = {
        {},
        {{-30.0f, 0.0f, 600.0f}, {30.0f, 0.0f, 600.0f}},
        {{-250.0f, 120.0f, 300.0f}, {-190.0f, 118.0f, 310.0f}},
    };
    for (const EyePair& eyes : cases) {
        SCOPED_TRACE(eyes.left.x);
        XrView views[2];
        ASSERT_TRUE(LocateAgainst(eyes, views));
        for (const XrView& view : views) ExpectFov(view.fov, -0.5235988f, 0.5235988f, 0.2945243f, -0.2945243f);
        // Type and next are the caller's.
        for (const XrView& view : views) {
            EXPECT_EQ(view.type, XR_TYPE_VIEW);
            EXPECT_EQ(view.next, &views);
        }
    }
}

TEST_F(LenticDriverTest, TrackedFrustumReachesThePanelEdgesFromEachEye) {
    WriteLenticSettings("\"fix_fov_mode\": false, \"fov_scale\": 1.0");
    const struct {
        const char* name;
        EyePair eyes;
        XrFovf left;
        XrFovf right;
    } cases[] = {
        {"both eyes at (0, 0, 600)",
         {{0.0f, 0.0f, 600.0f}, {0.0f, 0.0f, 600.0f}},
         {-std::atan(172.675f / 600.0f), std::atan(172.675f / 600.0f), std::atan(97.13f / 600.0f),
          -std::atan(97.13f / 600.0f)},
         {-std::atan(172.675f / 600.0f), std::atan(172.675f / 600.0f), std::atan(97.13f / 600.0f),
          -std::atan(97.13f / 600.0f)}},
        {"each eye its own frustum",
         {{-30.0f, 10.0f, 500.0f}, {30.0f, 10.0f, 500.0f}},
         {-std::atan(142.675f / 500.0f), std::atan(202.675f / 500.0f), std::atan(87.13f / 500.0f),
          -std::atan(107.13f / 500.0f)},
         {-std::atan(202.675f / 500.0f), std::atan(142.675f / 500.0f), std::atan(87.13f / 500.0f),
          -std::atan(107.13f / 500.0f)}},
        {"no positions stored yet", {}, {-kPi / 2, kPi / 2, kPi / 2, -kPi / 2}, {-kPi / 2, kPi / 2, kPi / 2, -kPi / 2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        XrView views[2];
        ASSERT_TRUE(LocateAgainst(c.eyes, views));
        ExpectFov(views[0].fov, c.left.angleLeft, c.left.angleRight, c.left.angleUp, c.left.angleDown);
        ExpectFov(views[1].fov, c.right.angleLeft, c.right.angleRight, c.right.angleUp, c.right.angleDown);
        // The off-axis frustum does not turn the views.
        for (const XrView& view : views) {
            EXPECT_EQ(view.pose.orientation.y, 0.0f);
            EXPECT_EQ(view.pose.orientation.w, 1.0f);
        }
    }
}

TEST_F(LenticDriverTest, FixedFovViewsTurnTowardsTheEyesAndSitAtThemInMetres) {
    WriteLenticSettings("\"height_offset\": 0.05");
    const float yaw = std::atan(200.0f / 1200.0f);
    const float pitch = std::atan(120.0f / 1200.0f);
    const struct {
        const char* name;
        EyePair eyes;
        XrQuaternionf orientation;
    } cases[] = {
        {"eyes centred", {{-30.0f, 0.0f, 600.0f}, {30.0f, 0.0f, 600.0f}}, {0.0f, 0.0f, 0.0f, 1.0f}},
        {"both 100 mm right: yaw", {{70.0f, 0.0f, 600.0f}, {130.0f, 0.0f, 600.0f}},
         {0.0f, std::sin(yaw / 2), 0.0f, std::cos(yaw / 2)}},
        {"both 60 mm up: pitch down", {{-30.0f, 60.0f, 600.0f}, {30.0f, 60.0f, 600.0f}},
         {-std::sin(pitch / 2), 0.0f, 0.0f, std::cos(pitch / 2)}},
        // Yaw first, then pitch: pitch ⊗ yaw.
        {"right and up", {{70.0f, 60.0f, 600.0f}, {130.0f, 60.0f, 600.0f}},
         {-std::sin(pitch / 2) * std::cos(yaw / 2), std::cos(pitch / 2) * std::sin(yaw / 2),
          -std::sin(pitch / 2) * std::sin(yaw / 2), std::cos(pitch / 2) * std::cos(yaw / 2)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        XrView views[2];
        ASSERT_TRUE(LocateAgainst(c.eyes, views));
        for (const XrView& view : views) {
            EXPECT_NEAR(view.pose.orientation.x, c.orientation.x, 1e-6f);
            EXPECT_NEAR(view.pose.orientation.y, c.orientation.y, 1e-6f);
            EXPECT_NEAR(view.pose.orientation.z, c.orientation.z, 1e-6f);
            EXPECT_NEAR(view.pose.orientation.w, c.orientation.w, 1e-6f);
        }
    }
    // Each view sits at its eye, in metres, raised by the height offset.
    XrView views[2];
    ASSERT_TRUE(LocateAgainst({{-30.0f, 10.0f, 600.0f}, {32.0f, 12.0f, 610.0f}}, views));
    const XrVector3f expected[2] = {{-0.03f, 0.06f, 0.6f}, {0.032f, 0.062f, 0.61f}};
    for (int i = 0; i < 2; ++i) {
        EXPECT_FLOAT_EQ(views[i].pose.position.x, expected[i].x);
        EXPECT_FLOAT_EQ(views[i].pose.position.y, expected[i].y);
        EXPECT_FLOAT_EQ(views[i].pose.position.z, expected[i].z);
    }
}

// The weaving window's part: a top-level "Plexaview" window whose loop ends on the close
// message. On POSIX it lives in a child process, as the weaving window does: the driver's own
// copy of the window stand-in reaches windows of other processes through their endpoints.
class WeavingWindow {
public:
    WeavingWindow() {
#if defined(_WIN32)
        thread_ = std::thread([this] { closed_ = RunWindow(); ended_ = true; });
#else
        child_ = ::fork();
        if (child_ == 0) ::_exit(RunWindow() ? 0 : 1);
#endif
    }
    ~WeavingWindow() {
#if defined(_WIN32)
        if (!ended_) platform::PostWindowMessage(platform::FindTopLevelWindow(winpipe::kWeavingWindowClass), platform::kWmClose, 0, 0);
        thread_.join();
#else
        if (child_ > 0 && !ended_) {
            ::kill(child_, SIGKILL);
            ::waitpid(child_, nullptr, 0);
        }
#endif
    }
    // True once its loop ended; `closed_` tells whether the close message ended it.
    bool Ended() {
#if !defined(_WIN32)
        int status = 0;
        if (!ended_ && child_ > 0 && ::waitpid(child_, &status, WNOHANG) == child_) {
            ended_ = true;
            closed_ = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
#endif
        return ended_;
    }
    std::atomic<bool> closed_ {false};

private:
    static bool RunWindow() {
        bool closed = false;
        const platform::WindowHandle window = platform::CreateTopLevelWindow(
            winpipe::kWeavingWindowClass, "Plexaview",
            [&closed](platform::WindowHandle self, uint32_t message, uint64_t w, int64_t l) {
                if (message == winpipe::CloseMessage()) {
                    closed = true;
                    platform::PostQuitMessage(0);
                }
                if (message == platform::kWmDestroy) platform::PostQuitMessage(1);
                return platform::DefaultWindowProc(self, message, w, l);
            });
        platform::WindowMessage message;
        while (window != 0 && platform::GetWindowMessage(&message)) platform::DispatchWindowMessage(message);
        platform::DestroyWindow(window);
        return closed;
    }

    std::atomic<bool> ended_ {false};
#if defined(_WIN32)
    std::thread thread_;
#else
    pid_t child_ = -1;
#endif
};

Bytes HandleTextBytes(const char* digits) {
    Bytes text(20, 0);
    std::memcpy(text.data(), digits, std::strlen(digits));
    return text;
}

TEST_F(LenticDriverTest, OpenRequestsGoOutOncePerHandleUntilTheDisplayCloses) {
    // Started first: a child forked before the pipe server's threads exist.
    WeavingWindow weaving;
    ASSERT_TRUE(test::WaitUntil(
        [&] { return platform::FindTopLevelWindow(winpipe::kWeavingWindowClass) != 0 || weaving.Ended(); }));
    ASSERT_FALSE(weaving.Ended());
    FakeWindowService service;
    ASSERT_TRUE(service.Started());
    IQorDisplayComponent* display = Display();
    ASSERT_NE(display, nullptr);

    const Bytes on {1, 0, 0, 0};
    const Bytes off {0, 0, 0, 0};
    const struct {
        const char* name;
        uint64_t handle;         // presented when not 0
        std::optional<int32_t> state;  // set after the present
        std::vector<Request> sent;
    } steps[] = {
        {"a new handle: its low 32 bits as text", 0x0000000140000A02ull, {},
         {{2, {HandleTextBytes("1073744386"), on}}}},
        {"the same handle again", 0x0000000140000A02ull, {}, {}},
        {"display off", 0, 0, {{1, {on}}}},
        {"the same handle after closing", 0x0000000140000A02ull, {}, {{2, {HandleTextBytes("1073744386"), on}}}},
        {"lens off sends nothing", 0, 999, {}},
        {"a new handle carries flag 0", 0x1234ull, {}, {{2, {HandleTextBytes("4660"), off}}}},
        {"display on again", 0, 1, {}},
        {"the next handle carries flag 1", 0xFFFFFFFFull, {}, {{2, {HandleTextBytes("4294967295"), on}}}},
    };
    size_t seen = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        if (step.handle != 0) display->PresentFrame(step.handle);
        if (step.state) display->SetDisplayState(*step.state);
        const auto requests = service.Requests();
        ASSERT_EQ(requests.size(), seen + step.sent.size());
        for (size_t i = 0; i < step.sent.size(); ++i) {
            EXPECT_EQ(requests[seen + i].command, step.sent[i].command);
            EXPECT_EQ(requests[seen + i].arguments, step.sent[i].arguments);
        }
        seen = requests.size();
    }
    // The close message followed command 1 to the weaving window.
    EXPECT_TRUE(test::WaitUntil([&] { return weaving.Ended(); }));
    EXPECT_TRUE(weaving.closed_);
}

TEST_F(LenticDriverTest, AMissingSilentOrGarbledWindowServiceGivesNoEyeDataAndNeverHangs) {
    const auto lengthPrefixed = [](std::initializer_list<Bytes> arguments) {
        Bytes reply {static_cast<uint8_t>(arguments.size())};
        for (const Bytes& argument : arguments) {
            const uint32_t length = static_cast<uint32_t>(argument.size());
            const auto* bytes = reinterpret_cast<const uint8_t*>(&length);
            reply.insert(reply.end(), bytes, bytes + 4);
            reply.insert(reply.end(), argument.begin(), argument.end());
        }
        return reply;
    };
    const float nan = std::nanf("");
    const struct {
        const char* name;
        bool serve;
        bool silent;
        std::optional<Bytes> reply;
    } cases[] = {
        {"no window service", false, false, {}},
        {"no reply", true, true, {}},
        {"an empty reply", true, false, Bytes {}},
        {"an integer reply", true, false, winpipe::IntegerReply(0)},
        {"records of 8 bytes", true, false, lengthPrefixed({Bytes(8, 1), Bytes(8, 1)})},
        {"one record", true, false, lengthPrefixed({Bytes(12, 1)})},
        {"a length past the end", true, false, Bytes {2, 200, 0, 0, 0, 1, 2, 3}},
        {"longer than the 50-byte buffer", true, false, lengthPrefixed({Bytes(12, 0), Bytes(12, 0), Bytes(20, 0)})},
        {"not a number", true, false, winpipe::EyePositionsReply({{nan, 0.0f, 600.0f}, {0.0f, 0.0f, 600.0f}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<FakeWindowService> service;
        if (c.serve) {
            service.emplace();
            ASSERT_TRUE(service->Started());
            if (c.silent) service->Silence();
            if (c.reply) service->AnswerWith(*c.reply);
        }
        IQorDisplayComponent* display = Display();
        ASSERT_NE(display, nullptr);
        XrView views[2];
        for (XrView& view : views) view = XrView {XR_TYPE_VIEW};
        views[0].fov.angleLeft = 7.0f;
        uint32_t count = 0;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(display->LocateViews(2, &count, views), 202);
        const auto located = std::chrono::steady_clock::now();
        EXPECT_EQ(count, 2u);
        EXPECT_EQ(views[0].fov.angleLeft, 7.0f);
        // The frame and close requests give up as promptly.
        display->PresentFrame(0x40000A02ull);
        display->SetDisplayState(0);
        const auto done = std::chrono::steady_clock::now();
        // A missing service is known at once; a silent one costs each request one reply wait.
        const auto bound = std::chrono::milliseconds(c.silent ? winpipe::kReplyWaitMs + 1500 : 1500);
        EXPECT_LT(located - start, bound);
        EXPECT_LT(done - located, 2 * bound);
    }
}

TEST_F(LenticDriverTest, SettingsFileIsWrittenWhenMissingAndNeverBreaksTheDriver) {
    const EyePair eyes {{-30.0f, 0.0f, 600.0f}, {30.0f, 0.0f, 600.0f}};
    const float fixedRight = 0.5235988f;
    const float trackedRight = std::atan(202.675f / 600.0f);  // the left eye's right edge
    const struct {
        const char* name;
        std::optional<std::string> file;  // none: no file
        float right;                      // the left view's angleRight
        float heightOffset;
        bool folderBlocked = false;       // a file where the settings folder's root would be
    } cases[] = {
        {"missing: defaults, written", {}, fixedRight, 0.0f},
        {"read", R"({"lentic_driver": {"fix_fov_mode": false, "height_offset": 0.05}})", trackedRight, 0.05f},
        {"not JSON: defaults, left as it is", "{\"lentic_driver\": {\"fix_fov_mode\": false,", fixedRight, 0.0f},
        {"wrong types keep their defaults",
         R"({"lentic_driver": {"fix_fov_mode": 0, "hfov": "wide", "fov_scale": [2], "enable_yaw": null,
             "height_offset": 0.05}})",
         fixedRight, 0.05f},
        {"a number no float holds", R"({"lentic_driver": {"hfov": 1e300, "height_offset": -1e300}})", fixedRight, 0.0f},
        {"a scale the frustum cannot divide by", R"({"lentic_driver": {"fix_fov_mode": false, "fov_scale": 0}})",
         trackedRight, 0.0f},
        {"the member not an object", R"({"lentic_driver": 5})", fixedRight, 0.0f},
        {"not an object", "[1, 2]", fixedRight, 0.0f},
        {"a folder that cannot be made", {}, fixedRight, 0.0f, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(env_.Path("local/Norvik"));
        if (c.file) WriteSettings(*c.file);
        if (c.folderBlocked) std::ofstream(env_.Path("local/Norvik"), std::ios::binary) << "a file";
        XrView views[2];
        ASSERT_TRUE(LocateAgainst(eyes, views));
        EXPECT_FLOAT_EQ(views[0].fov.angleRight, c.right);
        EXPECT_FLOAT_EQ(views[0].pose.position.y, c.heightOffset);
        if (c.file) {
            EXPECT_EQ(test::ReadFile(SettingsPath()), *c.file);
            continue;
        }
        if (c.folderBlocked) continue;
        // A new file holds all eight keys with their defaults.
        Json::Value root;
        std::ifstream written(SettingsPath(), std::ios::binary);
        ASSERT_TRUE(Json::parseFromStream(Json::CharReaderBuilder {}, written, &root, nullptr));
        const Json::Value& driver = root["lentic_driver"];
        EXPECT_EQ(driver.size(), 8u);
        EXPECT_EQ(driver["fix_fov_mode"], true);
        EXPECT_EQ(driver["enable_pitch"], true);
        EXPECT_EQ(driver["enable_yaw"], true);
        EXPECT_EQ(driver["fov_scale"], 1.0);
        EXPECT_EQ(driver["hfov"], 60.0);
        EXPECT_EQ(driver["height_offset"], 0.0);
        EXPECT_EQ(driver["weaver_width"], 1920);
        EXPECT_EQ(driver["weaver_height"], 1080);
    }
}

TEST_F(LenticDriverTest, TheDisplayLogIsWrittenOnlyWhenItsSwitchIsOn) {
    struct Cleanup {
        ~Cleanup() {
            platform::RegistryDeleteValue(platform::RegistryRoot::LocalMachine, winpipe::kDisplayLogSwitchKey,
                                          winpipe::kDisplayLogSwitchValue);
        }
    } cleanup;
    const std::string folder = env_.Path("programdata/OEM/Plexaview/Log");
    const std::string file = folder + "/" + platform::UserName() + "_OstrelDriver.log";
    for (const uint32_t value : {0u, 1u}) {
        SCOPED_TRACE(value);
        ASSERT_TRUE(platform::RegistryWriteDword(platform::RegistryRoot::LocalMachine, winpipe::kDisplayLogSwitchKey,
                                                 winpipe::kDisplayLogSwitchValue, value));
        IQorDisplayComponent* display = Display();
        ASSERT_NE(display, nullptr);
        display->PresentFrame(0x1234ull + value);  // no window service: the failure is logged
        EXPECT_EQ(std::filesystem::exists(folder), value == 1);
        if (value == 1) {
            EXPECT_NE(test::ReadFile(file).find(" | OstrelDriver | CLenticDeviceDriver::PresentFrame(): | "),
                      std::string::npos);
        }
    }
}

}  // namespace
}  // namespace qor
