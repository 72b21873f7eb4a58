// Direct3D devices on the adapter the service chose.
#include "gpu/device.h"

#include <d3d11.h>
#include <d3d12.h>
#include <dxgi1_4.h>

#include <cstdio>

namespace qor::gpu {

namespace {
template <typename T>
void Release(T*& object) {
    if (object != nullptr) object->Release();
    object = nullptr;
}

uint64_t Packed(const LUID& luid) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(luid.HighPart)) << 32) | luid.LowPart;
}

std::string HexResult(HRESULT result) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(result));
    return text;
}

// The adapter with this LUID, else the first one; null when there is none at all.
IDXGIAdapter1* FindAdapter(uint64_t luid, std::string* error) {
    IDXGIFactory1* factory = nullptr;
    HRESULT result = CreateDXGIFactory1(__uuidof(IDXGIFactory1), reinterpret_cast<void**>(&factory));
    if (FAILED(result)) {
        if (error) *error = "CreateDXGIFactory1 failed with " + HexResult(result);
        return nullptr;
    }
    IDXGIAdapter1* found = nullptr;
    IDXGIAdapter1* first = nullptr;
    IDXGIAdapter1* adapter = nullptr;
    for (UINT i = 0; factory->EnumAdapters1(i, &adapter) != DXGI_ERROR_NOT_FOUND; ++i) {
        DXGI_ADAPTER_DESC1 description {};
        adapter->GetDesc1(&description);
        if (found == nullptr && Packed(description.AdapterLuid) == luid) {
            found = adapter;
            found->AddRef();
        }
        if (first == nullptr) {
            first = adapter;
        } else {
            adapter->Release();
        }
    }
    Release(factory);
    if (found != nullptr) {
        Release(first);
        return found;
    }
    if (first == nullptr && error) *error = "no graphics adapter";
    return first;
}

class D3DDevice final : public Device {
public:
    D3DDevice(Api api, uint64_t luid, IUnknown* device, ID3D11DeviceContext* context)
        : api_(api), luid_(luid), device_(device), context_(context) {}
    ~D3DDevice() override {
        Release(context_);
        Release(device_);
    }
    D3DDevice(const D3DDevice&) = delete;
    D3DDevice& operator=(const D3DDevice&) = delete;

    Api Kind() const override { return api_; }
    uint64_t AdapterLuid() const override { return luid_; }
    void* NativeDevice() const override { return device_; }
    void* NativeContext() const override { return context_; }
    // Textures come with the Direct3D texture work; until then the device makes none.
    std::unique_ptr<Texture> CreateTexture(const TextureDesc&) override { return nullptr; }
    std::unique_ptr<Texture> OpenSharedTexture(uint64_t) override { return nullptr; }
    std::unique_ptr<Texture> OpenSharedTextureByName(std::u16string_view) override { return nullptr; }
    void Flush() override {}
    void WaitIdle() override {}

private:
    Api api_;
    uint64_t luid_;
    IUnknown* device_;
    ID3D11DeviceContext* context_;
};
}  // namespace

std::unique_ptr<Device> CreateDevice(Api api, uint64_t adapterLuid, std::string* error) {
    IDXGIAdapter1* adapter = FindAdapter(adapterLuid, error);
    if (adapter == nullptr) return nullptr;
    DXGI_ADAPTER_DESC1 description {};
    adapter->GetDesc1(&description);
    const uint64_t luid = Packed(description.AdapterLuid);
    std::unique_ptr<Device> device;
    if (api == Api::D3D11) {
        ID3D11Device* d3d11 = nullptr;
        ID3D11DeviceContext* context = nullptr;
        // Unknown driver type: the device goes on the given adapter. BGRA support for the
        // swap chains of the display side.
        const HRESULT result = D3D11CreateDevice(adapter, D3D_DRIVER_TYPE_UNKNOWN, nullptr,
                                                 D3D11_CREATE_DEVICE_BGRA_SUPPORT, nullptr, 0, D3D11_SDK_VERSION,
                                                 &d3d11, nullptr, &context);
        if (SUCCEEDED(result)) {
            device = std::make_unique<D3DDevice>(api, luid, d3d11, context);
        } else if (error) {
            *error = "D3D11CreateDevice failed with " + HexResult(result);
        }
    } else {
        ID3D12Device* d3d12 = nullptr;
        const HRESULT result =
            D3D12CreateDevice(adapter, D3D_FEATURE_LEVEL_11_0, __uuidof(ID3D12Device), reinterpret_cast<void**>(&d3d12));
        if (SUCCEEDED(result)) {
            device = std::make_unique<D3DDevice>(api, luid, d3d12, nullptr);
        } else if (error) {
            *error = "D3D12CreateDevice failed with " + HexResult(result);
        }
    }
    adapter->Release();
    return device;
}

std::unique_ptr<Device> WrapApplicationDevice(Api, void*) { return nullptr; }

}  // namespace qor::gpu
