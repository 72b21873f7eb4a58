#include "apilayer/stereoview_layer.h"

#include "apilayer/layer_settings.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>

namespace qor::apilayer {

namespace {

// The panel: a 345.35 mm x 194.26 mm rectangle centred on the view space's origin, in z = 0.
constexpr double kPanelHalfWidth = 172.675;
constexpr double kPanelHalfHeight = 97.13;

struct Tables {
    // instance -> the next layer's xrGetInstanceProcAddr
    std::mutex instanceMutex;
    std::unordered_map<XrInstance, PFN_xrGetInstanceProcAddr> instances;
    // session -> the instance it was created on
    std::mutex sessionMutex;
    std::unordered_map<XrSession, XrInstance> sessions;
};

Tables& State() {
    static Tables tables;
    return tables;
}

// Negotiation may run on one application thread while another locates views, so the two
// values travel together in one lock-free word.
std::atomic<LayerSettings> g_settings {LayerSettings {}};

PFN_xrGetInstanceProcAddr NextProcAddrOf(XrInstance instance) {
    Tables& state = State();
    std::lock_guard lock(state.instanceMutex);
    const auto found = state.instances.find(instance);
    return found == state.instances.end() ? nullptr : found->second;
}

bool InstanceOf(XrSession session, XrInstance* instance) {
    Tables& state = State();
    std::lock_guard lock(state.sessionMutex);
    const auto found = state.sessions.find(session);
    if (found == state.sessions.end()) return false;
    *instance = found->second;
    return true;
}

// The next layer's function `name`; a lookup that claims success without a function counts
// as unsupported.
template <typename Function>
XrResult NextFunction(PFN_xrGetInstanceProcAddr next, XrInstance instance, const char* name, Function* function) {
    PFN_xrVoidFunction found = nullptr;
    const XrResult result = next(instance, name, &found);
    if (XR_FAILED(result)) return result;
    if (found == nullptr) return XR_ERROR_FUNCTION_UNSUPPORTED;
    *function = reinterpret_cast<Function>(found);
    return XR_SUCCESS;
}

bool IsOwnLayerName(const char (&name)[XR_MAX_API_LAYER_NAME_SIZE]) {
    // The field need not be terminated; compare within its bounds only.
    const size_t length = std::strlen(kLayerName);
    return std::memcmp(name, kLayerName, length + 1) == 0;
}

// The frustum from the eye (metres, view space) to the panel's edges. The sums are formed in
// double from the float coordinates; quotient and arc tangent stay in float.
XrFovf PanelFrustum(const XrVector3f& eye, float heightOffset) {
    const float x = eye.x * 1000.0f;
    const float y = (eye.y - heightOffset) * 1000.0f;
    const float z = eye.z * 1000.0f;
    XrFovf fov;
    fov.angleLeft = -std::atan(static_cast<float>(static_cast<double>(x) + kPanelHalfWidth) / z);
    fov.angleRight = std::atan(static_cast<float>(kPanelHalfWidth - static_cast<double>(x)) / z);
    fov.angleUp = std::atan(static_cast<float>(kPanelHalfHeight - static_cast<double>(y)) / z);
    fov.angleDown = -std::atan(static_cast<float>(static_cast<double>(y) + kPanelHalfHeight) / z);
    return fov;
}

XrResult XRAPI_CALL GetInstanceProcAddr(XrInstance instance, const char* name, PFN_xrVoidFunction* function);

XrResult XRAPI_CALL CreateApiLayerInstance(const XrInstanceCreateInfo* info, const XrApiLayerCreateInfo* apiLayerInfo,
                                           XrInstance* instance) {
    try {
        if (apiLayerInfo == nullptr || apiLayerInfo->structType != XR_LOADER_INTERFACE_STRUCT_API_LAYER_CREATE_INFO ||
            apiLayerInfo->structVersion == 0 || apiLayerInfo->structSize < sizeof(XrApiLayerCreateInfo)) {
            return XR_ERROR_INITIALIZATION_FAILED;
        }
        const XrApiLayerNextInfo* next = apiLayerInfo->nextInfo;
        if (next == nullptr || next->structType != XR_LOADER_INTERFACE_STRUCT_API_LAYER_NEXT_INFO ||
            next->structVersion == 0 || next->structSize < sizeof(XrApiLayerNextInfo) ||
            !IsOwnLayerName(next->layerName) || next->nextGetInstanceProcAddr == nullptr ||
            next->nextCreateApiLayerInstance == nullptr) {
            return XR_ERROR_INITIALIZATION_FAILED;
        }
        // The layers below see the chain from their own link on. Below the innermost layer it
        // is null: the loader's terminator takes the call and never reads it. The copy is only
        // as large as this interface version's structure, and says so.
        XrApiLayerCreateInfo below = *apiLayerInfo;
        below.structSize = sizeof(XrApiLayerCreateInfo);
        below.nextInfo = next->next;
        const XrResult result = next->nextCreateApiLayerInstance(info, &below, instance);
        if (XR_FAILED(result) || instance == nullptr) return result;

        try {
            Tables& state = State();
            std::lock_guard lock(state.instanceMutex);
            // Assigned, not inserted: a handle value may come back after its instance was destroyed.
            state.instances[*instance] = next->nextGetInstanceProcAddr;
        } catch (...) {
            // Unrecorded, the instance could not be used through this layer: undo it.
            PFN_xrDestroyInstance destroy = nullptr;
            if (XR_SUCCEEDED(NextFunction(next->nextGetInstanceProcAddr, *instance, "xrDestroyInstance", &destroy))) {
                destroy(*instance);
            }
            *instance = XR_NULL_HANDLE;
            return XR_ERROR_VALIDATION_FAILURE;
        }
        return result;
    } catch (...) {
        return XR_ERROR_VALIDATION_FAILURE;
    }
}

XrResult XRAPI_CALL DestroyInstance(XrInstance instance) {
    try {
        Tables& state = State();
        // The same order as xrDestroySession (sessions, then instances). Both are held across
        // the next layer's call so that a handle value it frees and hands out again at once
        // cannot be recorded by a concurrent create before this entry is gone.
        std::lock_guard sessionLock(state.sessionMutex);
        std::lock_guard instanceLock(state.instanceMutex);
        const auto found = state.instances.find(instance);
        if (found == state.instances.end()) return XR_ERROR_HANDLE_INVALID;
        PFN_xrDestroyInstance destroy = nullptr;
        const XrResult lookup = NextFunction(found->second, instance, "xrDestroyInstance", &destroy);
        if (XR_FAILED(lookup)) return lookup;
        const XrResult result = destroy(instance);
        // Like a destroyed session, the instance is gone for the application whatever the
        // result; its sessions went with it.
        state.instances.erase(found);
        std::erase_if(state.sessions, [instance](const auto& entry) { return entry.second == instance; });
        return result;
    } catch (...) {
        return XR_ERROR_RUNTIME_FAILURE;
    }
}

XrResult XRAPI_CALL CreateSession(XrInstance instance, const XrSessionCreateInfo* createInfo, XrSession* session) {
    try {
        const PFN_xrGetInstanceProcAddr next = NextProcAddrOf(instance);
        if (next == nullptr) return XR_ERROR_VALIDATION_FAILURE;
        PFN_xrCreateSession create = nullptr;
        const XrResult lookup = NextFunction(next, instance, "xrCreateSession", &create);
        if (XR_FAILED(lookup)) return lookup;
        const XrResult result = create(instance, createInfo, session);
        if (XR_FAILED(result) || session == nullptr) return result;
        try {
            Tables& state = State();
            std::lock_guard lock(state.sessionMutex);
            state.sessions[*session] = instance;
        } catch (...) {
            // Unrecorded, the session's views could not be located through this layer: undo it.
            PFN_xrDestroySession destroy = nullptr;
            if (XR_SUCCEEDED(NextFunction(next, instance, "xrDestroySession", &destroy))) destroy(*session);
            *session = XR_NULL_HANDLE;
            return XR_ERROR_OUT_OF_MEMORY;
        }
        return result;
    } catch (...) {
        return XR_ERROR_RUNTIME_FAILURE;
    }
}

XrResult XRAPI_CALL DestroySession(XrSession session) {
    try {
        Tables& state = State();
        // Held for the whole call: the handle value cannot be recorded again by a concurrent
        // create before this entry is removed.
        std::lock_guard lock(state.sessionMutex);
        const auto found = state.sessions.find(session);
        if (found == state.sessions.end()) return XR_ERROR_HANDLE_INVALID;
        const PFN_xrGetInstanceProcAddr next = NextProcAddrOf(found->second);
        if (next == nullptr) return XR_ERROR_VALIDATION_FAILURE;
        PFN_xrDestroySession destroy = nullptr;
        const XrResult lookup = NextFunction(next, found->second, "xrDestroySession", &destroy);
        if (XR_FAILED(lookup)) return lookup;
        const XrResult result = destroy(session);
        state.sessions.erase(found);
        return result;
    } catch (...) {
        return XR_ERROR_RUNTIME_FAILURE;
    }
}

XrResult XRAPI_CALL LocateViews(XrSession session, const XrViewLocateInfo* viewLocateInfo, XrViewState* viewState,
                                uint32_t viewCapacityInput, uint32_t* viewCountOutput, XrView* views) {
    try {
        XrInstance instance = XR_NULL_HANDLE;
        if (!InstanceOf(session, &instance)) return XR_ERROR_HANDLE_INVALID;
        const PFN_xrGetInstanceProcAddr next = NextProcAddrOf(instance);
        if (next == nullptr) return XR_ERROR_VALIDATION_FAILURE;
        PFN_xrLocateViews locate = nullptr;
        const XrResult lookup = NextFunction(next, instance, "xrLocateViews", &locate);
        if (XR_FAILED(lookup)) return lookup;
        const XrResult result = locate(session, viewLocateInfo, viewState, viewCapacityInput, viewCountOutput, views);

        const LayerSettings settings = g_settings.load();
        if (result != XR_SUCCESS || viewCapacityInput == 0 || !settings.fixFovMode || viewCountOutput == nullptr ||
            views == nullptr) {
            return result;
        }
        // Never past the application's array, whatever count the layers below reported.
        const uint32_t count = std::min(*viewCountOutput, viewCapacityInput);
        for (uint32_t i = 0; i < count; ++i) {
            views[i].fov = PanelFrustum(views[i].pose.position, settings.heightOffset);
            views[i].pose.orientation = XrQuaternionf {0.0f, 0.0f, 0.0f, 1.0f};
        }
        return result;
    } catch (...) {
        return XR_ERROR_RUNTIME_FAILURE;
    }
}

template <typename Function>
constexpr PFN_xrVoidFunction Fn(Function function) {
    return reinterpret_cast<PFN_xrVoidFunction>(function);
}

struct OwnFunction {
    const char* name;
    PFN_xrVoidFunction function;
};

// Answered for any instance. xrDestroyInstance is taken as well, so that a destroyed
// instance's entries do not outlive it.
const OwnFunction kOwnFunctions[] = {
    {"xrGetInstanceProcAddr", Fn(GetInstanceProcAddr)},
    {"xrLocateViews", Fn(LocateViews)},
    {"xrCreateSession", Fn(CreateSession)},
    {"xrDestroySession", Fn(DestroySession)},
    {"xrDestroyInstance", Fn(DestroyInstance)},
};

XrResult XRAPI_CALL GetInstanceProcAddr(XrInstance instance, const char* name, PFN_xrVoidFunction* function) {
    try {
        if (function == nullptr) return XR_ERROR_VALIDATION_FAILURE;
        *function = nullptr;
        if (name == nullptr) return XR_ERROR_VALIDATION_FAILURE;
        for (const OwnFunction& own : kOwnFunctions) {
            if (std::strcmp(own.name, name) == 0) {
                *function = own.function;
                return XR_SUCCESS;
            }
        }
        const PFN_xrGetInstanceProcAddr next = NextProcAddrOf(instance);
        if (next == nullptr) return XR_ERROR_HANDLE_INVALID;
        return next(instance, name, function);
    } catch (...) {
        return XR_ERROR_RUNTIME_FAILURE;
    }
}

}  // namespace

XrResult XRAPI_CALL NegotiateLoaderApiLayerInterface(const XrNegotiateLoaderInfo* loaderInfo, const char* /*layerName*/,
                                                     XrNegotiateApiLayerRequest* apiLayerRequest) {
    if (loaderInfo == nullptr || loaderInfo->structType != XR_LOADER_INTERFACE_STRUCT_LOADER_INFO ||
        loaderInfo->structVersion != XR_LOADER_INFO_STRUCT_VERSION ||
        loaderInfo->structSize != sizeof(XrNegotiateLoaderInfo)) {
        return XR_ERROR_INITIALIZATION_FAILED;
    }
    if (apiLayerRequest == nullptr || apiLayerRequest->structType != XR_LOADER_INTERFACE_STRUCT_API_LAYER_REQUEST ||
        apiLayerRequest->structVersion != XR_API_LAYER_INFO_STRUCT_VERSION ||
        apiLayerRequest->structSize != sizeof(XrNegotiateApiLayerRequest)) {
        return XR_ERROR_INITIALIZATION_FAILED;
    }
    if (loaderInfo->minInterfaceVersion > kLayerInterfaceVersion ||
        loaderInfo->maxInterfaceVersion != kLayerInterfaceVersion) {
        return XR_ERROR_INITIALIZATION_FAILED;
    }
    if (loaderInfo->maxApiVersion < kLayerApiVersion || loaderInfo->minApiVersion > kLayerApiVersion) {
        return XR_ERROR_INITIALIZATION_FAILED;
    }
    apiLayerRequest->layerInterfaceVersion = kLayerInterfaceVersion;
    apiLayerRequest->layerApiVersion = kLayerApiVersion;
    apiLayerRequest->getInstanceProcAddr = GetInstanceProcAddr;
    apiLayerRequest->createApiLayerInstance = CreateApiLayerInstance;
    try {
        g_settings.store(ReadLayerSettings(LayerSettingsPath(), g_settings.load()));
    } catch (...) {
        // Only the path can fail (memory); the settings then stay as they were.
    }
    return XR_SUCCESS;
}

}  // namespace qor::apilayer
