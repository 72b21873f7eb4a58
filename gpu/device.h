// The graphics seam: the service's devices on its chosen adapter. Direct3D 11/12 on Windows;
// the portable CPU stand-in ("soft") elsewhere.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace qor::gpu {

enum class Api { D3D11, D3D12 };

class Device {
public:
    virtual ~Device() = default;
    virtual Api Kind() const = 0;
    // The LUID of the adapter the device was made on (LowPart in bits 0-31).
    virtual uint64_t AdapterLuid() const = 0;
    // The native objects: ID3D11Device / ID3D11DeviceContext or ID3D12Device on Windows.
    virtual void* NativeDevice() const = 0;
    virtual void* NativeContext() const = 0;
};

// Makes a device on the adapter with this LUID (the first adapter when none has it). Null
// with `error` set when the platform cannot make one. Direct3D 12 devices take feature
// level 11.0.
std::unique_ptr<Device> CreateDevice(Api api, uint64_t adapterLuid, std::string* error);

}  // namespace qor::gpu
