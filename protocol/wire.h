// Packed little-endian encoding of the service pipe's bodies: no alignment padding, 8-byte
// fields at any offset, fixed-size character arrays at their full size, structures as
// (type, next, fields...). Both classes fail softly: after the first overflow every further
// call does nothing and ok() is false, so a caller checks once at the end.
#pragma once

#include <openxr/openxr.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

namespace qor::protocol {

// A request is at most 8191 bytes; a reply, and every receive buffer, 8192.
constexpr uint32_t kMaxRequestSize = 8191;
constexpr uint32_t kMaxReplySize = 8192;
constexpr uint32_t kReplyBodyOffset = 4;
constexpr uint32_t kMaxReplyBodySize = kMaxReplySize - kReplyBodyOffset;
constexpr uint32_t kRequestBodyOffset = 4;

// Wire widths of the composite values.
constexpr size_t kPoseSize = 28;
constexpr size_t kFovSize = 16;
constexpr size_t kRect2DiSize = 16;
constexpr size_t kVector2Size = 8;
constexpr size_t kStructHeaderSize = 12;  // u32 type, u64 next

class PacketWriter {
public:
    // Writes into buffer[start, capacity).
    PacketWriter(uint8_t* buffer, size_t capacity, size_t start = 0) : buffer_(buffer), capacity_(capacity), size_(start) {
        if (start > capacity) failed_ = true;
    }

    void U32(uint32_t value) { Put(&value, 4); }
    void I32(int32_t value) { Put(&value, 4); }
    void U64(uint64_t value) { Put(&value, 8); }
    void I64(int64_t value) { Put(&value, 8); }
    void F32(float value) { Put(&value, 4); }
    void Bytes(const void* data, size_t size) { Put(data, size); }
    void Zeros(size_t count);
    // A fixed-size character array at its full declared size, as it lies in memory.
    void FixedChars(const char* array, size_t declaredSize) { Put(array, declaredSize); }
    // A variable string argument: 8-byte length counting the NUL, then the bytes and the NUL.
    void String64(std::string_view text);
    // A string result: 4-byte length counting the NUL, then the bytes and the NUL.
    void String32(std::string_view text);
    void StructHeader(uint32_t type, uint64_t next) {
        U32(type);
        U64(next);
    }
    void Pose(const XrPosef& pose);
    void Fov(const XrFovf& fov);
    void Rect(const XrRect2Di& rect);
    void Vector2(const XrVector2f& value);
    void Extent2(const XrExtent2Df& value);

    bool ok() const { return !failed_; }
    size_t size() const { return size_; }
    size_t remaining() const { return failed_ ? 0 : capacity_ - size_; }

private:
    void Put(const void* data, size_t size);

    uint8_t* buffer_;
    size_t capacity_;
    size_t size_;
    bool failed_ = false;
};

class PacketReader {
public:
    PacketReader(const uint8_t* data, size_t size, size_t start = 0) : data_(data), size_(size), offset_(start) {
        if (start > size) failed_ = true;
    }

    uint32_t U32() { return Get<uint32_t>(); }
    int32_t I32() { return Get<int32_t>(); }
    uint64_t U64() { return Get<uint64_t>(); }
    int64_t I64() { return Get<int64_t>(); }
    float F32() { return Get<float>(); }
    // Copies `size` bytes; on overflow the destination is zero-filled.
    void Bytes(void* out, size_t size);
    // A view of the next `size` bytes, or nothing on overflow.
    const uint8_t* Take(size_t size);
    void Skip(size_t size) { Take(size); }
    // A fixed-size character array of `declaredSize` bytes into `out` (same size); the copy
    // is always NUL-terminated, so a sender that filled the whole array cannot overrun.
    void FixedChars(char* out, size_t declaredSize);
    // A variable string argument (8-byte length counting the NUL). Fails on a length of 0,
    // above `maxLength`, beyond the message, or a missing terminating NUL.
    std::optional<std::string_view> String64(uint64_t maxLength);
    // A string result (4-byte length counting the NUL), with the same rules.
    std::optional<std::string_view> String32(uint32_t maxLength);
    void StructHeader(uint32_t* type, uint64_t* next) {
        *type = U32();
        *next = U64();
    }
    // The bytes of a string whose length (counting the NUL) was read already.
    std::optional<std::string_view> StringOfLength(uint64_t length, uint64_t maxLength);
    XrPosef Pose();
    XrFovf Fov();
    XrRect2Di Rect();
    XrVector2f Vector2();
    XrExtent2Df Extent2();

    bool ok() const { return !failed_; }
    size_t offset() const { return offset_; }
    size_t remaining() const { return failed_ ? 0 : size_ - offset_; }

private:
    template <typename T>
    T Get() {
        T value {};
        Bytes(&value, sizeof value);
        return value;
    }

    const uint8_t* data_;
    size_t size_;
    size_t offset_;
    bool failed_ = false;
};

}  // namespace qor::protocol
