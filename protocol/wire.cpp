#include "protocol/wire.h"

namespace qor::protocol {

static_assert(sizeof(float) == 4 && sizeof(XrPosef) == kPoseSize && sizeof(XrFovf) == kFovSize &&
                  sizeof(XrRect2Di) == kRect2DiSize,
              "the composite values travel as they lie in memory");
static_assert(std::endian::native == std::endian::little, "the wire is little-endian, as are both targets");

void PacketWriter::Put(const void* data, size_t size) {
    if (failed_ || size > capacity_ - size_) {
        failed_ = true;
        return;
    }
    if (size != 0) std::memcpy(buffer_ + size_, data, size);
    size_ += size;
}

void PacketWriter::Zeros(size_t count) {
    if (failed_ || count > capacity_ - size_) {
        failed_ = true;
        return;
    }
    std::memset(buffer_ + size_, 0, count);
    size_ += count;
}

void PacketWriter::String64(std::string_view text) {
    U64(text.size() + 1);
    Put(text.data(), text.size());
    Zeros(1);
}

void PacketWriter::String32(std::string_view text) {
    U32(static_cast<uint32_t>(text.size() + 1));
    Put(text.data(), text.size());
    Zeros(1);
}

void PacketWriter::Pose(const XrPosef& pose) {
    F32(pose.orientation.x);
    F32(pose.orientation.y);
    F32(pose.orientation.z);
    F32(pose.orientation.w);
    F32(pose.position.x);
    F32(pose.position.y);
    F32(pose.position.z);
}

void PacketWriter::Fov(const XrFovf& fov) {
    F32(fov.angleLeft);
    F32(fov.angleRight);
    F32(fov.angleUp);
    F32(fov.angleDown);
}

void PacketWriter::Rect(const XrRect2Di& rect) {
    I32(rect.offset.x);
    I32(rect.offset.y);
    I32(rect.extent.width);
    I32(rect.extent.height);
}

void PacketWriter::Vector2(const XrVector2f& value) {
    F32(value.x);
    F32(value.y);
}

void PacketWriter::Extent2(const XrExtent2Df& value) {
    F32(value.width);
    F32(value.height);
}

const uint8_t* PacketReader::Take(size_t size) {
    if (failed_ || size > size_ - offset_) {
        failed_ = true;
        return nullptr;
    }
    const uint8_t* at = data_ + offset_;
    offset_ += size;
    return at;
}

void PacketReader::Bytes(void* out, size_t size) {
    const uint8_t* at = Take(size);
    if (at == nullptr) {
        if (size != 0) std::memset(out, 0, size);
        return;
    }
    if (size != 0) std::memcpy(out, at, size);
}

void PacketReader::FixedChars(char* out, size_t declaredSize) {
    if (declaredSize == 0) return;
    Bytes(out, declaredSize);
    out[declaredSize - 1] = '\0';
}

std::optional<std::string_view> PacketReader::StringOfLength(uint64_t length, uint64_t maxLength) {
    if (failed_ || length == 0 || length > maxLength || length > size_ - offset_) {
        failed_ = true;
        return std::nullopt;
    }
    const auto* bytes = reinterpret_cast<const char*>(Take(static_cast<size_t>(length)));
    if (bytes[length - 1] != '\0') {
        failed_ = true;
        return std::nullopt;
    }
    return std::string_view(bytes, static_cast<size_t>(length - 1));
}

std::optional<std::string_view> PacketReader::String64(uint64_t maxLength) {
    const uint64_t length = U64();
    return StringOfLength(length, maxLength);
}

std::optional<std::string_view> PacketReader::String32(uint32_t maxLength) {
    const uint32_t length = U32();
    return StringOfLength(length, maxLength);
}

XrPosef PacketReader::Pose() {
    XrPosef pose {};
    pose.orientation.x = F32();
    pose.orientation.y = F32();
    pose.orientation.z = F32();
    pose.orientation.w = F32();
    pose.position.x = F32();
    pose.position.y = F32();
    pose.position.z = F32();
    return pose;
}

XrFovf PacketReader::Fov() {
    XrFovf fov {};
    fov.angleLeft = F32();
    fov.angleRight = F32();
    fov.angleUp = F32();
    fov.angleDown = F32();
    return fov;
}

XrRect2Di PacketReader::Rect() {
    XrRect2Di rect {};
    rect.offset.x = I32();
    rect.offset.y = I32();
    rect.extent.width = I32();
    rect.extent.height = I32();
    return rect;
}

XrVector2f PacketReader::Vector2() {
    XrVector2f value {};
    value.x = F32();
    value.y = F32();
    return value;
}

XrExtent2Df PacketReader::Extent2() {
    XrExtent2Df value {};
    value.width = F32();
    value.height = F32();
    return value;
}

}  // namespace qor::protocol
