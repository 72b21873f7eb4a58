// Handlers of view configurations (and, as they are built, sessions, spaces, swapchains and
// frames).
#pragma once

#include "service/core/qor_server.h"

namespace qor {

XrResult HandleEnumerateViewConfigurations(QorServer&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleGetViewConfigurationProperties(QorServer&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleEnumerateViewConfigurationViews(QorServer&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);

}  // namespace qor
