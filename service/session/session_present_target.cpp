#include "service/session/session_present_target.h"

#include "service/driverhost/driver_registry.h"
#include "service/session/session_registry.h"

namespace qor {

std::span<IServerDeviceProvider* const> SessionPresentTarget::Providers() const {
    return DriverRegistry::Get().Providers();
}

IQorDisplayComponent* SessionPresentTarget::Display() const {
    const auto found = SessionRegistry::Get().Find(session_);
    if (!found) return nullptr;
    const SystemEntry* system = DriverRegistry::Get().FindSystem(found->systemId);
    return system != nullptr ? system->display : nullptr;
}

}  // namespace qor
