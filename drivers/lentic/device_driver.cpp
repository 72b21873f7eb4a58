#include "drivers/lentic/device_driver.h"

#include "display/winpipe/pipe_client_connection.h"
#include "display/winpipe/weaving_window_messages.h"
#include "display/winpipe/window_pipe_protocol.h"
#include "drivers/lentic/view_math.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <optional>

namespace qor {

namespace {

constexpr uint32_t kViewCount = 2;
constexpr int32_t kFormFactorHeadMounted = 1;
constexpr int32_t kViewConfigurationPrimaryStereo = 2;
constexpr uint32_t kRenderWidth = 3840;
constexpr uint32_t kRenderHeight = 2160;
// Commands 1 and 5 carry one int32 1.
constexpr int32_t kRequestArgument = 1;

bool EqualIgnoringCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(*a) != lower(*b)) return false;
    }
    return *a == *b;
}

bool Finite(const winpipe::EyePosition& eye) {
    return std::isfinite(eye.x) && std::isfinite(eye.y) && std::isfinite(eye.z);
}

// The pair of a reply that is two 12-byte records of finite numbers; anything else (no reply,
// an integer reply, an empty or malformed one) is not eye data and must not pose the views.
std::optional<winpipe::EyePair> EyePairOf(const winpipe::PipeClientReply& reply) {
    if (!reply.Ok()) return std::nullopt;
    const auto arguments = winpipe::DecodeReply(reply.Received());
    if (!arguments || arguments->size() != 2) return std::nullopt;
    const auto left = winpipe::DecodeEyePosition((*arguments)[0]);
    const auto right = winpipe::DecodeEyePosition((*arguments)[1]);
    if (!left || !right || !Finite(*left) || !Finite(*right)) return std::nullopt;
    return winpipe::EyePair {*left, *right};
}

}  // namespace

CLenticDeviceDriver::CLenticDeviceDriver(const lentic::LenticSettings& settings,
                                         std::shared_ptr<winpipe::DisplayLogWriter> log)
    : settings_(settings), log_(std::move(log)) {}

DriverResult CLenticDeviceDriver::Activate(uint32_t deviceIndex, uint32_t) {
    objectId_ = deviceIndex;
    return kDriverOk;
}

void CLenticDeviceDriver::Deactivate() { objectId_ = lentic::kNoObjectId; }

void* CLenticDeviceDriver::GetComponent(const char* version) {
    if (version == nullptr || !EqualIgnoringCase(version, kDisplayComponentVersion)) return nullptr;
    return static_cast<IQorDisplayComponent*>(this);
}

bool CLenticDeviceDriver::GetPose(XrPosef*, uint32_t) { return true; }

void CLenticDeviceDriver::GetFormFactor(int32_t* formFactor) {
    if (formFactor != nullptr) *formFactor = kFormFactorHeadMounted;
}

void CLenticDeviceDriver::GetTrackingProperties(TrackingProperties* properties) {
    if (properties != nullptr) *properties = TrackingProperties {XR_TRUE, XR_TRUE};
}

DriverResult CLenticDeviceDriver::EnumerateViewConfigurations(uint32_t capacity, uint32_t* count, int32_t* types) {
    if (count != nullptr) *count = 1;
    if (capacity == 0) return kDriverOk;
    if (capacity > 1) return kDriverBadCapacity;
    if (types != nullptr) types[0] = kViewConfigurationPrimaryStereo;
    return kDriverOk;
}

void CLenticDeviceDriver::GetRecommendedRenderSize(uint32_t* width, uint32_t* height) {
    if (width != nullptr) *width = kRenderWidth;
    if (height != nullptr) *height = kRenderHeight;
}

void CLenticDeviceDriver::GetEyeFov(uint32_t eye, float* left, float* right, float* up, float* down) {
    if (eye > 1 || left == nullptr || right == nullptr || up == nullptr || down == nullptr) return;
    // The single-precision tangent of the float nearest π/2 (-22877332.0).
    const float t = std::tan(static_cast<float>(1.57079632679489661923));
    *left = -t;
    *right = t;
    *up = t;
    *down = -t;
}

