// Every record a client creates carries the client's process, and only that process may use
// it: a handle of another process's record is answered as an unknown handle, so one
// application can neither see nor destroy another's objects.
#pragma once

#include "service/core/instance_registry.h"
#include "service/server/handlers.h"
#include "service/server/service_state.h"

#include <cstdint>
#include <memory>

namespace qor {

inline bool OwnedBy(const Caller& caller, uint32_t ownerProcess) {
    return ownerProcess == caller.client.ProcessId();
}

// The record when the caller owns it; null for a missing or foreign one.
template <typename Record>
std::shared_ptr<Record> OwnedOnly(const Caller& caller, std::shared_ptr<Record> record) {
    if (record && !OwnedBy(caller, record->ownerProcess)) return nullptr;
    return record;
}

// Looks an instance up for the caller: XR_SUCCESS with the record; XR_ERROR_HANDLE_INVALID for
// another process's; `missing` (the operation's own answer) when there is none.
inline XrResult FindOwnedInstance(const Caller& caller, uint64_t handle, XrResult missing,
                                  std::shared_ptr<InstanceRecord>* instance = nullptr) {
    auto found = caller.state.instances.Find(handle);
    if (!found) return missing;
    if (!OwnedBy(caller, found->ownerProcess)) return XR_ERROR_HANDLE_INVALID;
    if (instance != nullptr) *instance = std::move(found);
    return XR_SUCCESS;
}

}  // namespace qor
