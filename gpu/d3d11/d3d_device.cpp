// Direct3D devices on the adapter the service chose, their 2-D textures with views, CPU
// access and keyed mutexes, and the sharing of textures between processes through DXGI
// (legacy handles and named NT handles).
#include "gpu/d3d11/d3d_core.h"
#include "gpu/device.h"
#include "gpu/draw.h"
#include "gpu/texture_rules.h"

#include <d3d11_1.h>
#include <d3d12.h>
#include <dxgi1_4.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace qor::gpu {

namespace {
using d3d11::D3D11Core;
using d3d11::Ref;

template <typename T>
Ref<T> Query(IUnknown* object) {
    Ref<T> result;
    if (object != nullptr) object->QueryInterface(__uuidof(T), result.PutVoid());
    return result;
}

uint64_t Packed(const LUID& luid) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(luid.HighPart)) << 32) | luid.LowPart;
}

std::string HexResult(HRESULT result) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(result));
    return text;
}

// Kernel-object names want a terminated wide string; wchar_t is UTF-16 on Windows.
std::wstring WideName(std::u16string_view name) { return std::wstring(name.begin(), name.end()); }

uint32_t SyncResult(HRESULT result) {
    switch (static_cast<uint32_t>(result)) {
        case kSyncOk:
        case kSyncAbandoned:
        case kSyncTimeout:
            return static_cast<uint32_t>(result);
        default:
            return kSyncFailed;
    }
}

// The adapter with this LUID, else the first one; null when there is none at all.
Ref<IDXGIAdapter1> FindAdapter(uint64_t luid, std::string* error) {
    Ref<IDXGIFactory1> factory;
    const HRESULT result = CreateDXGIFactory1(__uuidof(IDXGIFactory1), factory.PutVoid());
    if (FAILED(result)) {
        if (error) *error = "CreateDXGIFactory1 failed with " + HexResult(result);
        return {};
    }
    Ref<IDXGIAdapter1> first;
    for (UINT i = 0;; ++i) {
        Ref<IDXGIAdapter1> adapter;
        if (factory->EnumAdapters1(i, adapter.Put()) == DXGI_ERROR_NOT_FOUND) break;
        DXGI_ADAPTER_DESC1 description {};
        adapter->GetDesc1(&description);
        if (Packed(description.AdapterLuid) == luid) return adapter;
        if (!first) first = std::move(adapter);
    }
    if (!first && error) *error = "no graphics adapter";
    return first;
}

uint64_t AdapterLuidOf(ID3D11Device* device) {
    Ref<IDXGIDevice> dxgiDevice = Query<IDXGIDevice>(device);
    Ref<IDXGIAdapter> adapter;
    if (!dxgiDevice || FAILED(dxgiDevice->GetAdapter(adapter.Put()))) return 0;
    DXGI_ADAPTER_DESC description {};
    adapter->GetDesc(&description);
    return Packed(description.AdapterLuid);
}

TextureDesc DescOf(ID3D11Texture2D* texture) {
    D3D11_TEXTURE2D_DESC native {};
    texture->GetDesc(&native);
    TextureDesc desc;
    desc.width = native.Width;
    desc.height = native.Height;
    desc.mipLevels = native.MipLevels;
    desc.arraySize = native.ArraySize;
    desc.format = static_cast<uint32_t>(native.Format);
    desc.sampleCount = native.SampleDesc.Count;
    desc.bindFlags = native.BindFlags;
    desc.miscFlags = native.MiscFlags;
    return desc;
}

class D3D11Texture final : public Texture {
public:
    D3D11Texture(std::shared_ptr<D3D11Core> core, Ref<ID3D11Texture2D> texture, uint64_t openedHandle)
        : core_(std::move(core)), texture_(std::move(texture)), desc_(DescOf(texture_.Get())), sharedHandle_(openedHandle) {
        if ((desc_.miscFlags & kMiscSharedKeyedMutex) != 0) keyedMutex_ = texture_.As<IDXGIKeyedMutex>();
    }
    ~D3D11Texture() override {
        for (HANDLE handle : ntHandles_) CloseHandle(handle);
    }
    D3D11Texture(const D3D11Texture&) = delete;
    D3D11Texture& operator=(const D3D11Texture&) = delete;

