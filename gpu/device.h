// The graphics seam: devices, 2-D textures and their sharing between processes. Direct3D
// 11/12 and DXGI on Windows; the portable CPU stand-in ("soft") elsewhere, where shared
// textures live in anonymous sealed memory objects that travel between processes as
// descriptors, and keyed mutexes are process-shared.
#pragma once

#include "platform/descriptor.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qor::gpu {

enum class Api { D3D11, D3D12 };

// DXGI_FORMAT values the system uses.
namespace format {
constexpr uint32_t kUnknown = 0;
constexpr uint32_t kR32G32B32A32Typeless = 1;
constexpr uint32_t kR32G32B32A32Float = 2;
constexpr uint32_t kR32G32B32A32Uint = 3;
constexpr uint32_t kR32G32B32A32Sint = 4;
constexpr uint32_t kR32G32B32Typeless = 5;
constexpr uint32_t kR32G32B32Float = 6;
constexpr uint32_t kR32G32B32Uint = 7;
constexpr uint32_t kR32G32B32Sint = 8;
constexpr uint32_t kR16G16B16A16Typeless = 9;
constexpr uint32_t kR16G16B16A16Float = 10;
constexpr uint32_t kR16G16B16A16Unorm = 11;
constexpr uint32_t kR16G16B16A16Uint = 12;
constexpr uint32_t kR16G16B16A16Snorm = 13;
constexpr uint32_t kR16G16B16A16Sint = 14;
constexpr uint32_t kD32FloatS8X24Uint = 20;
constexpr uint32_t kR10G10B10A2Typeless = 23;
constexpr uint32_t kR10G10B10A2Unorm = 24;
constexpr uint32_t kR10G10B10A2Uint = 25;
constexpr uint32_t kR8G8B8A8Typeless = 27;
constexpr uint32_t kR8G8B8A8Unorm = 28;
constexpr uint32_t kR8G8B8A8UnormSrgb = 29;
constexpr uint32_t kR8G8B8A8Uint = 30;
constexpr uint32_t kR8G8B8A8Snorm = 31;
constexpr uint32_t kR8G8B8A8Sint = 32;
constexpr uint32_t kB8G8R8A8Unorm = 87;
constexpr uint32_t kB8G8R8X8Unorm = 88;
constexpr uint32_t kB8G8R8A8Typeless = 90;
constexpr uint32_t kB8G8R8A8UnormSrgb = 91;
constexpr uint32_t kB8G8R8X8Typeless = 92;
constexpr uint32_t kB8G8R8X8UnormSrgb = 93;
}  // namespace format

// Bytes per pixel of a format (0 when the system does not know it).
uint32_t BytesPerPixel(uint32_t dxgiFormat);

// D3D11_BIND_* and D3D11_RESOURCE_MISC_* values.
constexpr uint32_t kBindShaderResource = 0x8;
constexpr uint32_t kBindRenderTarget = 0x20;
constexpr uint32_t kBindDepthStencil = 0x40;
constexpr uint32_t kBindUnorderedAccess = 0x80;
constexpr uint32_t kMiscShared = 0x2;
constexpr uint32_t kMiscSharedKeyedMutex = 0x100;
constexpr uint32_t kMiscSharedNtHandle = 0x800;

// Results of AcquireSync, as IDXGIKeyedMutex reports them.
constexpr uint32_t kSyncOk = 0;
constexpr uint32_t kSyncAbandoned = 0x80;    // the holder died without releasing
constexpr uint32_t kSyncTimeout = 0x102;
constexpr uint32_t kSyncFailed = 0x80004005;  // E_FAIL

struct TextureDesc {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t mipLevels = 1;
    uint32_t arraySize = 1;
    uint32_t format = format::kUnknown;
    uint32_t sampleCount = 1;
    uint32_t bindFlags = 0;
    uint32_t miscFlags = 0;
};

class Texture {
public:
    virtual ~Texture() = default;
    virtual const TextureDesc& Desc() const = 0;

    // Views in the given format; false when the device refuses.
    virtual bool CreateShaderResourceView(uint32_t viewFormat) = 0;
    virtual bool CreateRenderTargetView(uint32_t viewFormat) = 0;
    virtual bool CreateDepthStencilView(uint32_t viewFormat) = 0;
    virtual bool HasShaderResourceView() const = 0;

