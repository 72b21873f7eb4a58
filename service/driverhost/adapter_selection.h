// The choice of the graphics adapter the service renders on, and of the output that shows
// the stereoscopic monitor.
#pragma once

#include "gpu/device.h"
#include "service/driverhost/graphics_devices.h"
#include "platform/adapters.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qor {

constexpr uint32_t kNoAdapterIndex = 999;
// "GPUStatus": the vendor whose adapter the user chose.
constexpr uint32_t kGpuStatusIntel = 1;
constexpr uint32_t kGpuStatusNvidia = 2;
constexpr uint32_t kGpuStatusOtherVendor = 3;
constexpr uint32_t kGpuStatusAmd = 4;
constexpr uint32_t kGpuStatusAutomatic = 0xFFFFFFFF;  // "GPUStatus" missing (-1)
constexpr const char* kMonitorIdDefault = "NOTFOUND";  // "Monitor_ID" missing

constexpr uint32_t kVendorIntel = 0x8086;
constexpr uint32_t kVendorNvidia = 0x10DE;
constexpr uint32_t kVendorAmd = 0x1002;

struct AdapterChoice {
    uint32_t index = kNoAdapterIndex;  // may name another adapter than `adapter` (see SelectAdapter)
    std::optional<platform::GraphicsAdapter> adapter;
    std::optional<platform::DisplayOutput> output;  // the stereoscopic monitor, when on the chosen adapter
};

// The selection on a given adapter list. `gpuStatus`: 1 Intel, 2 NVIDIA, 3 other vendor,
// 4 AMD, anything else automatic. `monitorId`: extra text to find in a monitor's device id
// besides "NRV0000" and "NRV00001"; empty never matches.
AdapterChoice SelectAdapter(const std::vector<platform::GraphicsAdapter>& adapters, uint32_t gpuStatus,
                            const std::string& monitorId);

// The selection on this machine: the platform's adapters and "GPUStatus" / "Monitor_ID" under
// HKEY_LOCAL_MACHINE "SOFTWARE\Norvik\Norvik Stereoscopic Vision". Prints each adapter's
// description to standard output. `enumerated`, when given, receives the adapter list used.
AdapterChoice SelectMachineAdapter(std::vector<platform::GraphicsAdapter>* enumerated = nullptr);

// Makes the service's device for `api` on the chosen adapter and keeps it, with the
// adapter's LUID, in `devices`. With no adapter chosen the device goes on the
// default adapter (the first one, as device creation without an adapter does).
void CreateGraphicsDevice(GraphicsDevices& devices, gpu::Api api, const AdapterChoice& choice,
                          const std::vector<platform::GraphicsAdapter>& adapters);

// Runtime start: select for Direct3D 11 and make its device, then select again for
// Direct3D 12 and make that device.
void ChooseGraphicsAdapters(GraphicsDevices& devices);

}  // namespace qor
