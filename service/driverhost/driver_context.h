// The one object a driver receives at initialisation: from it the driver fetches the host,
// the manager and the input device by version string.
#pragma once

#include "driver_api/driver_interfaces.h"
#include "service/driverhost/host_driver_manager.h"
#include "service/driverhost/input_device.h"

namespace qor {

class ImplQorDriverContext final : public IQorDriverContext {
public:
    // The manager hands each new system to `sink`.
    ImplQorDriverContext(QorHostDriverManager::SystemSink sink, const HostServices& services);
    ImplQorDriverContext(const ImplQorDriverContext&) = delete;
    ImplQorDriverContext& operator=(const ImplQorDriverContext&) = delete;

    // IQorDriverContext
    void* GetGenericInterface(const char* version, int32_t* error) override;
    uint32_t Reserved1() override { return 0; }

    QorHostDriverManager& Manager() { return *manager_; }
    ImplQorInputDevice& InputDevice() { return *inputDevice_; }

private:
    std::unique_ptr<QorHostDriverManager> manager_;
    std::unique_ptr<ImplQorInputDevice> inputDevice_;
};

}  // namespace qor
