// Forwarding of the instance-less calls, the instance, systems, view configurations, paths,
// names and graphics requirements.
#include "platform/system.h"
#include "protocol/extension_index.h"
#include "protocol/layouts.h"
#include "runtime/enumeration.h"
#include "runtime/forward.h"
#include "runtime/graphics_types.h"
#include "runtime/instance_extensions.h"

#include <cstring>

namespace qor::runtime::forward {

using namespace protocol;

XrResult XRAPI_CALL xrEnumerateApiLayerProperties(uint32_t capacity, uint32_t* count, XrApiLayerProperties* properties) {
    if (count == nullptr || (capacity != 0 && properties == nullptr)) return XR_ERROR_VALIDATION_FAILURE;
    const EnumerateApiLayerPropertiesRequest request {capacity};
    return ForwardEnumeration(
        request, BodyRule::Success, CountRule::WheneverExchanged, capacity, count, properties,
        [](const ApiLayerPropertiesRecord& record, XrApiLayerProperties& out) {
            out.type = static_cast<XrStructureType>(record.header.type);
            CopyChars(out.layerName, record.layerName);
            out.specVersion = record.specVersion;
            out.layerVersion = record.layerVersion;
            CopyChars(out.description, record.description);
            return RecordIs(record.header, XR_TYPE_API_LAYER_PROPERTIES);
        });
}

XrResult XRAPI_CALL xrEnumerateInstanceExtensionProperties(const char* layerName, uint32_t capacity, uint32_t* count,
                                                           XrExtensionProperties* properties) {
    if (count == nullptr || (capacity != 0 && properties == nullptr)) return XR_ERROR_VALIDATION_FAILURE;
    EnumerateInstanceExtensionPropertiesRequest request;
    if (layerName != nullptr) {
        const size_t length = strnlen(layerName, XR_MAX_API_LAYER_NAME_SIZE);
        if (length >= XR_MAX_API_LAYER_NAME_SIZE / 2) return XR_ERROR_SIZE_INSUFFICIENT;  // 128 or more
        request.layerName = String64 {true, std::string_view(layerName, length), {}};
    }
    request.capacity = capacity;
    return ForwardEnumeration(
        request, BodyRule::Success, CountRule::WheneverExchanged, capacity, count, properties,
        [](const ExtensionPropertiesRecord& record, XrExtensionProperties& out) {
            out.type = static_cast<XrStructureType>(record.header.type);
            CopyChars(out.extensionName, record.extensionName);
            out.extensionVersion = record.extensionVersion;
            return RecordIs(record.header, XR_TYPE_EXTENSION_PROPERTIES);
        });
}

namespace {
// The executable's path as 512 UTF-16 units, NUL-terminated and NUL-padded.
void FillExecutablePath(Chars16<kExecutablePathUnits>& out) {
    const std::u16string path = platform::Utf8ToUtf16(platform::ExecutablePath());
    const size_t units = std::min(path.size(), kExecutablePathUnits - 1);
    std::copy_n(path.begin(), units, out.text.begin());
}

bool ValidInstanceCreateInfo(const XrInstanceCreateInfo* info) {
    if (!IsInput(info, XR_TYPE_INSTANCE_CREATE_INFO)) return false;
    return info->enabledExtensionCount == 0 || info->enabledExtensionNames != nullptr;
}
}  // namespace

XrResult XRAPI_CALL xrCreateInstance(const XrInstanceCreateInfo* createInfo, XrInstance* instance) {
    if (!ValidInstanceCreateInfo(createInfo) || instance == nullptr) return XR_ERROR_VALIDATION_FAILURE;
    // Only names of the index table travel; others are left out and not counted.
    uint32_t indices[kMaxRequestSize / 4];
    uint32_t indexCount = 0;
    for (uint32_t i = 0; i < createInfo->enabledExtensionCount && indexCount < std::size(indices); ++i) {
        const char* name = createInfo->enabledExtensionNames[i];
        if (name == nullptr) continue;
        if (const auto index = ExtensionIndexOf(name)) indices[indexCount++] = *index;
    }
    CreateInstanceRequest request;
    request.info = HeaderOf(*createInfo);
    request.createFlags = createInfo->createFlags;
    request.applicationName.Set(createInfo->applicationInfo.applicationName);
    request.applicationVersion = createInfo->applicationInfo.applicationVersion;
    request.engineName.Set(createInfo->applicationInfo.engineName);
    request.engineVersion = createInfo->applicationInfo.engineVersion;
    request.apiVersion = createInfo->applicationInfo.apiVersion;
    request.enabledApiLayerCount = createInfo->enabledApiLayerCount;
    request.extensionIndices.items = std::span<const uint32_t>(indices, indexCount);
    FillExecutablePath(request.executablePath);
    return SendAndRead(request, BodyRule::Success, [&](const HandleReply& reply) {
        *instance = AsHandle<XrInstance>(reply.handle);
        InstanceExtensions::Get().Add(reply.handle, request.extensionIndices.items);
    });
}

XrResult XRAPI_CALL xrDestroyInstance(XrInstance instance) {
    // Forgotten whatever the answer: the application holds no instance after this call.
    InstanceExtensions::Get().Remove(HandleValue(instance));
    return SendHandle<DestroyInstanceRequest>(instance);
}

XrResult XRAPI_CALL xrGetInstanceProperties(XrInstance instance, XrInstanceProperties* properties) {
    if (properties == nullptr) return XR_ERROR_VALIDATION_FAILURE;
    GetInstancePropertiesRequest request;
    request.handle = HandleValue(instance);
    return SendAndRead(request, BodyRule::Success, [&](const auto& reply) {
        properties->type = static_cast<XrStructureType>(reply.header.type);
        properties->runtimeVersion = reply.runtimeVersion;
        CopyChars(properties->runtimeName, reply.runtimeName);
        return RecordIs(reply.header, XR_TYPE_INSTANCE_PROPERTIES);
    });
}

XrResult XRAPI_CALL xrPollEvent(XrInstance instance, XrEventDataBuffer* eventData) {
    if (eventData == nullptr) return XR_ERROR_VALIDATION_FAILURE;
    PollEventRequest request;
    request.handle = HandleValue(instance);
    return SendAndRead(request, BodyRule::Success, [&](const auto& reply) {
        uint32_t type = 0;
        std::memcpy(&type, reply.event.bytes.data(), std::min<size_t>(4, reply.event.bytes.size()));
        eventData->type = static_cast<XrStructureType>(type);
        // Only the known event types are copied, and never more than the reply holds.
        const size_t size = std::min(EventCopySize(type), reply.event.bytes.size());
        if (size > 0) std::memcpy(eventData, reply.event.bytes.data(), size);
    });
}

namespace {
// The name functions: the buffer is zero-filled first and receives the name on success.
template <typename Request>
XrResult ForwardName(const Request& request, char* buffer, size_t bufferSize) {
    if (buffer == nullptr) return XR_ERROR_VALIDATION_FAILURE;
    std::memset(buffer, 0, bufferSize);
    return SendAndRead(request, BodyRule::AnySuccess, [&](const auto& reply) {
        const size_t length = std::min(reply.name.text.size(), bufferSize - 1);
        std::memcpy(buffer, reply.name.text.data(), length);
    });
}
}  // namespace

XrResult XRAPI_CALL xrResultToString(XrInstance instance, XrResult value, char buffer[XR_MAX_RESULT_STRING_SIZE]) {
    return ForwardName(ResultToStringRequest {HandleValue(instance), value}, buffer, XR_MAX_RESULT_STRING_SIZE);
}

XrResult XRAPI_CALL xrStructureTypeToString(XrInstance instance, XrStructureType value,
                                            char buffer[XR_MAX_STRUCTURE_NAME_SIZE]) {
    return ForwardName(StructureTypeToStringRequest {HandleValue(instance), static_cast<uint32_t>(value)}, buffer,
                       XR_MAX_STRUCTURE_NAME_SIZE);
}

XrResult XRAPI_CALL xrGetSystem(XrInstance instance, const XrSystemGetInfo* getInfo, XrSystemId* systemId) {
    if (!IsInput(getInfo, XR_TYPE_SYSTEM_GET_INFO) || systemId == nullptr) return XR_ERROR_VALIDATION_FAILURE;
    const GetSystemRequest request {HandleValue(instance), HeaderOf(*getInfo),
                                    static_cast<uint32_t>(getInfo->formFactor)};
    return SendForHandle(request, BodyRule::Success, systemId);
}

namespace {
// Fills the application's chained structures from the records after the properties, in
// chain order. Running out of records ends the walk (the service sends only what it has).
bool FillChainedProperties(XrSystemProperties* properties, std::span<const uint8_t> records) {
    PacketReader reader(records.data(), records.size());
    FieldReader fields(reader);
    for (auto* chained = static_cast<XrBaseOutStructure*>(properties->next); chained != nullptr;
         chained = chained->next) {
        if (reader.remaining() < 4) return true;
        uint32_t recordType = 0;
        std::memcpy(&recordType, records.data() + reader.offset(), 4);
        if (recordType != static_cast<uint32_t>(chained->type)) return false;
        switch (chained->type) {
            case XR_TYPE_SYSTEM_HAND_TRACKING_PROPERTIES_EXT: {
                HandTrackingPropertiesRecord record;
                fields(record);
                reinterpret_cast<XrSystemHandTrackingPropertiesEXT*>(chained)->supportsHandTracking =
                    record.supportsHandTracking;
                break;
            }
            case XR_TYPE_SYSTEM_EYE_GAZE_INTERACTION_PROPERTIES_EXT: {
                EyeGazeInteractionPropertiesRecord record;
                fields(record);
                reinterpret_cast<XrSystemEyeGazeInteractionPropertiesEXT*>(chained)->supportsEyeGazeInteraction =
                    record.supportsEyeGazeInteraction;
                break;
            }
            case XR_TYPE_SYSTEM_HAND_TRACKING_MESH_PROPERTIES_MSFT: {
                HandTrackingMeshPropertiesRecord record;
                fields(record);
                auto* out = reinterpret_cast<XrSystemHandTrackingMeshPropertiesMSFT*>(chained);
                out->supportsHandTrackingMesh = record.supportsHandTrackingMesh;
                out->maxHandMeshIndexCount = record.maxHandMeshIndexCount;
                out->maxHandMeshVertexCount = record.maxHandMeshVertexCount;
                break;
            }
            default:
                return true;  // a structure whose record shape is unknown here ends the walk
        }
        if (!reader.ok()) return true;
    }
    return true;
}
}  // namespace

XrResult XRAPI_CALL xrGetSystemProperties(XrInstance instance, XrSystemId systemId, XrSystemProperties* properties) {
    if (instance == XR_NULL_HANDLE) return XR_ERROR_HANDLE_INVALID;
    if (properties == nullptr) return XR_ERROR_VALIDATION_FAILURE;
    const GetSystemPropertiesRequest request {HandleValue(instance), systemId};
    return SendAndRead(request, BodyRule::Success, [&](const auto& reply) {
        const SystemPropertiesRecord& record = reply.properties;
        properties->type = static_cast<XrStructureType>(record.header.type);
        if (record.header.type != XR_TYPE_SYSTEM_PROPERTIES) return false;
        properties->systemId = record.systemId;
        properties->vendorId = record.vendorId;
        CopyChars(properties->systemName, record.systemName);
        properties->graphicsProperties.maxSwapchainImageHeight = record.maxSwapchainImageHeight;
        properties->graphicsProperties.maxSwapchainImageWidth = record.maxSwapchainImageWidth;
        properties->graphicsProperties.maxLayerCount = record.maxLayerCount;
        properties->trackingProperties.orientationTracking = record.orientationTracking;
        properties->trackingProperties.positionTracking = record.positionTracking;
        return FillChainedProperties(properties, reply.chained.bytes);
    });
}

XrResult XRAPI_CALL xrEnumerateEnvironmentBlendModes(XrInstance instance, XrSystemId systemId,
                                                     XrViewConfigurationType viewConfigurationType, uint32_t capacity,
                                                     uint32_t* count, XrEnvironmentBlendMode* modes) {
    if (count == nullptr || (capacity != 0 && modes == nullptr)) return XR_ERROR_VALIDATION_FAILURE;
    const EnumerateEnvironmentBlendModesRequest request {HandleValue(instance), systemId,
                                                         static_cast<uint32_t>(viewConfigurationType), capacity};
    return ForwardEnumeration(request, BodyRule::Success, CountRule::WheneverExchanged, capacity, count, modes,
                              CopyValue<XrEnvironmentBlendMode>());
}

XrResult XRAPI_CALL xrEnumerateViewConfigurations(XrInstance instance, XrSystemId systemId, uint32_t capacity,
                                                  uint32_t* count, XrViewConfigurationType* types) {
    if (count == nullptr || (capacity != 0 && types == nullptr)) return XR_ERROR_VALIDATION_FAILURE;
    return ForwardEnumeration(EnumerateViewConfigurationsRequest {HandleValue(instance), systemId, capacity},
                              BodyRule::Success, CountRule::WithBody, capacity, count, types,
                              CopyValue<XrViewConfigurationType>());
}

XrResult XRAPI_CALL xrGetViewConfigurationProperties(XrInstance instance, XrSystemId systemId,
                                                     XrViewConfigurationType viewConfigurationType,
                                                     XrViewConfigurationProperties* properties) {
    if (properties == nullptr) return XR_ERROR_VALIDATION_FAILURE;
    const GetViewConfigurationPropertiesRequest request {HandleValue(instance), systemId,
                                                         static_cast<uint32_t>(viewConfigurationType)};
    return SendAndRead(request, BodyRule::Success, [&](const auto& reply) {
        properties->type = static_cast<XrStructureType>(reply.header.type);
        properties->viewConfigurationType = static_cast<XrViewConfigurationType>(reply.viewConfigurationType);
        properties->fovMutable = reply.fovMutable;
        return RecordIs(reply.header, XR_TYPE_VIEW_CONFIGURATION_PROPERTIES);
    });
}

XrResult XRAPI_CALL xrEnumerateViewConfigurationViews(XrInstance instance, XrSystemId systemId,
                                                      XrViewConfigurationType viewConfigurationType, uint32_t capacity,
                                                      uint32_t* count, XrViewConfigurationView* views) {
    if (count == nullptr || (capacity != 0 && views == nullptr)) return XR_ERROR_VALIDATION_FAILURE;
    return ForwardEnumeration(
        EnumerateViewConfigurationViewsRequest {HandleValue(instance), systemId,
                                                static_cast<uint32_t>(viewConfigurationType), capacity},
        BodyRule::Success, CountRule::WithBody, capacity, count, views,
        [](const ViewConfigurationViewRecord& record, XrViewConfigurationView& out) {
            out.type = static_cast<XrStructureType>(record.header.type);
            out.recommendedImageRectWidth = record.recommendedImageRectWidth;
            out.maxImageRectWidth = record.maxImageRectWidth;
            out.recommendedImageRectHeight = record.recommendedImageRectHeight;
            out.maxImageRectHeight = record.maxImageRectHeight;
            out.recommendedSwapchainSampleCount = record.recommendedSwapchainSampleCount;
            out.maxSwapchainSampleCount = record.maxSwapchainSampleCount;
            return RecordIs(record.header, XR_TYPE_VIEW_CONFIGURATION_VIEW);
        });
}

XrResult XRAPI_CALL xrStringToPath(XrInstance instance, const char* pathString, XrPath* path) {
    if (path == nullptr) return XR_ERROR_VALIDATION_FAILURE;
    if (pathString == nullptr) return XR_ERROR_PATH_FORMAT_INVALID;
    const size_t length = strnlen(pathString, XR_MAX_PATH_LENGTH);
    if (length == 0 || length >= XR_MAX_PATH_LENGTH) return XR_ERROR_PATH_FORMAT_INVALID;
    StringToPathRequest request;
    request.instance = HandleValue(instance);
    request.path.text = std::string_view(pathString, length);
    return SendForHandle(request, BodyRule::Success, path);
}

XrResult XRAPI_CALL xrPathToString(XrInstance instance, XrPath path, uint32_t capacity, uint32_t* count, char* buffer) {
    if (count == nullptr || (capacity != 0 && buffer == nullptr)) return XR_ERROR_VALIDATION_FAILURE;
    return SendAndRead(PathToStringRequest {HandleValue(instance), path, capacity}, BodyRule::Success,
                       [&](const auto& reply) { CopyCountedString(reply, capacity, count, buffer); });
}

namespace {
// Copied whatever the service answered, and XR_SUCCESS either way.
template <typename Request>
XrResult ForwardGraphicsRequirements(XrInstance instance, XrSystemId systemId, GraphicsRequirementsD3D* out,
                                     XrStructureType expected) {
    if (out == nullptr || out->type != expected) return XR_ERROR_VALIDATION_FAILURE;
    Request request;
    request.instance = HandleValue(instance);
    request.systemId = systemId;
    return WithCall([&](Call& call) {
        call.Send(request);
        ReplyOf<Request> reply;
        call.Decode(&reply);
        std::memcpy(&out->adapterLuid, &reply.adapterLuid, sizeof out->adapterLuid);
        out->minFeatureLevel = static_cast<int32_t>(reply.minFeatureLevel);
        return XR_SUCCESS;
    });
}
}  // namespace

XrResult XRAPI_CALL xrGetD3D11GraphicsRequirementsKHR(XrInstance instance, XrSystemId systemId,
                                                      GraphicsRequirementsD3D* requirements) {
    return ForwardGraphicsRequirements<GetD3D11GraphicsRequirementsRequest>(instance, systemId, requirements,
                                                                          XR_TYPE_GRAPHICS_REQUIREMENTS_D3D11_KHR);
}

XrResult XRAPI_CALL xrGetD3D12GraphicsRequirementsKHR(XrInstance instance, XrSystemId systemId,
                                                      GraphicsRequirementsD3D* requirements) {
    return ForwardGraphicsRequirements<GetD3D12GraphicsRequirementsRequest>(instance, systemId, requirements,
                                                                          XR_TYPE_GRAPHICS_REQUIREMENTS_D3D12_KHR);
}

}  // namespace qor::runtime::forward
