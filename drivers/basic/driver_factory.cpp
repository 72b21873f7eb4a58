#include "drivers/basic/driver_factory.h"

#include "drivers/basic/server_driver.h"

#include <cstdio>
#include <cstring>

namespace qor::basic {

namespace {
CServerDriver_Sample g_serverDriver;
}  // namespace

IServerDeviceProvider& Provider() { return g_serverDriver; }

void* DriverFactory(const char* interfaceName, int32_t* returnCode) {
    std::fputs("Called DeviceDriverFactory\n", stdout);
    if (interfaceName != nullptr && std::strcmp(interfaceName, kServerDeviceProviderVersion) == 0) {
        std::printf("Found Provider : %s\n", interfaceName);
        std::fflush(stdout);
        if (returnCode != nullptr) *returnCode = kDriverOk;
        return static_cast<IServerDeviceProvider*>(&g_serverDriver);
    }
    std::fflush(stdout);
    if (returnCode != nullptr) *returnCode = kDriverUnknownInterface;
    return nullptr;
}

}  // namespace qor::basic
