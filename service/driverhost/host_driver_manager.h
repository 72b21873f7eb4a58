// The service side of device registration: drivers add their devices here, and each display
// device becomes a system in the driver registry.
#pragma once

#include "driver_api/driver_interfaces.h"
#include "platform/crypto.h"
#include "service/driverhost/host_services.h"
#include "service/driverhost/system_entry.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace qor {

// DeviceRecord::displayKind.
constexpr uint32_t kDisplayKindNone = 0;
constexpr uint32_t kDisplayKindStereo = 1;
constexpr uint32_t kDisplayKindMono = 2;

// One registered device; owned by the manager and kept while the manager lives.
struct DeviceRecord {
    uint64_t serialDigestLow = 0;   // MD5 of the serial, bytes 0-7 (little-endian)
    uint64_t serialDigestHigh = 0;  // bytes 8-15
    uint64_t deviceIndex = 0;       // a 32-bit value, the key in the device map
    IQorDisplayComponent* display = nullptr;
    IQorDeviceServerDriver* driver = nullptr;
    uint32_t displayKind = kDisplayKindNone;
};

constexpr uint32_t kSystemVendorId = 0x502;
constexpr uint32_t kSystemMaxLayerCount = 16;
constexpr const char* kBasicSystemName = "Norvik Sample Display";

// MD5 of the serial's first 512 bytes (a null serial hashes nothing); all zero when hashing fails.
platform::Md5Digest SerialDigest(const char* serial);
// Candidate A (digest bytes 0-3, little-endian) when free, else candidate B (bytes 8-11), else
// the first free value counting upward from B + 1 (in 32 bits).
uint32_t ChooseDeviceIndex(const platform::Md5Digest& digest, const std::function<bool(uint32_t)>& isTaken);

class QorHostDriverManager final : public IQorServerDriverHost, public IQorDriverManager {
public:
    // Receives each system a display device creates; returns false when the id was present.
    using SystemSink = std::function<bool(std::unique_ptr<SystemEntry>)>;
    // System ids come from the service's handle counter; a display's size comes from the
    // service's settings when the driver reports none.
    QorHostDriverManager(SystemSink sink, const HostServices& services);
    QorHostDriverManager(const QorHostDriverManager&) = delete;
    QorHostDriverManager& operator=(const QorHostDriverManager&) = delete;

    // IQorServerDriverHost
    bool AddDevice(const char* serial, uint32_t vendorId, const char* systemName, DeviceClass deviceClass,
                   IQorDeviceServerDriver* driver) override;
    bool AddDeviceBasic(const char* serial, DeviceClass deviceClass, IQorDeviceServerDriver* driver) override;
    void Reserved() override {}

    // IQorDriverManager
    uint32_t GetDeviceCount() override;
    uint32_t Reserved1() override { return 0; }
    uint32_t Reserved2() override { return 0; }
    bool Reserved3() override { return false; }

    // Null when no device has this index.
    const DeviceRecord* FindDevice(uint64_t deviceIndex);
    IQorDisplayComponent* FindDisplayComponent(uint64_t deviceIndex);

private:
    std::unique_ptr<DeviceRecord> NewRecord(const char* serial, IQorDeviceServerDriver* driver);  // lock held
    std::unique_ptr<SystemEntry> NewSystem(DeviceRecord* record, IQorDisplayComponent* display);
    void EnterRecord(std::unique_ptr<DeviceRecord> record);  // lock held

    SystemSink sink_;
    HandleCounter& handles_;
    std::function<ServiceSettings()> settings_;
    // Recursive: a driver may call back (GetDeviceCount, another AddDevice) from Activate.
    std::recursive_mutex mutex_;
    std::map<uint64_t, std::unique_ptr<DeviceRecord>> devices_;
    std::map<uint64_t, IQorDisplayComponent*> components_;
};

}  // namespace qor
