// Destroying an instance outside a request, as xrDestroyInstance does: the record, its
// sessions (their displays switched off, their swapchains and spaces) and its watchdog entry.
#pragma once

#include <cstdint>

namespace qor {

struct ServiceState;

// Logs "Destroy Instance : " with the outcome; false when the handle is unknown.
bool DestroyInstance(ServiceState& state, uint64_t handle);

}  // namespace qor
