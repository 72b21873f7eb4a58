#include "winservice/window_commands.h"

#include "platform/registry.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace qor::winservice {

namespace {

constexpr const char* kDisplayServiceKey = "SOFTWARE\\Norvik\\Tavrix\\TavrixDisplayService";
constexpr const char* kPlexaviewKey = "SOFTWARE\\Norvik\\Tavrix\\TavrixDisplayService\\Plexaview";
// "Plexa.exe " and the terminating zero of the 100-character command-line buffer leave this
// much for the handle text.
constexpr size_t kMaxHandleText = 100 - 10 - 1;
constexpr int32_t kStillRecorded = -1;

int64_t ReadDword(const char* key, const char* value) {
    const auto read = platform::RegistryReadDword(platform::RegistryRoot::LocalMachine, key, value);
    return read ? static_cast<int64_t>(*read) : -1;
}

// The text up to its first zero byte.
std::string TextOf(winpipe::ByteView bytes) {
    const auto* data = reinterpret_cast<const char*>(bytes.data());
    return std::string(data, strnlen(data, bytes.size()));
}

int32_t Int32Of(winpipe::ByteView bytes) {
    int32_t value = 0;
    std::memcpy(&value, bytes.data(), std::min(bytes.size(), sizeof value));
    return value;
}

}  // namespace

DisplaySettingsReader RegistryDisplaySettings() {
    DisplaySettingsReader reader;
    reader.developerMode = [] { return ReadDword(kDisplayServiceKey, "DeveloperMode"); };
    reader.osdStatus = [] { return ReadDword(kPlexaviewKey, "OSDStatus"); };
    reader.writeSbsStatus = [](uint32_t status) {
        return platform::RegistryWriteDword(platform::RegistryRoot::LocalMachine, kDisplayServiceKey,
                                            "SBSFeatureStatus", status);
    };
    return reader;
}

LaunchMode ChooseLaunchMode(int64_t developerMode, int64_t osdStatus, int32_t enableFlag) {
    if (developerMode == 1 && osdStatus == 1) return LaunchMode::UiAccess;
    if (developerMode == 1 && osdStatus == 2) return LaunchMode::MediumIntegrity;
    return enableFlag != 0 ? LaunchMode::MediumIntegrity : LaunchMode::UiAccess;
}

uint32_t ParseHandleText(winpipe::ByteView text) {
    uint64_t value = 0;
    for (const uint8_t byte : text) {
        if (byte < '0' || byte > '9') break;
        value = value * 10 + (byte - '0');  // wraps like the C library's unsigned parse would
    }
    return static_cast<uint32_t>(value);
}

WindowCommandProcessor::WindowCommandProcessor(WeavingWindowHost& host, DisplaySettingsReader settings, CommandLog log)
    : host_(host), settings_(std::move(settings)), log_(std::move(log)) {}

std::optional<winpipe::Bytes> WindowCommandProcessor::Handle(const winpipe::WindowPipeRequest& request) {
    switch (request.command) {
        case winpipe::kCommandSharedHandler: return SharedHandler(request);
        case winpipe::kCommandCloseApp: return CloseApp();
        case winpipe::kCommandOpenApp: return OpenApp(request);
        case winpipe::kCommandSbsStatus: return SbsStatus(request);
        case winpipe::kCommandStoreEyePositions: return StoreEyePositions(request);
        case winpipe::kCommandFetchEyePositions: return eyes_.FetchReply();
        default: return std::nullopt;
    }
}

std::optional<winpipe::Bytes> WindowCommandProcessor::SharedHandler(const winpipe::WindowPipeRequest& request) {
    constexpr const char* kPrefix = "Plexa Service::plexa_send_sharedhandler():";
    log_(kPrefix, "Entry");
    if (request.arguments.size() != 1) {
        log_(kPrefix, "number of argument is not correct");
        std::printf("plexa_send_sharedhandler() : number of argument = %d is not correct .\n",
                    static_cast<int>(request.arguments.size()));
        return std::nullopt;
    }
    std::lock_guard lock(mutex_);
    if (window_) {
        const uint32_t value = ParseHandleText(request.arguments[0]);
        if (value != lastPosted_) {
            lastPosted_ = value;
            host_.PostSharedHandle(value);
        }
    }
    return winpipe::IntegerReply(0);
}

