#include "display/winpipe/weaving_window_messages.h"
#include "platform/window.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qor::winpipe {
namespace {

using platform::WindowHandle;
using platform::WindowMessage;

// Runs `post` in another process where there is one to fork (POSIX), so that the message
// crosses between processes; window handles and messages are system-wide on Windows.
bool PostFromAnotherProcess(const std::function<bool()>& post) {
#if defined(_WIN32)
    return post();
#else
    const pid_t child = ::fork();
    if (child == 0) ::_exit(post() ? 0 : 1);
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
#endif
}

// The weaving window's part: a top-level "Plexaview" window on its own thread whose loop
// records what reaches it and ends on the close message.
class WeavingWindow {
public:
    WeavingWindow() {
        thread_ = std::thread([this] {
            const WindowHandle window = platform::CreateTopLevelWindow(
                kWeavingWindowClass, "Plexaview", [this](WindowHandle self, uint32_t message, uint64_t w, int64_t l) {
                    if (message == CloseMessage()) platform::PostQuitMessage(0);
                    if (message == platform::kWmDestroy) platform::PostQuitMessage(1);
                    if (message == CloseMessage() || message == HandleMessage()) {
                        std::lock_guard lock(mutex_);
                        seen_.push_back({self, message, w, l});
                    }
                    return platform::DefaultWindowProc(self, message, w, l);
                });
            window_ = window;
            WindowMessage message;
            while (window != 0 && platform::GetWindowMessage(&message)) platform::DispatchWindowMessage(message);
            platform::DestroyWindow(window);
            ended_ = true;
        });
    }
    ~WeavingWindow() {
        // A loop still running (the close never came) is closed; quit follows its destruction.
        if (!ended_) platform::PostWindowMessage(window_, platform::kWmClose, 0, 0);
        thread_.join();
    }
    std::vector<WindowMessage> Seen() {
        std::lock_guard lock(mutex_);
        return seen_;
    }

    std::atomic<WindowHandle> window_ {0};
    std::atomic<bool> ended_ {false};

private:
    std::mutex mutex_;
    std::vector<WindowMessage> seen_;
    std::thread thread_;
};

TEST(WeavingWindowMessagesTest, ReachTheTopLevelPlexaviewWindowFromAnotherProcess) {
    test::TempEnvironment environment;
    // Registered numbers: the same for the name in any case, and one per name.
    EXPECT_EQ(platform::RegisteredWindowMessage("plexaclosemsg"), CloseMessage());
    EXPECT_GE(CloseMessage(), 0xC000u);
    EXPECT_GE(HandleMessage(), 0xC000u);
    EXPECT_NE(CloseMessage(), HandleMessage());

    EXPECT_FALSE(PostCloseToWeavingWindow());  // no window of the class yet
#if !defined(_WIN32)
    // Nor is a message-only one found. (Wine's FindWindowW, unlike Windows', finds those too.)
    const WindowHandle messageOnly = platform::CreateMessageOnlyWindow(
        kWeavingWindowClass, "Plexaview", [](WindowHandle w, uint32_t m, uint64_t wp, int64_t lp) {
            return platform::DefaultWindowProc(w, m, wp, lp);
        });
    ASSERT_NE(messageOnly, 0u);
    EXPECT_FALSE(PostCloseToWeavingWindow());
    platform::DestroyWindow(messageOnly);
#endif

    {
        WeavingWindow weaving;
        ASSERT_TRUE(test::WaitUntil([&] { return weaving.window_ != 0 || weaving.ended_; }));
        ASSERT_NE(weaving.window_.load(), 0u);
        EXPECT_EQ(platform::FindTopLevelWindow("PLEXAVIEW"), weaving.window_.load());
        EXPECT_EQ(platform::FindTopLevelWindow(kWeavingWindowClass, "plexaview"), weaving.window_.load());
        EXPECT_EQ(platform::FindTopLevelWindow(kWeavingWindowClass, "Other"), 0u);

        EXPECT_TRUE(PostFromAnotherProcess(
            [] { return PostHandleToWeavingWindow(0x0000000140000A02ull) && PostCloseToWeavingWindow(); }));
        EXPECT_TRUE(test::WaitUntil([&] { return weaving.ended_.load(); }));
        const auto seen = weaving.Seen();
        ASSERT_EQ(seen.size(), 2u);
        EXPECT_EQ(seen[0].message, HandleMessage());
        EXPECT_EQ(seen[0].wParam, 0u);
        EXPECT_EQ(seen[0].lParam, 0x40000A02);
        EXPECT_EQ(seen[1].message, CloseMessage());
        EXPECT_EQ(seen[1].wParam, 0u);
        EXPECT_EQ(seen[1].lParam, 0);
    }
    // Destroyed with its loop's end: nothing is found any more.
    EXPECT_EQ(platform::FindTopLevelWindow(kWeavingWindowClass), 0u);
    EXPECT_FALSE(PostCloseToWeavingWindow());
}

}  // namespace
}  // namespace qor::winpipe
