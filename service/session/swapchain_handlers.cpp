// Swapchain handlers: formats, creation and destruction, image enumeration and the
// acquire / wait / release ring.
#include "protocol/layouts.h"
#include "gpu/device.h"
#include "service/core/logger.h"
#include "service/server/ownership.h"
#include "service/driverhost/graphics_devices.h"
#include "service/server/handlers.h"
#include "service/server/service_state.h"
#include "service/session/session_registry.h"
#include "service/session/swapchain.h"

#include <algorithm>

namespace qor {

using namespace protocol;

namespace {
std::string CreatedLog(const QorSwapchain& swapchain) {
    return "CreateSwapchain : SUCCESS\n\tWidth : " + std::to_string(swapchain.width) +
           "\n\tHeight : " + std::to_string(swapchain.height) + "\n\tFormat : " + std::to_string(swapchain.format) +
           "\n\tUsage Flags : " + std::to_string(swapchain.usageFlags);
}

std::shared_ptr<QorSwapchain> MakeSwapchain(SwapchainRegistry& registry, const Session& session,
                                            const CreateSwapchainRequest& request) {
    std::shared_ptr<QorSwapchain> swapchain;
    if (session.graphicsApi == gpu::Api::D3D12) {
        auto d3d12 = std::make_shared<QorSwapchainD3D12>();
        // Taken before the images are made (not advanced after), so two swapchains created at
        // once on different request threads cannot be given the same names.
        d3d12->shareNameIndex = registry.NextNameCounter();
        swapchain = std::move(d3d12);
    } else {
        swapchain = std::make_shared<QorSwapchainD3D11>();
    }
    swapchain->session = session.handle;
    swapchain->ownerProcess = session.ownerProcess;
    swapchain->createFlags = request.createFlags;
    swapchain->usageFlags = request.usageFlags;
    swapchain->format = request.format;
    swapchain->sampleCount = request.sampleCount;
    swapchain->width = request.width;
    swapchain->height = request.height;
    swapchain->faceCount = request.faceCount;
    swapchain->arraySize = request.arraySize;
    swapchain->mipCount = request.mipCount;
    swapchain->imageCount = swapchain->IsStatic() ? 1 : kSwapchainTextureCount;
    return swapchain;
}

// The image records, and beside the reply what the application's process needs to open the
// images (descriptors of the shared objects where the platform passes them); false when that
// cannot be sent.
bool AppendImageRecords(const Caller& caller, const QorSwapchain& swapchain, int32_t count, Reply& reply) {
    PacketWriter writer(reply.bytes, kMaxReplySize, *reply.size);
    FieldWriter fields(writer);
    for (int32_t i = 0; i < count; ++i) {
        const SwapchainImageRecord& image = swapchain.images[static_cast<size_t>(i)];
        platform::Descriptors descriptors;
        if (image.type == XR_TYPE_SWAPCHAIN_IMAGE_D3D12_KHR) {
            WriteD3D12ImageRecord(writer, StructHeader {static_cast<uint32_t>(image.type), 0}, image.shareName);
            descriptors = gpu::SharingDescriptorsByName(image.shareName);
        } else {
            fields(SwapchainImageD3D11Record {{static_cast<uint32_t>(image.type), 0}, image.sharedHandle});
            descriptors = gpu::SharingDescriptors(image.sharedHandle);
        }
        for (auto& descriptor : descriptors) {
            if (!caller.client.AttachToReply(std::move(descriptor))) return false;
        }
    }
    if (writer.ok()) *reply.size = static_cast<uint32_t>(writer.size());
    return true;
}

// Under the swapchain's ring lock.
XrResult AcquireStatic(QorSwapchain& swapchain, uint32_t* index) {
    if (swapchain.waitIndex != -1 || swapchain.imageStates[0] != ImageState::Available ||
        swapchain.acquiredThisFrame != 0) {
        return XR_ERROR_CALL_ORDER_INVALID;
    }
    swapchain.imageStates[0] = ImageState::Acquired;
    swapchain.waitIndex = 0;
    swapchain.nextIndex = 0;
    swapchain.lastReleased = -1;
    ++swapchain.acquiredThisFrame;
    *index = 0;
    return XR_SUCCESS;
}

// Under the swapchain's ring lock.
XrResult AcquireRing(QorSwapchain& swapchain, uint32_t* index) {
    const int32_t ring = swapchain.UsableImageCount();
    auto& state = swapchain.imageStates[static_cast<size_t>(swapchain.nextIndex)];
    if (state != ImageState::Available) return XR_ERROR_CALL_ORDER_INVALID;
    state = ImageState::Acquired;
    if (swapchain.waitIndex == -1) swapchain.waitIndex = swapchain.nextIndex;
    swapchain.nextIndex = (swapchain.nextIndex + 1) % ring;
    ++swapchain.acquiredThisFrame;
    // The advanced index, not the one just marked: the application renders one image ahead
    // of the ring, and the compositor shows the image released last.
    *index = static_cast<uint32_t>(swapchain.nextIndex);
    return XR_SUCCESS;
}
}  // namespace

XrResult HandleEnumerateSwapchainFormats(const Caller& caller, const EnumerateSwapchainFormatsRequest& message, Reply& reply) {
    if (!OwnedOnly(caller, caller.state.sessions.Find(message.session))) return XR_ERROR_HANDLE_INVALID;
    return AnswerEnumeration(reply, message.capacity, std::span<const int64_t>(kSwapchainFormats));
}

XrResult HandleCreateSwapchain(const Caller& caller, const CreateSwapchainRequest& message, Reply& reply) {
    const auto session = OwnedOnly(caller, caller.state.sessions.Find(message.session));
    if (!session) {
        Log("CreateSwapchain : ERROR_HANDLE_INVALID");
        return XR_ERROR_HANDLE_INVALID;
    }
    std::shared_ptr<QorSwapchain> swapchain;
    try {
        swapchain = MakeSwapchain(caller.state.swapchains, *session, message);
    } catch (const std::bad_alloc&) {
        return XR_ERROR_OUT_OF_MEMORY;
    }
    if (const XrResult admitted = caller.state.swapchains.Admit(*swapchain); XR_FAILED(admitted)) {
        Log(admitted == XR_ERROR_LIMIT_REACHED ? "CreateSwapchain : ERROR_LIMIT_REACHED"
                                               : "CreateSwapchain : ERROR_OUT_OF_MEMORY");
        return admitted;
    }
    try {
        gpu::Device* device = caller.state.graphics.d3d11Device.get();
        if (device == nullptr) {
            swapchain->imageFailure = kImageStepFailed;  // no device to make them on
        } else {
            swapchain->CreateImages(*device);
        }
    } catch (const std::bad_alloc&) {
        caller.state.swapchains.Withdraw(*swapchain);
        return XR_ERROR_OUT_OF_MEMORY;
    }
    if (swapchain->imageFailure != 0) {
        Log("CREATE SWAPCHAIN IMAGE FAILD! REASON: " + std::to_string(swapchain->imageFailure));
    }
    // A swapchain left without a single image would be answered as a success the application
    // can never render into; it is refused instead. One that stopped part-way is kept with the
    // images it has (see UsableImageCount).
    if (swapchain->UsableImageCount() == 0) {
        caller.state.swapchains.Withdraw(*swapchain);
        Log("CreateSwapchain : ERROR_RUNTIME_FAILURE");
        return XR_ERROR_RUNTIME_FAILURE;
    }

    const uint64_t handle = caller.state.swapchains.Insert(swapchain);
    {
        std::lock_guard lock(session->swapchainsLock);
        session->swapchains.push_back(handle);
    }
    reply.Encode(HandleReply {handle});
    Log(CreatedLog(*swapchain));
    return XR_SUCCESS;
}

XrResult HandleDestroySwapchain(const Caller& caller, const DestroySwapchainRequest& message, Reply&) {
    // The textures go with the last holder of the object.
    const auto erased = caller.state.swapchains.Erase(message.handle, caller.client.ProcessId());
    if (!erased) return XR_ERROR_HANDLE_INVALID;
    // Its session forgets it too: a handle left in the list would make every later frame of
    // the session count as one with a missing swapchain.
    if (const auto session = caller.state.sessions.Find(erased->session)) {
        std::lock_guard lock(session->swapchainsLock);
        auto& handles = session->swapchains;
        handles.erase(std::remove(handles.begin(), handles.end(), message.handle), handles.end());
    }
    return XR_SUCCESS;
}

XrResult HandleEnumerateSwapchainImages(const Caller& caller, const EnumerateSwapchainImagesRequest& message, Reply& reply) {
    const auto swapchain = OwnedOnly(caller, caller.state.swapchains.Find(message.swapchain));
    if (!swapchain) return XR_ERROR_HANDLE_INVALID;
    // Only images that exist are reported (fewer than the image count when creation stopped).
    const int32_t count = swapchain->UsableImageCount();
    reply.Encode(IndexReply {static_cast<uint32_t>(count)});
    if (message.capacity != 0 && message.capacity < static_cast<uint32_t>(count)) return XR_ERROR_SIZE_INSUFFICIENT;
    if (message.capacity != 0 && !AppendImageRecords(caller, *swapchain, count, reply)) {
        return XR_ERROR_RUNTIME_FAILURE;
    }
    return XR_SUCCESS;
}

XrResult HandleAcquireSwapchainImage(const Caller& caller, const AcquireSwapchainImageRequest& message, Reply& reply) {
    const auto swapchain = OwnedOnly(caller, caller.state.swapchains.Find(message.swapchain));
    if (!swapchain) return XR_ERROR_HANDLE_INVALID;
    if (message.info.type != 0 && message.info.type != XR_TYPE_SWAPCHAIN_IMAGE_ACQUIRE_INFO) {
        return XR_ERROR_VALIDATION_FAILURE;
    }
    uint32_t index = 0;
    XrResult result;
    {
        std::lock_guard lock(swapchain->ringLock);
        result = swapchain->IsStatic() ? AcquireStatic(*swapchain, &index) : AcquireRing(*swapchain, &index);
    }
    if (XR_SUCCEEDED(result)) reply.Encode(IndexReply {index});
    return result;
}

XrResult HandleWaitSwapchainImage(const Caller& caller, const WaitSwapchainImageRequest& message, Reply&) {
    const auto swapchain = OwnedOnly(caller, caller.state.swapchains.Find(message.swapchain));
    if (!swapchain) return XR_ERROR_HANDLE_INVALID;
    // The timeout is not used: an acquired image is always ready, so waiting never blocks.
    std::lock_guard lock(swapchain->ringLock);
    if (swapchain->waitIndex == -1) return XR_ERROR_CALL_ORDER_INVALID;
    auto& state = swapchain->imageStates[static_cast<size_t>(swapchain->waitIndex)];
    if (state != ImageState::Acquired) return XR_ERROR_CALL_ORDER_INVALID;
    state = ImageState::Waited;
    return XR_SUCCESS;
}

XrResult HandleReleaseSwapchainImage(const Caller& caller, const ReleaseSwapchainImageRequest& message, Reply&) {
    const auto swapchain = OwnedOnly(caller, caller.state.swapchains.Find(message.swapchain));
    if (!swapchain) return XR_ERROR_HANDLE_INVALID;
    QorSwapchain& chain = *swapchain;
    std::lock_guard lock(chain.ringLock);
    if (chain.waitIndex == -1) return XR_ERROR_CALL_ORDER_INVALID;
    auto& state = chain.imageStates[static_cast<size_t>(chain.waitIndex)];
    if (state != ImageState::Waited) return XR_ERROR_CALL_ORDER_INVALID;
    if (chain.IsStatic()) {
        if (chain.lastReleased != -1) return XR_ERROR_CALL_ORDER_INVALID;
        state = ImageState::Available;
        chain.lastReleased = 0;
        chain.waitIndex = -1;
        return XR_SUCCESS;
    }
    state = ImageState::Available;
    chain.lastReleased = chain.waitIndex;
    chain.waitIndex = (chain.waitIndex + 1) % chain.UsableImageCount();
    if (chain.waitIndex == chain.nextIndex) chain.waitIndex = -1;
    return XR_SUCCESS;
}

}  // namespace qor
