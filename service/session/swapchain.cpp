// Swapchain image creation on the service's device, and the process-wide swapchain registry.
#include "service/session/swapchain.h"

#include "service/core/handle_counter.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace qor {

namespace {
gpu::TextureDesc ImageDesc(const QorSwapchain& swapchain, uint32_t miscFlags) {
    gpu::TextureDesc desc;
    desc.width = swapchain.width;
    desc.height = swapchain.height;
    desc.mipLevels = swapchain.mipCount;
    desc.arraySize = swapchain.arraySize;
    desc.format = TypelessFormat(static_cast<uint32_t>(swapchain.format));
    desc.sampleCount = swapchain.sampleCount;
    desc.bindFlags = BindFlagsForUsage(swapchain.usageFlags);
    desc.miscFlags = miscFlags;
    return desc;
}

// Steps a to c for one image: the texture and the views its usage asks for; null when refused.
std::unique_ptr<gpu::Texture> CreateImageTexture(gpu::Device& device, const QorSwapchain& swapchain, uint32_t miscFlags) {
    auto texture = device.CreateTexture(ImageDesc(swapchain, miscFlags));
    if (!texture) return nullptr;
    const auto viewFormat = static_cast<uint32_t>(swapchain.format);
    if ((swapchain.usageFlags & XR_SWAPCHAIN_USAGE_COLOR_ATTACHMENT_BIT) != 0 &&
        !texture->CreateShaderResourceView(viewFormat)) {
        return nullptr;
    }
    if ((swapchain.usageFlags & XR_SWAPCHAIN_USAGE_DEPTH_STENCIL_ATTACHMENT_BIT) != 0) {
        texture->CreateDepthStencilView(gpu::format::kD32FloatS8X24Uint);  // its result is not needed
    }
    return texture;
}

template <typename Mutex>
std::unique_lock<Mutex> TryLockLoop(Mutex& mutex) {
    std::unique_lock lock(mutex, std::try_to_lock);
    while (!lock.owns_lock()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        lock.try_lock();
    }
    return lock;
}
}  // namespace

uint32_t TypelessFormat(uint32_t format) {
    using namespace gpu::format;
    // The ranges are runs of consecutive DXGI values, typed members of one family.
    if (format >= kR32G32B32A32Float && format <= kR32G32B32A32Sint) return kR32G32B32A32Typeless;
    if (format >= kR32G32B32Float && format <= kR32G32B32Sint) return kR32G32B32Typeless;
    if (format >= kR16G16B16A16Float && format <= kR16G16B16A16Sint) return kR16G16B16A16Typeless;
    if (format == kR10G10B10A2Unorm || format == kR10G10B10A2Uint) return kR10G10B10A2Typeless;
    if (format >= kR8G8B8A8Unorm && format <= kR8G8B8A8Sint) return kR8G8B8A8Typeless;
    if (format == kB8G8R8A8Unorm || format == kB8G8R8A8UnormSrgb) return kB8G8R8A8Typeless;
    if (format == kB8G8R8X8Unorm || format == kB8G8R8X8UnormSrgb) return kB8G8R8X8Typeless;
    return format;
}

uint32_t BindFlagsForUsage(uint64_t usageFlags) {
    uint32_t flags = 0;
    if ((usageFlags & XR_SWAPCHAIN_USAGE_COLOR_ATTACHMENT_BIT) != 0) {
        flags |= gpu::kBindRenderTarget | gpu::kBindShaderResource;
    }
    if ((usageFlags & XR_SWAPCHAIN_USAGE_DEPTH_STENCIL_ATTACHMENT_BIT) != 0) flags |= gpu::kBindDepthStencil;
    if ((usageFlags & XR_SWAPCHAIN_USAGE_UNORDERED_ACCESS_BIT) != 0) flags |= gpu::kBindUnorderedAccess;
    if ((usageFlags & XR_SWAPCHAIN_USAGE_SAMPLED_BIT) != 0) flags |= gpu::kBindShaderResource;
    return flags;
}

std::u16string SwapchainShareName(int32_t index, int32_t image) {
    const std::string text = "DX11_Shared_Texture_Swapchain" + std::to_string(index) + "_Image" + std::to_string(image);
    return std::u16string(text.begin(), text.end());
}

gpu::Texture* QorSwapchain::ReleasedImage() const {
    const int32_t index = lastReleased;
    if (index < 0 || index >= static_cast<int32_t>(textures.size())) return nullptr;
    return textures[static_cast<size_t>(index)].get();
}

bool QorSwapchainD3D11::CreateImages(gpu::Device& device) {
    for (int i = 0; i < kSwapchainTextureCount; ++i) {
        auto texture = CreateImageTexture(device, *this, gpu::kMiscShared);
        // A texture without a legacy handle cannot be opened by the application, so it counts
        // as a failed image rather than one reported with handle 0.
        const uint64_t handle = texture ? texture->SharedHandle() : 0;
        if (handle == 0) {
            imageFailure = kImageStepFailed;
            return false;
        }
        images.push_back({XR_TYPE_SWAPCHAIN_IMAGE_D3D11_KHR, handle, {}});
        imageStates.push_back(ImageState::Available);
        textures.push_back(std::move(texture));
    }
    return true;
}

