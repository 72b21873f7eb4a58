// The soft device: the CPU stand-in for Direct3D on platforms without it. Textures made with
// a shared misc flag live in sealed memfd objects (see shared_texture.h), so another process
// that received their descriptors opens them by legacy handle or by name and alternates on
// them through the keyed mutex. Other textures keep their pixels in process memory.
#include "gpu/device.h"

#include "gpu/soft/shared_texture.h"
#include "gpu/soft/texture_pixels.h"
#include "gpu/texture_rules.h"

#include <sys/uio.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <optional>

namespace qor::gpu {

namespace {
bool IsShared(const TextureDesc& desc) {
    return (desc.miscFlags & (kMiscShared | kMiscSharedKeyedMutex | kMiscSharedNtHandle)) != 0;
}

class SoftTexture final : public Texture {
public:
    // A texture in process memory.
    explicit SoftTexture(const TextureDesc& desc) : desc_(desc), local_(SliceBytes(desc) * desc.arraySize) {}
    // A texture in shared memory, made here or opened.
    SoftTexture(const TextureDesc& desc, std::unique_ptr<soft::SharedStorage> storage)
        : desc_(desc), storage_(std::move(storage)) {}

    const TextureDesc& Desc() const override { return desc_; }

    bool CreateShaderResourceView(uint32_t viewFormat) override {
        if (!ShaderResourceViewFits(desc_, viewFormat)) return false;
        return hasShaderResourceView_ = true;
    }
    bool CreateRenderTargetView(uint32_t viewFormat) override {
        return RenderTargetViewFits(desc_, viewFormat);
    }
    bool CreateDepthStencilView(uint32_t viewFormat) override {
        return DepthStencilViewFits(desc_, viewFormat);
    }
    bool HasShaderResourceView() const override { return hasShaderResourceView_; }

    // NT-handle textures have no legacy handle, as with DXGI.
    uint64_t SharedHandle() override {
        if (!storage_ || (desc_.miscFlags & kMiscSharedNtHandle) != 0) return 0;
        return storage_->Handle();
    }
    bool ShareByName(std::u16string_view name) override {
        if (!storage_ || (desc_.miscFlags & kMiscSharedNtHandle) == 0) return false;
        return storage_->AddName(name);
    }

    uint32_t AcquireSync(uint64_t key, uint32_t milliseconds) override {
        if (!storage_ || (desc_.miscFlags & kMiscSharedKeyedMutex) == 0) return kSyncFailed;
        return storage_->AcquireSync(key, milliseconds);
    }
    bool ReleaseSync(uint64_t key) override {
        if (!storage_ || (desc_.miscFlags & kMiscSharedKeyedMutex) == 0) return false;
        return storage_->ReleaseSync(key);
    }

    bool ReadPixels(uint32_t slice, std::vector<uint8_t>* pixels) override {
        if (slice >= desc_.arraySize || pixels == nullptr) return false;
        const size_t size = SliceBytes(desc_);
        const uint8_t* source = Store() + slice * size;
        pixels->assign(source, source + size);
        return true;
    }
    bool WritePixels(uint32_t slice, const uint8_t* pixels, size_t size) override {
        if (slice >= desc_.arraySize || size != SliceBytes(desc_) || pixels == nullptr) return false;
        std::memcpy(Store() + slice * size, pixels, size);
        return true;
    }
    void* Native() override { return this; }

    uint8_t* Pixels() { return Store(); }
    uint8_t* CpuPixels(uint32_t slice) override {
        return slice < desc_.arraySize ? Pixels() + SliceBytes(desc_) * slice : nullptr;
    }

private:
    uint8_t* Store() { return storage_ ? storage_->Pixels() : local_.data(); }

    TextureDesc desc_;
    std::unique_ptr<soft::SharedStorage> storage_;
    std::vector<uint8_t> local_;
    bool hasShaderResourceView_ = false;
};

// What a device and the wrappers of it share: the wrappers stand for the same device.
struct SoftCore {
    Api api;
    uint64_t luid;
};

// What NativeDevice() points at: an application hands this to the runtime library, which is
// another binary with its own copy of this code, so the tag is recognised by its content,
// read without the risk of touching an unmapped page.
struct ApplicationDeviceTag {
    static constexpr uint64_t kMagic[2] = {0x4E4F52564B534F46ull, 0x5447505544455631ull};  // "NORVKSOF", "TGPUDEV1"
    uint64_t magic[2] = {kMagic[0], kMagic[1]};
    const void* self = nullptr;
    uint32_t api = 0;
    uint64_t luid = 0;
};

// Copies `size` bytes from `address` of this process; false when they are not readable.
bool ReadOwnMemory(const void* address, void* out, size_t size) {
    iovec local {out, size};
    iovec remote {const_cast<void*>(address), size};
    return ::process_vm_readv(::getpid(), &local, 1, &remote, 1, 0) == static_cast<ssize_t>(size);
}

std::unique_ptr<Texture> OpenStorage(std::unique_ptr<soft::SharedStorage> storage) {
    if (!storage) return nullptr;
    const auto desc = AcceptedTextureDesc(storage->Desc());
    if (!desc || storage->PixelBytes() < SliceBytes(*desc) * desc->arraySize) return nullptr;
    return std::make_unique<SoftTexture>(*desc, std::move(storage));
}

class SoftDevice final : public Device {
public:
    // An owning device.
    explicit SoftDevice(std::shared_ptr<const SoftCore> core) : core_(std::move(core)) {
        tag_.self = &tag_;
        tag_.api = static_cast<uint32_t>(core_->api);
        tag_.luid = core_->luid;
        native_ = &tag_;
    }
    // A view of the application's device whose tag is at `native`.
    SoftDevice(std::shared_ptr<const SoftCore> core, const void* native) : core_(std::move(core)), native_(native) {}
    ~SoftDevice() override {
        // A destroyed device is no longer recognised.
        tag_.magic[0] = tag_.magic[1] = 0;
    }
    SoftDevice(const SoftDevice&) = delete;
    SoftDevice& operator=(const SoftDevice&) = delete;

