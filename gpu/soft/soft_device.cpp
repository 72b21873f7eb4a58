// The soft device: drawing happens on the CPU, so a device is the adapter it stands for.
#include "gpu/device.h"

namespace qor::gpu {

namespace {
class SoftDevice final : public Device {
public:
    SoftDevice(Api api, uint64_t luid) : api_(api), luid_(luid) {}
    Api Kind() const override { return api_; }
    uint64_t AdapterLuid() const override { return luid_; }
    void* NativeDevice() const override { return nullptr; }
    void* NativeContext() const override { return nullptr; }

private:
    Api api_;
    uint64_t luid_;
};
}  // namespace

std::unique_ptr<Device> CreateDevice(Api api, uint64_t adapterLuid, std::string*) {
    return std::make_unique<SoftDevice>(api, adapterLuid);
}

}  // namespace qor::gpu