    const TextureDesc& Desc() const override { return desc_; }

    bool CreateShaderResourceView(uint32_t viewFormat) override {
        if (!ShaderResourceViewFits(desc_, viewFormat)) return false;
        D3D11_SHADER_RESOURCE_VIEW_DESC view {};
        view.Format = static_cast<DXGI_FORMAT>(viewFormat);
        if (desc_.arraySize < 2) {
            view.ViewDimension = D3D11_SRV_DIMENSION_TEXTURE2D;
            view.Texture2D.MostDetailedMip = 0;
            view.Texture2D.MipLevels = desc_.mipLevels;
        } else {
            view.ViewDimension = D3D11_SRV_DIMENSION_TEXTURE2DARRAY;
            view.Texture2DArray.MostDetailedMip = 0;
            view.Texture2DArray.MipLevels = desc_.mipLevels;
            view.Texture2DArray.FirstArraySlice = 0;
            view.Texture2DArray.ArraySize = desc_.arraySize;
        }
        Ref<ID3D11ShaderResourceView> created;
        if (FAILED(core_->device->CreateShaderResourceView(texture_.Get(), &view, created.Put()))) return false;
        shaderResourceView_ = std::move(created);
        return true;
    }

    bool CreateRenderTargetView(uint32_t viewFormat) override {
        if (!RenderTargetViewFits(desc_, viewFormat)) return false;
        D3D11_RENDER_TARGET_VIEW_DESC view {};
        view.Format = static_cast<DXGI_FORMAT>(viewFormat);
        const bool multisampled = desc_.sampleCount > 1;
        if (desc_.arraySize < 2) {
            view.ViewDimension = multisampled ? D3D11_RTV_DIMENSION_TEXTURE2DMS : D3D11_RTV_DIMENSION_TEXTURE2D;
        } else if (multisampled) {
            view.ViewDimension = D3D11_RTV_DIMENSION_TEXTURE2DMSARRAY;
            view.Texture2DMSArray.ArraySize = desc_.arraySize;
        } else {
            view.ViewDimension = D3D11_RTV_DIMENSION_TEXTURE2DARRAY;
            view.Texture2DArray.ArraySize = desc_.arraySize;
        }
        Ref<ID3D11RenderTargetView> created;
        if (FAILED(core_->device->CreateRenderTargetView(texture_.Get(), &view, created.Put()))) return false;
        renderTargetView_ = std::move(created);
        return true;
    }

    bool CreateDepthStencilView(uint32_t viewFormat) override {
        if (!DepthStencilViewFits(desc_, viewFormat)) return false;
        D3D11_DEPTH_STENCIL_VIEW_DESC view {};
        view.Format = static_cast<DXGI_FORMAT>(viewFormat);
        view.ViewDimension = D3D11_DSV_DIMENSION_TEXTURE2D;
        view.Flags = 0;
        view.Texture2D.MipSlice = 0;
        Ref<ID3D11DepthStencilView> created;
        if (FAILED(core_->device->CreateDepthStencilView(texture_.Get(), &view, created.Put()))) return false;
        depthStencilView_ = std::move(created);
        return true;
    }

    bool HasShaderResourceView() const override { return static_cast<bool>(shaderResourceView_); }

    uint64_t SharedHandle() override {
        if ((desc_.miscFlags & kMiscSharedNtHandle) != 0 ||
            (desc_.miscFlags & (kMiscShared | kMiscSharedKeyedMutex)) == 0) {
            return 0;
        }
        if (sharedHandle_ == 0) {
            Ref<IDXGIResource> resource = texture_.As<IDXGIResource>();
            HANDLE handle = nullptr;
            if (resource && SUCCEEDED(resource->GetSharedHandle(&handle))) {
                sharedHandle_ = reinterpret_cast<uintptr_t>(handle);
            }
        }
        return sharedHandle_;
    }