    // The legacy shared handle of a texture made with kMiscShared (a 32-bit value); 0 when
    // it has none.
    virtual uint64_t SharedHandle() = 0;
    // Shares a texture made with kMiscSharedNtHandle under a name; false on failure.
    virtual bool ShareByName(std::u16string_view name) = 0;

    // The keyed mutex of a texture made with kMiscSharedKeyedMutex: kSyncOk, kSyncTimeout,
    // kSyncAbandoned or kSyncFailed.
    virtual uint32_t AcquireSync(uint64_t key, uint32_t milliseconds) = 0;
    virtual bool ReleaseSync(uint64_t key) = 0;

    // CPU access to array slice `slice`, mip 0: rows of width × BytesPerPixel bytes.
    virtual bool ReadPixels(uint32_t slice, std::vector<uint8_t>* pixels) = 0;
    virtual bool WritePixels(uint32_t slice, const uint8_t* pixels, size_t size) = 0;

    // ID3D11Texture2D* / ID3D12Resource* on Windows; the Texture itself elsewhere.
    virtual void* Native() = 0;

    // The memory of array slice `slice`, mip 0, where the texture lives in CPU memory (the soft
    // device): rows of width × BytesPerPixel bytes, valid while the texture lives. Null for
    // textures on a GPU. A virtual call, so code linked into another module reaches it too.
    virtual uint8_t* CpuPixels(uint32_t /*slice*/) { return nullptr; }
};

class Device {
public:
    virtual ~Device() = default;
    virtual Api Kind() const = 0;
    // The LUID of the adapter the device was made on (LowPart in bits 0-31).
    virtual uint64_t AdapterLuid() const = 0;
    // ID3D11Device* (or ID3D12Device*) and the immediate context on Windows; on other
    // platforms the Device itself, so an application can hand it over in its binding.
    virtual void* NativeDevice() const = 0;
    virtual void* NativeContext() const = 0;

    // Null when the description is refused.
    virtual std::unique_ptr<Texture> CreateTexture(const TextureDesc& desc) = 0;
    // Opens a texture another process shares, by legacy handle or by name; null on failure.
    virtual std::unique_ptr<Texture> OpenSharedTexture(uint64_t sharedHandle) = 0;
    virtual std::unique_ptr<Texture> OpenSharedTextureByName(std::u16string_view name) = 0;
    // A further reference to a native texture of this device made outside the seam (a swap
    // chain's buffer, a library's render target): ID3D11Texture2D* on Direct3D 11. Null where
    // the device has no such textures (the soft device, Direct3D 12) or the texture is not one.
    virtual std::unique_ptr<Texture> WrapNativeTexture(void* /*nativeTexture*/) { return nullptr; }
    // Submits queued work; WaitIdle returns once the device's work so far has finished.
    virtual void Flush() = 0;
    virtual void WaitIdle() = 0;
};

// The descriptors another process needs to open the shared texture with this legacy handle
// (or share name) that exists in this process: on POSIX new descriptors of the texture object
// (and, by name, the name record first); on Windows, where handles and names are global, none.
// Empty when this process has no such texture.
//
// The receiving process keeps the received descriptors open while it calls
// OpenSharedTexture(handle) / OpenSharedTextureByName(name), which find them among its open
// descriptors; afterwards it may close them, as the opened texture holds its own.
platform::Descriptors SharingDescriptors(uint64_t sharedHandle);
platform::Descriptors SharingDescriptorsByName(std::u16string_view name);

// Makes a device on the adapter with this LUID (the first adapter when none has it). Null
// with `error` set when the platform cannot make one. Direct3D 12 devices take feature
// level 11.0.
std::unique_ptr<Device> CreateDevice(Api api, uint64_t adapterLuid, std::string* error);

// A non-owning view of the device an application put in its graphics binding (the native
// pointer as NativeDevice() gives it). Null when it cannot be used.
std::unique_ptr<Device> WrapApplicationDevice(Api api, void* nativeDevice);
// The same with the ID3D12CommandQueue the application submits on: WaitIdle then signals a
// fence of the wrapper's on that queue and waits for it. Null when the queue cannot be used;
// ignored for Direct3D 11 and by the soft device.
std::unique_ptr<Device> WrapApplicationDevice(Api api, void* nativeDevice, void* nativeQueue);

}  // namespace qor::gpu
