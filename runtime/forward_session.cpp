// Forwarding of sessions, spaces and views.
#include "protocol/layouts.h"
#include "runtime/enumeration.h"
#include "runtime/forward.h"
#include "runtime/graphics_interop.h"
#include "runtime/graphics_types.h"
#include "runtime/local_state.h"

namespace qor::runtime::forward {

using namespace protocol;

namespace {
// Every graphics binding the headers name; those of other graphics APIs are refused below
// like a binding without its device.
bool IsGraphicsBinding(XrStructureType type) {
    switch (type) {
        case XR_TYPE_GRAPHICS_BINDING_D3D11_KHR:
        case XR_TYPE_GRAPHICS_BINDING_D3D12_KHR:
        case XR_TYPE_GRAPHICS_BINDING_OPENGL_WIN32_KHR:
        case XR_TYPE_GRAPHICS_BINDING_OPENGL_XLIB_KHR:
        case XR_TYPE_GRAPHICS_BINDING_OPENGL_XCB_KHR:
        case XR_TYPE_GRAPHICS_BINDING_OPENGL_WAYLAND_KHR:
        case XR_TYPE_GRAPHICS_BINDING_OPENGL_ES_ANDROID_KHR:
        case XR_TYPE_GRAPHICS_BINDING_VULKAN_KHR:
        case XR_TYPE_GRAPHICS_BINDING_EGL_MNDX:
            return true;
        default:
            return false;
    }
}

// The first graphics binding in the create info's chain; other structures are skipped.
const void* FindBinding(const void* next) {
    for (auto* structure = static_cast<const XrBaseInStructure*>(next); structure != nullptr;
         structure = structure->next) {
        if (IsGraphicsBinding(structure->type)) return structure;
    }
    return nullptr;
}

// Reads the binding from the create info's chain: the record that travels and, for the
// Direct3D bindings, the library's own session record. False for a binding it cannot take.
bool ReadBinding(const void* chain, Trailing<GraphicsBindingRecord>* record, std::optional<SessionGraphics>* graphics) {
    const void* next = FindBinding(chain);
    if (next == nullptr) return true;  // no binding: the service decides
    const auto type = static_cast<const XrBaseInStructure*>(next)->type;
    record->present = true;
    record->value.header.type = static_cast<uint32_t>(type);
    switch (type) {
        case XR_TYPE_GRAPHICS_BINDING_D3D11_KHR: {
            const auto* binding = static_cast<const GraphicsBindingD3D11*>(next);
            if (binding->device == nullptr) return false;
            record->value.header.next = reinterpret_cast<uint64_t>(binding->next);
            record->value.device = reinterpret_cast<uint64_t>(binding->device);
            *graphics = SessionGraphics {gpu::Api::D3D11, binding->device};
            return true;
        }
        case XR_TYPE_GRAPHICS_BINDING_D3D12_KHR: {
            const auto* binding = static_cast<const GraphicsBindingD3D12*>(next);
            if (binding->device == nullptr) return false;
            record->value.header.next = reinterpret_cast<uint64_t>(binding->next);
            record->value.device = reinterpret_cast<uint64_t>(binding->device);
            record->value.second = {true, reinterpret_cast<uint64_t>(binding->queue)};
            SessionGraphics d3d12 {gpu::Api::D3D12, binding->device, binding->queue};
            *graphics = d3d12;
            return true;
        }
        case XR_TYPE_GRAPHICS_BINDING_OPENGL_WIN32_KHR: {
            // Forwarded so the service can refuse it; nothing is kept here.
            const auto* binding = static_cast<const GraphicsBindingOpenGLWin32*>(next);
            if (binding->hDC == nullptr) return false;
            record->value.header.next = reinterpret_cast<uint64_t>(binding->next);
            record->value.device = reinterpret_cast<uint64_t>(binding->hDC);
            record->value.second = {true, reinterpret_cast<uint64_t>(binding->hGLRC)};
            return true;
        }
        default:
            return false;
    }
}
}  // namespace

XrResult XRAPI_CALL xrCreateSession(XrInstance instance, const XrSessionCreateInfo* createInfo, XrSession* session) {
    if (createInfo == nullptr || createInfo->type != XR_TYPE_SESSION_CREATE_INFO || session == nullptr) {
        return XR_ERROR_VALIDATION_FAILURE;
    }
    CreateSessionRequest request;
    std::optional<SessionGraphics> graphics;
    if (!ReadBinding(createInfo->next, &request.binding, &graphics)) return XR_ERROR_GRAPHICS_DEVICE_INVALID;
    request.instance = HandleValue(instance);
    request.info = HeaderOf(*createInfo);
    request.createFlags = createInfo->createFlags;
    request.systemId = createInfo->systemId;
    // The application's device must be one the library can open images on and wait for.
    if (graphics && XR_FAILED(PrepareSessionGraphics(*graphics))) return XR_ERROR_GRAPHICS_DEVICE_INVALID;
    return SendAndRead(request, BodyRule::Success, [&](const auto& reply) {
        *session = AsHandle<XrSession>(reply.handle);
        if (graphics) LocalState::Get().AddSession(reply.handle, *graphics);
    });
}

XrResult XRAPI_CALL xrDestroySession(XrSession session) {
    const XrResult result = SendHandle<DestroySessionRequest>(session);
    if (result == XR_SUCCESS) LocalState::Get().RemoveSession(HandleValue(session));
    return result;
}

XrResult XRAPI_CALL xrBeginSession(XrSession session, const XrSessionBeginInfo* beginInfo) {
    if (!IsInput(beginInfo, XR_TYPE_SESSION_BEGIN_INFO)) return XR_ERROR_VALIDATION_FAILURE;
    return SendRequest(BeginSessionRequest {HandleValue(session), HeaderOf(*beginInfo),
                                            static_cast<uint32_t>(beginInfo->primaryViewConfigurationType)});
}

XrResult XRAPI_CALL xrEndSession(XrSession session) { return SendHandle<EndSessionRequest>(session); }

XrResult XRAPI_CALL xrRequestExitSession(XrSession session) { return SendHandle<RequestExitSessionRequest>(session); }

XrResult XRAPI_CALL xrEnumerateReferenceSpaces(XrSession session, uint32_t capacity, uint32_t* count,
                                               XrReferenceSpaceType* spaces) {
    if (count == nullptr || (capacity != 0 && spaces == nullptr)) return XR_ERROR_VALIDATION_FAILURE;
    const EnumerateReferenceSpacesRequest request {HandleValue(session), capacity};
    return ForwardEnumeration(request, BodyRule::SuccessOrLossPending, CountRule::WheneverExchanged, capacity, count,
                              spaces, CopyValue<XrReferenceSpaceType>());
}

XrResult XRAPI_CALL xrCreateReferenceSpace(XrSession session, const XrReferenceSpaceCreateInfo* createInfo,
                                           XrSpace* space) {
    if (!IsInput(createInfo, XR_TYPE_REFERENCE_SPACE_CREATE_INFO) || space == nullptr) {
        return XR_ERROR_VALIDATION_FAILURE;
    }
    const CreateReferenceSpaceRequest request {HandleValue(session), HeaderOf(*createInfo),
                                               static_cast<uint32_t>(createInfo->referenceSpaceType),
                                               createInfo->poseInReferenceSpace};
    return SendForHandle(request, BodyRule::SuccessOrLossPending, space);
}

XrResult XRAPI_CALL xrGetReferenceSpaceBoundsRect(XrSession session, XrReferenceSpaceType referenceSpaceType,
                                                  XrExtent2Df* bounds) {
    if (bounds == nullptr) return XR_ERROR_VALIDATION_FAILURE;
    return SendAndRead(
        GetReferenceSpaceBoundsRectRequest {HandleValue(session), static_cast<uint32_t>(referenceSpaceType)},
        BodyRule::SuccessOrBoundsUnavailable, [&](const auto& reply) { *bounds = reply.bounds; });
}

XrResult XRAPI_CALL xrCreateActionSpace(XrSession session, const XrActionSpaceCreateInfo* createInfo, XrSpace* space) {
    if (!IsInput(createInfo, XR_TYPE_ACTION_SPACE_CREATE_INFO) || space == nullptr) return XR_ERROR_VALIDATION_FAILURE;
    const CreateActionSpaceRequest request {HandleValue(session), HeaderOf(*createInfo),
                                            HandleValue(createInfo->action), createInfo->subactionPath,
                                            createInfo->poseInActionSpace};
    return SendForHandle(request, BodyRule::SuccessOrLossPending, space);
}

XrResult XRAPI_CALL xrLocateSpace(XrSpace space, XrSpace baseSpace, XrTime time, XrSpaceLocation* location) {
    if (location == nullptr || location->type != XR_TYPE_SPACE_LOCATION) return XR_ERROR_VALIDATION_FAILURE;
    const LocateSpaceRequest request {HandleValue(space), HandleValue(baseSpace), time,
                                      static_cast<uint32_t>(location->type),
                                      reinterpret_cast<uint64_t>(location->next)};
    return WithCall([&](Call& call) {
        call.Send(request);
        // Copied whatever the result: zeros when the exchange failed or the reply had no record.
        LocateSpaceReply reply;
        const bool complete = call.Decode(&reply);
        location->locationFlags = reply.locationFlags;
        location->pose = reply.pose;
        if (call.Exchanged() && complete && !RecordIs(reply.header, XR_TYPE_SPACE_LOCATION)) {
            return XR_ERROR_VALIDATION_FAILURE;
        }
        return call.Result();
    });
}

XrResult XRAPI_CALL xrDestroySpace(XrSpace space) { return SendHandle<DestroySpaceRequest>(space); }

XrResult XRAPI_CALL xrLocateViews(XrSession session, const XrViewLocateInfo* viewLocateInfo, XrViewState* viewState,
                                  uint32_t capacity, uint32_t* count, XrView* views) {
    if (!IsInput(viewLocateInfo, XR_TYPE_VIEW_LOCATE_INFO) || viewState == nullptr || count == nullptr ||
        (capacity != 0 && views == nullptr)) {
        return XR_ERROR_VALIDATION_FAILURE;
    }
    const LocateViewsRequest request {HandleValue(session), HeaderOf(*viewLocateInfo),
                                      static_cast<uint32_t>(viewLocateInfo->viewConfigurationType),
                                      viewLocateInfo->displayTime, HandleValue(viewLocateInfo->space), capacity};
    return SendCounted(request, count, [&](const Call& call, const auto& reply) {
        if (!call.ReadsBody(BodyRule::SuccessOrLossPending)) return call.Result();
        viewState->type = static_cast<XrStructureType>(reply.viewState.header.type);
        viewState->viewStateFlags = reply.viewState.viewStateFlags;
        if (!RecordIs(reply.viewState.header, XR_TYPE_VIEW_STATE)) return XR_ERROR_VALIDATION_FAILURE;
        *count = reply.count;
        if (capacity == 0) return call.Result();
        const auto copyView = [](const ViewRecord& record, XrView& out) {
            out.type = static_cast<XrStructureType>(record.header.type);
            out.pose = record.pose;
            out.fov = record.fov;
            return RecordIs(record.header, XR_TYPE_VIEW);
        };
        return CopyElements(reply.views.items, capacity, reply.count, views, copyView) ? call.Result()
                                                                                       : XR_ERROR_VALIDATION_FAILURE;
    });
}

}  // namespace qor::runtime::forward