    // The NT handle stays open while the texture lives: the name exists only as long as it.
    bool ShareByName(std::u16string_view name) override {
        if ((desc_.miscFlags & kMiscSharedNtHandle) == 0 || name.empty()) return false;
        Ref<IDXGIResource1> resource = texture_.As<IDXGIResource1>();
        if (!resource) return false;
        const std::wstring wide = WideName(name);
        HANDLE handle = nullptr;
        if (FAILED(resource->CreateSharedHandle(nullptr, GENERIC_ALL, wide.c_str(), &handle))) return false;
        ntHandles_.push_back(handle);
        return true;
    }

    uint32_t AcquireSync(uint64_t key, uint32_t milliseconds) override {
        if (!keyedMutex_) return kSyncFailed;
        return SyncResult(keyedMutex_->AcquireSync(key, milliseconds));
    }
    bool ReleaseSync(uint64_t key) override { return keyedMutex_ && SUCCEEDED(keyedMutex_->ReleaseSync(key)); }

    bool ReadPixels(uint32_t slice, std::vector<uint8_t>* pixels) override {
        if (slice >= desc_.arraySize || pixels == nullptr || desc_.sampleCount != 1) return false;
        const size_t rowBytes = static_cast<size_t>(desc_.width) * BytesPerPixel(desc_.format);
        if (rowBytes == 0) return false;
        std::lock_guard<std::mutex> guard(core_->contextLock);
        Ref<ID3D11Texture2D> staging = Staging(D3D11_CPU_ACCESS_READ, nullptr);
        if (!staging) return false;
        ID3D11DeviceContext* context = core_->context.Get();
        context->CopySubresourceRegion(staging.Get(), 0, 0, 0, 0, texture_.Get(), Subresource(slice), nullptr);
        D3D11_MAPPED_SUBRESOURCE mapped {};
        if (FAILED(context->Map(staging.Get(), 0, D3D11_MAP_READ, 0, &mapped))) return false;
        pixels->resize(rowBytes * desc_.height);
        for (uint32_t row = 0; row < desc_.height; ++row) {
            std::memcpy(pixels->data() + row * rowBytes, static_cast<const uint8_t*>(mapped.pData) + row * mapped.RowPitch,
                        rowBytes);
        }
        context->Unmap(staging.Get(), 0);
        return true;
    }

    bool WritePixels(uint32_t slice, const uint8_t* pixels, size_t size) override {
        const size_t rowBytes = static_cast<size_t>(desc_.width) * BytesPerPixel(desc_.format);
        if (slice >= desc_.arraySize || pixels == nullptr || desc_.sampleCount != 1 || rowBytes == 0 ||
            size != rowBytes * desc_.height) {
            return false;
        }
        std::lock_guard<std::mutex> guard(core_->contextLock);
        ID3D11DeviceContext* context = core_->context.Get();
        if ((desc_.bindFlags & kBindDepthStencil) != 0) {
            // UpdateSubresource cannot write depth-stencil resources; a whole-subresource copy can.
            const D3D11_SUBRESOURCE_DATA data {pixels, static_cast<UINT>(rowBytes), 0};
            Ref<ID3D11Texture2D> staging = Staging(D3D11_CPU_ACCESS_WRITE, &data);
            if (!staging) return false;
            context->CopySubresourceRegion(texture_.Get(), Subresource(slice), 0, 0, 0, staging.Get(), 0, nullptr);
        } else {
            context->UpdateSubresource(texture_.Get(), Subresource(slice), nullptr, pixels, static_cast<UINT>(rowBytes), 0);
        }
        // Other devices that share the texture see the write once it is submitted.
        context->Flush();
        return true;
    }

    void* Native() override { return texture_.Get(); }

    // For the draws of the device's immediate context.
    ID3D11Device* OwningDevice() const { return core_->device.Get(); }
    ID3D11RenderTargetView* RenderTargetView() const { return renderTargetView_.Get(); }
    ID3D11ShaderResourceView* ShaderResourceView() const { return shaderResourceView_.Get(); }

private:
    UINT Subresource(uint32_t slice) const { return D3D11CalcSubresource(0, slice, desc_.mipLevels); }

