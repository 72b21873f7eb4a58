// The window service's six pipe commands: the weaving window's start, close and shared
// handle, the side-by-side status, and the eye-position store.
#pragma once

#include "display/winpipe/window_pipe_message.h"
#include "display/winpipe/window_pipe_protocol.h"
#include "platform/process.h"
#include "winservice/eye_position_store.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace qor::winservice {

// How the weaving window is started in the user's session.
enum class LaunchMode { UiAccess, MediumIntegrity };

// What the commands need from the system, so that tests can stand in for it.
class WeavingWindowHost {
public:
    virtual ~WeavingWindowHost() = default;
    // True while any process of the weaving window's program runs (ours or not).
    virtual bool ProgramRunning() = 0;
    // True while the process we started still runs.
    virtual bool WindowRunning(const platform::ProcessIdentity& process) = 0;
    // Starts the weaving window with the handle text as its command line.
    virtual std::optional<platform::ProcessIdentity> Launch(const std::string& handleText, LaunchMode mode) = 0;
    // Posts "PlexaMSG" with the handle value to the weaving window, when it has a window.
    virtual void PostSharedHandle(uint32_t value) = 0;
    // Ends the process and waits up to `wait` for it to be gone.
    virtual void Terminate(const platform::ProcessIdentity& process, std::chrono::milliseconds wait) = 0;
};

// Registry values the commands read (HKEY_LOCAL_MACHINE; a value that cannot be read is -1).
struct DisplaySettingsReader {
    std::function<int64_t()> developerMode;
    std::function<int64_t()> osdStatus;
    std::function<bool(uint32_t)> writeSbsStatus;
};
DisplaySettingsReader RegistryDisplaySettings();

// The launch mode of an openapp request: in developer mode "OSDStatus" 1 or 2 decides; in
// every other case the request's flag (non-zero: medium integrity).
LaunchMode ChooseLaunchMode(int64_t developerMode, int64_t osdStatus, int32_t enableFlag);

// Log lines: the handler's prefix and the text.
using CommandLog = std::function<void(std::string_view prefix, std::string_view text)>;

class WindowCommandProcessor {
public:
    // How long openapp waits for an earlier weaving window to exit, checking every 100 ms.
    static constexpr std::chrono::milliseconds kEarlierWindowWait {10000};
    static constexpr std::chrono::milliseconds kEarlierWindowPoll {100};
    // How long stopping waits for a terminated weaving window.
    static constexpr std::chrono::milliseconds kTerminateWait {2000};

    WindowCommandProcessor(WeavingWindowHost& host, DisplaySettingsReader settings, CommandLog log);

    // The reply to a well-formed request, or nothing when it gets none.
    std::optional<winpipe::Bytes> Handle(const winpipe::WindowPipeRequest& request);

    // At service stop: ends a recorded weaving window and wakes any openapp that waits.
    void Stop();

    bool WindowRecorded();

private:
    std::optional<winpipe::Bytes> SharedHandler(const winpipe::WindowPipeRequest& request);
    winpipe::Bytes CloseApp();
    std::optional<winpipe::Bytes> OpenApp(const winpipe::WindowPipeRequest& request);
    winpipe::Bytes SbsStatus(const winpipe::WindowPipeRequest& request);
    winpipe::Bytes StoreEyePositions(const winpipe::WindowPipeRequest& request);
    // A weaving window that died on its own would otherwise block every later start.
    void ForgetEndedWindow();
    // False when the earlier window is still there after the wait, or the service stops.
    bool WaitForEarlierWindowToExit();

    WeavingWindowHost& host_;
    DisplaySettingsReader settings_;
    CommandLog log_;
    EyePositionStore eyes_;

    std::mutex mutex_;  // the recorded window and the last posted value
    std::condition_variable stopping_;
    bool stopped_ = false;
    std::optional<platform::ProcessIdentity> window_;
    uint32_t lastPosted_ = 0;
};

// The low 32 bits of the decimal number at the start of the text, up to its first zero byte.
uint32_t ParseHandleText(winpipe::ByteView text);

}  // namespace qor::winservice
