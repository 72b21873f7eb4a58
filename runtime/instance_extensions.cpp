#include "runtime/instance_extensions.h"

namespace qor::runtime {

namespace {
constexpr uint32_t kIndexBits = 64;  // more than the ExtensionIndex table holds

uint64_t Bit(uint32_t extensionIndex) { return extensionIndex < kIndexBits ? uint64_t {1} << extensionIndex : 0; }
}  // namespace

InstanceExtensions& InstanceExtensions::Get() {
    static auto* extensions = new InstanceExtensions;  // kept until the process ends; threads may still call
    return *extensions;
}

void InstanceExtensions::Add(uint64_t instance, std::span<const uint32_t> extensionIndices) {
    uint64_t bits = 0;
    for (const uint32_t index : extensionIndices) bits |= Bit(index);
    std::lock_guard lock(mutex_);
    // Handles only grow, so the lowest is the oldest.
    if (enabled_.count(instance) == 0 && enabled_.size() >= kMaxInstances) enabled_.erase(enabled_.begin());
    enabled_[instance] = bits;
}

void InstanceExtensions::Remove(uint64_t instance) {
    std::lock_guard lock(mutex_);
    enabled_.erase(instance);
}

bool InstanceExtensions::Enabled(uint64_t instance, uint32_t extensionIndex) {
    std::lock_guard lock(mutex_);
    const auto found = enabled_.find(instance);
    return found != enabled_.end() && (found->second & Bit(extensionIndex)) != 0;
}

void InstanceExtensions::Clear() {
    std::lock_guard lock(mutex_);
    enabled_.clear();
}

}  // namespace qor::runtime
