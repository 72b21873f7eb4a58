// Instances: the registry of live instances and each instance's event queue.
#pragma once

#include "platform/process.h"
#include "service/core/handle_counter.h"

#include <openxr/openxr.h>

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qor {

// At most this many instances exist at once.
constexpr size_t kMaxInstances = 8;
// At most this many events wait in one instance's queue; an application that stops polling
// loses the oldest ones (and is told how many) instead of growing the service without bound.
constexpr size_t kMaxQueuedEvents = 1024;
// An event block holds an event as it lies in memory, at most the size of XrEventDataBuffer.
constexpr size_t kMaxEventSize = sizeof(XrEventDataBuffer);
// When an event arrives while exactly this many wait, one lost event is counted.
constexpr size_t kEventQueueWatermark = 256;

struct ProcessRecord {
    uint32_t marker = 0;
    uint64_t reserved = 0;
    std::u16string executablePath;
};

struct InstanceRecord {
    uint64_t handle = 0;
    // The creating process; only it may use the instance and what hangs below it.
    uint32_t ownerProcess = 0;
    uint64_t ownerStartTime = 0;
    std::vector<uint32_t> enabledExtensions;  // ExtensionIndex values
    std::mutex eventMutex;                    // guards eventQueue and lostEvents
    std::deque<std::vector<uint8_t>> eventQueue;
    uint32_t lostEvents = 0;
    int64_t lastPoll = 0;        // seconds since the epoch
    uint32_t displayEnable = 1;  // 0 for the "KVDSOpenXRApp" application
    ProcessRecord process;
    std::string applicationName;
};

class InstanceRegistry {
public:
    explicit InstanceRegistry(HandleCounter& handles) : handles_(handles) {}

    // A new record with a fresh handle, owned by `owner`; null when kMaxInstances exist already.
    std::shared_ptr<InstanceRecord> Create(const platform::ProcessIdentity& owner);
    std::shared_ptr<InstanceRecord> Find(uint64_t handle);
    // Removes the record (its queued events go with it); false for an unknown handle.
    bool Remove(uint64_t handle);
    // Removes the records whose creating process no longer runs; their handles.
    std::vector<uint64_t> RemoveOfExitedProcesses();
    void RemoveAll();
    size_t Count();

private:
    HandleCounter& handles_;
    std::mutex mutex_;
    std::map<uint64_t, std::shared_ptr<InstanceRecord>> instances_;
};

// Appends an event (its bytes as the event structure lies in memory) to the instance's queue.
void QueueEvent(InstanceRecord& instance, const void* event, size_t size);
// Takes the oldest event; an events-lost event is queued behind the others first when events
// were lost. False when the queue is empty.
bool TakeEvent(InstanceRecord& instance, std::vector<uint8_t>* event);

}  // namespace qor