bool QorSwapchainD3D12::CreateImages(gpu::Device& device) {
    for (int i = 0; i < kSwapchainTextureCount; ++i) {
        auto texture = CreateImageTexture(device, *this, gpu::kMiscShared | gpu::kMiscSharedNtHandle);
        std::u16string name = SwapchainShareName(shareNameIndex, i);
        if (!texture || !texture->ShareByName(name)) {
            imageFailure = kImageStepFailed;
            return false;
        }
        images.push_back({XR_TYPE_SWAPCHAIN_IMAGE_D3D12_KHR, 0, std::move(name)});
        imageStates.push_back(ImageState::Available);
        textures.push_back(std::move(texture));
    }
    return true;
}

uint64_t SwapchainImageBytes(const QorSwapchain& swapchain) {
    // A format of unknown size counts as the widest one, so it cannot slip under the bounds.
    constexpr uint64_t kWidestPixel = 16;
    const uint32_t known = gpu::BytesPerPixel(TypelessFormat(static_cast<uint32_t>(swapchain.format)));
    const uint64_t bytesPerPixel = known != 0 ? known : kWidestPixel;
    // Each factor is below 2^32, and the product is checked step by step so it cannot wrap.
    uint64_t bytes = bytesPerPixel;
    for (const uint64_t factor : {uint64_t(swapchain.width), uint64_t(swapchain.height), uint64_t(swapchain.arraySize),
                                  uint64_t(swapchain.faceCount), uint64_t(swapchain.sampleCount)}) {
        if (factor != 0 && bytes > UINT64_MAX / factor) return UINT64_MAX;
        bytes *= factor;
    }
    return bytes;
}

std::shared_ptr<QorSwapchain> SwapchainRegistry::Find(uint64_t handle) {
    const auto lock = TryLockLoop(mutex_);
    const auto found = swapchains_.find(handle);
    return found != swapchains_.end() ? found->second : nullptr;
}

uint64_t SwapchainRegistry::Insert(std::shared_ptr<QorSwapchain> swapchain) {
    const uint64_t handle = handles_.New(kSwapchainHandleBase);
    const auto lock = TryLockLoop(mutex_);
    swapchains_[handle] = std::move(swapchain);
    return handle;
}

XrResult SwapchainRegistry::Admit(QorSwapchain& swapchain) {
    const uint64_t image = SwapchainImageBytes(swapchain);
    if (image > kMaxSwapchainImageBytes) return XR_ERROR_OUT_OF_MEMORY;
    const uint64_t bytes = image * kSwapchainTextureCount;
    const auto lock = TryLockLoop(mutex_);
    uint32_t& count = admittedBySession_[swapchain.session];
    uint64_t& processBytes = admittedBytesByProcess_[swapchain.ownerProcess];
    XrResult result = XR_SUCCESS;
    if (count >= kMaxSwapchainsPerSession) {
        result = XR_ERROR_LIMIT_REACHED;
    } else if (processBytes + bytes > kMaxSwapchainBytesPerProcess) {
        result = XR_ERROR_OUT_OF_MEMORY;
    }
    if (result != XR_SUCCESS) {
        // Entries just made for the check are not kept.
        if (count == 0) admittedBySession_.erase(swapchain.session);
        if (processBytes == 0) admittedBytesByProcess_.erase(swapchain.ownerProcess);
        return result;
    }
    ++count;
    processBytes += bytes;
    swapchain.admittedBytes = bytes;
    return XR_SUCCESS;
}

void SwapchainRegistry::WithdrawLocked(QorSwapchain& swapchain) {
    if (swapchain.admittedBytes == 0) return;
    if (const auto count = admittedBySession_.find(swapchain.session);
        count != admittedBySession_.end() && --count->second == 0) {
        admittedBySession_.erase(count);
    }
    if (const auto bytes = admittedBytesByProcess_.find(swapchain.ownerProcess); bytes != admittedBytesByProcess_.end()) {
        bytes->second -= std::min(bytes->second, swapchain.admittedBytes);
        if (bytes->second == 0) admittedBytesByProcess_.erase(bytes);
    }
    swapchain.admittedBytes = 0;
}

void SwapchainRegistry::Withdraw(QorSwapchain& swapchain) {
    const auto lock = TryLockLoop(mutex_);
    WithdrawLocked(swapchain);
}

std::shared_ptr<QorSwapchain> SwapchainRegistry::Erase(uint64_t handle, uint32_t ownerProcess) {
    std::shared_ptr<QorSwapchain> erased;  // its textures are freed after the mutex is released
    const auto lock = TryLockLoop(mutex_);
    const auto found = swapchains_.find(handle);
    if (found == swapchains_.end() || found->second->ownerProcess != ownerProcess) return nullptr;
    erased = std::move(found->second);
    swapchains_.erase(found);
    erased->removed = true;
    WithdrawLocked(*erased);
    return erased;
}

void SwapchainRegistry::EraseOfSession(uint64_t session) {
    std::vector<std::shared_ptr<QorSwapchain>> erased;
    const auto lock = TryLockLoop(mutex_);
    for (auto it = swapchains_.begin(); it != swapchains_.end();) {
        if (it->second->session == session) {
            it->second->removed = true;
            WithdrawLocked(*it->second);
            erased.push_back(std::move(it->second));
            it = swapchains_.erase(it);
        } else {
            ++it;
        }
    }
}

void SwapchainRegistry::Clear() {
    std::map<uint64_t, std::shared_ptr<QorSwapchain>> cleared;
    const auto lock = TryLockLoop(mutex_);
    cleared.swap(swapchains_);
    for (const auto& [handle, swapchain] : cleared) swapchain->removed = true;
    admittedBySession_.clear();
    admittedBytesByProcess_.clear();
}

int32_t SwapchainRegistry::NextNameCounter() {
    const auto lock = TryLockLoop(mutex_);
    return nameCounter_++;
}

}  // namespace qor
