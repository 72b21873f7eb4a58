// Which extensions each instance of this process enabled at xrCreateInstance: an extension's
// functions are handed out only for instances that enabled it.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <span>

namespace qor::runtime {

class InstanceExtensions {
public:
    // Twice the service's own limit of instances at once: a full table holds instances the
    // application never destroyed, and the oldest of them is forgotten.
    static constexpr size_t kMaxInstances = 16;

    static InstanceExtensions& Get();

    // Records the ExtensionIndex values an instance was created with.
    void Add(uint64_t instance, std::span<const uint32_t> extensionIndices);
    void Remove(uint64_t instance);
    bool Enabled(uint64_t instance, uint32_t extensionIndex);

    // For tests: forget everything.
    void Clear();

private:
    std::mutex mutex_;
    std::map<uint64_t, uint64_t> enabled_;  // instance -> one bit per ExtensionIndex
};

}  // namespace qor::runtime
