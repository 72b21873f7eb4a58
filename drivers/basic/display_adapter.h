// The adapter the basic driver's window device goes on, chosen by the machine's "GPUStatus".
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace qor::basic {

constexpr uint32_t kVendorMicrosoft = 0x045E;
constexpr uint32_t kVendorAmd = 0x1002;
constexpr uint32_t kVendorIntel = 0x8086;
constexpr uint32_t kVendorNvidia = 0x10DE;

// The DWORD "GPUStatus" of HKEY_LOCAL_MACHINE "SOFTWARE\Norvik\Norvik Stereoscopic Vision",
// 0 when missing.
uint32_t ReadGpuStatus();

// `vendorIds` are the PCI vendor ids of the adapters in enumeration order. The last
// Microsoft, AMD, Intel and other adapter before the first NVIDIA one are candidates, and that
// NVIDIA one (adapters after it are not looked at). GPUStatus 1 takes Intel, 2 NVIDIA,
// 3 Microsoft, 4 AMD; when that one is absent, or for any other value, the first present of
// NVIDIA, AMD, Intel, Microsoft, other. Nothing when there is no adapter.
std::optional<size_t> ChooseDisplayAdapter(const std::vector<uint32_t>& vendorIds, uint32_t gpuStatus);

}  // namespace qor::basic
