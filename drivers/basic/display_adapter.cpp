#include "drivers/basic/display_adapter.h"

#include "platform/registry.h"

namespace qor::basic {

uint32_t ReadGpuStatus() {
    return platform::RegistryReadDword(platform::RegistryRoot::LocalMachine,
                                       "SOFTWARE\\Norvik\\Norvik Stereoscopic Vision", "GPUStatus")
        .value_or(0);
}

std::optional<size_t> ChooseDisplayAdapter(const std::vector<uint32_t>& vendorIds, uint32_t gpuStatus) {
    std::optional<size_t> microsoft, amd, intel, nvidia, other;
    for (size_t i = 0; i < vendorIds.size(); ++i) {
        switch (vendorIds[i]) {
            case kVendorNvidia:
                nvidia = i;
                break;
            case kVendorMicrosoft:
                microsoft = i;
                break;
            case kVendorAmd:
                amd = i;
                break;
            case kVendorIntel:
                intel = i;
                break;
            default:
                other = i;
                break;
        }
        if (nvidia) break;
    }
    std::optional<size_t> wanted;
    switch (gpuStatus) {
        case 1:
            wanted = intel;
            break;
        case 2:
            wanted = nvidia;
            break;
        case 3:
            wanted = microsoft;
            break;
        case 4:
            wanted = amd;
            break;
        default:
            break;
    }
    if (wanted) return wanted;
    for (const auto& candidate : {nvidia, amd, intel, microsoft, other}) {
        if (candidate) return candidate;
    }
    return std::nullopt;
}

}  // namespace qor::basic
