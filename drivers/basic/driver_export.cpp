// The driver library's only export.
#include "drivers/basic/driver_factory.h"
#include "platform/export.h"

NORVIK_EXPORT void* DeviceDriverFactory(const char* interfaceName, int32_t* returnCode) {
    return qor::basic::DriverFactory(interfaceName, returnCode);
}
