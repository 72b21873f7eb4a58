// View configurations of a system: which exist, their properties and their views.
#include "protocol/messages.h"
#include "service/core/ownership.h"
#include "service/driverhost/driver_registry.h"
#include "service/session/session_handlers.h"

#include <algorithm>

namespace qor {

using namespace protocol;

namespace {
// The instance and system every view-configuration call names, or the error for them.
XrResult FindSystem(const Caller& caller, uint64_t instance, uint64_t systemId, const SystemEntry** system) {
    if (const XrResult found = FindOwnedInstance(caller, instance, XR_ERROR_INSTANCE_LOST); XR_FAILED(found)) return found;
    *system = DriverRegistry::Get().FindSystem(systemId);
    return *system != nullptr ? XR_SUCCESS : XR_ERROR_SYSTEM_INVALID;
}

const ViewConfigurationEntry* FindConfiguration(const SystemEntry& system, uint32_t type) {
    for (const auto& configuration : system.viewConfigurations) {
        if (static_cast<uint32_t>(configuration.type) == type) return &configuration;
    }
    return nullptr;
}

// The two-call rule: the count always; the elements when the capacity holds them.
template <typename Element>
XrResult AnswerEnumeration(uint32_t capacity, const std::vector<Element>& elements, uint8_t* reply, uint32_t* replySize) {
    EnumerationReply<Element> answer;
    answer.count = static_cast<uint32_t>(elements.size());
    if (capacity != 0 && capacity < answer.count) {
        EncodeReply(answer, reply, replySize);
        return XR_ERROR_SIZE_INSUFFICIENT;
    }
    if (capacity != 0) answer.items.items = elements;
    if (!EncodeReply(answer, reply, replySize)) return XR_ERROR_RUNTIME_FAILURE;
    return XR_SUCCESS;
}
}  // namespace

XrResult HandleEnumerateViewConfigurations(const Caller& caller, const uint8_t* request, uint32_t size, uint8_t* reply,
                                           uint32_t* replySize) {
    EnumerateViewConfigurationsRequest message;
    if (!DecodeRequest(request, size, &message)) return XR_ERROR_VALIDATION_FAILURE;
    const SystemEntry* system = nullptr;
    if (const XrResult found = FindSystem(caller, message.instance, message.systemId, &system); XR_FAILED(found)) return found;
    std::vector<uint32_t> types;
    for (const auto& configuration : system->viewConfigurations) types.push_back(static_cast<uint32_t>(configuration.type));
    return AnswerEnumeration(message.capacity, types, reply, replySize);
}

XrResult HandleGetViewConfigurationProperties(const Caller& caller, const uint8_t* request, uint32_t size, uint8_t* reply,
                                              uint32_t* replySize) {
    GetViewConfigurationPropertiesRequest message;
    if (!DecodeRequest(request, size, &message)) return XR_ERROR_VALIDATION_FAILURE;
    const SystemEntry* system = nullptr;
    if (const XrResult found = FindSystem(caller, message.instance, message.systemId, &system); XR_FAILED(found)) return found;
    const ViewConfigurationEntry* configuration = FindConfiguration(*system, message.viewConfigurationType);
    if (configuration == nullptr) return XR_ERROR_VIEW_CONFIGURATION_TYPE_UNSUPPORTED;
    ViewConfigurationPropertiesRecord record;
    record.header.type = XR_TYPE_VIEW_CONFIGURATION_PROPERTIES;
    record.viewConfigurationType = static_cast<uint32_t>(configuration->type);
    record.fovMutable = configuration->fovMutable;
    EncodeReply(record, reply, replySize);
    return XR_SUCCESS;
}

XrResult HandleEnumerateViewConfigurationViews(const Caller& caller, const uint8_t* request, uint32_t size, uint8_t* reply,
                                               uint32_t* replySize) {
    EnumerateViewConfigurationViewsRequest message;
    if (!DecodeRequest(request, size, &message)) return XR_ERROR_VALIDATION_FAILURE;
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
    return AnswerEnumeration(message.capacity, views, reply, replySize);
}

}  // namespace qor
