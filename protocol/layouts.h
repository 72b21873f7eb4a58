// Layouts whose shape depends on their content: frame-end layers, the records chained after
// the system properties, events and swapchain image records.
#pragma once

#include "protocol/messages.h"

#include <optional>
#include <string>

namespace qor::protocol {

// ---- xrEndFrame layers ----

// Every layer starts with this 32-byte header. Its last field is the first one where the
// layer types differ: viewCount for a projection layer, eyeVisibility for a quad layer.
struct LayerHeaderRecord {
    uint32_t type = 0;
    uint64_t next = 0;
    uint64_t layerFlags = 0;
    uint64_t space = 0;
    uint32_t viewCountOrEyeVisibility = 0;
    template <class F> void Fields(F& f) { f(type); f(next); f(layerFlags); f(space); f(viewCountOrEyeVisibility); }

    uint32_t ViewCount() const { return viewCountOrEyeVisibility; }       // projection layers
    uint32_t EyeVisibility() const { return viewCountOrEyeVisibility; }  // quad layers
};

struct ProjectionViewRecord {  // 88 bytes
    StructHeader header;
    XrPosef pose {};
    XrFovf fov {};
    uint64_t swapchain = 0;
    XrRect2Di imageRect {};
    uint32_t imageArrayIndex = 0;
    Padding<4> padding;
    template <class F> void Fields(F& f) { f(header); f(pose); f(fov); f(swapchain); f(imageRect); f(imageArrayIndex); f(padding); }
};

struct QuadLayerBodyRecord {  // 68 bytes after the layer header
    uint64_t swapchain = 0;
    XrRect2Di imageRect {};
    uint32_t imageArrayIndex = 0;
    Padding<4> padding;
    XrPosef pose {};
    XrExtent2Df size {};
    template <class F> void Fields(F& f) { f(swapchain); f(imageRect); f(imageArrayIndex); f(padding); f(pose); f(size); }
};

constexpr size_t kEndFrameHeaderSize = 40;
constexpr size_t kLayerHeaderSize = 32;
constexpr size_t kProjectionViewSize = 88;
constexpr size_t kQuadLayerSize = 100;

// One decoded layer: a projection layer with its views, or a quad layer.
struct LayerRecord {
    LayerHeaderRecord header;
    std::vector<ProjectionViewRecord> views;
    QuadLayerBodyRecord quad;
};

// Writes a layer's records; false when they do not fit.
bool WriteProjectionLayer(PacketWriter& writer, const XrCompositionLayerProjection& layer);
bool WriteQuadLayer(PacketWriter& writer, const XrCompositionLayerQuad& layer);

// Reads `count` layers of the given bytes. Fails on a type other than projection or quad,
// or on bytes that end early.
bool ReadLayers(std::span<const uint8_t> bytes, uint32_t count, std::vector<LayerRecord>* layers);

// ---- Records chained after the system properties ----

struct HandTrackingPropertiesRecord {  // 16 bytes
    StructHeader header;
    uint32_t supportsHandTracking = 0;
    template <class F> void Fields(F& f) { f(header); f(supportsHandTracking); }
};

struct EyeGazeInteractionPropertiesRecord {  // 16 bytes
    StructHeader header;
    uint32_t supportsEyeGazeInteraction = 0;
    template <class F> void Fields(F& f) { f(header); f(supportsEyeGazeInteraction); }
};

struct HandTrackingMeshPropertiesRecord {  // 24 bytes
    StructHeader header;
    uint32_t supportsHandTrackingMesh = 0;
    uint32_t maxHandMeshIndexCount = 0;
    uint32_t maxHandMeshVertexCount = 0;
    template <class F> void Fields(F& f) { f(header); f(supportsHandTrackingMesh); f(maxHandMeshIndexCount); f(maxHandMeshVertexCount); }
};

// ---- Events ----

// How many bytes of an event the runtime library copies into the application's buffer;
// 0 for event types it does not know (only the type is stored then).
size_t EventCopySize(uint32_t type);

// ---- Swapchain images ----

struct SwapchainImageD3D11Record {  // 20 bytes
    StructHeader header;
    uint64_t sharedHandle = 0;
    template <class F> void Fields(F& f) { f(header); f(sharedHandle); }
};

// D3D12: type, next, u64 N (UTF-16 units of the share name with its NUL), N units.
struct SwapchainImageD3D12Record {
    StructHeader header;
    std::u16string shareName;  // without the NUL
};
bool WriteD3D12ImageRecord(PacketWriter& writer, const StructHeader& header, std::u16string_view shareName);
bool ReadD3D12ImageRecord(PacketReader& reader, SwapchainImageD3D12Record* record);

}  // namespace qor::protocol