    // A one-slice, one-mip CPU-side copy target or source in the texture's format.
    Ref<ID3D11Texture2D> Staging(UINT cpuAccess, const D3D11_SUBRESOURCE_DATA* initial) {
        D3D11_TEXTURE2D_DESC staging {};
        staging.Width = desc_.width;
        staging.Height = desc_.height;
        staging.MipLevels = 1;
        staging.ArraySize = 1;
        staging.Format = static_cast<DXGI_FORMAT>(desc_.format);
        staging.SampleDesc.Count = 1;
        staging.Usage = D3D11_USAGE_STAGING;
        staging.CPUAccessFlags = cpuAccess;
        Ref<ID3D11Texture2D> created;
        if (FAILED(core_->device->CreateTexture2D(&staging, initial, created.Put()))) return {};
        return created;
    }

    std::shared_ptr<D3D11Core> core_;
    Ref<ID3D11Texture2D> texture_;
    TextureDesc desc_;
    uint64_t sharedHandle_;
    Ref<IDXGIKeyedMutex> keyedMutex_;
    Ref<ID3D11ShaderResourceView> shaderResourceView_;
    Ref<ID3D11RenderTargetView> renderTargetView_;
    Ref<ID3D11DepthStencilView> depthStencilView_;
    std::vector<HANDLE> ntHandles_;
};

class D3D11Device final : public Device {
public:
    // `drawable`: the device is the system's own, so its immediate context is free for the
    // fixed pipelines (an application's device is not).
    D3D11Device(std::shared_ptr<D3D11Core> core, uint64_t luid, bool drawable)
        : core_(std::move(core)), luid_(luid), drawable_(drawable) {}

    Api Kind() const override { return Api::D3D11; }
    uint64_t AdapterLuid() const override { return luid_; }
    void* NativeDevice() const override { return core_->device.Get(); }
    void* NativeContext() const override { return core_->context.Get(); }

    std::unique_ptr<Texture> CreateTexture(const TextureDesc& desc) override {
        // Formats whose pixel size the system does not know are refused too: it could not read them.
        if (!AcceptedTextureDesc(desc)) return nullptr;
        D3D11_TEXTURE2D_DESC native {};
        native.Width = desc.width;
        native.Height = desc.height;
        native.MipLevels = desc.mipLevels;
        native.ArraySize = desc.arraySize;
        native.Format = static_cast<DXGI_FORMAT>(desc.format);
        native.SampleDesc.Count = desc.sampleCount;
        native.SampleDesc.Quality = 0;
        native.Usage = D3D11_USAGE_DEFAULT;
        native.BindFlags = desc.bindFlags;
        native.CPUAccessFlags = 0;
        native.MiscFlags = desc.miscFlags;
        Ref<ID3D11Texture2D> texture;
        if (FAILED(core_->device->CreateTexture2D(&native, nullptr, texture.Put()))) return nullptr;
        return std::make_unique<D3D11Texture>(core_, std::move(texture), 0);
    }

    std::unique_ptr<Texture> WrapNativeTexture(void* nativeTexture) override {
        if (nativeTexture == nullptr) return nullptr;
        Ref<ID3D11Texture2D> texture = Ref<ID3D11Texture2D>::Retain(static_cast<ID3D11Texture2D*>(nativeTexture));
        Ref<ID3D11Device> owner;
        texture->GetDevice(owner.Put());
        if (owner.Get() != core_->device.Get()) return nullptr;
        return std::make_unique<D3D11Texture>(core_, std::move(texture), 0);
    }

