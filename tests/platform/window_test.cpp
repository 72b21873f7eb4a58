#include "platform/window.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace qor::platform {
namespace {

constexpr uint32_t kWmUser = 0x0400;

struct Recorded {
    uint32_t message;
    uint64_t wParam;
    int64_t lParam;
    std::thread::id thread;
};

class WindowTest : public ::testing::Test {
protected:
    WindowHandle Create() {
        return CreateMessageOnlyWindow(test::UniqueName("NorvikTestClass"), "test",
                                       [this](WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) {
                                           seen_.push_back({message, wParam, lParam, std::this_thread::get_id()});
                                           if (message == kWmUser + 1) return static_cast<int64_t>(wParam * 2);
                                           if (message == kWmDestroy) PostQuitMessage(7);
                                           return DefaultWindowProc(window, message, wParam, lParam);
                                       });
    }
    std::vector<Recorded> seen_;  // written on the window's (this) thread only
};

TEST_F(WindowTest, PostedMessagesArriveInOrderThroughTheLoop) {
    const WindowHandle window = Create();
    ASSERT_NE(window, 0u);
    std::thread poster([&] {
        for (uint64_t i = 0; i < 3; ++i) EXPECT_TRUE(PostWindowMessage(window, kWmUser, i, -static_cast<int64_t>(i)));
    });
    poster.join();
    WindowMessage message;
    for (uint64_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(GetWindowMessage(&message));
        EXPECT_EQ(message.window, window);
        EXPECT_EQ(message.message, kWmUser);
        EXPECT_EQ(message.wParam, i);
        DispatchWindowMessage(message);
    }
    ASSERT_EQ(seen_.size(), 3u);
    EXPECT_EQ(seen_[2].lParam, -2);
    DestroyWindow(window);
    EXPECT_FALSE(GetWindowMessage(&message));  // quit posted from WM_DESTROY
}

TEST_F(WindowTest, SentMessageRunsOnTheWindowThreadAndReturnsItsResult) {
    const WindowHandle window = Create();
    std::atomic<int64_t> result {0};
    std::thread sender([&] {
        result = SendWindowMessage(window, kWmUser + 1, 21, 0);
        PostWindowMessage(window, kWmClose, 0, 0);
    });
    WindowMessage message;
    while (GetWindowMessage(&message)) DispatchWindowMessage(message);
    sender.join();
    EXPECT_EQ(result, 42);
    EXPECT_EQ(message.message, kWmQuit);
    EXPECT_EQ(message.wParam, 7u);
    ASSERT_FALSE(seen_.empty());
    EXPECT_EQ(seen_.front().thread, std::this_thread::get_id());
    // WM_CLOSE reached the default procedure, which destroyed the window.
    EXPECT_FALSE(PostWindowMessage(window, kWmUser, 0, 0));
}

TEST_F(WindowTest, QuitCodeComesBackOnceTheQueueIsEmpty) {
    const WindowHandle window = Create();
    ASSERT_TRUE(PostWindowMessage(window, kWmUser, 5, 0));
    PostQuitMessage(3);
    WindowMessage message;
    ASSERT_TRUE(GetWindowMessage(&message));
    EXPECT_EQ(message.wParam, 5u);
    EXPECT_FALSE(GetWindowMessage(&message));
    EXPECT_EQ(message.wParam, 3u);
    DestroyWindow(window);
    while (GetWindowMessage(&message)) {
    }
}

TEST_F(WindowTest, PostingToAMissingWindowFails) { EXPECT_FALSE(PostWindowMessage(0x7FFF0000, kWmUser, 0, 0)); }

TEST_F(WindowTest, TopLevelWindowsAreFoundByTitleAloneWhateverTheirClass) {
    test::TempEnvironment environment;
    const std::string title = test::UniqueName("Titled");
    const WindowHandle window = CreateTopLevelWindow(test::UniqueName("AnyClass"), title, DefaultWindowProc);
    ASSERT_NE(window, 0u);
    EXPECT_EQ(FindTopLevelWindowByTitle(title), window);
    EXPECT_EQ(FindTopLevelWindowByTitle(test::UniqueName("Titled")), 0u);
    DestroyWindow(window);
    EXPECT_EQ(FindTopLevelWindowByTitle(title), 0u);
}

}  // namespace
}  // namespace qor::platform
