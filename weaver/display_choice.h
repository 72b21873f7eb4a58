// Which adapter the weaving window draws on and which monitor it covers: the panel's monitor
// is recognised by fragments of its monitor device id, and "GPUStatus" may force a vendor.
#pragma once

#include "display/winpipe/display_log_writer.h"
#include "platform/adapters.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qor::plexa {

// The fragment every panel's monitor device id carries.
inline constexpr const char* kPanelMonitorFragment = "NRV0000";
// The registry's fragment when it has none.
inline constexpr const char* kNoMonitorFragment = "NOTFOUND";
// The adapter index that names no adapter.
inline constexpr int kNoAdapter = 999;

struct MonitorMatching {
    std::vector<std::string> iniFragments;  // from "Monitor.ini"
    std::string registryFragment;           // "Monitor_ID"; used only while nothing else matched
    std::optional<uint32_t> gpuStatus;      // "GPUStatus"
};

struct DisplayChoice {
    int adapterIndex = kNoAdapter;
    uint64_t adapterLuid = 0;
    bool monitorFound = false;        // the panel's output is on the chosen adapter
    std::string panelDeviceName;      // the panel's output, wherever it was found; empty when none
    platform::DesktopRect monitorRect;
};

// "<program data>\oem\Plexaview\Monitor.ini", section "MONITOR": "Count", then "MonitorID1"
// to "MonitorID<Count>"; "NULL" (the default of each) means none.
std::vector<std::string> MonitorIniFragments(const std::string& path);
// "C:\ProgramData\oem\Plexaview\Monitor.ini" under this machine's program-data folder.
std::string MonitorIniPath();
// "Monitor_ID" and "GPUStatus" from the registry, with the fragments of "Monitor.ini".
MonitorMatching ReadMonitorMatching();

// The choice, logged to `log` (which may be null) as the weaving window logs it.
DisplayChoice ChooseDisplay(const std::vector<platform::GraphicsAdapter>& adapters, const MonitorMatching& matching,
                            winpipe::DisplayLogWriter* log);

}  // namespace qor::plexa