    std::unique_ptr<Texture> OpenSharedTexture(uint64_t sharedHandle) override {
        if (sharedHandle == 0) return nullptr;
        Ref<ID3D11Texture2D> texture;
        if (FAILED(core_->device->OpenSharedResource(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(sharedHandle)),
                                                     __uuidof(ID3D11Texture2D), texture.PutVoid()))) {
            return nullptr;
        }
        return std::make_unique<D3D11Texture>(core_, std::move(texture), sharedHandle);
    }

    std::unique_ptr<Texture> OpenSharedTextureByName(std::u16string_view name) override {
        Ref<ID3D11Device1> device = core_->device.As<ID3D11Device1>();
        if (!device || name.empty()) return nullptr;
        const std::wstring wide = WideName(name);
        Ref<ID3D11Texture2D> texture;
        if (FAILED(device->OpenSharedResourceByName(wide.c_str(), DXGI_SHARED_RESOURCE_READ | DXGI_SHARED_RESOURCE_WRITE,
                                                    __uuidof(ID3D11Texture2D), texture.PutVoid()))) {
            return nullptr;
        }
        return std::make_unique<D3D11Texture>(core_, std::move(texture), 0);
    }

    void Flush() override {
        std::lock_guard<std::mutex> guard(core_->contextLock);
        core_->context->Flush();
    }

    // A timestamp query ended behind the work so far is available once that work is done.
    void WaitIdle() override {
        std::lock_guard<std::mutex> guard(core_->contextLock);
        const D3D11_QUERY_DESC description {D3D11_QUERY_TIMESTAMP, 0};
        Ref<ID3D11Query> query;
        if (FAILED(core_->device->CreateQuery(&description, query.Put()))) return;
        core_->context->End(query.Get());
        while (core_->context->GetData(query.Get(), nullptr, 0, 0) == S_FALSE) std::this_thread::yield();
    }

    // The pipelines are made on first use, once; null when the device cannot draw.
    DrawContext* Immediate() {
        if (!drawable_) return nullptr;
        std::call_once(drawOnce_, [this] { draw_ = d3d11::CreateDrawContext(core_); });
        return draw_.get();
    }

private:
    std::shared_ptr<D3D11Core> core_;
    uint64_t luid_;
    bool drawable_;
    std::once_flag drawOnce_;
    // Last, so it goes before the core it draws with.
    std::unique_ptr<DrawContext> draw_;
};

TextureDesc DescOf(ID3D12Resource* resource) {
    const D3D12_RESOURCE_DESC native = resource->GetDesc();
    TextureDesc desc;
    desc.width = static_cast<uint32_t>(native.Width);
    desc.height = native.Height;
    desc.mipLevels = native.MipLevels;
    desc.arraySize = native.DepthOrArraySize;
    desc.format = static_cast<uint32_t>(native.Format);
    desc.sampleCount = native.SampleDesc.Count;
    if ((native.Flags & D3D12_RESOURCE_FLAG_ALLOW_RENDER_TARGET) != 0) desc.bindFlags |= kBindRenderTarget;
    if ((native.Flags & D3D12_RESOURCE_FLAG_ALLOW_DEPTH_STENCIL) != 0) desc.bindFlags |= kBindDepthStencil;
    if ((native.Flags & D3D12_RESOURCE_FLAG_ALLOW_UNORDERED_ACCESS) != 0) desc.bindFlags |= kBindUnorderedAccess;
    if ((native.Flags & D3D12_RESOURCE_FLAG_DENY_SHADER_RESOURCE) == 0) desc.bindFlags |= kBindShaderResource;
    desc.miscFlags = kMiscShared | kMiscSharedNtHandle;
    return desc;
}

// A Direct3D 12 resource opened by name in the application's process: the application
// renders into it; the system only hands it over.
class D3D12Texture final : public Texture {
public:
    explicit D3D12Texture(Ref<ID3D12Resource> resource) : resource_(std::move(resource)), desc_(DescOf(resource_.Get())) {}

    const TextureDesc& Desc() const override { return desc_; }
    bool CreateShaderResourceView(uint32_t) override { return false; }
    bool CreateRenderTargetView(uint32_t) override { return false; }
    bool CreateDepthStencilView(uint32_t) override { return false; }
    bool HasShaderResourceView() const override { return false; }
    uint64_t SharedHandle() override { return 0; }
    bool ShareByName(std::u16string_view) override { return false; }
    uint32_t AcquireSync(uint64_t, uint32_t) override { return kSyncFailed; }
    bool ReleaseSync(uint64_t) override { return false; }
    bool ReadPixels(uint32_t, std::vector<uint8_t>*) override { return false; }
    bool WritePixels(uint32_t, const uint8_t*, size_t) override { return false; }
    void* Native() override { return resource_.Get(); }

private:
    Ref<ID3D12Resource> resource_;
    TextureDesc desc_;
};

