#include "drivers/basic/display_device.h"

#include "drivers/basic/host_interfaces.h"

#include <cctype>
#include <cmath>

namespace qor {

namespace {

constexpr uint32_t kRecommendedWidth = 1920;
constexpr uint32_t kRecommendedHeight = 1080;
constexpr uint32_t kViewCount = 2;
constexpr float kHalfEyeDistance = 0.032f;
// +/-30 degrees horizontally, +/-16.875 degrees vertically.
constexpr XrFovf kViewFov {-0.5235988f, 0.5235988f, 0.2945243f, -0.2945243f};

bool EqualsIgnoringCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) return false;
    }
    return *a == *b;
}

}  // namespace

CSampleDeviceDriver::CSampleDeviceDriver(const basic::BasicDriverSettings& settings)
    : settings_(settings), deviceIndex_(basic::kNoDeviceIndex), head_(basic::InitialHeadState()) {}

std::unique_ptr<CSampleDeviceDriver> CSampleDeviceDriver::CreateWithWindow(const basic::BasicDriverSettings& settings) {
    auto device = std::make_unique<CSampleDeviceDriver>(settings);
    CSampleDeviceDriver* self = device.get();
    basic::DisplayWindowKeys keys;
    keys.arrow = [self](basic::ArrowKey key) { self->SteerByArrow(key); };
    keys.character = [self](char character) { self->SteerByCharacter(character); };
    device->window_ = basic::CreateDisplayWindow(settings, std::move(keys));
    return device;
}

DriverResult CSampleDeviceDriver::Activate(uint32_t deviceIndex, uint32_t) {
    deviceIndex_ = deviceIndex;
    return kDriverOk;
}

void CSampleDeviceDriver::Deactivate() {
    deviceIndex_ = basic::kNoDeviceIndex;
    windowShown_ = false;
    if (window_) window_->SetDisplayState(0);
}

void* CSampleDeviceDriver::GetComponent(const char* version) {
    if (version == nullptr || !EqualsIgnoringCase(version, kDisplayComponentVersion)) return nullptr;
    return static_cast<IQorDisplayComponent*>(this);
}

bool CSampleDeviceDriver::GetPose(XrPosef* pose, uint32_t) {
    if (pose == nullptr) return false;
    std::lock_guard lock(headMutex_);
    *pose = head_.pose;
    return true;
}

void CSampleDeviceDriver::GetFormFactor(int32_t* formFactor) {
    if (formFactor != nullptr) *formFactor = XR_FORM_FACTOR_HEAD_MOUNTED_DISPLAY;
}

void CSampleDeviceDriver::GetTrackingProperties(TrackingProperties* properties) {
    if (properties != nullptr) *properties = TrackingProperties {XR_TRUE, XR_TRUE};
}

DriverResult CSampleDeviceDriver::EnumerateViewConfigurations(uint32_t capacity, uint32_t* count, int32_t* types) {
    if (count != nullptr) *count = 1;
    if (capacity == 0) return kDriverOk;
    if (capacity > 1) return kDriverBadCapacity;
    if (types != nullptr) types[0] = XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO;
    return kDriverOk;
}

void CSampleDeviceDriver::GetRecommendedRenderSize(uint32_t* width, uint32_t* height) {
    if (width != nullptr) *width = kRecommendedWidth;
    if (height != nullptr) *height = kRecommendedHeight;
}

void CSampleDeviceDriver::GetEyeFov(uint32_t eye, float* left, float* right, float* up, float* down) {
    if (eye > 1) return;
    const float t = std::tan(1.5707964f);
    if (left != nullptr) *left = -t;
    if (right != nullptr) *right = t;
    if (up != nullptr) *up = t;
    if (down != nullptr) *down = -t;
}

DriverResult CSampleDeviceDriver::LocateViews(uint32_t capacity, uint32_t* count, XrView* views) {
    if (count != nullptr) *count = kViewCount;
    if (capacity == 0) return kDriverOk;
    if (capacity < kViewCount || views == nullptr) return kDriverCapacityTooSmall;
    XrPosef head;
    {
        std::lock_guard lock(headMutex_);
        head = head_.pose;
    }
    // Type and next belong to the caller.
    views[0].pose = basic::EyePose(head, -kHalfEyeDistance);
    views[0].fov = kViewFov;
    views[1].pose = basic::EyePose(head, kHalfEyeDistance);
    views[1].fov = kViewFov;
    return kDriverOk;
}

void CSampleDeviceDriver::PresentFrame(uint64_t sharedTextureHandle) {
    lastFrameHandle_ = sharedTextureHandle;
    if (window_) window_->PresentFrame(sharedTextureHandle);
}

void CSampleDeviceDriver::SetDisplayState(int32_t state) {
    displayState_ = state;
    windowShown_ = state != 0;
    if (window_) window_->SetDisplayState(state);
}

void CSampleDeviceDriver::SteerByArrow(basic::ArrowKey key) {
    std::lock_guard lock(headMutex_);
    basic::SteerByArrow(head_, key);
}

bool CSampleDeviceDriver::SteerByCharacter(char character) {
    std::lock_guard lock(headMutex_);
    return basic::SteerByCharacter(head_, character);
}

}  // namespace qor
