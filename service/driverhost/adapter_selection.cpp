#include "service/driverhost/adapter_selection.h"

#include "platform/registry.h"
#include "platform/system.h"
#include "service/core/logger.h"
#include "service/driverhost/graphics_devices.h"

#include <cstdio>

namespace qor {

namespace {

constexpr const char* kVisionKey = "SOFTWARE\\Norvik\\Norvik Stereoscopic Vision";
// "Monitor_ID" is read into a buffer of this many bytes; a longer value is unreadable.
constexpr size_t kMonitorIdMaxBytes = 2048;

bool IsBuiltInMonitor(const std::string& deviceId) {
    return deviceId.find("NRV0000") != std::string::npos || deviceId.find("NRV00001") != std::string::npos;
}

}  // namespace

AdapterChoice SelectAdapter(const std::vector<platform::GraphicsAdapter>& adapters, uint32_t gpuStatus,
                            const std::string& monitorId) {
    uint32_t intel = kNoAdapterIndex, nvidia = kNoAdapterIndex, amd = kNoAdapterIndex, other = kNoAdapterIndex;
    uint32_t monitorAdapter = kNoAdapterIndex;
    std::optional<platform::DisplayOutput> monitorOutput;

    for (uint32_t i = 0; i < adapters.size(); ++i) {
        const platform::GraphicsAdapter& adapter = adapters[i];
        bool matchedHere = false;
        for (const platform::DisplayOutput& output : adapter.outputs) {
            bool match = IsBuiltInMonitor(output.monitorDeviceId);
            // Once an output of this adapter matched, the extra id is no longer consulted.
            if (!match && !matchedHere) {
                match = !monitorId.empty() && output.monitorDeviceId.find(monitorId) != std::string::npos;
            }
            if (match) {
                matchedHere = true;
                monitorAdapter = i;
                monitorOutput = output;  // a later match replaces an earlier one
            }
        }
        switch (adapter.vendorId) {
            case kVendorIntel: intel = i; break;
            case kVendorAmd: amd = i; break;
            case kVendorNvidia:
                if (nvidia == kNoAdapterIndex) nvidia = i;  // the first NVIDIA adapter wins
                break;
            default: other = i; break;
        }
    }

    const auto adapterAt = [&](uint32_t index) -> std::optional<platform::GraphicsAdapter> {
        if (index == kNoAdapterIndex) return std::nullopt;
        return adapters[index];
    };
    AdapterChoice choice;
    const auto chooseWithOutputIfThere = [&](uint32_t index) {
        choice.index = index;
        choice.adapter = adapterAt(index);
        if (monitorAdapter == index) choice.output = monitorOutput;
    };

    switch (gpuStatus) {
        case kGpuStatusIntel: chooseWithOutputIfThere(intel); return choice;
        case kGpuStatusNvidia: chooseWithOutputIfThere(nvidia); return choice;
        case kGpuStatusOtherVendor: chooseWithOutputIfThere(other); return choice;
        case kGpuStatusAmd: chooseWithOutputIfThere(amd); return choice;
        default: break;
    }
    if (nvidia == kNoAdapterIndex) {
        chooseWithOutputIfThere(amd != kNoAdapterIndex ? amd : intel);
    } else if (monitorAdapter == kNoAdapterIndex) {
        choice.index = nvidia;
        choice.adapter = adapterAt(nvidia);
    } else {
        // The monitor's adapter; when it is of an "other" vendor this falls back to the AMD
        // adapter (possibly none) while the index still names the monitor's adapter.
        choice.index = monitorAdapter;
        if (monitorAdapter == nvidia) {
            choice.adapter = adapterAt(nvidia);
        } else if (monitorAdapter == intel) {
            choice.adapter = adapterAt(intel);
        } else {
            choice.adapter = adapterAt(amd);
        }
        choice.output = monitorOutput;
    }
    return choice;
}

AdapterChoice SelectMachineAdapter(std::vector<platform::GraphicsAdapter>* enumerated) {
    std::vector<platform::GraphicsAdapter> adapters = platform::EnumerateGraphicsAdapters();
    for (const auto& adapter : adapters) std::printf("adapter description: %s\n", adapter.description.c_str());
    std::fflush(stdout);

    const uint32_t gpuStatus =
        platform::RegistryReadDword(platform::RegistryRoot::LocalMachine, kVisionKey, "GPUStatus")
            .value_or(kGpuStatusAutomatic);
    std::string monitorId = kMonitorIdDefault;
    if (auto value = platform::RegistryReadString(platform::RegistryRoot::LocalMachine, kVisionKey, "Monitor_ID")) {
        // The byte count of the wide text with its terminator must fit the buffer.
        if ((platform::Utf8ToUtf16(*value).size() + 1) * sizeof(char16_t) <= kMonitorIdMaxBytes) monitorId = *value;
    }
    AdapterChoice choice = SelectAdapter(adapters, gpuStatus, monitorId);
    if (enumerated != nullptr) *enumerated = std::move(adapters);
    return choice;
}

void CreateGraphicsDevice(GraphicsDevices& devices, gpu::Api api, const AdapterChoice& choice,
                          const std::vector<platform::GraphicsAdapter>& adapters) {
    uint64_t luid = 0;
    if (choice.adapter) {
        luid = choice.adapter->luid.Packed();
    } else if (!adapters.empty()) {
        luid = adapters.front().luid.Packed();
    }
    std::string error;
    std::unique_ptr<gpu::Device> device = gpu::CreateDevice(api, luid, &error);
    // Without a device the service still answers; the requirements report the chosen adapter.
    if (!device) LogError("Graphics device creation failed: " + error);
    if (device) luid = device->AdapterLuid();
    if (api == gpu::Api::D3D11) {
        devices.d3d11AdapterLuid = luid;
        devices.d3d11Device = std::move(device);
    } else {
        devices.d3d12AdapterLuid = luid;
        devices.d3d12Device = std::move(device);
    }
}

void ChooseGraphicsAdapters(GraphicsDevices& devices) {
    std::vector<platform::GraphicsAdapter> adapters;
    const AdapterChoice forD3D11 = SelectMachineAdapter(&adapters);
    CreateGraphicsDevice(devices, gpu::Api::D3D11, forD3D11, adapters);
    const AdapterChoice forD3D12 = SelectMachineAdapter(&adapters);
    CreateGraphicsDevice(devices, gpu::Api::D3D12, forD3D12, adapters);
}

}  // namespace qor
