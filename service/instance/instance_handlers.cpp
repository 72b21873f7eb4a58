#include "platform/process.h"
#include "platform/system.h"
#include "protocol/extension_index.h"
#include "protocol/layouts.h"
#include "service/instance/extensions.h"
#include "service/instance/instance_teardown.h"
#include "service/core/instance_registry.h"
#include "service/core/layer_features.h"
#include "service/core/logger.h"
#include "service/server/ownership.h"
#include "service/core/xr_names.h"
#include "service/driverhost/driver_registry.h"
#include "service/driverhost/graphics_devices.h"
#include "service/driverhost/watchdog.h"
#include "service/session/session_registry.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>

namespace qor {

using namespace protocol;

namespace {
// Every 1.0.x application is served; 0.x, 1.1 and later are not.
constexpr XrVersion kFirstSupportedApi = XR_MAKE_VERSION(1, 0, 0);
constexpr XrVersion kFirstUnsupportedApi = XR_MAKE_VERSION(1, 1, 0);
constexpr const char* kRuntimeName = "Norvik XR Runtime";
constexpr const char* kDisplayOffApplication = "KVDSOpenXRApp";
constexpr uint32_t kD3DFeatureLevel11_0 = 0xb000;  // D3D_FEATURE_LEVEL_11_0
// The watchdog's log line shows at most this much of the application's path.
constexpr size_t kLoggedPathBytes = 256;

// Extension indices an instance may enable.
bool IsSupportedExtension(uint32_t index) {
    using namespace extension;
    return index == kKhrD3D11Enable || index == kKhrD3D12Enable || index == kExtWin32AppContainerCompatible;
}
// The Android, OpenGL ES and quad-view extensions fail initialisation outright.
bool IsRefusedExtension(uint32_t index) {
    using namespace extension;
    return index == kKhrAndroidCreateInstance || index == kKhrAndroidSurfaceSwapchain ||
           index == kKhrAndroidThreadSettings || index == kKhrOpenGlEsEnable ||
           index == kOculusAndroidSessionStateEnable || index == kVarjoQuadViews;
}

std::string PointerText(uint64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%016" PRIX64, value);
    return text;
}

std::string CreateInstanceLog(const InstanceRecord& instance, const CreateInstanceRequest& request) {
    std::string text = "Create Instance : " + PointerText(instance.handle) + "\n";
    // The names come from the client: escaped for display only, so they cannot add log lines.
    text += "  Application Name : " + EscapeForLog(request.applicationName.View()) + "\n";
    text += "  Application Version : " + std::to_string(request.applicationVersion) + "\n";
    text += "  API Version : " + std::to_string(request.apiVersion) + "\n";
    text += "  Engine Name : " + EscapeForLog(request.engineName.View()) + "\n";
    text += "  Engine Version : " + std::to_string(request.engineVersion) + "\n";
    return text;
}

// Everything below an instance goes with it: its sessions (with their swapchains and spaces)
// and its watchdog entry. The record itself has left the registry already.
void DestroyInstanceContents(ServiceState& state, uint64_t handle) {
    RemoveSessionsOfInstance(state, handle);
    state.actions.RemoveInstance(handle);
    state.watchdog.RemoveInstance(handle);
}

// A full registry may hold instances of applications that exited without destroying them;
// they are destroyed before a new application is refused.
std::shared_ptr<InstanceRecord> CreateInstanceRecord(ServiceState& state, const platform::ProcessIdentity& owner) {
    auto& registry = state.instances;
    if (auto instance = registry.Create(owner)) return instance;
    for (const uint64_t handle : registry.RemoveOfExitedProcesses()) {
        Log("Destroy Instance of an exited process : " + PointerText(handle));
        DestroyInstanceContents(state, handle);
    }
    return registry.Create(owner);
}
}  // namespace

XrResult HandleEnumerateApiLayerProperties(const Caller&, const EnumerateApiLayerPropertiesRequest&, Reply& reply) {
    // The service offers no API layers of its own.
    reply.Encode(EnumerateApiLayerPropertiesReply {});
    return XR_SUCCESS;
}

XrResult HandleEnumerateInstanceExtensionProperties(const Caller&, const EnumerateInstanceExtensionPropertiesRequest& message,
                                                    Reply& reply) {
    std::vector<ExtensionPropertiesRecord> records;
    for (const auto& extension : kAdvertisedExtensions) {
        ExtensionPropertiesRecord record;
        record.header.type = XR_TYPE_EXTENSION_PROPERTIES;
        std::snprintf(record.extensionName.text.data(), record.extensionName.text.size(), "%s", extension.name);
        record.extensionVersion = extension.version;
        records.push_back(record);
    }
    return AnswerEnumeration(reply, message.capacity, std::span<const ExtensionPropertiesRecord>(records));
}

XrResult HandleCreateInstance(const Caller& caller, const CreateInstanceRequest& message, Reply& reply) {
    if (message.apiVersion < kFirstSupportedApi || message.apiVersion >= kFirstUnsupportedApi) {
        return XR_ERROR_API_VERSION_UNSUPPORTED;
    }
    if (message.applicationName.View().empty()) return XR_ERROR_NAME_INVALID;

    // A process that cannot be looked at (gone already) keeps its id with no start time: it
    // never counts as running, so its instance is the first to be reclaimed.
    const uint32_t process = caller.client.ProcessId();
    const platform::ProcessIdentity owner = platform::IdentifyProcess(process).value_or(platform::ProcessIdentity {process, 0});
    auto& registry = caller.state.instances;
    std::shared_ptr<InstanceRecord> instance;
    try {
        instance = CreateInstanceRecord(caller.state, owner);
    } catch (const std::bad_alloc&) {
        return XR_ERROR_OUT_OF_MEMORY;
    }
    if (!instance) return XR_ERROR_LIMIT_REACHED;
    for (const uint32_t index : message.extensionIndices.items) {
        if (IsSupportedExtension(index)) {
            instance->enabledExtensions.push_back(index);
            continue;
        }
        registry.Remove(instance->handle);
        return IsRefusedExtension(index) ? XR_ERROR_INITIALIZATION_FAILED : XR_ERROR_EXTENSION_NOT_PRESENT;
    }
    const auto& path = message.executablePath.text;
    instance->process = ProcessRecord {message.processRecordMarker, message.reserved,
                                       std::u16string(path.data(), std::char_traits<char16_t>::length(path.data()))};
    instance->applicationName = std::string(message.applicationName.View());
    caller.state.actions.AddInstance(instance->handle, process);
    reply.Encode(HandleReply {instance->handle});

    Log(CreateInstanceLog(*instance, message));
    if (instance->applicationName == kDisplayOffApplication) instance->displayEnable = 0;
    const std::string narrowPath = platform::Utf16ToUtf8(instance->process.executablePath).substr(0, kLoggedPathBytes);
    Log("Add process into watchdog : " + EscapeForLog(narrowPath));
    caller.state.watchdog.RegisterProcess(instance->handle, instance->process.executablePath, process);
    return XR_SUCCESS;
}

bool DestroyInstance(ServiceState& state, uint64_t handle) {
    const bool removed = state.instances.Remove(handle);
    Log("Destroy Instance : " + PointerText(handle) + "\n" + (removed ? "\tSUCCESS" : "\tERROR_HANDLE_INVALID"));
    if (removed) DestroyInstanceContents(state, handle);
    return removed;
}

XrResult HandleDestroyInstance(const Caller& caller, const DestroyInstanceRequest& message, Reply&) {
    if (FindOwnedInstance(caller, message.handle, XR_ERROR_HANDLE_INVALID) != XR_SUCCESS) {
        Log("Destroy Instance : " + PointerText(message.handle) + "\n\tERROR_HANDLE_INVALID");
        return XR_ERROR_HANDLE_INVALID;
    }
    return DestroyInstance(caller.state, message.handle) ? XR_SUCCESS : XR_ERROR_HANDLE_INVALID;
}

XrResult HandleGetInstanceProperties(const Caller&, const GetInstancePropertiesRequest&, Reply& reply) {
    InstancePropertiesRecord record;
    record.header.type = XR_TYPE_INSTANCE_PROPERTIES;
    record.runtimeVersion = XR_MAKE_VERSION(1, 1, 0);
    std::snprintf(record.runtimeName.text.data(), record.runtimeName.text.size(), "%s", kRuntimeName);
    reply.Encode(record);
    return XR_SUCCESS;
}

namespace {
template <typename Request>
XrResult AnswerName(const Caller& caller, const Request& message, Reply& reply,
                    std::string (*nameOf)(decltype(Request::value))) {
    if (const XrResult found = FindOwnedInstance(caller, message.instance, XR_ERROR_INSTANCE_LOST); XR_FAILED(found)) {
        return found;
    }
    NameReply answer;
    const std::string name = nameOf(message.value);
    answer.name.text = name;
    reply.Encode(answer);
    return XR_SUCCESS;
}
}  // namespace

XrResult HandleResultToString(const Caller& caller, const ResultToStringRequest& message, Reply& reply) {
    return AnswerName(caller, message, reply, ResultName);
}

XrResult HandleStructureTypeToString(const Caller& caller, const StructureTypeToStringRequest& message, Reply& reply) {
    return AnswerName(caller, message, reply, StructureTypeName);
}

XrResult HandlePollEvent(const Caller& caller, const PollEventRequest& message, Reply& reply) {
    std::shared_ptr<InstanceRecord> instance;
    if (const XrResult found = FindOwnedInstance(caller, message.handle, XR_ERROR_INSTANCE_LOST, &instance);
        XR_FAILED(found)) {
        return found;
    }
    instance->lastPoll = static_cast<int64_t>(std::time(nullptr));
    std::vector<uint8_t> event;
    if (!TakeEvent(*instance, &event)) return XR_EVENT_UNAVAILABLE;
    reply.Encode(PollEventReply {Rest {event}});
    return XR_SUCCESS;
}

XrResult HandleGetSystem(const Caller& caller, const GetSystemRequest& message, Reply& reply) {
    if (const XrResult found = FindOwnedInstance(caller, message.instance, XR_ERROR_INSTANCE_LOST); XR_FAILED(found)) {
        return found;
    }
    for (const auto& [id, system] : caller.state.drivers.Systems()) {
        if (system->formFactor != static_cast<int32_t>(message.formFactor)) continue;
        if (id == 0) break;
        reply.Encode(HandleReply {id});
        return XR_SUCCESS;
    }
    return XR_ERROR_FORM_FACTOR_UNSUPPORTED;
}

XrResult HandleGetSystemProperties(const Caller& caller, const GetSystemPropertiesRequest& message, Reply& reply) {
    if (const XrResult found = FindOwnedInstance(caller, message.instance, XR_ERROR_INSTANCE_LOST); XR_FAILED(found)) {
        return found;
    }
    const SystemEntry* system = caller.state.drivers.FindSystem(message.systemId);
    if (system == nullptr) return XR_ERROR_SYSTEM_INVALID;
    ScanImplicitLayerManifests();
    const bool handTracking = CurrentLayerFeatures().handTracking;

    SystemPropertiesRecord record;
    record.header = {XR_TYPE_SYSTEM_PROPERTIES, handTracking ? 1u : 0u};
    record.systemId = system->systemId;
    record.vendorId = system->vendorId;
    std::snprintf(record.systemName.text.data(), record.systemName.text.size(), "%s", system->systemName.c_str());
    record.maxSwapchainImageHeight = system->maxSwapchainImageHeight;
    record.maxSwapchainImageWidth = system->maxSwapchainImageWidth;
    record.maxLayerCount = system->maxLayerCount;
    record.orientationTracking = system->orientationTracking;
    record.positionTracking = system->positionTracking;
    if (!EncodeReply(record, reply.bytes, reply.size)) return XR_ERROR_RUNTIME_FAILURE;
    if (handTracking) {
        HandTrackingPropertiesRecord hand;
        hand.header.type = XR_TYPE_SYSTEM_HAND_TRACKING_PROPERTIES_EXT;
        hand.supportsHandTracking = XR_TRUE;
        reply.Encode(hand);
    }
    return XR_SUCCESS;
}

XrResult HandleEnumerateEnvironmentBlendModes(const Caller& caller, const EnumerateEnvironmentBlendModesRequest& message,
                                              Reply& reply) {
    if (caller.state.drivers.FindSystem(message.systemId) == nullptr) return XR_ERROR_SYSTEM_INVALID;
    if (message.viewConfigurationType != XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO) {
        return XR_ERROR_VIEW_CONFIGURATION_TYPE_UNSUPPORTED;
    }
    static constexpr uint32_t kOpaque[] = {XR_ENVIRONMENT_BLEND_MODE_OPAQUE};
    EnumerateEnvironmentBlendModesReply answer;
    answer.count = 1;
    if (message.capacity != 0) answer.items.items = kOpaque;
    reply.Encode(answer);
    return XR_SUCCESS;
}

namespace {
XrResult AnswerGraphicsRequirements(XrStructureType type, uint64_t luid, Reply& reply) {
    GraphicsRequirementsRecord record;
    record.header.type = static_cast<uint32_t>(type);
    record.adapterLuid = luid;
    record.minFeatureLevel = kD3DFeatureLevel11_0;
    reply.Encode(record);
    return XR_SUCCESS;
}
}  // namespace

XrResult HandleGetD3D11GraphicsRequirementsKHR(const Caller& caller, const GetD3D11GraphicsRequirementsRequest&, Reply& reply) {
    return AnswerGraphicsRequirements(XR_TYPE_GRAPHICS_REQUIREMENTS_D3D11_KHR, caller.state.graphics.d3d11AdapterLuid,
                                      reply);
}

XrResult HandleGetD3D12GraphicsRequirementsKHR(const Caller& caller, const GetD3D12GraphicsRequirementsRequest&, Reply& reply) {
    return AnswerGraphicsRequirements(XR_TYPE_GRAPHICS_REQUIREMENTS_D3D12_KHR, caller.state.graphics.d3d12AdapterLuid,
                                      reply);
}

}  // namespace qor
