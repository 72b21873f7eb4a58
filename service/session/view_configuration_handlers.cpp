// View configurations of a system: which exist, their properties and their views.
#include "protocol/messages.h"
#include "service/server/ownership.h"
#include "service/driverhost/driver_registry.h"
#include "service/server/handlers.h"
#include "service/server/service_state.h"

#include <algorithm>

namespace qor {

using namespace protocol;

namespace {
// The instance and system every view-configuration call names, or the error for them.
XrResult FindSystem(const Caller& caller, uint64_t instance, uint64_t systemId, const SystemEntry** system) {
    if (const XrResult found = FindOwnedInstance(caller, instance, XR_ERROR_INSTANCE_LOST); XR_FAILED(found)) return found;
    *system = caller.state.drivers.FindSystem(systemId);
    return *system != nullptr ? XR_SUCCESS : XR_ERROR_SYSTEM_INVALID;
}

const ViewConfigurationEntry* FindConfiguration(const SystemEntry& system, uint32_t type) {
    for (const auto& configuration : system.viewConfigurations) {
        if (static_cast<uint32_t>(configuration.type) == type) return &configuration;
    }
    return nullptr;
}

}  // namespace

XrResult HandleEnumerateViewConfigurations(const Caller& caller, const EnumerateViewConfigurationsRequest& message, Reply& reply) {
    const SystemEntry* system = nullptr;
    if (const XrResult found = FindSystem(caller, message.instance, message.systemId, &system); XR_FAILED(found)) return found;
    std::vector<uint32_t> types;
    for (const auto& configuration : system->viewConfigurations) types.push_back(static_cast<uint32_t>(configuration.type));
    return AnswerEnumeration(reply, message.capacity, std::span<const uint32_t>(types));
}

XrResult HandleGetViewConfigurationProperties(const Caller& caller, const GetViewConfigurationPropertiesRequest& message, Reply& reply) {
    const SystemEntry* system = nullptr;
    if (const XrResult found = FindSystem(caller, message.instance, message.systemId, &system); XR_FAILED(found)) return found;
    const ViewConfigurationEntry* configuration = FindConfiguration(*system, message.viewConfigurationType);
    if (configuration == nullptr) return XR_ERROR_VIEW_CONFIGURATION_TYPE_UNSUPPORTED;
    ViewConfigurationPropertiesRecord record;
    record.header.type = XR_TYPE_VIEW_CONFIGURATION_PROPERTIES;
    record.viewConfigurationType = static_cast<uint32_t>(configuration->type);
    record.fovMutable = configuration->fovMutable;
    reply.Encode(record);
    return XR_SUCCESS;
}

XrResult HandleEnumerateViewConfigurationViews(const Caller& caller, const EnumerateViewConfigurationViewsRequest& message, Reply& reply) {
    const SystemEntry* system = nullptr;
    if (const XrResult found = FindSystem(caller, message.instance, message.systemId, &system); XR_FAILED(found)) return found;
    std::vector<ViewConfigurationViewRecord> views;
    // An unknown type has no views.
    if (const ViewConfigurationEntry* configuration = FindConfiguration(*system, message.viewConfigurationType)) {
        for (const auto& view : configuration->views) {
            ViewConfigurationViewRecord record;
            record.header.type = XR_TYPE_VIEW_CONFIGURATION_VIEW;
            record.recommendedImageRectWidth = view.recommendedImageRectWidth;
            record.maxImageRectWidth = view.maxImageRectWidth;
            record.recommendedImageRectHeight = view.recommendedImageRectHeight;
            record.maxImageRectHeight = view.maxImageRectHeight;
            record.recommendedSwapchainSampleCount = view.recommendedSwapchainSampleCount;
            record.maxSwapchainSampleCount = view.maxSwapchainSampleCount;
            views.push_back(record);
        }
    }
    return AnswerEnumeration(reply, message.capacity, std::span<const ViewConfigurationViewRecord>(views));
}

}  // namespace qor
