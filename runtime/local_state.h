// What the runtime library keeps locally: state that belongs to the application's own
// graphics objects. Three maps under one mutex; handles are the service's values.
#pragma once

#include "gpu/device.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace qor::runtime {

struct SessionGraphics {
    gpu::Api kind = gpu::Api::D3D11;  // the graphics API of the session's binding
    void* device = nullptr;  // ID3D11Device* or ID3D12Device*
    void* queue = nullptr;   // ID3D12CommandQueue*
    // The application's device as the graphics seam sees it (opening images, GPU waits).
    std::shared_ptr<gpu::Device> wrapped;
};

// The images opened for one swapchain in the application's process (at most 3). They stay
// open until xrDestroySwapchain, for both graphics APIs.
struct SwapchainImages {
    uint64_t session = 0;
    std::vector<std::shared_ptr<gpu::Texture>> textures;
    std::vector<std::u16string> names;  // D3D12 share names
};

class LocalState {
public:
    static LocalState& Get();

    void AddSession(uint64_t session, const SessionGraphics& graphics);
    // Removes the record and returns it so its objects can be released.
    std::optional<SessionGraphics> RemoveSession(uint64_t session);
    std::optional<SessionGraphics> FindSession(uint64_t session);

    void AddSwapchain(uint64_t swapchain, uint64_t session);
    std::optional<uint64_t> SwapchainOwner(uint64_t swapchain);
    // Drops the swapchain from the owner map and returns its opened images (if any).
    std::optional<SwapchainImages> RemoveSwapchain(uint64_t swapchain);
    void SetSwapchainImages(uint64_t swapchain, SwapchainImages images);
    bool HasSwapchainImages(uint64_t swapchain);

    // For tests: forget everything.
    void Clear();

private:
    std::mutex mutex_;
    std::map<uint64_t, SessionGraphics> sessions_;
    std::map<uint64_t, uint64_t> swapchainOwners_;
    std::map<uint64_t, SwapchainImages> swapchainImages_;
};

}  // namespace qor::runtime
