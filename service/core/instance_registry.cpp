#include "service/core/instance_registry.h"

#include "service/core/handle_counter.h"

#include <algorithm>
#include <cstring>

namespace qor {

std::shared_ptr<InstanceRecord> InstanceRegistry::Create(const platform::ProcessIdentity& owner) {
    std::lock_guard lock(mutex_);
    if (instances_.size() >= kMaxInstances) return nullptr;
    auto record = std::make_shared<InstanceRecord>();
    record->ownerProcess = owner.id;
    record->ownerStartTime = owner.startTime;
    record->handle = handles_.New(kInstanceHandleBase);
    instances_.emplace(record->handle, record);
    return record;
}

std::shared_ptr<InstanceRecord> InstanceRegistry::Find(uint64_t handle) {
    std::lock_guard lock(mutex_);
    const auto found = instances_.find(handle);
    return found == instances_.end() ? nullptr : found->second;
}

bool InstanceRegistry::Remove(uint64_t handle) {
    std::lock_guard lock(mutex_);
    return instances_.erase(handle) != 0;
}

std::vector<uint64_t> InstanceRegistry::RemoveOfExitedProcesses() {
    std::vector<std::shared_ptr<InstanceRecord>> records;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [handle, record] : instances_) records.push_back(record);
    }
    // Asked without the lock: looking at a process reads /proc or opens a process handle.
    std::vector<uint64_t> exited;
    for (const auto& record : records) {
        if (!platform::ProcessRunning({record->ownerProcess, record->ownerStartTime})) exited.push_back(record->handle);
    }
    std::lock_guard lock(mutex_);
    for (const uint64_t handle : exited) instances_.erase(handle);
    return exited;
}

void InstanceRegistry::RemoveAll() {
    std::lock_guard lock(mutex_);
    instances_.clear();
}

size_t InstanceRegistry::Count() {
    std::lock_guard lock(mutex_);
    return instances_.size();
}

void QueueEvent(InstanceRecord& instance, const void* event, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(event);
    std::vector<uint8_t> block(bytes, bytes + std::min(size, kMaxEventSize));
    std::lock_guard lock(instance.eventMutex);
    if (instance.eventQueue.size() == kEventQueueWatermark) ++instance.lostEvents;
    if (instance.eventQueue.size() >= kMaxQueuedEvents) {
        instance.eventQueue.pop_front();
        ++instance.lostEvents;
    }
    instance.eventQueue.push_back(std::move(block));
}

bool TakeEvent(InstanceRecord& instance, std::vector<uint8_t>* event) {
    std::lock_guard lock(instance.eventMutex);
    if (instance.eventQueue.empty()) return false;
    *event = std::move(instance.eventQueue.front());
    instance.eventQueue.pop_front();
    if (instance.lostEvents != 0) {
        XrEventDataEventsLost lost {XR_TYPE_EVENT_DATA_EVENTS_LOST};
        lost.lostEventCount = instance.lostEvents;
        std::vector<uint8_t> block(sizeof lost);
        std::memcpy(block.data(), &lost, sizeof lost);
        instance.eventQueue.push_back(std::move(block));
        instance.lostEvents = 0;
    }
    return true;
}

}  // namespace qor
