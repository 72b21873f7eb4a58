#include "service/driverhost/host_driver_manager.h"

#include "service/core/handle_counter.h"

#include <cstring>

namespace qor {

namespace {

constexpr size_t kMaxSerialBytes = 512;
constexpr size_t kMaxSystemNameBytes = 256;

uint64_t LittleEndian(const platform::Md5Digest& digest, size_t offset, size_t bytes) {
    uint64_t value = 0;
    for (size_t i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(digest[offset + i]) << (8 * i);
    return value;
}

bool IsDisplayClass(DeviceClass deviceClass) {
    return deviceClass == kDeviceStereoDisplay || deviceClass == kDeviceMonoDisplay;
}

struct SystemShape {
    std::string name;
    uint32_t width = 0;
    uint32_t height = 0;
    TrackingProperties tracking {XR_FALSE, XR_FALSE};
    XrViewConfigurationType type = XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO;
    uint32_t viewCount = 2;
};

std::unique_ptr<SystemEntry> BuildSystem(uint64_t systemId, DeviceRecord* record, IQorDisplayComponent* display,
                                         int32_t formFactor, const SystemShape& shape) {
    auto system = std::make_unique<SystemEntry>();
    system->formFactor = formFactor;
    system->systemId = systemId;
    system->vendorId = kSystemVendorId;
    system->systemName = shape.name;
    system->maxSwapchainImageHeight = shape.height;
    system->maxSwapchainImageWidth = shape.width;
    system->maxLayerCount = kSystemMaxLayerCount;
    system->orientationTracking = shape.tracking.orientationTracking;
    system->positionTracking = shape.tracking.positionTracking;
    ViewConfigurationEntry configuration;
    configuration.type = shape.type;
    configuration.fovMutable = XR_FALSE;
    ViewConfigurationViewEntry view;
    view.recommendedImageRectWidth = shape.width;
    view.maxImageRectWidth = 2 * shape.width;
    view.recommendedImageRectHeight = shape.height;
    view.maxImageRectHeight = 2 * shape.height;
    view.recommendedSwapchainSampleCount = 1;
    view.maxSwapchainSampleCount = 1;
    configuration.views.assign(shape.viewCount, view);
    system->viewConfigurations.push_back(std::move(configuration));
    system->device = record;
    system->display = display;
    return system;
}

// Head-mounted display (1) or handheld (2); anything else is not kept.
int32_t ReadFormFactor(IQorDisplayComponent* display) {
    int32_t formFactor = 0;
    display->GetFormFactor(&formFactor);
    return formFactor == XR_FORM_FACTOR_HEAD_MOUNTED_DISPLAY || formFactor == XR_FORM_FACTOR_HANDHELD_DISPLAY
               ? formFactor
               : 0;
}

}  // namespace

platform::Md5Digest SerialDigest(const char* serial) {
    platform::Md5Digest digest {};
    size_t length = 0;
    while (serial != nullptr && length < kMaxSerialBytes && serial[length] != '\0') ++length;
    if (!platform::Md5(serial, length, &digest)) digest.fill(0);
    return digest;
}

uint32_t ChooseDeviceIndex(const platform::Md5Digest& digest, const std::function<bool(uint32_t)>& isTaken) {
    const auto candidateA = static_cast<uint32_t>(LittleEndian(digest, 0, 4));
    if (!isTaken(candidateA)) return candidateA;
    const auto candidateB = static_cast<uint32_t>(LittleEndian(digest, 8, 4));
    if (!isTaken(candidateB)) return candidateB;
    uint32_t index = candidateB + 1;
    while (isTaken(index)) ++index;
    return index;
}

QorHostDriverManager::QorHostDriverManager(SystemSink sink, const HostServices& services)
    : sink_(std::move(sink)), handles_(services.handles), settings_(services.settings) {
    if (!settings_) settings_ = [] { return ServiceSettings {}; };
}

std::unique_ptr<DeviceRecord> QorHostDriverManager::NewRecord(const char* serial, IQorDeviceServerDriver* driver) {
    const platform::Md5Digest digest = SerialDigest(serial);
    auto record = std::make_unique<DeviceRecord>();
    record->serialDigestLow = LittleEndian(digest, 0, 8);
    record->serialDigestHigh = LittleEndian(digest, 8, 8);
    record->deviceIndex = ChooseDeviceIndex(digest, [this](uint32_t index) { return devices_.count(index) != 0; });
    record->driver = driver;
    return record;
}

void QorHostDriverManager::EnterRecord(std::unique_ptr<DeviceRecord> record) {
    const uint64_t index = record->deviceIndex;
    devices_.emplace(index, std::move(record));  // a present key keeps its record
}

bool QorHostDriverManager::AddDevice(const char* serial, uint32_t /*vendorId*/, const char* systemName,
                                     DeviceClass deviceClass, IQorDeviceServerDriver* driver) {
    if (driver == nullptr || deviceClass < kDeviceStereoDisplay || deviceClass > kDeviceMonoDisplay) return false;
    try {
        std::lock_guard lock(mutex_);
        auto record = NewRecord(serial, driver);
        if (IsDisplayClass(deviceClass)) {
            const bool stereo = deviceClass == kDeviceStereoDisplay;
            record->displayKind = stereo ? kDisplayKindStereo : kDisplayKindMono;
            auto* display = static_cast<IQorDisplayComponent*>(driver->GetComponent(kDisplayComponentVersion));
            if (display == nullptr) return false;
            record->display = display;
            components_.emplace(record->deviceIndex, display);

            const int32_t formFactor = ReadFormFactor(display);
            SystemShape shape;
            if (systemName != nullptr && std::strlen(systemName) < kMaxSystemNameBytes) shape.name = systemName;
            display->GetRecommendedRenderSize(&shape.width, &shape.height);
            if (shape.width == 0 || shape.height == 0) {
                const ServiceSettings settings = settings_();
                shape.width = settings.renderBufferWidth;
                shape.height = settings.renderBufferHeight;
            }
            display->GetTrackingProperties(&shape.tracking);
            shape.type = stereo ? XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO : XR_VIEW_CONFIGURATION_TYPE_PRIMARY_MONO;
            shape.viewCount = stereo ? 2 : 1;
            sink_(BuildSystem(handles_.New(kSystemIdBase), record.get(), display, formFactor, shape));
        }
        driver->Activate(static_cast<uint32_t>(record->deviceIndex), 0);  // result deliberately not checked
        EnterRecord(std::move(record));
        return true;
    } catch (...) {
        return false;  // nothing may escape to the driver
    }
}

bool QorHostDriverManager::AddDeviceBasic(const char* serial, DeviceClass deviceClass, IQorDeviceServerDriver* driver) {
    if (serial == nullptr || serial[0] == '\0' || driver == nullptr) return false;
    if (deviceClass < kDeviceStereoDisplay || deviceClass > kDeviceMonoDisplay) return false;
    try {
        std::lock_guard lock(mutex_);
        auto owned = NewRecord(serial, driver);
        DeviceRecord* record = owned.get();
        if (IsDisplayClass(deviceClass)) {
            record->displayKind = deviceClass == kDeviceStereoDisplay ? kDisplayKindStereo : kDisplayKindMono;
        }
        EnterRecord(std::move(owned));
        auto* display = static_cast<IQorDisplayComponent*>(driver->GetComponent(kDisplayComponentVersion));
        if (display == nullptr) return false;  // the device stays registered
        record->display = display;
        components_.emplace(record->deviceIndex, display);

        const int32_t formFactor = ReadFormFactor(display);
        const ServiceSettings settings = settings_();
        SystemShape shape;
        shape.name = kBasicSystemName;
        shape.width = settings.renderBufferWidth;
        shape.height = settings.renderBufferHeight;
        shape.tracking = {XR_TRUE, XR_TRUE};
        sink_(BuildSystem(handles_.New(kSystemIdBase), record, display, formFactor, shape));
        return true;
    } catch (...) {
        return false;
    }
}

uint32_t QorHostDriverManager::GetDeviceCount() {
    std::lock_guard lock(mutex_);
    return static_cast<uint32_t>(devices_.size());
}

const DeviceRecord* QorHostDriverManager::FindDevice(uint64_t deviceIndex) {
    std::lock_guard lock(mutex_);
    const auto found = devices_.find(deviceIndex);
    return found == devices_.end() ? nullptr : found->second.get();
}

IQorDisplayComponent* QorHostDriverManager::FindDisplayComponent(uint64_t deviceIndex) {
    std::lock_guard lock(mutex_);
    const auto found = components_.find(deviceIndex);
    return found == components_.end() ? nullptr : found->second;
}

}  // namespace qor