class D3D12Device final : public Device {
public:
    D3D12Device(Ref<ID3D12Device> device, uint64_t luid) : device_(std::move(device)), luid_(luid) {}
    ~D3D12Device() override {
        if (fenceEvent_ != nullptr) CloseHandle(fenceEvent_);
    }
    D3D12Device(const D3D12Device&) = delete;
    D3D12Device& operator=(const D3D12Device&) = delete;

    // The application's queue: WaitIdle then waits for the work submitted on it.
    bool AttachQueue(Ref<ID3D12CommandQueue> queue) {
        if (FAILED(device_->CreateFence(0, D3D12_FENCE_FLAG_NONE, __uuidof(ID3D12Fence), fence_.PutVoid()))) return false;
        fenceEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        queue_ = std::move(queue);
        return fenceEvent_ != nullptr;
    }

    Api Kind() const override { return Api::D3D12; }
    uint64_t AdapterLuid() const override { return luid_; }
    void* NativeDevice() const override { return device_.Get(); }
    // A Direct3D 12 device's context is its direct command queue.
    void* NativeContext() const override { return queue_.Get(); }
    std::unique_ptr<Texture> CreateTexture(const TextureDesc&) override { return nullptr; }
    // Direct3D 12 opens NT handles only.
    std::unique_ptr<Texture> OpenSharedTexture(uint64_t) override { return nullptr; }

    std::unique_ptr<Texture> OpenSharedTextureByName(std::u16string_view name) override {
        if (name.empty()) return nullptr;
        const std::wstring wide = WideName(name);
        HANDLE handle = nullptr;
        if (FAILED(device_->OpenSharedHandleByName(wide.c_str(), GENERIC_ALL, &handle))) return nullptr;
        Ref<ID3D12Resource> resource;
        const HRESULT result = device_->OpenSharedHandle(handle, __uuidof(ID3D12Resource), resource.PutVoid());
        CloseHandle(handle);
        if (FAILED(result)) return nullptr;
        return std::make_unique<D3D12Texture>(std::move(resource));
    }

    void Flush() override {}

    void WaitIdle() override {
        if (!queue_) return;
        std::lock_guard<std::mutex> guard(fenceLock_);
        const uint64_t value = nextFenceValue_++;
        if (FAILED(queue_->Signal(fence_.Get(), value))) return;
        if (FAILED(fence_->SetEventOnCompletion(value, fenceEvent_))) return;
        WaitForSingleObject(fenceEvent_, INFINITE);
    }

private:
    Ref<ID3D12Device> device_;
    uint64_t luid_;
    Ref<ID3D12CommandQueue> queue_;
    Ref<ID3D12Fence> fence_;
    HANDLE fenceEvent_ = nullptr;
    uint64_t nextFenceValue_ = 1;
    std::mutex fenceLock_;
};
}  // namespace

DrawContext* ImmediateContext(Device& device) {
    auto* d3d11Device = dynamic_cast<D3D11Device*>(&device);
    return d3d11Device == nullptr ? nullptr : d3d11Device->Immediate();
}

// A view is usable only on the device that made the texture.
ID3D11RenderTargetView* d3d11::RenderTargetViewOf(Texture& texture, const D3D11Core& core) {
    auto* d3d11Texture = dynamic_cast<D3D11Texture*>(&texture);
    if (d3d11Texture == nullptr || d3d11Texture->OwningDevice() != core.device.Get()) return nullptr;
    return d3d11Texture->RenderTargetView();
}

ID3D11ShaderResourceView* d3d11::ShaderResourceViewOf(Texture& texture, const D3D11Core& core) {
    auto* d3d11Texture = dynamic_cast<D3D11Texture*>(&texture);
    if (d3d11Texture == nullptr || d3d11Texture->OwningDevice() != core.device.Get()) return nullptr;
    return d3d11Texture->ShaderResourceView();
}

