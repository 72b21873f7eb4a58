#include "weaver/display_choice.h"

#include "platform/ini.h"
#include "platform/registry.h"
#include "platform/system.h"

#include <cstdio>

namespace qor::plexa {

namespace {

using winpipe::DisplayLogLevel;

constexpr const char* kNorvikVisionKey = "SOFTWARE\\Norvik\\Norvik Stereoscopic Vision";
constexpr const char* kIniSection = "MONITOR";
constexpr const char* kIniNone = "NULL";
constexpr const char* kDefaultMonitor = "\\\\.\\DISPLAY1";
// More than any machine has monitors: a larger "Count" is read no further.
constexpr int kMostIniFragments = 64;

enum class Vendor { Amd, Nvidia, Intel, Other };

Vendor VendorOf(uint32_t vendorId) {
    switch (vendorId) {
    case 0x1002: return Vendor::Amd;
    case 0x10DE: return Vendor::Nvidia;
    case 0x8086: return Vendor::Intel;
    default: return Vendor::Other;
    }
}

bool Contains(const std::string& text, const std::string& fragment) {
    return !fragment.empty() && text.find(fragment) != std::string::npos;
}

struct PanelMatch {
    int adapter = kNoAdapter;
    std::string deviceName;
};

PanelMatch FindPanel(const std::vector<platform::GraphicsAdapter>& adapters, const MonitorMatching& matching,
                     winpipe::DisplayLogWriter* log) {
    PanelMatch match;
    for (size_t a = 0; a < adapters.size(); ++a) {
        for (const platform::DisplayOutput& output : adapters[a].outputs) {
            if (log) {
                log->Writef(DisplayLogLevel::Info, "GetAdapterOutput():", "Output Device Name: %s  ID: %s",
                            output.deviceName.c_str(), output.monitorDeviceId.c_str());
            }
            bool matched = Contains(output.monitorDeviceId, kPanelMonitorFragment);
            for (const std::string& fragment : matching.iniFragments) {
                matched = matched || Contains(output.monitorDeviceId, fragment);
            }
            if (!matched && match.adapter == kNoAdapter) {
                matched = Contains(output.monitorDeviceId, matching.registryFragment);
            }
            // A later match replaces an earlier one.
            if (matched) match = {int(a), output.deviceName};
        }
    }
    return match;
}

int FirstOf(const std::vector<platform::GraphicsAdapter>& adapters, Vendor vendor) {
    for (size_t a = 0; a < adapters.size(); ++a) {
        if (VendorOf(adapters[a].vendorId) == vendor) return int(a);
    }
    return kNoAdapter;
}

int ChooseAdapter(const std::vector<platform::GraphicsAdapter>& adapters, const std::optional<uint32_t>& gpuStatus,
                  int displayAdapter) {
    const int amd = FirstOf(adapters, Vendor::Amd), nvidia = FirstOf(adapters, Vendor::Nvidia);
    const int intel = FirstOf(adapters, Vendor::Intel), other = FirstOf(adapters, Vendor::Other);
    int chosen = kNoAdapter;
    switch (gpuStatus.value_or(0)) {
    case 1: chosen = intel; break;
    case 2: chosen = nvidia; break;
    case 3: chosen = other; break;
    case 4: chosen = amd; break;
    default:
        if (nvidia != kNoAdapter) chosen = displayAdapter == kNoAdapter ? nvidia : displayAdapter;
        else chosen = amd != kNoAdapter ? amd : intel;
    }
    // A vendor the machine does not have would leave the window without a device and black:
    // the panel's adapter, or the first one, is taken instead.
    if (chosen == kNoAdapter && !adapters.empty()) chosen = displayAdapter != kNoAdapter ? displayAdapter : 0;
    return chosen;
}

platform::DesktopRect MonitorRect(const std::vector<platform::GraphicsAdapter>& adapters, const std::string& wanted,
                                  winpipe::DisplayLogWriter* log) {
    platform::DesktopRect rect;
    bool found = false;
    for (const platform::GraphicsAdapter& adapter : adapters) {
        for (const platform::DisplayOutput& output : adapter.outputs) {
            if (log) {
                log->Writef(DisplayLogLevel::Info, "GetMonitorResolution():", "Output Device Name: %s",
                            output.deviceName.c_str());
            }
            // Until the wanted one is met, the last output's rectangle stands.
            if (!found) rect = output.desktop;
            if (!found && output.deviceName == wanted) found = true;
        }
    }
    return rect;
}

}  // namespace

std::string MonitorIniPath() {
    return platform::JoinPath(platform::ProgramDataFolder(), "\\oem\\Plexaview\\Monitor.ini");
}

std::vector<std::string> MonitorIniFragments(const std::string& path) {
    std::vector<std::string> fragments;
    const std::string count = platform::ReadIniString(path, kIniSection, "Count", kIniNone);
    if (count == kIniNone) return fragments;
    const int total = std::atoi(count.c_str());
    for (int i = 1; i <= total && i <= kMostIniFragments; ++i) {
        char key[32];
        std::snprintf(key, sizeof key, "MonitorID%d", i);
        const std::string fragment = platform::ReadIniString(path, kIniSection, key, kIniNone);
        if (fragment != kIniNone) fragments.push_back(fragment);
    }
    return fragments;
}

MonitorMatching ReadMonitorMatching() {
    MonitorMatching matching;
    matching.iniFragments = MonitorIniFragments(MonitorIniPath());
    matching.registryFragment =
        platform::RegistryReadString(platform::RegistryRoot::LocalMachine, kNorvikVisionKey, "Monitor_ID")
            .value_or(kNoMonitorFragment);
    matching.gpuStatus = platform::RegistryReadDword(platform::RegistryRoot::LocalMachine, kNorvikVisionKey, "GPUStatus");
    return matching;
}

DisplayChoice ChooseDisplay(const std::vector<platform::GraphicsAdapter>& adapters, const MonitorMatching& matching,
                            winpipe::DisplayLogWriter* log) {
    for (const platform::GraphicsAdapter& adapter : adapters) std::printf("adapter description: %s\n", adapter.description.c_str());
    const PanelMatch panel = FindPanel(adapters, matching, log);
    DisplayChoice choice;
    choice.adapterIndex = ChooseAdapter(adapters, matching.gpuStatus, panel.adapter);
    if (choice.adapterIndex != kNoAdapter && size_t(choice.adapterIndex) < adapters.size()) {
        choice.adapterLuid = adapters[size_t(choice.adapterIndex)].luid.Packed();
    }
    choice.monitorFound = panel.adapter != kNoAdapter && panel.adapter == choice.adapterIndex;
    choice.panelDeviceName = panel.deviceName;
    if (log) {
        log->Writef(DisplayLogLevel::Info, "WinMain(): ", "Adapter ID=%d , AdapterHandler=%0x, OutputHandler=%0x.",
                    choice.adapterIndex, unsigned(choice.adapterIndex != kNoAdapter),
                    unsigned(choice.monitorFound));
    }
    // The window covers the panel wherever it was found, even when another adapter draws.
    const bool panelKnown = !panel.deviceName.empty();
    choice.monitorRect = MonitorRect(adapters, panelKnown ? panel.deviceName : kDefaultMonitor, log);
    if (log) {
        log->Write(DisplayLogLevel::Info, "GetMonitorResolution():",
                   panelKnown ? "Found ZR1 Monitor" : "Found Default Monitor");
    }
    return choice;
}

}  // namespace qor::plexa
