// Swapchains: images the service creates on its own device and shares with the
// application's process, and the acquire / wait / release ring over them.
#pragma once

#include "gpu/device.h"

#include <openxr/openxr.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qor {

enum class ImageState : int32_t { Acquired = 0, Waited = 1, Available = 2 };

// What xrEnumerateSwapchainImages reports for one image.
struct SwapchainImageRecord {
    XrStructureType type = XR_TYPE_UNKNOWN;
    uint64_t sharedHandle = 0;    // D3D11 sessions
    std::u16string shareName;     // D3D12 sessions
};

class QorSwapchain {
public:
    virtual ~QorSwapchain() = default;
    // Creates the three image textures; false when one failed (the images made so far stay).
    virtual bool CreateImages(gpu::Device& device) = 0;

    int32_t graphicsApi = 1;  // 1 D3D11 class, 2 D3D12 class
    uint64_t session = 0;
    uint64_t createFlags = 0;
    uint64_t usageFlags = 0;
    int64_t format = 0;
    uint32_t sampleCount = 1;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t faceCount = 1;
    uint32_t arraySize = 1;
    uint32_t mipCount = 1;
    int32_t imageCount = 3;    // 1 for a static swapchain
    int32_t waitIndex = -1;
    int32_t nextIndex = 0;
    int32_t lastReleased = -1;
    int32_t acquiredThisFrame = 0;
    std::vector<SwapchainImageRecord> images;
    std::vector<ImageState> imageStates;
    // The image textures (with their views) on the service's device, one per image made.
    std::vector<std::unique_ptr<gpu::Texture>> textures;

    bool IsStatic() const { return (createFlags & XR_SWAPCHAIN_CREATE_STATIC_IMAGE_BIT) != 0; }
};

class SwapchainRegistry {
public:
    static SwapchainRegistry& Get();
    // Lookups take the registry mutex by try-lock, sleeping 1 ms while it is busy.
    std::shared_ptr<QorSwapchain> Find(uint64_t handle);
    uint64_t Insert(std::shared_ptr<QorSwapchain> swapchain);  // returns the new handle
    bool Erase(uint64_t handle);
    void Clear();
    // Advances the D3D12 share-name counter; returns the value before.
    int32_t NextNameCounter();

private:
    std::mutex mutex_;
    std::map<uint64_t, std::shared_ptr<QorSwapchain>> swapchains_;
    int32_t nameCounter_ = 0;
};

}  // namespace qor
