// The process watchdog: which process an instance's application is, instances of ended
// processes destroyed, the service window closed after two checks without an application,
// and a prompt stop.
#include "platform/process.h"
#include "platform/system.h"
#include "platform/window.h"
#include "service/driverhost/watchdog.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#if !defined(_WIN32)
#include "tests/support/child_process.h"

#include <signal.h>
#endif

namespace qor {
namespace {

using namespace std::chrono_literals;

struct ChoiceCase {
    const char* name;
    uint32_t caller;
    std::vector<uint32_t> sameName;
    std::map<uint32_t, std::string> modulePaths;
    std::optional<uint32_t> expected;
};

TEST(WatchdogChoiceTest, FindsTheApplicationAmongProcessesOfTheSameName) {
    const std::string path = "C:\\Games\\app.exe";
    const ChoiceCase cases[] = {
        {"no process of that name", 7, {}, {}, std::nullopt},
        {"the only one, whatever its path", 0, {40}, {{40, "D:\\Other\\app.exe"}}, 40},
        {"the caller among copies of one program", 41, {40, 41, 42}, {{40, path}, {41, path}, {42, path}}, 41},
        {"caller unknown: the first with the full path", 0, {40, 41, 42},
         {{40, "D:\\Other\\app.exe"}, {41, path}, {42, path}}, 41},
        {"a caller of another name changes nothing", 9, {40, 41}, {{40, "D:\\Other\\app.exe"}, {41, path}}, 41},
        {"unreadable paths are passed over", 0, {40, 41}, {{41, path}}, 41},
        {"several, none with the path", 0, {40, 41}, {{40, "D:\\A\\app.exe"}, {41, "D:\\B\\app.exe"}}, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto modulePath = [&](uint32_t id) -> std::optional<std::string> {
            const auto found = c.modulePaths.find(id);
            return found == c.modulePaths.end() ? std::nullopt : std::optional(found->second);
        };
        EXPECT_EQ(ChooseWatchedProcess(path, c.caller, c.sameName, modulePath), c.expected) << c.name;
    }
}

TEST(WatchdogTest, StopEndsTheThreadInTheMiddleOfAnInterval) {
    Watchdog watchdog;  // 5 s between checks
    watchdog.Start([](uint64_t, uint32_t) {});
    const auto start = std::chrono::steady_clock::now();
    watchdog.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(watchdog.ChecksDone(), 0u);
}

TEST(WatchdogTest, AProcessThatIsNotRunningIsNotWatched) {
    Watchdog watchdog;
    EXPECT_FALSE(watchdog.RegisterProcess(0x1000001, u"C:\\Games\\no-such-program-here.exe", platform::ProcessId()));
    EXPECT_FALSE(watchdog.RegisterProcess(0x1000002, u"", platform::ProcessId()));
    EXPECT_TRUE(watchdog.WatchedInstances().empty());
}

#if !defined(_WIN32)
// A message-only window on its own thread that counts the WM_CLOSE it receives.
class ClosableWindow {
public:
    ClosableWindow() {
        thread_ = std::thread([this] {
            const auto window = platform::CreateMessageOnlyWindow(
                test::UniqueName("NorvikWatchdogTest"), "watchdog test",
                [this](platform::WindowHandle self, uint32_t message, uint64_t wParam, int64_t lParam) -> int64_t {
                    if (message == platform::kWmClose) {
                        ++closes;
                        return 0;
                    }
                    if (message == kEnd) platform::PostQuitMessage(0);
                    return platform::DefaultWindowProc(self, message, wParam, lParam);
                });
            handle = window;
            platform::WindowMessage message;
            while (platform::GetWindowMessage(&message)) platform::DispatchWindowMessage(message);
            platform::DestroyWindow(window);
        });
        test::WaitUntil([this] { return handle.load() != 0; });
    }
    ~ClosableWindow() {
        platform::PostWindowMessage(handle, kEnd, 0, 0);
        thread_.join();
    }

    static constexpr uint32_t kEnd = 0x0400;
    std::atomic<platform::WindowHandle> handle {0};
    std::atomic<int> closes {0};

private:
    std::thread thread_;
};

TEST(WatchdogTest, EndedProcessLosesEveryInstanceAndTheWindowClosesTwoChecksAfterTheLastApplication) {
    ClosableWindow window;
    ASSERT_NE(window.handle.load(), 0u);
    test::ChildProcess child("/bin/sleep", {"60"});
    ASSERT_TRUE(child.Started());
    const auto childPath = platform::ProcessModulePath(static_cast<uint32_t>(child.Pid()));
    ASSERT_TRUE(childPath);
    const auto childId = static_cast<uint32_t>(child.Pid());

    Watchdog watchdog(20ms);
    watchdog.SetWindow(window.handle);
    ASSERT_TRUE(watchdog.RegisterProcess(0x1000001, platform::Utf8ToUtf16(*childPath), childId));
    ASSERT_TRUE(watchdog.RegisterProcess(0x1000002, platform::Utf8ToUtf16(*childPath), childId));
    ASSERT_TRUE(watchdog.RegisterProcess(0x1000003, platform::Utf8ToUtf16(platform::ExecutablePath()),
                                         platform::ProcessId()));
    std::mutex mutex;
    std::vector<std::pair<uint64_t, uint32_t>> destroyed;
    watchdog.Start([&](uint64_t instance, uint32_t process) {
        std::lock_guard lock(mutex);
        destroyed.emplace_back(instance, process);
    });
    const auto destroyedNow = [&] {
        std::lock_guard lock(mutex);
        return destroyed;
    };

    ASSERT_TRUE(test::WaitUntil([&] { return watchdog.ChecksDone() >= 3; }));
    EXPECT_TRUE(destroyedNow().empty()) << "the child still runs";

    child.Signal(SIGKILL);
    // Killed but not yet reaped counts as ended already.
    ASSERT_TRUE(test::WaitUntil([&] { return destroyedNow().size() == 2; }));
    EXPECT_EQ(destroyedNow(), (std::vector<std::pair<uint64_t, uint32_t>> {{0x1000001, childId}, {0x1000002, childId}}));
    EXPECT_EQ(watchdog.WatchedInstances(),
              (std::vector<std::pair<uint32_t, uint64_t>> {{platform::ProcessId(), 0x1000003}}));
    child.WaitForExit(10s);

    // This process still runs: several checks pass without closing anything.
    const uint64_t checks = watchdog.ChecksDone();
    ASSERT_TRUE(test::WaitUntil([&] { return watchdog.ChecksDone() >= checks + 4; }));
    EXPECT_EQ(window.closes, 0);

    const uint64_t lastWatched = watchdog.ChecksDone();
    watchdog.RemoveInstance(0x1000003);
    ASSERT_TRUE(test::WaitUntil([&] { return window.closes == 1; }));
    EXPECT_GE(watchdog.ChecksDone(), lastWatched + 2);
    // Once per quiet spell, not at every check after it.
    const uint64_t closed = watchdog.ChecksDone();
    ASSERT_TRUE(test::WaitUntil([&] { return watchdog.ChecksDone() >= closed + 4; }));
    EXPECT_EQ(window.closes, 1);
    watchdog.Stop();
    EXPECT_EQ(destroyedNow().size(), 2u);
}
#endif

}  // namespace
}  // namespace qor
