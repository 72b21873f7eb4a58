// Where a session's frames are shown: the loaded drivers' providers, and the display of the
// session's system while the session exists.
#pragma once

#include "service/compositor/compositor_frame.h"

#include <cstdint>

namespace qor {

class SessionPresentTarget final : public PresentTarget {
public:
    explicit SessionPresentTarget(uint64_t session) : session_(session) {}

    std::span<IServerDeviceProvider* const> Providers() const override;
    // Looked up when asked: a session destroyed while its frame was drawn shows it nowhere.
    IQorDisplayComponent* Display() const override;

private:
    uint64_t session_;
};

}  // namespace qor
