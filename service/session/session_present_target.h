// Where a session's frames are shown: the loaded drivers' providers, and the display of the
// session's system while the session exists.
#pragma once

#include "service/compositor/compositor_frame.h"

#include <cstdint>

namespace qor {

struct ServiceState;

class SessionPresentTarget final : public PresentTarget {
public:
    SessionPresentTarget(ServiceState& state, uint64_t session) : state_(state), session_(session) {}

    std::span<IServerDeviceProvider* const> Providers() const override;
    // Looked up when asked: a session destroyed while its frame was drawn shows it nowhere.
    IQorDisplayComponent* Display() const override;

private:
    ServiceState& state_;
    uint64_t session_;
};

}  // namespace qor
