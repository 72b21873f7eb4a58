// The building blocks of the per-operation layouts. Each message is a plain struct whose
// Fields(f) member lists its fields in wire order; one visitor writes them and another
// reads them, so the runtime library and the service share one definition of every layout.
#pragma once

#include "protocol/op_codes.h"
#include "protocol/wire.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace qor::protocol {

// The (type, next) head of a packed OpenXR structure record.
struct StructHeader {
    uint32_t type = 0;
    uint64_t next = 0;
};

// A fixed-size character array at its full declared size.
template <size_t N>
struct Chars {
    std::array<char, N> text {};
    void Set(const char* source) {  // copies the whole array as the application holds it
        for (size_t i = 0; i < N; ++i) text[i] = source[i];
    }
    std::string_view View() const {
        size_t length = 0;
        while (length < N && text[length] != '\0') ++length;
        return std::string_view(text.data(), length);
    }
};

// A fixed-size UTF-16 array (2 bytes per unit).
template <size_t N>
struct Chars16 {
    std::array<char16_t, N> text {};
};

// Bytes that carry nothing; written as zeros and skipped by the reader.
template <size_t N>
struct Padding {};

// An array argument: u32 count, then the packed elements. When encoding, `items` points at
// the elements (no copy); decoding fills `storage` and points `items` at it.
template <typename T>
struct List {
    std::span<const T> items;
    std::vector<T> storage;
};

// Elements of an enumeration reply, after a count that the message holds as its own field.
// They are present only when the request's capacity was non-zero: the writer sends whatever
// `items` holds, and the reader takes `count` elements when the reply carries them.
template <typename T>
struct Elements {
    std::span<const T> items;
    std::vector<T> storage;
};

// A variable string with an 8-byte length that counts the NUL. `present` false travels as
// length 0 with no bytes (the NULL layer name of code 10001), and reads back so.
struct String64 {
    bool present = true;
    std::string_view text;
    std::string storage;
};

// A string result with a 4-byte length that counts the NUL, followed by the bytes when the
// request's capacity allowed them.
struct CountedString32 {
    uint32_t length = 0;  // including the NUL
    std::string_view text;
    bool withText = false;
    std::string storage;
};

// The optional info of xrAcquireSwapchainImage, xrWaitFrame and xrBeginFrame: its type (0
// when the application passed no info) and, when there is one, its next.
struct OptionalInfo {
    uint32_t type = 0;
    uint64_t next = 0;
};

// A value at the end of a message that may be left out: the writer sends it when `present`,
// the reader takes it when bytes remain.
template <typename T>
struct Trailing {
    bool present = false;
    T value {};
};

// Everything after the fixed part of a message, kept as bytes (events, chained records).
struct Rest {
    std::span<const uint8_t> bytes;
};

template <typename T>
concept HasFields = requires(T& value, int& visitor) { value.Fields(visitor); };

// Writes fields in order into a PacketWriter.
class FieldWriter {
public:
    explicit FieldWriter(PacketWriter& writer) : w_(writer) {}

    template <typename T>
        requires std::is_arithmetic_v<T>
    void operator()(const T& value) {
        static_assert(sizeof(T) == 4 || sizeof(T) == 8, "wire integers are 4 or 8 bytes");
        w_.Bytes(&value, sizeof value);
    }
    template <typename T>
        requires std::is_enum_v<T>
    void operator()(const T& value) {
        (*this)(static_cast<std::underlying_type_t<T>>(value));
    }
    void operator()(const XrPosef& value) { w_.Pose(value); }
    void operator()(const XrFovf& value) { w_.Fov(value); }
    void operator()(const XrRect2Di& value) { w_.Rect(value); }
    void operator()(const XrVector2f& value) { w_.Vector2(value); }
    void operator()(const XrExtent2Df& value) { w_.Extent2(value); }
    void operator()(const StructHeader& value) { w_.StructHeader(value.type, value.next); }
    template <size_t N>
    void operator()(const Chars<N>& value) {
        w_.FixedChars(value.text.data(), N);
    }
    template <size_t N>
    void operator()(const Chars16<N>& value) {
        w_.Bytes(value.text.data(), 2 * N);
    }
    template <size_t N>
    void operator()(const Padding<N>&) {
        w_.Zeros(N);
    }
    template <typename T>
    void operator()(const List<T>& value) {
        w_.U32(static_cast<uint32_t>(value.items.size()));
        for (const T& item : value.items) (*this)(item);
    }
    template <typename T>
    void operator()(const Elements<T>& value) {
        for (const T& item : value.items) (*this)(item);
    }
    void operator()(const String64& value) {
        if (!value.present) {
            w_.U64(0);
            return;
        }
        w_.String64(value.text);
    }
    void operator()(const CountedString32& value) {
        w_.U32(value.length);
        if (value.withText) {
            w_.Bytes(value.text.data(), value.text.size());
            w_.Zeros(1);
        }
    }
    void operator()(const OptionalInfo& value) {
        w_.U32(value.type);
        if (value.type != 0) w_.U64(value.next);
    }
    void operator()(const Rest& value) { w_.Bytes(value.bytes.data(), value.bytes.size()); }
    template <typename T>
    void operator()(const Trailing<T>& value) {
        if (value.present) (*this)(value.value);
    }
    template <typename T>
        requires HasFields<T>
    void operator()(const T& value) {
        const_cast<T&>(value).Fields(*this);
    }

private:
    PacketWriter& w_;
};

