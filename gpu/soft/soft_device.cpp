// The soft device, first cut: textures in process memory, nothing shared between processes
// yet (shared handles and names are refused until the shared-memory textures arrive).
#include "gpu/device.h"

#include <cstring>
#include <mutex>

namespace qor::gpu {

namespace {
class SoftTexture final : public Texture {
public:
    explicit SoftTexture(const TextureDesc& desc)
        : desc_(desc), pixels_(static_cast<size_t>(desc.width) * desc.height * BytesPerPixel(desc.format) * desc.arraySize) {}

    const TextureDesc& Desc() const override { return desc_; }
    bool CreateShaderResourceView(uint32_t) override { return hasShaderResourceView_ = true; }
    bool CreateRenderTargetView(uint32_t) override { return true; }
    bool CreateDepthStencilView(uint32_t) override { return true; }
    bool HasShaderResourceView() const override { return hasShaderResourceView_; }
    uint64_t SharedHandle() override { return 0; }
    bool ShareByName(std::u16string_view) override { return false; }
    uint32_t AcquireSync(uint64_t, uint32_t) override { return kSyncFailed; }
    bool ReleaseSync(uint64_t) override { return false; }
    bool ReadPixels(uint32_t slice, std::vector<uint8_t>* pixels) override {
        if (slice >= desc_.arraySize) return false;
        const size_t size = SliceSize();
        pixels->assign(pixels_.begin() + slice * size, pixels_.begin() + (slice + 1) * size);
        return true;
    }
    bool WritePixels(uint32_t slice, const uint8_t* pixels, size_t size) override {
        if (slice >= desc_.arraySize || size != SliceSize()) return false;
        std::memcpy(pixels_.data() + slice * size, pixels, size);
        return true;
    }
    void* Native() override { return this; }

private:
    size_t SliceSize() const { return static_cast<size_t>(desc_.width) * desc_.height * BytesPerPixel(desc_.format); }

    TextureDesc desc_;
    std::vector<uint8_t> pixels_;
    bool hasShaderResourceView_ = false;
};

class SoftDevice final : public Device {
public:
    SoftDevice(Api api, uint64_t luid) : api_(api), luid_(luid) {}
    Api Kind() const override { return api_; }
    uint64_t AdapterLuid() const override { return luid_; }
    void* NativeDevice() const override { return const_cast<SoftDevice*>(this); }
    void* NativeContext() const override { return nullptr; }
    std::unique_ptr<Texture> CreateTexture(const TextureDesc& desc) override {
        if (desc.width == 0 || desc.height == 0 || desc.arraySize == 0 || BytesPerPixel(desc.format) == 0) return nullptr;
        return std::make_unique<SoftTexture>(desc);
    }
    std::unique_ptr<Texture> OpenSharedTexture(uint64_t) override { return nullptr; }
    std::unique_ptr<Texture> OpenSharedTextureByName(std::u16string_view) override { return nullptr; }
    void Flush() override {}
    void WaitIdle() override {}

private:
    Api api_;
    uint64_t luid_;
};
}  // namespace

std::unique_ptr<Device> CreateDevice(Api api, uint64_t adapterLuid, std::string*) {
    return std::make_unique<SoftDevice>(api, adapterLuid);
}

std::unique_ptr<Device> WrapApplicationDevice(Api, void*) { return nullptr; }

}  // namespace qor::gpu
