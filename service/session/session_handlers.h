// Handlers of view configurations (and, as they are built, sessions, spaces, swapchains and
// frames).
#pragma once

#include "service/core/qor_server.h"

namespace qor {

XrResult HandleEnumerateViewConfigurations(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleGetViewConfigurationProperties(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleEnumerateViewConfigurationViews(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);

// Spaces and views (space_handlers.cpp).
XrResult HandleGetReferenceSpaceBoundsRect(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleEnumerateReferenceSpaces(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleCreateReferenceSpace(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleCreateActionSpace(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleDestroySpace(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleLocateSpace(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleLocateViews(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);

// Swapchains (swapchain_handlers.cpp).
XrResult HandleEnumerateSwapchainFormats(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleCreateSwapchain(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleDestroySwapchain(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleEnumerateSwapchainImages(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleAcquireSwapchainImage(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleWaitSwapchainImage(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleReleaseSwapchainImage(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);

XrResult HandleCreateSession(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleDestroySession(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleBeginSession(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleEndSession(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleRequestExitSession(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);

XrResult HandleWaitFrame(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleBeginFrame(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleEndFrame(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);

}  // namespace qor
