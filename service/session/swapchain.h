// Swapchains: images the service creates on its own device and shares with the
// application's process, and the acquire / wait / release ring over them.
#pragma once

#include "gpu/device.h"
#include "service/core/handle_counter.h"
#include "service/compositor/compositor_frame.h"

#include <openxr/openxr.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qor {

enum class ImageState : int32_t { Acquired = 0, Waited = 1, Available = 2 };

// Bounds no real application meets, so a client cannot take the machine's memory:
// a session has at most this many swapchains at once,
constexpr uint32_t kMaxSwapchainsPerSession = 64;
// one image (all its slices) takes at most 256 MiB (8192 x 8192 RGBA8),
constexpr uint64_t kMaxSwapchainImageBytes = 256ull << 20;
// and the swapchains of one process take at most 2 GiB together.
constexpr uint64_t kMaxSwapchainBytesPerProcess = 2ull << 30;

// Every swapchain is made with this many textures; a static one shows only the first.
constexpr int32_t kSwapchainTextureCount = 3;
// The HRESULT kept for a failed image step: the graphics seam reports refusals without
// their own, so E_FAIL stands for any of them (and for having no device at all).
constexpr int32_t kImageStepFailed = static_cast<int32_t>(0x80004005u);

// What xrEnumerateSwapchainImages reports for one image.
struct SwapchainImageRecord {
    XrStructureType type = XR_TYPE_UNKNOWN;
    uint64_t sharedHandle = 0;    // D3D11 sessions
    std::u16string shareName;     // D3D12 sessions
};

// The compositor draws a submitted layer from its swapchain as it stands at draw time.
class QorSwapchain : public LayerImageSource {
public:
    virtual ~QorSwapchain() = default;
    // Creates the three image textures; false when one failed (the images made so far stay).
    virtual bool CreateImages(gpu::Device& device) = 0;

    bool Exists() const override { return !removed; }
    // Null when nothing was released yet, or image creation stopped before that image.
    gpu::Texture* ReleasedImage() const override;
    uint32_t ImageWidth() const override { return width; }
    uint32_t ImageHeight() const override { return height; }
    int64_t ImageFormat() const override { return format; }
    uint64_t ImageUsageFlags() const override { return usageFlags; }

    gpu::Api graphicsApi = gpu::Api::D3D11;  // of its class
    uint64_t session = 0;
    uint32_t ownerProcess = 0;  // the session's creating process
    uint64_t createFlags = 0;
    uint64_t usageFlags = 0;
    int64_t format = 0;
    uint32_t sampleCount = 1;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t faceCount = 1;
    uint32_t arraySize = 1;
    uint32_t mipCount = 1;
    int32_t imageCount = kSwapchainTextureCount;  // 1 for a static swapchain
    // The acquire / wait / release ring: requests of several application threads turn it at once.
    std::mutex ringLock;
    int32_t waitIndex = -1;   // guarded by ringLock
    int32_t nextIndex = 0;    // guarded by ringLock
    // Changed under ringLock; read by frame submission and reset by xrBeginFrame without it.
    std::atomic<int32_t> lastReleased {-1};
    std::atomic<int32_t> acquiredThisFrame {0};
    std::vector<SwapchainImageRecord> images;
    std::vector<ImageState> imageStates;  // guarded by ringLock once the swapchain is registered
    // The image textures (with their views) on the service's device, one per image made.
    std::vector<std::unique_ptr<gpu::Texture>> textures;
    // HRESULT of the step at which image creation stopped (0 when every image was made).
    int32_t imageFailure = 0;
    // The bytes counted against the owner's limits while the swapchain exists (0 when it was
    // registered without being admitted).
    uint64_t admittedBytes = 0;
    // Set when the registry lets go of the swapchain (destroyed, with its session, or at
    // runtime stop), under its mutex.
    std::atomic<bool> removed {false};

    bool IsStatic() const { return (createFlags & XR_SWAPCHAIN_CREATE_STATIC_IMAGE_BIT) != 0; }
    // The images the application sees and the acquire ring turns over: the image count, or
    // fewer when image creation stopped part-way.
    int32_t UsableImageCount() const {
        const auto made = static_cast<int32_t>(images.size());
        return made < imageCount ? made : imageCount;
    }
};

