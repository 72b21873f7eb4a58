// The graphics adapters of the machine with their outputs and the monitors on them.
//
// Windows: DXGI (factory 1) adapters in enumeration order; for each output the monitor's
// display device (GetMonitorInfoW, then the first EnumDisplayDevicesW entry of its device
// name) gives the monitor device id.
//
// POSIX: when NORVIK_DISPLAY_CONFIG names a file, that file lists the adapters (see
// ParseDisplayConfig for its format); a file that cannot be read or parsed gives no adapters
// at all, so a broken test set-up shows instead of falling back silently. Without the
// variable there is one soft adapter, "Norvik Soft Adapter", vendor 0x1414 (the id Windows
// gives its software renderer), LUID {1, 0}, with one output "\\.\DISPLAY1" that shows the
// stereoscopic panel ("MONITOR\NRV0000\{soft}") at 0,0 - 3840x2160, the panel's native size.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qor::platform {

struct AdapterLuid {
    uint32_t lowPart = 0;
    int32_t highPart = 0;

    // LowPart in bits 0-31, HighPart in bits 32-63.
    uint64_t Packed() const {
        return static_cast<uint64_t>(lowPart) | (static_cast<uint64_t>(static_cast<uint32_t>(highPart)) << 32);
    }
};

struct DesktopRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

struct DisplayOutput {
    std::string deviceName;       // e.g. "\\.\DISPLAY1"
    std::string monitorDeviceId;  // e.g. "MONITOR\NRV0000\{...}\0001"
    DesktopRect desktop;
};

struct GraphicsAdapter {
    std::string description;
    uint32_t vendorId = 0;
    AdapterLuid luid;
    std::vector<DisplayOutput> outputs;
};

// The adapters in enumeration order; empty when none can be enumerated.
std::vector<GraphicsAdapter> EnumerateGraphicsAdapters();

// The display configuration format (UTF-8 JSON):
//
//   { "adapters": [
//       { "description": "Intel(R) UHD Graphics",
//         "vendorId": "0x8086",                      (number, or text in decimal or 0x hex)
//         "luid": { "low": 1, "high": 0 },
//         "outputs": [
//           { "deviceName": "\\\\.\\DISPLAY1",
//             "monitorId": "MONITOR\\NRV0000\\{soft}",
//             "desktop": { "left": 0, "top": 0, "right": 3840, "bottom": 2160 } } ] } ] }
//
// "vendorId" is required: an adapter without a valid one, and any array element that is not
// an object, is skipped. Every other member is optional and takes its zero value (empty text,
// LUID {0, 0}, no outputs, an empty rectangle) when missing or of the wrong type.
// Returns false, with `adapters` emptied, when the text is not JSON or not an object with an
// "adapters" array.
bool ParseDisplayConfig(std::string_view text, std::vector<GraphicsAdapter>* adapters);

}  // namespace qor::platform
