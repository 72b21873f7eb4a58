// Drives PacketReader through a sequence of reads picked by the input, checking each read
// against what the bytes say it must return, and that a failure is sticky and the offset
// never leaves the message.
//
// Input: [op count][start] then per op [kind][argument], then the message the reader reads.
// The message is the tail of the fuzzer's buffer, so a read past its end hits the redzone.
#include "protocol/wire.h"

#include <openxr/openxr.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>

// Undefined behaviour counts as a finding, not a line on stderr the fuzzer never reads.
extern "C" const char* __ubsan_default_options() { return "halt_on_error=1:print_stacktrace=1"; }

namespace {

using qor::protocol::PacketReader;

inline void Require(bool holds) {
    if (!holds) __builtin_trap();
}

enum Kind : uint8_t {
    kU32,
    kI32,
    kU64,
    kI64,
    kF32,
    kBytes,
    kTake,
    kSkip,
    kFixedChars,
    kString64,
    kString32,
    kStructHeader,
    kPose,
    kFov,
    kRect,
    kVector2,
    kExtent2,
    kKindCount,
};

constexpr size_t kMaxCopy = 256;  // Bytes/FixedChars sizes come from one argument byte

// Lengths for Take/Skip, including ones that overflow `offset + size` arithmetic.
constexpr std::array<size_t, 16> kTakeSizes = {
    0, 1, 2, 3, 4, 7, 8, 12, 16, 28, 64, 255, 4096,
    std::numeric_limits<size_t>::max() / 2, std::numeric_limits<size_t>::max() - 1, std::numeric_limits<size_t>::max()};

// String limits, from "nothing fits" to "no limit at all".
constexpr std::array<uint64_t, 8> kStringLimits = {0, 1, 2, 8, 64, 256, 0xFFFFFFFFu, std::numeric_limits<uint64_t>::max()};

// Fixed-size reads: the composite values travel exactly as they lie in memory.
template <typename T, typename ReadFn>
void CheckFixed(PacketReader& reader, const uint8_t* message, size_t size, ReadFn read) {
    const bool wasOk = reader.ok();
    const size_t before = reader.offset();
    const T value = read();
    if (wasOk && sizeof(T) <= size - before) {
        Require(reader.ok());
        Require(reader.offset() == before + sizeof(T));
        Require(std::memcmp(&value, message + before, sizeof(T)) == 0);
    } else {
        Require(!reader.ok());
        // A composite may have consumed its leading fields before running out.
        Require(reader.offset() >= before && (!wasOk || reader.offset() < before + sizeof(T)));
    }
}

void CheckString(PacketReader& reader, const uint8_t* message, size_t size, size_t prefixSize, uint64_t limit) {
    const bool wasOk = reader.ok();
    const size_t before = reader.offset();

    // What the bytes say: a length prefix counting the NUL, then the text and its NUL.
    bool valid = false;
    uint64_t length = 0;
    if (wasOk && prefixSize <= size - before) {
        if (prefixSize == 8) {
            std::memcpy(&length, message + before, 8);
        } else {
            uint32_t shortLength;
            std::memcpy(&shortLength, message + before, 4);
            length = shortLength;
        }
        const size_t left = size - before - prefixSize;
        valid = length != 0 && length <= limit && length <= left && message[before + prefixSize + length - 1] == 0;
    }

    std::optional<std::string_view> text;
    if (prefixSize == 8) {
        text = reader.String64(limit);
    } else {
        text = reader.String32(static_cast<uint32_t>(limit));
    }

    Require(text.has_value() == valid);
    Require(reader.ok() == valid);
    if (valid) {
        const auto* start = reinterpret_cast<const char*>(message + before + prefixSize);
        Require(text->data() == start);
        Require(text->size() + 1 == length);
        Require(reader.offset() == before + prefixSize + length);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return -1;
    const size_t opCount = data[0] % 64;
    const size_t headerSize = 2 + 2 * opCount;
    if (size < headerSize) return -1;
    const uint8_t* ops = data + 2;
    const uint8_t* message = data + headerSize;
    const size_t messageSize = size - headerSize;
    // Mostly a start inside the message; 255 and anything beyond the message test the
    // constructor's refusal.
    const size_t start = data[1];

    PacketReader reader(message, messageSize, start);
    const bool startInside = start <= messageSize;
    Require(reader.ok() == startInside);

    bool failed = !reader.ok();
    size_t lastOffset = reader.offset();
    for (size_t i = 0; i < opCount; ++i) {
        const uint8_t kind = ops[2 * i] % kKindCount;
        const uint8_t argument = ops[2 * i + 1];
        const size_t before = reader.offset();

        switch (kind) {
            case kU32: CheckFixed<uint32_t>(reader, message, messageSize, [&] { return reader.U32(); }); break;
            case kI32: CheckFixed<int32_t>(reader, message, messageSize, [&] { return reader.I32(); }); break;
            case kU64: CheckFixed<uint64_t>(reader, message, messageSize, [&] { return reader.U64(); }); break;
            case kI64: CheckFixed<int64_t>(reader, message, messageSize, [&] { return reader.I64(); }); break;
            case kF32: CheckFixed<float>(reader, message, messageSize, [&] { return reader.F32(); }); break;
            case kPose: CheckFixed<XrPosef>(reader, message, messageSize, [&] { return reader.Pose(); }); break;
            case kFov: CheckFixed<XrFovf>(reader, message, messageSize, [&] { return reader.Fov(); }); break;
            case kRect: CheckFixed<XrRect2Di>(reader, message, messageSize, [&] { return reader.Rect(); }); break;
            case kVector2: CheckFixed<XrVector2f>(reader, message, messageSize, [&] { return reader.Vector2(); }); break;
            case kExtent2: CheckFixed<XrExtent2Df>(reader, message, messageSize, [&] { return reader.Extent2(); }); break;
            case kStructHeader:
                CheckFixed<std::array<uint8_t, 12>>(reader, message, messageSize, [&] {
                    uint32_t type = 0;
                    uint64_t next = 0;
                    reader.StructHeader(&type, &next);
                    std::array<uint8_t, 12> packed;
                    std::memcpy(packed.data(), &type, 4);
                    std::memcpy(packed.data() + 4, &next, 8);
                    return packed;
                });
                break;
            case kBytes: {
                const size_t count = argument;
                std::array<uint8_t, kMaxCopy> out;
                out.fill(0x5A);
                const bool wasOk = reader.ok();
                reader.Bytes(out.data(), count);
                if (wasOk && count <= messageSize - before) {
                    Require(reader.ok() && reader.offset() == before + count);
                    Require(count == 0 || std::memcmp(out.data(), message + before, count) == 0);
                } else {
                    // The destination is zero-filled, so a caller that checks ok() late reads no garbage.
                    Require(!reader.ok() && reader.offset() == before);
                    for (size_t b = 0; b < count; ++b) Require(out[b] == 0);
                }
                // Nothing beyond the requested count is touched.
                for (size_t b = count; b < kMaxCopy; ++b) Require(out[b] == 0x5A);
                break;
            }
            case kTake:
            case kSkip: {
                const size_t count = kTakeSizes[argument % kTakeSizes.size()];
                const bool wasOk = reader.ok();
                const uint8_t* view = nullptr;
                if (kind == kTake) {
                    view = reader.Take(count);
                } else {
                    reader.Skip(count);
                }
                if (wasOk && count <= messageSize - before) {
                    Require(reader.ok() && reader.offset() == before + count);
                    if (kind == kTake) Require(view == message + before);
                } else {
                    Require(!reader.ok() && reader.offset() == before && view == nullptr);
                }
                break;
            }
            case kFixedChars: {
                const size_t declared = argument;
                std::array<char, kMaxCopy> out;
                out.fill('Z');
                const bool wasOk = reader.ok();
                reader.FixedChars(out.data(), declared);
                if (declared == 0) {
                    Require(reader.ok() == wasOk && reader.offset() == before);
                } else {
                    // Always terminated, whatever the sender put in the last byte.
                    Require(out[declared - 1] == '\0');
                    if (wasOk && declared <= messageSize - before) {
                        Require(reader.ok() && reader.offset() == before + declared);
                        Require(std::memcmp(out.data(), message + before, declared - 1) == 0);
                    } else {
                        Require(!reader.ok() && reader.offset() == before);
                    }
                }
                for (size_t b = declared; b < kMaxCopy; ++b) Require(out[b] == 'Z');
                break;
            }
            case kString64:
                CheckString(reader, message, messageSize, 8, kStringLimits[argument % kStringLimits.size()]);
                break;
            case kString32:
                CheckString(reader, message, messageSize, 4, kStringLimits[argument % kStringLimits.size()] & 0xFFFFFFFFu);
                break;
            default: __builtin_unreachable();
        }

        // Sticky failure: once failed, no read succeeds or moves the offset again.
        if (failed) Require(!reader.ok() && reader.offset() == lastOffset);
        failed = !reader.ok();
        // The offset only moves forward and, from a start inside the message, stays inside it.
        Require(reader.offset() >= lastOffset);
        if (startInside) Require(reader.offset() <= messageSize);
        Require(reader.remaining() == (reader.ok() ? messageSize - reader.offset() : 0));
        lastOffset = reader.offset();
    }
    return 0;
}