DriverResult CLenticDeviceDriver::LocateViews(uint32_t capacity, uint32_t* count, XrView* views) {
    if (count != nullptr) *count = kViewCount;
    if (capacity == 0) return kDriverOk;
    // A missing array has no room for the views either.
    if (capacity < kViewCount || views == nullptr) return kDriverCapacityTooSmall;
    try {
        return FetchAndFillViews(views);
    } catch (...) {
        // Only allocation can throw here; the host must not see it.
        return kDriverNoEyeData;
    }
}

DriverResult CLenticDeviceDriver::FetchAndFillViews(XrView* views) {
    const winpipe::PipeClientReply reply =
        winpipe::SendRequest(winpipe::EncodeRequest(winpipe::kCommandFetchEyePositions,
                                                    {winpipe::BytesOf(kRequestArgument)}),
                             winpipe::kEyePositionsReplyBufferSize);
    const std::optional<winpipe::EyePair> eyes = EyePairOf(reply);
    if (!eyes) {
        Log(winpipe::DisplayLogLevel::Error, "CLenticDeviceDriver::LocateViews():",
            "no eye positions from the window service (%s, %u bytes)", winpipe::PipeClientStatusName(reply.status),
            reply.size);
        return kDriverNoEyeData;
    }
    lentic::FillViews(*eyes, settings_, views);
    return kDriverOk;
}

void CLenticDeviceDriver::PresentFrame(uint64_t sharedTextureHandle) {
    // The handle counts as presented whether or not the window service takes it.
    if (lastPresentedHandle_.exchange(sharedTextureHandle) == sharedTextureHandle) return;
    try {
        SendOpenApp(sharedTextureHandle);
    } catch (...) {
        // Only allocation can throw here; the host must not see it.
    }
}

void CLenticDeviceDriver::SendOpenApp(uint64_t sharedTextureHandle) {
    const winpipe::HandleText text = winpipe::HandleTextOf(sharedTextureHandle);
    const int32_t enable = displayEnable_.load();
    const winpipe::PipeClientReply reply =
        winpipe::SendRequest(winpipe::EncodeRequest(winpipe::kCommandOpenApp, {text, winpipe::BytesOf(enable)}),
                             winpipe::kIntegerReplyBufferSize);
    Log(reply.Ok() ? winpipe::DisplayLogLevel::Info : winpipe::DisplayLogLevel::Error,
        "CLenticDeviceDriver::PresentFrame():", "openapp %s enable %d: %s", reinterpret_cast<const char*>(text.data()),
        enable, winpipe::PipeClientStatusName(reply.status));
}

void CLenticDeviceDriver::SetDisplayState(int32_t state) {
    if (state != kDisplayStateOff) {
        displayEnable_ = state != lentic::kDisplayStateLensOff ? 1 : 0;
        Log(winpipe::DisplayLogLevel::Info, "CLenticDeviceDriver::SetDisplayState():", "state %d", state);
        return;
    }
    try {
        SendCloseApp();
    } catch (...) {
        // Only allocation can throw here; the host must not see it.
    }
    // The next frame starts a weaving window again, even with the same handle.
    lastPresentedHandle_ = 0;
}

void CLenticDeviceDriver::SendCloseApp() {
    const winpipe::PipeClientReply reply = winpipe::SendRequest(
        winpipe::EncodeRequest(winpipe::kCommandCloseApp, {winpipe::BytesOf(kRequestArgument)}),
        winpipe::kIntegerReplyBufferSize);
    const bool posted = winpipe::PostCloseToWeavingWindow();
    Log(reply.Ok() ? winpipe::DisplayLogLevel::Info : winpipe::DisplayLogLevel::Error,
        "CLenticDeviceDriver::SetDisplayState():", "closeapp: %s, close message %s",
        winpipe::PipeClientStatusName(reply.status), posted ? "posted" : "not posted (no weaving window)");
}

void CLenticDeviceDriver::Log(winpipe::DisplayLogLevel level, const char* context, const char* format, ...) {
    if (!log_) return;
    char message[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    try {
        log_->Write(level, context, message);
    } catch (...) {
        // A line that cannot be written is lost, nothing more.
    }
}

}  // namespace qor
