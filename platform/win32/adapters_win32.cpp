#include "platform/adapters.h"

#include "platform/system.h"

#include <windows.h>
#include <dxgi.h>

namespace qor::platform {

namespace {

std::string Narrow(const wchar_t* text, size_t capacity) {
    size_t length = 0;
    while (length < capacity && text[length] != L'\0') ++length;
    return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
}

template <typename T>
void Release(T*& object) {
    if (object != nullptr) object->Release();
    object = nullptr;
}

DisplayOutput DescribeOutput(const DXGI_OUTPUT_DESC& description) {
    DisplayOutput output;
    output.deviceName = Narrow(description.DeviceName, sizeof description.DeviceName / sizeof(wchar_t));
    output.desktop = {description.DesktopCoordinates.left, description.DesktopCoordinates.top,
                      description.DesktopCoordinates.right, description.DesktopCoordinates.bottom};
    MONITORINFOEXW monitor {};
    monitor.cbSize = sizeof monitor;
    if (::GetMonitorInfoW(description.Monitor, &monitor)) {
        // The first display device of the monitor's device name is the monitor itself.
        DISPLAY_DEVICEW device {};
        device.cb = sizeof device;
        if (::EnumDisplayDevicesW(monitor.szDevice, 0, &device, 0)) {
            output.monitorDeviceId = Narrow(device.DeviceID, sizeof device.DeviceID / sizeof(wchar_t));
        }
    }
    return output;
}

}  // namespace

std::vector<GraphicsAdapter> EnumerateGraphicsAdapters() {
    std::vector<GraphicsAdapter> adapters;
    IDXGIFactory1* factory = nullptr;
    if (FAILED(::CreateDXGIFactory1(__uuidof(IDXGIFactory1), reinterpret_cast<void**>(&factory)))) return adapters;
    IDXGIAdapter1* adapter = nullptr;
    for (UINT i = 0; SUCCEEDED(factory->EnumAdapters1(i, &adapter)); ++i) {
        DXGI_ADAPTER_DESC1 description {};
        if (FAILED(adapter->GetDesc1(&description))) {
            Release(adapter);
            continue;
        }
        GraphicsAdapter entry;
        entry.description = Narrow(description.Description, sizeof description.Description / sizeof(wchar_t));
        entry.vendorId = description.VendorId;
        entry.luid = {description.AdapterLuid.LowPart, description.AdapterLuid.HighPart};
        IDXGIOutput* output = nullptr;
        for (UINT j = 0; SUCCEEDED(adapter->EnumOutputs(j, &output)); ++j) {
            DXGI_OUTPUT_DESC outputDescription {};
            if (SUCCEEDED(output->GetDesc(&outputDescription))) entry.outputs.push_back(DescribeOutput(outputDescription));
            Release(output);
        }
        adapters.push_back(std::move(entry));
        Release(adapter);
    }
    Release(factory);
    return adapters;
}

}  // namespace qor::platform
