// The weaving window on screen: the "Plexaview" window over the panel's monitor, and the swap
// chain that shows its back buffer. A Win32 window with a DXGI flip swap chain on Windows; on
// POSIX an SDL2 window (SDL's offscreen driver without a display) beside the message-bus
// window that other processes post "PlexaCloseMSG" and "PlexaMSG" to.
#pragma once

#include "gpu/device.h"
#include "platform/adapters.h"
#include "platform/window.h"

#include <cstdint>
#include <memory>
#include <string>

namespace qor::plexa {

inline constexpr const char* kWindowClass = "Plexaview";
inline constexpr const char* kWindowTitle = "Plexaview";

// Captures of what is presented (NORVIK_CAPTURE_DIR): the first frames while the writer keeps
// up, then every this many. A 3840x2160 PNG costs more processor time than a frame, and the
// frames come first; the woven frame and its input are captured under the same numbers.
inline constexpr uint64_t kCaptureEveryFrames = 30;
inline constexpr bool CaptureDue(uint64_t presentedFrame) {
    return presentedFrame <= kCaptureEveryFrames || presentedFrame % kCaptureEveryFrames == 0;
}

enum class PresentResult { Ok, Occluded, Failed };

class SwapChain {
public:
    virtual ~SwapChain() = default;
    // The W_c × H_c B8G8R8A8 render target the frame is drawn into.
    virtual gpu::Texture& BackBuffer() = 0;
    // Shows the back buffer (waiting for one vertical blank where the window system has one).
    virtual PresentResult Present() = 0;
    // Presents so far that were shown.
    virtual uint64_t PresentedFrames() const = 0;
};

class PanelWindow {
public:
    virtual ~PanelWindow() = default;
    virtual platform::WindowHandle Handle() const = 0;
    virtual uint32_t ClientWidth() const = 0;
    virtual uint32_t ClientHeight() const = 0;
    // Null with `error` set when no swap chain can be made on the device. `panelFound`: the
    // panel's monitor was identified, so presenting is kept to the first output that is not the
    // main display (Windows; a POSIX window has one output).
    virtual std::unique_ptr<SwapChain> CreateSwapChain(gpu::Device& device, bool panelFound, std::string* error) = 0;
    // Lets the window system deliver its own events (POSIX); the message loop does it on Windows.
    virtual void PumpEvents() = 0;
    // Takes the window off the screen (the program is ending).
    virtual void Hide() = 0;
};

// The borderless top-most window exactly over `monitor`, shown, not taking mouse input,
// excluded from screen capture; `proc` receives its messages. Null with `error` set when it
// cannot be made.
std::unique_ptr<PanelWindow> CreatePanelWindow(const platform::DesktopRect& monitor, platform::WindowProc proc,
                                               std::string* error);

}  // namespace qor::plexa
