// The Windows display window: its class, title and styles, and the keys posted to it.
#include "drivers/basic/display_device.h"
#include "tests/drivers/window_keys.h"
#include "tests/support/test_env.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>

namespace qor {

namespace test {

namespace {
WPARAM VirtualKey(basic::ArrowKey key) {
    switch (key) {
        case basic::ArrowKey::Left:
            return VK_LEFT;
        case basic::ArrowKey::Right:
            return VK_RIGHT;
        case basic::ArrowKey::Up:
            return VK_UP;
        case basic::ArrowKey::Down:
            return VK_DOWN;
    }
    return 0;
}

HWND Handle(basic::DisplayWindow& window) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(window.NativeWindow())); }
}  // namespace

void PressArrowKey(basic::DisplayWindow& window, basic::ArrowKey key) {
    ASSERT_TRUE(PostMessageW(Handle(window), WM_KEYDOWN, VirtualKey(key), 1));
}

void ReleaseArrowKey(basic::DisplayWindow& window, basic::ArrowKey key) {
    ASSERT_TRUE(PostMessageW(Handle(window), WM_KEYUP, VirtualKey(key), static_cast<LPARAM>(0xC0000001u)));
}

void TypeCharacter(basic::DisplayWindow& window, char character) {
    ASSERT_TRUE(PostMessageW(Handle(window), WM_CHAR, static_cast<WPARAM>(static_cast<unsigned char>(character)), 1));
}

}  // namespace test

namespace {

std::unique_ptr<CSampleDeviceDriver> OpenWindow(bool fullscreen) {
    basic::BasicDriverSettings settings;
    settings.windowWidth = 320;
    settings.windowHeight = 180;
    settings.fullscreen = fullscreen;
    return CSampleDeviceDriver::CreateWithWindow(settings);
}

HWND HandleOf(CSampleDeviceDriver& device) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(device.Window()->NativeWindow()));
}

TEST(BasicDisplayWin32Window, TopMostOverlappedWindowWithTheClientSizeAndCloseGreyedOut) {
    test::TempEnvironment env;
    auto device = OpenWindow(false);
    const HWND window = HandleOf(*device);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(FindWindowW(L"OpenXR_Display_Window", L"OpenXR Display Window"), window);
    EXPECT_FALSE(IsWindowVisible(window));

    const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    EXPECT_EQ(style & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
    EXPECT_NE(GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
    RECT client {};
    ASSERT_TRUE(GetClientRect(window, &client));
    EXPECT_EQ(client.right - client.left, 320);
    EXPECT_EQ(client.bottom - client.top, 180);
    const UINT close = GetMenuState(GetSystemMenu(window, FALSE), SC_CLOSE, MF_BYCOMMAND);
    ASSERT_NE(close, static_cast<UINT>(-1));
    EXPECT_NE(close & MF_GRAYED, 0u);
}

TEST(BasicDisplayWin32Window, FullscreenIsALayeredTransparentPopupShownMaximised) {
    test::TempEnvironment env;
    auto device = OpenWindow(true);
    const HWND window = HandleOf(*device);
    ASSERT_NE(window, nullptr);
    EXPECT_NE(GetWindowLongPtrW(window, GWL_STYLE) & WS_POPUP, 0);
    EXPECT_EQ(GetWindowLongPtrW(window, GWL_EXSTYLE) & 0x80020, 0x80020);
    EXPECT_FALSE(IsWindowVisible(window));
    device->SetDisplayState(1);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_TRUE(IsZoomed(window));
    device->SetDisplayState(0);
    EXPECT_FALSE(IsWindowVisible(window));
}

}  // namespace
}  // namespace qor
