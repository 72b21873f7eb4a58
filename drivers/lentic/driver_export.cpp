// The driver library's only export.
#include "drivers/lentic/server_driver.h"
#include "platform/export.h"

NORVIK_EXPORT void* DeviceDriverFactory(const char* interfaceName, int32_t* returnCode) {
    return qor::lentic::DriverFactory(interfaceName, returnCode);
}
