#include "service/session/session_present_target.h"

#include "service/server/service_state.h"

namespace qor {

std::span<IServerDeviceProvider* const> SessionPresentTarget::Providers() const { return state_.drivers.Providers(); }

IQorDisplayComponent* SessionPresentTarget::Display() const {
    const auto found = state_.sessions.Find(session_);
    return found ? state_.drivers.DisplayOf(found->systemId) : nullptr;
}

}  // namespace qor
