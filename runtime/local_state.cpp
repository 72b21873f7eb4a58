#include "runtime/local_state.h"

namespace qor::runtime {

LocalState& LocalState::Get() {
    static auto* state = new LocalState;  // kept until the process ends; threads may still call
    return *state;
}

void LocalState::AddSession(uint64_t session, const SessionGraphics& graphics) {
    std::lock_guard lock(mutex_);
    sessions_[session] = graphics;
}

std::optional<SessionGraphics> LocalState::RemoveSession(uint64_t session) {
    std::lock_guard lock(mutex_);
    const auto found = sessions_.find(session);
    if (found == sessions_.end()) return std::nullopt;
    SessionGraphics graphics = found->second;
    sessions_.erase(found);
    return graphics;
}

std::optional<SessionGraphics> LocalState::FindSession(uint64_t session) {
    std::lock_guard lock(mutex_);
    const auto found = sessions_.find(session);
    if (found == sessions_.end()) return std::nullopt;
    return found->second;
}

void LocalState::AddSwapchain(uint64_t swapchain, uint64_t session) {
    std::lock_guard lock(mutex_);
    swapchainOwners_[swapchain] = session;
}

std::optional<uint64_t> LocalState::SwapchainOwner(uint64_t swapchain) {
    std::lock_guard lock(mutex_);
    const auto found = swapchainOwners_.find(swapchain);
    if (found == swapchainOwners_.end()) return std::nullopt;
    return found->second;
}

std::optional<SwapchainImages> LocalState::RemoveSwapchain(uint64_t swapchain) {
    std::lock_guard lock(mutex_);
    swapchainOwners_.erase(swapchain);
    const auto found = swapchainImages_.find(swapchain);
    if (found == swapchainImages_.end()) return std::nullopt;
    SwapchainImages images = std::move(found->second);
    swapchainImages_.erase(found);
    return images;
}

void LocalState::SetSwapchainImages(uint64_t swapchain, SwapchainImages images) {
    std::lock_guard lock(mutex_);
    swapchainImages_[swapchain] = std::move(images);
}

bool LocalState::HasSwapchainImages(uint64_t swapchain) {
    std::lock_guard lock(mutex_);
    return swapchainImages_.count(swapchain) != 0;
}

void LocalState::Clear() {
    std::lock_guard lock(mutex_);
    sessions_.clear();
    swapchainOwners_.clear();
    swapchainImages_.clear();
}

}  // namespace qor::runtime
