#include "service/driverhost/driver_context.h"

#include "service/input/profiles.h"

#include <cstring>

namespace qor {

ImplQorDriverContext::ImplQorDriverContext(QorHostDriverManager::SystemSink sink, const HostServices& services)
    : manager_(std::make_unique<QorHostDriverManager>(std::move(sink), services)),
      inputDevice_(std::make_unique<ImplQorInputDevice>(services.clock)) {
    // Every component exists before any driver is loaded, so drivers can bind them.
    input::Catalogue::Get().FillInputDevice(*inputDevice_);
}

void* ImplQorDriverContext::GetGenericInterface(const char* version, int32_t* error) {
    if (error != nullptr) *error = kDriverOk;
    if (version != nullptr) {
        // Exact, case-sensitive names; the manager's two bases are distinct pointers.
        if (std::strcmp(version, kServerDriverHostVersion) == 0) {
            return static_cast<IQorServerDriverHost*>(manager_.get());
        }
        if (std::strcmp(version, kDriverManagerVersion) == 0) {
            return manager_ ? static_cast<IQorDriverManager*>(manager_.get()) : nullptr;
        }
        if (std::strcmp(version, kInputDeviceVersion) == 0) {
            return static_cast<IQorInputDevice*>(inputDevice_.get());
        }
    }
    if (error != nullptr) *error = kDriverUnknownInterface;
    return nullptr;
}

}  // namespace qor