// Images shared by legacy handle (sessions bound with Direct3D 11).
class QorSwapchainD3D11 final : public QorSwapchain {
public:
    QorSwapchainD3D11() { graphicsApi = gpu::Api::D3D11; }
    bool CreateImages(gpu::Device& device) override;
};

// Images shared by name as NT handles (sessions bound with Direct3D 12), named
// "DX11_Shared_Texture_Swapchain" + shareNameIndex + "_Image" + i.
class QorSwapchainD3D12 final : public QorSwapchain {
public:
    QorSwapchainD3D12() { graphicsApi = gpu::Api::D3D12; }
    bool CreateImages(gpu::Device& device) override;

    int32_t shareNameIndex = 0;  // the registry's name counter, taken for this swapchain
};

// The formats xrEnumerateSwapchainFormats offers, in order (DXGI_FORMAT values).
inline constexpr int64_t kSwapchainFormats[16] = {
    gpu::format::kB8G8R8A8UnormSrgb,  gpu::format::kB8G8R8A8Unorm,     gpu::format::kR8G8B8A8UnormSrgb,
    gpu::format::kR8G8B8A8Unorm,      gpu::format::kR8G8B8A8Uint,      gpu::format::kR8G8B8A8Snorm,
    gpu::format::kR8G8B8A8Sint,       gpu::format::kB8G8R8X8UnormSrgb, gpu::format::kB8G8R8X8Unorm,
    gpu::format::kR10G10B10A2Unorm,   gpu::format::kR10G10B10A2Uint,   gpu::format::kR16G16B16A16Unorm,
    gpu::format::kR16G16B16A16Uint,   gpu::format::kR16G16B16A16Snorm, gpu::format::kR16G16B16A16Sint,
    gpu::format::kR16G16B16A16Float,
};

// The typeless family a texture of `format` is created in; other values unchanged.
uint32_t TypelessFormat(uint32_t format);
// D3D11 bind flags for XrSwapchainUsageFlags.
uint32_t BindFlagsForUsage(uint64_t usageFlags);
// The share name of image `image` of the swapchain that took name counter `index`.
std::u16string SwapchainShareName(int32_t index, int32_t image);
// The bytes one image of the swapchain takes (every slice, face and sample of mip 0).
uint64_t SwapchainImageBytes(const QorSwapchain& swapchain);

class SwapchainRegistry {
public:
    explicit SwapchainRegistry(HandleCounter& handles) : handles_(handles) {}
    // Lookups take the registry mutex by try-lock, sleeping 1 ms while it is busy.
    std::shared_ptr<QorSwapchain> Find(uint64_t handle);
    // Counts a swapchain about to be made against its session's and owner's limits before
    // any memory is taken: XR_SUCCESS (the share stays taken until Erase or Withdraw),
    // XR_ERROR_LIMIT_REACHED or XR_ERROR_OUT_OF_MEMORY.
    XrResult Admit(QorSwapchain& swapchain);
    void Withdraw(QorSwapchain& swapchain);
    uint64_t Insert(std::shared_ptr<QorSwapchain> swapchain);  // returns the new handle
    // Takes the swapchain out when `ownerProcess` made it; null otherwise.
    std::shared_ptr<QorSwapchain> Erase(uint64_t handle, uint32_t ownerProcess);
    // Takes out every swapchain of the session (which is being destroyed).
    void EraseOfSession(uint64_t session);
    void Clear();
    // Advances the D3D12 share-name counter; returns the value before.
    int32_t NextNameCounter();

private:
    void WithdrawLocked(QorSwapchain& swapchain);

    HandleCounter& handles_;

    std::mutex mutex_;
    std::map<uint64_t, std::shared_ptr<QorSwapchain>> swapchains_;
    int32_t nameCounter_ = 0;
    std::map<uint64_t, uint32_t> admittedBySession_;
    std::map<uint32_t, uint64_t> admittedBytesByProcess_;
};

}  // namespace qor
