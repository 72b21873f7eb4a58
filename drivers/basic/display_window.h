// The basic driver's display window: shows the composed frame on the desktop and turns key
// presses into head steering. A Win32 window with a Direct3D 11 swap chain on Windows
// (display_window_win32.cpp); an SDL2 window elsewhere (display_window_sdl.cpp). Either runs
// its window on a thread of the driver's own.
#pragma once

#include "drivers/basic/basic_settings.h"
#include "drivers/basic/head_steering.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace qor::basic {

// What the keyboard does to the head; called on the window's thread.
struct DisplayWindowKeys {
    std::function<void(ArrowKey)> arrow;
    std::function<void(char)> character;
};

class DisplayWindow {
public:
    virtual ~DisplayWindow() = default;

    // 0 hides the window; any other state shows it, maximised when fullscreen is set.
    virtual void SetDisplayState(int32_t state) = 0;

    // The frame hand-off of the stage texture behind `sharedTextureHandle`: opened when the
    // handle differs from the last one, acquired with key 1 within 100 ms (else the frame
    // is skipped) and released with key 0 before this returns.
    virtual void PresentFrame(uint64_t sharedTextureHandle) = 0;

    // Whether the window system shows the window now.
    virtual bool IsVisible() = 0;
    // Frames drawn and presented so far.
    virtual uint64_t PresentedFrames() const = 0;
    // The SDL window id, or the HWND; 0 when no window could be made.
    virtual uint64_t NativeWindow() const = 0;
};

// Makes the window, hidden, and its graphics on the window thread, and returns once both are
// done. Never null: when a step fails the window exists but presents nothing.
std::unique_ptr<DisplayWindow> CreateDisplayWindow(const BasicDriverSettings& settings, DisplayWindowKeys keys);

}  // namespace qor::basic