// Counts the wire size of a fixed-shape value (used to bound element counts before reading).
class SizeCounter {
public:
    template <typename T>
        requires(std::is_arithmetic_v<T> || std::is_enum_v<T>)
    void operator()(const T&) {
        size += sizeof(T);
    }
    void operator()(const XrPosef&) { size += kPoseSize; }
    void operator()(const XrFovf&) { size += kFovSize; }
    void operator()(const XrRect2Di&) { size += kRect2DiSize; }
    void operator()(const XrVector2f&) { size += kVector2Size; }
    void operator()(const XrExtent2Df&) { size += kVector2Size; }
    void operator()(const StructHeader&) { size += kStructHeaderSize; }
    template <size_t N>
    void operator()(const Chars<N>&) {
        size += N;
    }
    template <size_t N>
    void operator()(const Chars16<N>&) {
        size += 2 * N;
    }
    template <size_t N>
    void operator()(const Padding<N>&) {
        size += N;
    }
    template <typename T>
        requires HasFields<T>
    void operator()(const T& value) {
        const_cast<T&>(value).Fields(*this);
    }

    size_t size = 0;
};

template <typename T>
size_t WireSizeOf() {
    SizeCounter counter;
    counter(T {});
    return counter.size;
}

// Reads fields in order from a PacketReader; a malformed message leaves ok() false.
class FieldReader {
public:
    explicit FieldReader(PacketReader& reader) : r_(reader) {}

    template <typename T>
        requires std::is_arithmetic_v<T>
    void operator()(T& value) {
        static_assert(sizeof(T) == 4 || sizeof(T) == 8, "wire integers are 4 or 8 bytes");
        r_.Bytes(&value, sizeof value);
    }
    template <typename T>
        requires std::is_enum_v<T>
    void operator()(T& value) {
        std::underlying_type_t<T> raw {};
        (*this)(raw);
        value = static_cast<T>(raw);
    }
    void operator()(XrPosef& value) { value = r_.Pose(); }
    void operator()(XrFovf& value) { value = r_.Fov(); }
    void operator()(XrRect2Di& value) { value = r_.Rect(); }
    void operator()(XrVector2f& value) { value = r_.Vector2(); }
    void operator()(XrExtent2Df& value) { value = r_.Extent2(); }
    void operator()(StructHeader& value) { r_.StructHeader(&value.type, &value.next); }
    template <size_t N>
    void operator()(Chars<N>& value) {
        r_.FixedChars(value.text.data(), N);
    }
    template <size_t N>
    void operator()(Chars16<N>& value) {
        r_.Bytes(value.text.data(), 2 * N);
        value.text[N - 1] = u'\0';
    }
    template <size_t N>
    void operator()(Padding<N>&) {
        r_.Skip(N);
    }
    template <typename T>
    void operator()(List<T>& value) {
        ReadElements(value, r_.U32());
    }
    template <typename T>
    void operator()(Elements<T>& value) {
        value.storage.clear();
        value.items = {};
        const size_t count = lastCount_;
        // Present only when the reply carries them (the request's capacity was non-zero).
        if (count == 0 || r_.remaining() < count * WireSizeOf<T>()) return;
        ReadElements(value, static_cast<uint32_t>(count));
    }
    void operator()(String64& value) {
        // Length 0 stands for a NULL string; any other length must hold its bytes and NUL.
        const uint64_t length = r_.U64();
        if (length == 0 && r_.ok()) {
            value = String64 {false, {}, {}};
            return;
        }
        const auto text = r_.StringOfLength(length, maxString_);
        value.present = text.has_value();
        value.storage = text ? std::string(*text) : std::string();
        value.text = value.storage;
    }
    void operator()(CountedString32& value) {
        value.length = r_.U32();
        value.withText = false;
        value.storage.clear();
        if (value.length == 0 || r_.remaining() < value.length) {
            value.text = {};
            return;
        }
        const auto* bytes = reinterpret_cast<const char*>(r_.Take(value.length));
        value.storage.assign(bytes, value.length - 1);  // the terminator is always added back
        value.text = value.storage;
        value.withText = true;
    }
    void operator()(OptionalInfo& value) {
        value.type = r_.U32();
        value.next = value.type != 0 ? r_.U64() : 0;
    }
    template <typename T>
    void operator()(Trailing<T>& value) {
        value.present = r_.ok() && r_.remaining() > 0;
        if (value.present) (*this)(value.value);
    }
    void operator()(Rest& value) {
        const size_t size = r_.remaining();
        const uint8_t* bytes = r_.Take(size);
        value.bytes = bytes ? std::span<const uint8_t>(bytes, size) : std::span<const uint8_t>();
    }
    template <typename T>
        requires HasFields<T>
    void operator()(T& value) {
        value.Fields(*this);
    }

