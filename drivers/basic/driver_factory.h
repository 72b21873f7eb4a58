// The body of the driver library's one export, DeviceDriverFactory, and its provider object.
#pragma once

#include "driver_api/driver_interfaces.h"

#include <cstdint>

namespace qor::basic {

// The library's provider: one static object, the same on every call.
IServerDeviceProvider& Provider();

// "IServerDeviceProvider_000" (exact) gives the provider and code 0; any other name gives
// null and code 100. Nothing is written through a null code pointer. Prints
// "Called DeviceDriverFactory" on every call and "Found Provider : <name>" on success.
void* DriverFactory(const char* interfaceName, int32_t* returnCode);

}  // namespace qor::basic
