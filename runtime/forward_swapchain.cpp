// Forwarding of swapchains and the frame loop.
#include "protocol/layouts.h"
#include "runtime/enumeration.h"
#include "runtime/forward.h"
#include "runtime/graphics_interop.h"
#include "runtime/graphics_types.h"
#include "runtime/local_state.h"

namespace qor::runtime::forward {

using namespace protocol;

namespace {
// The optional info of acquire, wait-frame and begin-frame: absent, or of its type (what is
// chained on it is ignored).
template <typename Info>
bool ReadOptionalInfo(const Info* info, XrStructureType expected, OptionalInfo* out) {
    if (info == nullptr) return true;
    if (!IsInput(info, expected)) return false;
    *out = {static_cast<uint32_t>(info->type), 0};
    return true;
}
}  // namespace

XrResult XRAPI_CALL xrEnumerateSwapchainFormats(XrSession session, uint32_t capacity, uint32_t* count,
                                                int64_t* formats) {
    if (count == nullptr || (capacity != 0 && formats == nullptr)) return XR_ERROR_VALIDATION_FAILURE;
    const EnumerateSwapchainFormatsRequest request {HandleValue(session), capacity};
    return ForwardEnumeration(request, BodyRule::SuccessOrLossPending, CountRule::WithBody, capacity, count, formats,
                              CopyValue<int64_t>());
}

XrResult XRAPI_CALL xrCreateSwapchain(XrSession session, const XrSwapchainCreateInfo* createInfo,
                                      XrSwapchain* swapchain) {
    if (createInfo == nullptr || createInfo->type != XR_TYPE_SWAPCHAIN_CREATE_INFO || swapchain == nullptr) {
        return XR_ERROR_VALIDATION_FAILURE;
    }
    const CreateSwapchainRequest request {HandleValue(session), HeaderOf(*createInfo), createInfo->createFlags,
                                          createInfo->usageFlags, createInfo->format, createInfo->sampleCount,
                                          createInfo->width, createInfo->height, createInfo->faceCount,
                                          createInfo->arraySize, createInfo->mipCount};
    return SendAndRead(request, BodyRule::SuccessOrLossPending, [&](const auto& reply) {
        *swapchain = AsHandle<XrSwapchain>(reply.handle);
        LocalState::Get().AddSwapchain(reply.handle, HandleValue(session));
    });
}

XrResult XRAPI_CALL xrDestroySwapchain(XrSwapchain swapchain) {
    DestroySwapchainRequest request;
    request.handle = HandleValue(swapchain);
    return WithCall([&](Call& call) {
        const XrResult result = call.Send(request);
        // The local textures go whatever the service answered.
        LocalState::Get().RemoveSwapchain(HandleValue(swapchain));
        return result;
    });
}

namespace {
// Opens every image the reply lists (up to the capacity) on the application's device and
// hands their native pointers to the application. The opened images stay with the library
// until xrDestroySwapchain.
XrResult OpenImages(SessionGraphics& graphics, uint64_t session, uint64_t swapchain, Call& call,
                    const EnumerateSwapchainImagesReply& reply, uint32_t capacity, XrSwapchainImageBaseHeader* images) {
    // The images' shared objects came beside the reply where the platform passes them; they
    // only have to stay open here until each image is opened, which holds its own.
    const platform::Descriptors received = call.TakeDescriptors();
    PacketReader reader(reply.images.bytes.data(), reply.images.bytes.size());
    FieldReader fields(reader);
    const uint32_t n = std::min(capacity, reply.count);
    const bool d3d11 = graphics.kind == gpu::Api::D3D11;
    const XrStructureType expected = d3d11 ? XR_TYPE_SWAPCHAIN_IMAGE_D3D11_KHR : XR_TYPE_SWAPCHAIN_IMAGE_D3D12_KHR;
    // Both image structures are (type, next, texture pointer).
    auto* out = reinterpret_cast<SwapchainImageD3D11*>(images);
    SwapchainImages opened;
    opened.session = session;
    for (uint32_t i = 0; i < n; ++i) {
        if (out[i].type != expected) return XR_ERROR_VALIDATION_FAILURE;
        std::shared_ptr<gpu::Texture> texture;
        if (d3d11) {
            SwapchainImageD3D11Record record;
            fields(record);
            if (reader.ok()) texture = OpenImageByHandle(graphics, record.sharedHandle);
        } else {
            SwapchainImageD3D12Record record;
            if (ReadD3D12ImageRecord(reader, &record)) {
                texture = OpenImageByName(graphics, record.shareName);
                opened.names.push_back(std::move(record.shareName));
            }
        }
        if (!texture) return XR_ERROR_RUNTIME_FAILURE;
        out[i].texture = texture->Native();
        opened.textures.push_back(std::move(texture));
    }
    LocalState::Get().SetSwapchainImages(swapchain, std::move(opened));
    return call.Result();
}
}  // namespace

XrResult XRAPI_CALL xrEnumerateSwapchainImages(XrSwapchain swapchain, uint32_t capacity, uint32_t* count,
                                               XrSwapchainImageBaseHeader* images) {
    if (count == nullptr || (capacity != 0 && images == nullptr)) return XR_ERROR_VALIDATION_FAILURE;
    auto& state = LocalState::Get();
    const auto session = state.SwapchainOwner(HandleValue(swapchain));
    if (!session) return XR_ERROR_HANDLE_INVALID;
    auto graphics = state.FindSession(*session);
    if (!graphics) return XR_ERROR_SESSION_LOST;
    const EnumerateSwapchainImagesRequest request {HandleValue(swapchain), capacity};
    return SendCounted(request, count, [&](Call& call, const auto& reply) {
        if (!call.ReadsBody(BodyRule::SuccessOrLossPending)) return call.Result();
        *count = reply.count;
        if (capacity == 0) return call.Result();
        return OpenImages(*graphics, *session, HandleValue(swapchain), call, reply, capacity, images);
    });
}

XrResult XRAPI_CALL xrAcquireSwapchainImage(XrSwapchain swapchain, const XrSwapchainImageAcquireInfo* acquireInfo,
                                            uint32_t* index) {
    AcquireSwapchainImageRequest request;
    if (!ReadOptionalInfo(acquireInfo, XR_TYPE_SWAPCHAIN_IMAGE_ACQUIRE_INFO, &request.info) || index == nullptr) {
        return XR_ERROR_VALIDATION_FAILURE;
    }
    request.swapchain = HandleValue(swapchain);
    // The index is copied whatever the result (zero when the exchange failed).
    return SendAndRead(request, BodyRule::Always, [&](const auto& reply) { *index = reply.index; });
}

XrResult XRAPI_CALL xrWaitSwapchainImage(XrSwapchain swapchain, const XrSwapchainImageWaitInfo* waitInfo) {
    if (!IsInput(waitInfo, XR_TYPE_SWAPCHAIN_IMAGE_WAIT_INFO)) return XR_ERROR_VALIDATION_FAILURE;
    return SendRequest(WaitSwapchainImageRequest {HandleValue(swapchain), HeaderOf(*waitInfo), waitInfo->timeout});
}

XrResult XRAPI_CALL xrReleaseSwapchainImage(XrSwapchain swapchain, const XrSwapchainImageReleaseInfo*) {
    ReleaseSwapchainImageRequest request;
    request.swapchain = HandleValue(swapchain);
    return SendRequest(request);
}

XrResult XRAPI_CALL xrWaitFrame(XrSession session, const XrFrameWaitInfo* frameWaitInfo, XrFrameState* frameState) {
    WaitFrameRequest request;
    if (!ReadOptionalInfo(frameWaitInfo, XR_TYPE_FRAME_WAIT_INFO, &request.info) || frameState == nullptr) {
        return XR_ERROR_VALIDATION_FAILURE;
    }
    request.session = HandleValue(session);
    const auto read = [&](const auto& reply) {
        frameState->type = static_cast<XrStructureType>(reply.header.type);
        frameState->predictedDisplayTime = reply.predictedDisplayTime;
        frameState->predictedDisplayPeriod = reply.predictedDisplayPeriod;
        frameState->shouldRender = reply.shouldRender;
        return RecordIs(reply.header, XR_TYPE_FRAME_STATE);
    };
    // The service holds this call until the next frame is due, so it waits without limit.
    return SendAndRead(request, BodyRule::SuccessOrLossPending, read, platform::kWaitForever);
}

XrResult XRAPI_CALL xrBeginFrame(XrSession session, const XrFrameBeginInfo* frameBeginInfo) {
    BeginFrameRequest request;
    if (!ReadOptionalInfo(frameBeginInfo, XR_TYPE_FRAME_BEGIN_INFO, &request.info)) return XR_ERROR_VALIDATION_FAILURE;
    request.session = HandleValue(session);
    return SendRequest(request);
}

namespace {
// Appends the layer records after the 40-byte header; 0 when a layer is invalid, and the
// size 8192 (never sent) when they do not fit.
XrResult EncodeLayers(const XrFrameEndInfo& info, PacketWriter& writer) {
    if (info.layerCount != 0 && info.layers == nullptr) return XR_ERROR_LAYER_INVALID;
    for (uint32_t i = 0; i < info.layerCount; ++i) {
        const XrCompositionLayerBaseHeader* layer = info.layers[i];
        if (layer == nullptr) return XR_ERROR_LAYER_INVALID;
        if (layer->type == XR_TYPE_COMPOSITION_LAYER_PROJECTION) {
            const auto* projection = reinterpret_cast<const XrCompositionLayerProjection*>(layer);
            if (projection->viewCount != 0 && projection->views == nullptr) return XR_ERROR_LAYER_INVALID;
            WriteProjectionLayer(writer, *projection);
        } else if (layer->type == XR_TYPE_COMPOSITION_LAYER_QUAD) {
            WriteQuadLayer(writer, *reinterpret_cast<const XrCompositionLayerQuad*>(layer));
        } else {
            return XR_ERROR_LAYER_INVALID;
        }
    }
    return XR_SUCCESS;
}
}  // namespace

XrResult XRAPI_CALL xrEndFrame(XrSession session, const XrFrameEndInfo* frameEndInfo) {
    if (!IsInput(frameEndInfo, XR_TYPE_FRAME_END_INFO)) return XR_ERROR_VALIDATION_FAILURE;
    const EndFrameRequest header {HandleValue(session), HeaderOf(*frameEndInfo), frameEndInfo->displayTime,
                                  static_cast<uint32_t>(frameEndInfo->environmentBlendMode), frameEndInfo->layerCount,
                                  {}};
    return WithCall([&](Call& call) {
        const uint32_t headerSize = EncodeRequest(header, call.RequestBuffer(), Call::kRequestCapacity);
        PacketWriter writer(call.RequestBuffer(), Call::kRequestCapacity, headerSize);
        const XrResult layers = EncodeLayers(*frameEndInfo, writer);
        if (XR_FAILED(layers)) return layers;
        auto graphics = LocalState::Get().FindSession(HandleValue(session));
        if (!graphics) return XR_ERROR_SESSION_LOST;
        // The service reads the images as soon as the request arrives.
        const XrResult waited = WaitForApplicationGpu(*graphics);
        if (XR_FAILED(waited)) return waited;
        return call.SendEncoded(writer.ok() ? static_cast<uint32_t>(writer.size()) : 0);
    });
}

}  // namespace qor::runtime::forward
