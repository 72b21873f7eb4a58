// The driver library's only export.
#include "drivers/basic/driver_factory.h"

#if defined(_WIN32)
#define NORVIK_DRIVER_EXPORT extern "C" __declspec(dllexport)
#else
#define NORVIK_DRIVER_EXPORT extern "C" __attribute__((visibility("default")))
#endif

NORVIK_DRIVER_EXPORT void* DeviceDriverFactory(const char* interfaceName, int32_t* returnCode) {
    return qor::basic::DriverFactory(interfaceName, returnCode);
}