    Api Kind() const override { return core_->api; }
    uint64_t AdapterLuid() const override { return core_->luid; }
    void* NativeDevice() const override { return const_cast<void*>(native_); }
    void* NativeContext() const override { return nullptr; }

    // Like the Direct3D backend, a Direct3D 12 device only opens textures by name.
    std::unique_ptr<Texture> CreateTexture(const TextureDesc& requested) override {
        if (core_->api != Api::D3D11) return nullptr;
        const auto desc = AcceptedTextureDesc(requested);
        if (!desc) return nullptr;
        if (!IsShared(*desc)) return std::make_unique<SoftTexture>(*desc);
        auto storage = soft::SharedStorage::Create(*desc, SliceBytes(*desc) * desc->arraySize);
        if (!storage) return nullptr;
        return std::make_unique<SoftTexture>(*desc, std::move(storage));
    }

    std::unique_ptr<Texture> OpenSharedTexture(uint64_t sharedHandle) override {
        if (core_->api != Api::D3D11 || sharedHandle == 0 || sharedHandle > 0xFFFFFFFFu) return nullptr;
        auto texture = OpenStorage(soft::SharedStorage::Open(static_cast<uint32_t>(sharedHandle)));
        // The hidden handle of an NT-handle texture is not a legacy handle.
        if (texture && (texture->Desc().miscFlags & kMiscSharedNtHandle) != 0) return nullptr;
        return texture;
    }

    std::unique_ptr<Texture> OpenSharedTextureByName(std::u16string_view name) override {
        const auto handle = soft::SharedStorage::ResolveName(name);
        if (!handle) return nullptr;
        return OpenStorage(soft::SharedStorage::Open(*handle));
    }

    void Flush() override {}
    void WaitIdle() override {}

    const std::shared_ptr<const SoftCore>& Core() const { return core_; }

private:
    std::shared_ptr<const SoftCore> core_;
    ApplicationDeviceTag tag_ {};
    const void* native_ = nullptr;
};
}  // namespace

namespace soft {
uint8_t* TexturePixels(Texture& texture, uint32_t slice) {
    auto* soft = dynamic_cast<SoftTexture*>(&texture);
    if (soft == nullptr || slice >= soft->Desc().arraySize) return nullptr;
    return soft->Pixels() + SliceBytes(soft->Desc()) * slice;
}
}  // namespace soft

std::unique_ptr<Device> CreateDevice(Api api, uint64_t adapterLuid, std::string*) {
    return std::make_unique<SoftDevice>(std::make_shared<const SoftCore>(SoftCore {api, adapterLuid}));
}

std::unique_ptr<Device> WrapApplicationDevice(Api api, void* nativeDevice) {
    ApplicationDeviceTag tag;
    if (nativeDevice == nullptr || !ReadOwnMemory(nativeDevice, &tag, sizeof tag)) return nullptr;
    if (tag.magic[0] != ApplicationDeviceTag::kMagic[0] || tag.magic[1] != ApplicationDeviceTag::kMagic[1] ||
        tag.self != nativeDevice || tag.api != static_cast<uint32_t>(api)) {
        return nullptr;
    }
    // Textures are found through the process's descriptors, so this library's own device
    // reaches the same ones.
    return std::make_unique<SoftDevice>(std::make_shared<const SoftCore>(SoftCore {api, tag.luid}), nativeDevice);
}

std::unique_ptr<Device> WrapApplicationDevice(Api api, void* nativeDevice, void*) {
    return WrapApplicationDevice(api, nativeDevice);
}

platform::Descriptors SharingDescriptors(uint64_t sharedHandle) {
    if (sharedHandle > 0xFFFFFFFFu) return {};
    return soft::SharedStorage::SharingDescriptors(static_cast<uint32_t>(sharedHandle));
}

platform::Descriptors SharingDescriptorsByName(std::u16string_view name) {
    return soft::SharedStorage::SharingDescriptorsByName(name);
}

}  // namespace qor::gpu
