// A scripted stand-in for the XR service: it answers liveness probes, records every other
// request's bytes and answers each with the next prepared reply.
#pragma once

#include "platform/pipe.h"
#include "protocol/fields.h"

#include <openxr/openxr.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qor::test {

using Bytes = std::vector<uint8_t>;

// Builds expected byte sequences by hand, independent of the encoders under test.
class ByteBuilder {
public:
    ByteBuilder& U32(uint32_t value) { return Raw(&value, 4); }
    ByteBuilder& I32(int32_t value) { return Raw(&value, 4); }
    ByteBuilder& U64(uint64_t value) { return Raw(&value, 8); }
    ByteBuilder& I64(int64_t value) { return Raw(&value, 8); }
    ByteBuilder& F32(float value) { return Raw(&value, 4); }
    ByteBuilder& Zeros(size_t count) {
        bytes_.insert(bytes_.end(), count, 0);
        return *this;
    }
    // A character array of `size` bytes holding `text` and NUL padding.
    ByteBuilder& Chars(const std::string& text, size_t size) {
        const size_t start = bytes_.size();
        bytes_.insert(bytes_.end(), text.begin(), text.end());
        bytes_.resize(start + size, 0);
        return *this;
    }
    ByteBuilder& Header(uint32_t type, uint64_t next = 0) { return U32(type).U64(next); }
    ByteBuilder& Pose(const XrPosef& pose) {
        return F32(pose.orientation.x).F32(pose.orientation.y).F32(pose.orientation.z).F32(pose.orientation.w)
            .F32(pose.position.x).F32(pose.position.y).F32(pose.position.z);
    }
    ByteBuilder& Raw(const void* data, size_t size) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        bytes_.insert(bytes_.end(), bytes, bytes + size);
        return *this;
    }
    const Bytes& Get() const { return bytes_; }
    operator Bytes() const { return bytes_; }

private:
    Bytes bytes_;
};

struct PreparedReply {
    XrResult result = XR_SUCCESS;
    Bytes body;
};

class FakeService {
public:
    // Serves "NorvikOpenXRPipe" in the current NORVIK_PIPE_DIR with `instances` instances.
    explicit FakeService(uint32_t instances = 4);
    ~FakeService();

    // The next request gets this reply; without prepared replies the answer is XR_SUCCESS
    // with an empty body.
    void Reply(XrResult result, Bytes body = {});
    template <typename Message>
    void ReplyWith(XrResult result, const Message& message) {
        uint8_t buffer[protocol::kMaxReplySize];
        uint32_t size = protocol::kReplyBodyOffset;
        protocol::EncodeReply(message, buffer, &size);
        Reply(result, Bytes(buffer + protocol::kReplyBodyOffset, buffer + size));
    }

    // Requests other than liveness probes, in arrival order.
    std::vector<Bytes> Requests();
    Bytes LastRequest();
    size_t RequestCount();
    size_t ProbeCount();
    void ClearRequests();
    // Ends serving: the pipe disappears. Held replies are released first.
    void Stop();

    // Until ReleaseReplies(), every request after this call is recorded and then held
    // unanswered, keeping its pipe instance busy (probes are still answered at once).
    void HoldReplies();
    void ReleaseReplies();

private:
    void Handle(const uint8_t* request, uint32_t size, uint8_t* reply, uint32_t* replySize);

    std::mutex mutex_;
    std::condition_variable released_;
    bool holding_ = false;
    std::deque<PreparedReply> replies_;
    std::vector<Bytes> requests_;
    size_t probes_ = 0;
    std::unique_ptr<platform::MessagePipeServer> server_;
};

// Records the start requests that reach the client-service pipe.
class FakeClientService {
public:
    FakeClientService();
    ~FakeClientService();
    std::vector<Bytes> Messages();
    // Arrival times of the messages, in milliseconds since this object was made.
    std::vector<int64_t> ArrivalTimes();

private:
    std::mutex mutex_;
    std::vector<Bytes> messages_;
    std::vector<int64_t> times_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::unique_ptr<platform::MessagePipeServer> server_;
};

}  // namespace qor::test
