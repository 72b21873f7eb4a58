// The staged lenticular driver module as the service loads it: by path, through its export.
#pragma once

#include "driver_api/driver_interfaces.h"
#include "platform/library.h"

namespace qor::test {

// The module's DeviceDriverFactory; the module stays loaded, as the service keeps it.
inline DeviceDriverFactoryFn LenticDriverFactory() {
    static const DeviceDriverFactoryFn factory = reinterpret_cast<DeviceDriverFactoryFn>(
        platform::FindLibraryExport(platform::LoadSharedLibrary(NORVIK_LENTIC_DRIVER), kDeviceDriverFactoryName));
    return factory;
}

inline IServerDeviceProvider* LenticProvider() {
    const DeviceDriverFactoryFn factory = LenticDriverFactory();
    int32_t code = -1;
    return factory != nullptr ? static_cast<IServerDeviceProvider*>(factory(kServerDeviceProviderVersion, &code))
                              : nullptr;
}

}  // namespace qor::test
