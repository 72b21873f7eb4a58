#include "app_graphics.h"

#include "gpu/device.h"

namespace xr_demo {

namespace {
class SoftGraphics final : public AppGraphics {
public:
    explicit SoftGraphics(std::unique_ptr<qor::gpu::Device> device) : device_(std::move(device)) {}
    void* Device() override { return device_->NativeDevice(); }
    bool WriteImage(void* texture, const EyeImage& image) override {
        // On this platform the runtime hands out the soft GPU's texture objects.
        auto* target = static_cast<qor::gpu::Texture*>(texture);
        if (target == nullptr || target->Desc().width != image.width || target->Desc().height != image.height) return false;
        return target->WritePixels(0, image.rgba.data(), image.rgba.size());
    }

private:
    std::unique_ptr<qor::gpu::Device> device_;
};
}  // namespace

std::unique_ptr<AppGraphics> CreateAppGraphics(uint64_t adapterLuid, std::string* error) {
    auto device = qor::gpu::CreateDevice(qor::gpu::Api::D3D11, adapterLuid, error);
    if (!device) return nullptr;
    return std::make_unique<SoftGraphics>(std::move(device));
}

}  // namespace xr_demo