winpipe::Bytes WindowCommandProcessor::CloseApp() {
    log_("Plexa Service::plexa_send_closeapp():", "Entry");
    // Only forgotten: the driver closes the window itself with its own message.
    std::lock_guard lock(mutex_);
    window_.reset();
    return winpipe::IntegerReply(0);
}

bool WindowCommandProcessor::WaitForEarlierWindowToExit() {
    const auto deadline = std::chrono::steady_clock::now() + kEarlierWindowWait;
    std::unique_lock lock(mutex_);
    while (host_.ProgramRunning()) {
        if (stopped_ || std::chrono::steady_clock::now() >= deadline) return false;
        stopping_.wait_for(lock, kEarlierWindowPoll, [this] { return stopped_; });
    }
    return !stopped_;
}

std::optional<winpipe::Bytes> WindowCommandProcessor::OpenApp(const winpipe::WindowPipeRequest& request) {
    constexpr const char* kPrefix = "Plexa Service::plexa_send_openapp():";
    log_(kPrefix, "Entry");
    const size_t count = request.arguments.size();
    if (count != 1 && count != 2) {
        log_(kPrefix, "number of argument is not correct");
        std::printf("plexa_send_openapp() : number of argument = %d is not correct .\n", static_cast<int>(count));
        return std::nullopt;
    }
    std::string handleText = TextOf(request.arguments[0]);
    if (handleText.size() > kMaxHandleText) handleText.resize(kMaxHandleText);
    const int32_t flag = count == 2 ? Int32Of(request.arguments[1]) : 0;

    ForgetEndedWindow();
    if (WindowRecorded()) {
        log_(kPrefix, "plexaview not closed");
        return winpipe::IntegerReply(kStillRecorded);
    }
    // An earlier window that never exits would hold the driver's frame for good: the wait is
    // bounded and then answered like a window that is still recorded.
    if (!WaitForEarlierWindowToExit()) {
        log_(kPrefix, "an earlier plexaview is still running");
        return winpipe::IntegerReply(kStillRecorded);
    }
    std::lock_guard lock(mutex_);
    if (window_) {
        log_(kPrefix, "plexaview not closed");
        return winpipe::IntegerReply(kStillRecorded);
    }
    const LaunchMode mode = ChooseLaunchMode(settings_.developerMode(), settings_.osdStatus(), flag);
    window_ = host_.Launch(handleText, mode);
    if (!window_) log_(kPrefix, "Create Plexaview Process Failed");
    return winpipe::IntegerReply(0);  // whether or not the window started
}

winpipe::Bytes WindowCommandProcessor::SbsStatus(const winpipe::WindowPipeRequest& request) {
    log_("Plexa Service::plexa_send_sbsstatus():", "Entry");
    // A request without a status byte writes nothing; a failed write is not the client's concern.
    if (!request.arguments.empty() && !request.arguments[0].empty()) {
        settings_.writeSbsStatus(request.arguments[0][0] != 0 ? 1 : 0);
    }
    return winpipe::IntegerReply(0);
}

winpipe::Bytes WindowCommandProcessor::StoreEyePositions(const winpipe::WindowPipeRequest& request) {
    // Anything but two whole records is refused with -1 and leaves the stored pair as it was.
    const bool stored = request.arguments.size() == 2 && eyes_.Store(request.arguments[0], request.arguments[1]);
    return winpipe::IntegerReply(stored ? 0 : -1);
}

void WindowCommandProcessor::Stop() {
    std::optional<platform::ProcessIdentity> window;
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        window = std::exchange(window_, std::nullopt);
    }
    stopping_.notify_all();
    if (window) host_.Terminate(*window, kTerminateWait);
}

void WindowCommandProcessor::ForgetEndedWindow() {
    std::lock_guard lock(mutex_);
    if (window_ && !host_.WindowRunning(*window_)) {
        log_("Plexa Service::plexa_send_openapp():", "the recorded plexaview has ended");
        window_.reset();
    }
}

bool WindowCommandProcessor::WindowRecorded() {
    std::lock_guard lock(mutex_);
    return window_.has_value();
}

}  // namespace qor::winservice
