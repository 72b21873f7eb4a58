// Handlers of view configurations (and, as they are built, sessions, spaces, swapchains and
// frames).
#pragma once

#include "service/core/qor_server.h"

namespace qor {

XrResult HandleEnumerateViewConfigurations(QorServer&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleGetViewConfigurationProperties(QorServer&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleEnumerateViewConfigurationViews(QorServer&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);

// Spaces and views (space_handlers.cpp).
XrResult HandleGetReferenceSpaceBoundsRect(QorServer&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleEnumerateReferenceSpaces(QorServer&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleCreateReferenceSpace(QorServer&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleCreateActionSpace(QorServer&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleDestroySpace(QorServer&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleLocateSpace(QorServer&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleLocateViews(QorServer&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);

// Swapchains (swapchain_handlers.cpp).
XrResult HandleEnumerateSwapchainFormats(QorServer&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleCreateSwapchain(QorServer&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleDestroySwapchain(QorServer&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleEnumerateSwapchainImages(QorServer&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleAcquireSwapchainImage(QorServer&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleWaitSwapchainImage(QorServer&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleReleaseSwapchainImage(QorServer&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);

XrResult HandleCreateSession(QorServer&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleDestroySession(QorServer&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleBeginSession(QorServer&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleEndSession(QorServer&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleRequestExitSession(QorServer&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);

XrResult HandleWaitFrame(QorServer&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleBeginFrame(QorServer&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleEndFrame(QorServer&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);

}  // namespace qor