std::unique_ptr<Device> CreateDevice(Api api, uint64_t adapterLuid, std::string* error) {
    Ref<IDXGIAdapter1> adapter = FindAdapter(adapterLuid, error);
    if (!adapter) return nullptr;
    DXGI_ADAPTER_DESC1 description {};
    adapter->GetDesc1(&description);
    const uint64_t luid = Packed(description.AdapterLuid);
    if (api == Api::D3D11) {
        auto core = std::make_shared<D3D11Core>();
        // Unknown driver type: the device goes on the given adapter. BGRA support for the
        // swap chains of the display side.
        const HRESULT result = D3D11CreateDevice(adapter.Get(), D3D_DRIVER_TYPE_UNKNOWN, nullptr,
                                                 D3D11_CREATE_DEVICE_BGRA_SUPPORT, nullptr, 0, D3D11_SDK_VERSION,
                                                 core->device.Put(), nullptr, core->context.Put());
        if (FAILED(result)) {
            if (error) *error = "D3D11CreateDevice failed with " + HexResult(result);
            return nullptr;
        }
        return std::make_unique<D3D11Device>(std::move(core), luid, true);
    }
    Ref<ID3D12Device> device;
    const HRESULT result = D3D12CreateDevice(adapter.Get(), D3D_FEATURE_LEVEL_11_0, __uuidof(ID3D12Device), device.PutVoid());
    if (FAILED(result)) {
        if (error) *error = "D3D12CreateDevice failed with " + HexResult(result);
        return nullptr;
    }
    // The device's own direct queue, which an application built on it submits to.
    D3D12_COMMAND_QUEUE_DESC queueDesc {};
    queueDesc.Type = D3D12_COMMAND_LIST_TYPE_DIRECT;
    Ref<ID3D12CommandQueue> queue;
    if (FAILED(device->CreateCommandQueue(&queueDesc, __uuidof(ID3D12CommandQueue), queue.PutVoid()))) {
        if (error) *error = "CreateCommandQueue failed";
        return nullptr;
    }
    auto created = std::make_unique<D3D12Device>(std::move(device), luid);
    if (!created->AttachQueue(std::move(queue))) {
        if (error) *error = "the device's fence could not be made";
        return nullptr;
    }
    return created;
}

std::unique_ptr<Device> WrapApplicationDevice(Api api, void* nativeDevice) {
    return WrapApplicationDevice(api, nativeDevice, nullptr);
}

// QueryInterface both checks the kind of device and takes the reference the wrapper holds.
std::unique_ptr<Device> WrapApplicationDevice(Api api, void* nativeDevice, void* nativeQueue) {
    auto* unknown = static_cast<IUnknown*>(nativeDevice);
    if (unknown == nullptr) return nullptr;
    if (api == Api::D3D11) {
        auto core = std::make_shared<D3D11Core>();
        core->device = Query<ID3D11Device>(unknown);
        if (!core->device) return nullptr;
        core->device->GetImmediateContext(core->context.Put());
        const uint64_t luid = AdapterLuidOf(core->device.Get());
        return std::make_unique<D3D11Device>(std::move(core), luid, false);
    }
    Ref<ID3D12Device> device = Query<ID3D12Device>(unknown);
    if (!device) return nullptr;
    const uint64_t luid = Packed(device->GetAdapterLuid());
    auto wrapped = std::make_unique<D3D12Device>(std::move(device), luid);
    if (nativeQueue != nullptr) {
        Ref<ID3D12CommandQueue> queue = Query<ID3D12CommandQueue>(static_cast<IUnknown*>(nativeQueue));
        if (!queue || !wrapped->AttachQueue(std::move(queue))) return nullptr;
    }
    return wrapped;
}

// Legacy handles and share names are global on Windows: nothing has to travel.
platform::Descriptors SharingDescriptors(uint64_t) { return {}; }

platform::Descriptors SharingDescriptorsByName(std::u16string_view) { return {}; }

}  // namespace qor::gpu
