#include "protocol/layouts.h"

namespace qor::protocol {

namespace {
LayerHeaderRecord HeaderOf(const XrCompositionLayerBaseHeader& layer, uint32_t viewCountOrEyeVisibility) {
    LayerHeaderRecord header;
    header.type = static_cast<uint32_t>(layer.type);
    header.next = reinterpret_cast<uint64_t>(layer.next);
    header.layerFlags = layer.layerFlags;
    header.space = reinterpret_cast<uint64_t>(layer.space);
    header.viewCountOrEyeVisibility = viewCountOrEyeVisibility;
    return header;
}

uint64_t HandleValue(XrSwapchain swapchain) { return reinterpret_cast<uint64_t>(swapchain); }
}  // namespace

bool WriteProjectionLayer(PacketWriter& writer, const XrCompositionLayerProjection& layer) {
    FieldWriter fields(writer);
    fields(HeaderOf(reinterpret_cast<const XrCompositionLayerBaseHeader&>(layer), layer.viewCount));
    for (uint32_t i = 0; i < layer.viewCount && writer.ok(); ++i) {
        const XrCompositionLayerProjectionView& view = layer.views[i];
        ProjectionViewRecord record;
        record.header = {static_cast<uint32_t>(view.type), reinterpret_cast<uint64_t>(view.next)};
        record.pose = view.pose;
        record.fov = view.fov;
        record.swapchain = HandleValue(view.subImage.swapchain);
        record.imageRect = view.subImage.imageRect;
        record.imageArrayIndex = view.subImage.imageArrayIndex;
        fields(record);
    }
    return writer.ok();
}

bool WriteQuadLayer(PacketWriter& writer, const XrCompositionLayerQuad& layer) {
    FieldWriter fields(writer);
    fields(HeaderOf(reinterpret_cast<const XrCompositionLayerBaseHeader&>(layer),
                    static_cast<uint32_t>(layer.eyeVisibility)));
    QuadLayerBodyRecord body;
    body.swapchain = HandleValue(layer.subImage.swapchain);
    body.imageRect = layer.subImage.imageRect;
    body.imageArrayIndex = layer.subImage.imageArrayIndex;
    body.pose = layer.pose;
    body.size = layer.size;
    fields(body);
    return writer.ok();
}

bool ReadLayers(std::span<const uint8_t> bytes, uint32_t count, std::vector<LayerRecord>* layers) {
    layers->clear();
    PacketReader reader(bytes.data(), bytes.size());
    FieldReader fields(reader);
    // Each layer takes at least its header; a larger count cannot be genuine.
    if (count > bytes.size() / kLayerHeaderSize) return false;
    layers->reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        LayerRecord layer;
        fields(layer.header);
        if (!reader.ok()) return false;
        if (layer.header.type == XR_TYPE_COMPOSITION_LAYER_PROJECTION) {
            if (layer.header.ViewCount() > reader.remaining() / kProjectionViewSize) return false;
            layer.views.resize(layer.header.ViewCount());
            for (auto& view : layer.views) fields(view);
        } else if (layer.header.type == XR_TYPE_COMPOSITION_LAYER_QUAD) {
            fields(layer.quad);
        } else {
            return false;
        }
        if (!reader.ok()) return false;
        layers->push_back(std::move(layer));
    }
    return true;
}

size_t EventCopySize(uint32_t type) {
    switch (type) {
        case XR_TYPE_EVENT_DATA_INSTANCE_LOSS_PENDING:
        case XR_TYPE_EVENT_DATA_EVENTS_LOST:
        case XR_TYPE_EVENT_DATA_INTERACTION_PROFILE_CHANGED:
            return 24;
        case XR_TYPE_EVENT_DATA_SESSION_STATE_CHANGED:
            return 40;
        case XR_TYPE_EVENT_DATA_REFERENCE_SPACE_CHANGE_PENDING:
            return 72;
        default:
            return 0;
    }
}

bool WriteD3D12ImageRecord(PacketWriter& writer, const StructHeader& header, std::u16string_view shareName) {
    writer.StructHeader(header.type, header.next);
    writer.U64(shareName.size() + 1);
    writer.Bytes(shareName.data(), 2 * shareName.size());
    writer.Zeros(2);
    return writer.ok();
}

bool ReadD3D12ImageRecord(PacketReader& reader, SwapchainImageD3D12Record* record) {
    reader.StructHeader(&record->header.type, &record->header.next);
    const uint64_t units = reader.U64();
    if (!reader.ok() || units == 0 || units > reader.remaining() / 2) return false;
    record->shareName.resize(static_cast<size_t>(units));
    reader.Bytes(record->shareName.data(), 2 * static_cast<size_t>(units));
    if (!reader.ok() || record->shareName.back() != u'\0') return false;
    record->shareName.pop_back();
    return true;
}

}  // namespace qor::protocol