    // An enumeration's count field, read just before its Elements.
    void Count(uint32_t& count) {
        (*this)(count);
        lastCount_ = count;
    }
    // Longest String64 accepted (length counting the NUL).
    void SetStringLimit(uint64_t limit) { maxString_ = limit; }

private:
    template <typename Container>
    void ReadElements(Container& value, uint32_t count) {
        value.storage.clear();
        value.items = {};
        using T = typename decltype(value.storage)::value_type;
        // Every element takes at least its fixed size, so a count beyond the message is refused
        // before anything is allocated.
        const size_t elementSize = std::max<size_t>(1, WireSizeOf<T>());
        if (!r_.ok() || count > r_.remaining() / elementSize) {
            r_.Skip(r_.remaining() + 1);  // marks the reader failed
            return;
        }
        value.storage.resize(count);
        for (auto& item : value.storage) (*this)(item);
        value.items = value.storage;
    }

    PacketReader& r_;
    size_t lastCount_ = 0;
    uint64_t maxString_ = kMaxRequestSize;
};

// The writer's counterpart of FieldReader::Count.
inline void CountField(FieldWriter& writer, const uint32_t& count) { writer(count); }
inline void CountField(FieldReader& reader, uint32_t& count) { reader.Count(count); }
inline void CountField(SizeCounter& counter, const uint32_t& count) { counter(count); }

// A request: the operation code then the body. Returns the message size, or 0 when it
// does not fit the buffer.
template <typename Message>
uint32_t EncodeRequest(const Message& message, uint8_t* buffer, size_t capacity) {
    PacketWriter writer(buffer, capacity);
    writer.U32(static_cast<uint32_t>(OperationOf<Message>::op));
    FieldWriter fields(writer);
    fields(message);
    return writer.ok() ? static_cast<uint32_t>(writer.size()) : 0;
}

// Reads a request body (after the 4-byte code). False when it is shorter than its layout.
template <typename Message>
bool DecodeRequest(const uint8_t* request, size_t size, Message* message) {
    PacketReader reader(request, size, kRequestBodyOffset);
    FieldReader fields(reader);
    fields(*message);
    return reader.ok();
}

// Appends a reply body at *replySize (which starts at 4, after the result slot).
template <typename Message>
bool EncodeReply(const Message& message, uint8_t* reply, uint32_t* replySize) {
    PacketWriter writer(reply, kMaxReplySize, *replySize);
    FieldWriter fields(writer);
    fields(message);
    if (!writer.ok()) return false;
    *replySize = static_cast<uint32_t>(writer.size());
    return true;
}

// Reads a reply body (after the 4-byte result).
template <typename Message>
bool DecodeReply(const uint8_t* reply, size_t size, Message* message) {
    PacketReader reader(reply, size, kReplyBodyOffset);
    FieldReader fields(reader);
    fields(*message);
    return reader.ok();
}

}  // namespace qor::protocol
