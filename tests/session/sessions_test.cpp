// Sessions through the dispatcher: creation and its refusals, the state machine and the
// events it queues, the display switching, and destruction.
#include "service/core/logger.h"
#include "service/instance/instance_teardown.h"
#include "service/session/session_present_target.h"
#include "service/session/session_state.h"
#include "tests/session/session_fixture.h"

#include <cinttypes>
#include <ctime>
#include <filesystem>
#include <functional>

namespace qor::test {
namespace {

constexpr auto kIdle = XR_SESSION_STATE_IDLE;
constexpr auto kReady = XR_SESSION_STATE_READY;
constexpr auto kSynchronized = XR_SESSION_STATE_SYNCHRONIZED;
constexpr auto kVisible = XR_SESSION_STATE_VISIBLE;
constexpr auto kFocused = XR_SESSION_STATE_FOCUSED;
constexpr auto kStopping = XR_SESSION_STATE_STOPPING;
constexpr auto kExiting = XR_SESSION_STATE_EXITING;

using SessionsTest = SessionFixture;
using States = std::vector<int32_t>;

TEST_F(SessionsTest, CreateReportsIdleThenReadyAndSwitchesTheDisplayOn) {
    const uint64_t instance = CreateInstance();
    const uint64_t session = CreateSession(instance);
    EXPECT_GE(session, kSessionHandleBase);
    EXPECT_LT(session, kActionSetHandleBase);
    EXPECT_EQ(PollEvents(instance), (Events {State(session, kIdle), State(session, kReady)}));
    EXPECT_EQ(state_.compositor.GraphicsApi(), gpu::Api::D3D11);
    CreateSession(CreateInstance("KVDSOpenXRApp"));
    EXPECT_EQ(display_.displayStates, (States {1, 999}));
}

TEST_F(SessionsTest, CreateRefusals) {
    const uint64_t instance = CreateInstance();
    EXPECT_EQ(Send(SessionRequest(instance + 1000)), XR_ERROR_INSTANCE_LOST);
    auto flagged = SessionRequest(instance);
    flagged.createFlags = 1;
    EXPECT_EQ(Send(flagged), XR_ERROR_VALIDATION_FAILURE);
    for (const uint32_t binding : {XR_TYPE_GRAPHICS_BINDING_OPENGL_WIN32_KHR, XR_TYPE_GRAPHICS_BINDING_VULKAN_KHR,
                                   XR_TYPE_UNKNOWN, XR_TYPE_SESSION_CREATE_INFO}) {
        EXPECT_EQ(Send(SessionRequest(instance, binding)), XR_ERROR_GRAPHICS_DEVICE_INVALID) << binding;
    }
    auto elsewhere = SessionRequest(instance);
    elsewhere.systemId += 1000;
    EXPECT_EQ(Send(elsewhere), XR_ERROR_SYSTEM_INVALID);
    // Every truncation of a valid request is refused too.
    std::array<uint8_t, kMaxRequestSize> bytes {};
    const uint32_t full = EncodeRequest(SessionRequest(instance), bytes.data(), bytes.size());
    for (uint32_t size = 0; size < full; ++size) {
        XrResult result;
        SendBytes(bytes.data(), size, &result);
        EXPECT_TRUE(XR_FAILED(result)) << size;
    }
    EXPECT_TRUE(state_.sessions.Empty());
    EXPECT_TRUE(PollEvents(instance).empty());
    EXPECT_TRUE(display_.displayStates.empty());

    EXPECT_EQ(Send(SessionRequest(instance, XR_TYPE_GRAPHICS_BINDING_D3D12_KHR)), XR_SUCCESS);
    EXPECT_EQ(state_.compositor.GraphicsApi(), gpu::Api::D3D12);
}

TEST_F(SessionsTest, CreateAndDestroyWriteOneLogEntryEach) {
    const uint64_t instance = CreateInstance();
    const uint64_t session = CreateSession(instance);
    Send(SessionRequest(instance, XR_TYPE_GRAPHICS_BINDING_OPENGL_WIN32_KHR));
    DestroySession(session);
    DestroySession(session);
    ServiceLogger().Flush();
    ASSERT_EQ(ServiceLogger().Folder().rfind(environment_.Root(), 0), 0u) << "the service's log lies in this test's folder";
    char today[32];
    const std::time_t now = std::time(nullptr);
    std::strftime(today, sizeof today, "server_%Y-%m-%d.log", std::localtime(&now));
    std::string log = ReadFile((std::filesystem::path(ServiceLogger().Folder()) / today).string());
    std::erase(log, '\r');  // the file is written in text mode
    char handle[32];
    std::snprintf(handle, sizeof handle, "%016" PRIX64, session);
    const std::string system = "Create Session : \n\tSystem ID : " + std::to_string(systemId_) + "\n";
    for (const std::string& entry :
         {system + "\tGraphic binding : D3D11\n\tConnect Display device\nEnable display device\n\tSession ID : " +
              handle + "\n\tSUCCESS\n",
          system + "\tGraphic binding : OpenGL\n\tERROR_GRAPHICS_DEVICE_INVALID\n",
          "Destroy Session : " + std::string(handle) + "\nDisable display device\n\tERROR_SUCCESS\n",
          "Destroy Session : " + std::string(handle) + "\n\tERROR_HANDLE_INVALID\n"}) {
        EXPECT_NE(log.find(entry), std::string::npos) << entry << "\nin\n" << log;
    }
}

TEST_F(SessionsTest, FirstEndedFrameReportsSynchronizedVisibleFocusedOnce) {
    const uint64_t instance = CreateInstance();
    const uint64_t session = CreateSession(instance);
    PollEvents(instance);
    ASSERT_EQ(BeginSession(session), XR_SUCCESS);
    ASSERT_EQ(WaitFrame(session), XR_SUCCESS);
    ASSERT_EQ(BeginFrame(session), XR_SUCCESS);
    EXPECT_TRUE(PollEvents(instance).empty()) << "beginning changes no state";
    ASSERT_EQ(EndFrame(session), XR_SUCCESS);
    EXPECT_EQ(PollEvents(instance), (Events {State(session, kSynchronized), State(session, kVisible), State(session, kFocused)}));
    ASSERT_EQ(Frame(session), XR_SUCCESS);
    EXPECT_TRUE(PollEvents(instance).empty());
}

TEST_F(SessionsTest, BeginSessionResults) {
    const uint64_t session = CreateSession(CreateInstance());
    EXPECT_EQ(BeginSession(session + 1000), XR_ERROR_HANDLE_INVALID);
    EXPECT_EQ(BeginSession(session, XR_VIEW_CONFIGURATION_TYPE_PRIMARY_MONO), XR_ERROR_VIEW_CONFIGURATION_TYPE_UNSUPPORTED);
    // Still READY before the first frame: a second begin succeeds and zeroes the counters, so
    // the frame waited before it can no longer be begun.
    ASSERT_EQ(BeginSession(session), XR_SUCCESS);
    ASSERT_EQ(WaitFrame(session), XR_SUCCESS);
    ASSERT_EQ(BeginSession(session), XR_SUCCESS);
    EXPECT_EQ(BeginFrame(session), XR_ERROR_CALL_ORDER_INVALID);
    ASSERT_EQ(Frame(session), XR_SUCCESS);
    EXPECT_EQ(BeginSession(session), XR_ERROR_SESSION_RUNNING);
    ASSERT_EQ(RequestExit(session), XR_SUCCESS);
    EXPECT_EQ(BeginSession(session), XR_ERROR_SESSION_NOT_READY);
    ASSERT_EQ(EndSession(session), XR_SUCCESS);
    EXPECT_EQ(BeginSession(session), XR_ERROR_SESSION_NOT_READY);
    const uint64_t orphan = CreateSession(instances_[0]);
    state_.drivers.Close();
    EXPECT_EQ(BeginSession(orphan), XR_ERROR_SESSION_LOST) << "its system went away";
}

TEST_F(SessionsTest, EndAndRequestExitResults) {
    const uint64_t instance = CreateInstance();
    EXPECT_EQ(EndSession(12345), XR_ERROR_HANDLE_INVALID);
    EXPECT_EQ(RequestExit(12345), XR_ERROR_HANDLE_INVALID);
    const uint64_t ready = CreateSession(instance);
    EXPECT_EQ(EndSession(ready), XR_ERROR_SESSION_NOT_STOPPING);
    PollEvents(instance);
    ASSERT_EQ(RequestExit(ready), XR_SUCCESS);
    EXPECT_EQ(PollEvents(instance), (Events {State(ready, kSynchronized), State(ready, kStopping)}));

    const uint64_t session = FocusedSession(instance);
    EXPECT_EQ(EndSession(session), XR_ERROR_SESSION_NOT_STOPPING);
    ASSERT_EQ(RequestExit(session), XR_SUCCESS);
    EXPECT_EQ(PollEvents(instance), (Events {State(session, kVisible), State(session, kSynchronized), State(session, kStopping)}));
    EXPECT_EQ(RequestExit(session), XR_ERROR_SESSION_NOT_RUNNING) << "already stopping";
    ASSERT_EQ(EndSession(session), XR_SUCCESS);
    EXPECT_EQ(PollEvents(instance), (Events {State(session, kIdle), State(session, kExiting)}));
    EXPECT_EQ(EndSession(session), XR_ERROR_SESSION_NOT_RUNNING);
    EXPECT_EQ(RequestExit(session), XR_ERROR_SESSION_NOT_RUNNING);
    EXPECT_EQ(WaitFrame(session), XR_ERROR_SESSION_NOT_RUNNING);
}

TEST_F(SessionsTest, ANewSessionWalksEveryOtherDownWithOneMoreStopping) {
    const uint64_t instance = CreateInstance();
    const uint64_t focused = FocusedSession(instance);
    const uint64_t otherInstance = CreateInstance();
    const uint64_t second = CreateSession(otherInstance);
    EXPECT_EQ(PollEvents(instance), (Events {State(focused, kVisible), State(focused, kSynchronized),
                                             State(focused, kStopping), State(focused, kStopping)}));
    EXPECT_EQ(PollEvents(otherInstance), (Events {State(second, kIdle), State(second, kReady)}));
    // A READY session of the same instance is stopped before the new one's own events.
    const uint64_t third = CreateSession(otherInstance);
    EXPECT_EQ(PollEvents(otherInstance), (Events {State(second, kSynchronized), State(second, kStopping),
                                                  State(second, kStopping), State(third, kIdle), State(third, kReady)}));
    EXPECT_EQ(PollEvents(instance), (Events {State(focused, kStopping)}));
    EXPECT_EQ(BeginSession(second), XR_ERROR_SESSION_NOT_READY);
    EXPECT_EQ(EndSession(focused), XR_SUCCESS);
    EXPECT_EQ(BeginSession(third), XR_SUCCESS);
}

TEST_F(SessionsTest, DestroyDropsOnlyThatSessionsPendingEvents) {
    const uint64_t instance = CreateInstance();
    const uint64_t otherInstance = CreateInstance();
    const uint64_t session = CreateSession(instance);
    const uint64_t stranger = session + 1000;
    const auto record = state_.instances.Find(instance);
    const auto queue = [&](auto event, uint64_t named) {
        std::memcpy(&event.session, &named, sizeof named);
        QueueEvent(*record, &event, sizeof event);
    };
    queue(XrEventDataReferenceSpaceChangePending {XR_TYPE_EVENT_DATA_REFERENCE_SPACE_CHANGE_PENDING}, session);
    queue(XrEventDataInteractionProfileChanged {XR_TYPE_EVENT_DATA_INTERACTION_PROFILE_CHANGED}, stranger);
    queue(XrEventDataInteractionProfileChanged {XR_TYPE_EVENT_DATA_INTERACTION_PROFILE_CHANGED}, session);
    queue(XrEventDataSessionStateChanged {XR_TYPE_EVENT_DATA_SESSION_STATE_CHANGED, nullptr, {}, kFocused}, stranger);
    XrEventDataInstanceLossPending loss {XR_TYPE_EVENT_DATA_INSTANCE_LOSS_PENDING};
    QueueEvent(*record, &loss, sizeof loss);
    const uint64_t other = CreateSession(otherInstance);  // walks `session` down: more of its events

    ASSERT_EQ(DestroySession(session), XR_SUCCESS);
    EXPECT_EQ(PollEvents(instance), (Events {{XR_TYPE_EVENT_DATA_INTERACTION_PROFILE_CHANGED, stranger},
                                             State(stranger, kFocused), {XR_TYPE_EVENT_DATA_INSTANCE_LOSS_PENDING}}));
    EXPECT_EQ(PollEvents(otherInstance), (Events {State(other, kIdle), State(other, kReady)}));
    EXPECT_EQ(display_.displayStates, (States {1, 1, 0}));
    EXPECT_EQ(DestroySession(session), XR_ERROR_HANDLE_INVALID);
}

TEST_F(SessionsTest, DestroyingAnInstanceDestroysItsSessionsOnly) {
    const uint64_t instance = CreateInstance();
    const uint64_t first = CreateSession(instance);
    const uint64_t second = CreateSession(instance);
    const uint64_t survivor = CreateSession(CreateInstance());
    ASSERT_EQ(Send(DestroyInstanceRequest {{instance}}), XR_SUCCESS);
    EXPECT_EQ(display_.displayStates, (States {1, 1, 1, 0, 0}));
    EXPECT_EQ(DestroySession(first), XR_ERROR_HANDLE_INVALID);
    EXPECT_EQ(DestroySession(second), XR_ERROR_HANDLE_INVALID);
    EXPECT_EQ(BeginSession(survivor), XR_SUCCESS);
}

TEST_F(SessionsTest, ExitKeysWalkEveryRunningSessionDownToStoppingOnce) {
    // A new session walks the others down itself, so each step adds the session under test
    // beside the ones already stopping.
    const uint64_t stoppingInstance = CreateInstance();
    const uint64_t stopping = FocusedSession(stoppingInstance);
    const uint64_t focusedInstance = CreateInstance();
    const uint64_t focused = FocusedSession(focusedInstance);
    PollEvents(stoppingInstance);

    RequestExitOfEverySession(state_.sessions);
    EXPECT_EQ(PollEvents(focusedInstance),
              (Events {State(focused, kVisible), State(focused, kSynchronized), State(focused, kStopping)}));
    EXPECT_EQ(PollEvents(stoppingInstance), Events {});

    const uint64_t readyInstance = CreateInstance();
    const uint64_t ready = CreateSession(readyInstance);
    for (const uint64_t instance : {readyInstance, focusedInstance, stoppingInstance}) PollEvents(instance);
    RequestExitOfEverySession(state_.sessions);
    EXPECT_EQ(PollEvents(readyInstance), (Events {State(ready, kSynchronized), State(ready, kStopping)}));
    // Keys held down repeat the request every pass: sessions already stopping hear nothing more.
    RequestExitOfEverySession(state_.sessions);
    EXPECT_EQ(PollEvents(readyInstance), Events {});
    EXPECT_EQ(PollEvents(focusedInstance), Events {});
    EXPECT_EQ(PollEvents(stoppingInstance), Events {});
    // The applications end them as after their own request.
    EXPECT_EQ(EndSession(focused), XR_SUCCESS);
    EXPECT_EQ(EndSession(ready), XR_SUCCESS);
    EXPECT_EQ(DestroySession(stopping), XR_SUCCESS);
}

TEST_F(SessionsTest, TeardownOfAnInstanceOutsideARequestTakesItsSessions) {
    const uint64_t instance = CreateInstance();
    const uint64_t session = FocusedSession(instance);
    const uint64_t survivor = CreateSession(CreateInstance());
    display_.displayStates.clear();

    EXPECT_TRUE(DestroyInstance(state_, instance));
    EXPECT_EQ(display_.displayStates, (States {0}));
    EXPECT_FALSE(state_.sessions.Find(session));
    EXPECT_TRUE(state_.sessions.Find(survivor));
    EXPECT_EQ(Send(PollEventRequest {{instance}}), XR_ERROR_INSTANCE_LOST);
    EXPECT_FALSE(DestroyInstance(state_, instance));
}

// The stage buffer stays while any session is left and goes with the last one, however that
// ends; the next session's first frame makes a new one.
TEST_F(SessionsTest, TheLastSessionTakesTheStageBufferWithIt) {
    std::string error;
    state_.graphics.d3d11Device = gpu::CreateDevice(gpu::Api::D3D11, 0, &error);
    ASSERT_TRUE(state_.graphics.d3d11Device) << error;
    gpu::Device& device = *state_.graphics.d3d11Device;
    gpu::TextureDesc shared;
    shared.width = shared.height = 4;
    shared.format = gpu::format::kR8G8B8A8UnormSrgb;
    shared.miscFlags = gpu::kMiscSharedKeyedMutex;
    const auto probe = device.CreateTexture(shared);
    if (!probe || probe->SharedHandle() == 0) GTEST_SKIP() << "this device cannot share the stage (Wine's DXGI)";
    struct Case {
        const char* what;
        std::function<void(uint64_t instance, uint64_t session)> end;
    };
    const Case cases[] = {
        {"xrDestroySession", [&](uint64_t, uint64_t session) { EXPECT_EQ(DestroySession(session), XR_SUCCESS); }},
        {"xrDestroyInstance",
         [&](uint64_t instance, uint64_t) { EXPECT_EQ(Send(DestroyInstanceRequest {{instance}}), XR_SUCCESS); }},
        {"teardown outside a request", [&](uint64_t instance, uint64_t) { EXPECT_TRUE(DestroyInstance(state_, instance)); }},
    };
    for (const auto& c : cases) {
        const uint64_t first = CreateInstance();
        const uint64_t second = CreateInstance();
        const uint64_t drawing = CreateSession(first);
        const uint64_t other = CreateSession(second);
        ASSERT_TRUE(state_.compositor.DrawLayers(drawing, SessionPresentTarget(state_, drawing))) << c.what;
        const uint64_t stage = display_.presentedHandle;
        c.end(second, other);
        EXPECT_NE(device.OpenSharedTexture(stage), nullptr) << c.what << ": a session is left";
        c.end(first, drawing);
        EXPECT_EQ(device.OpenSharedTexture(stage), nullptr) << c.what;
    }
}

}  // namespace
}  // namespace qor::test
