#include "display/winpipe/pipe_client_connection.h"

#include <algorithm>
#include <limits>

namespace qor::winpipe {

const char* PipeClientStatusName(PipeClientStatus status) {
    switch (status) {
        case PipeClientStatus::Ok: return "Ok";
        case PipeClientStatus::OpenFailed: return "OpenFailed";
        case PipeClientStatus::WriteFailed: return "WriteFailed";
        case PipeClientStatus::ReadFailed: return "ReadFailed";
        case PipeClientStatus::NoReply: return "NoReply";
    }
    return "Unknown";
}

PipeClientConnection::PipeClientConnection(std::string_view pipeName, uint32_t busyWaitMs)
    : connection_(platform::OpenPipeConnection(pipeName, busyWaitMs, &openStatus_)) {}

bool PipeClientConnection::Write(ByteView request) {
    if (!connection_ || request.size() > std::numeric_limits<uint32_t>::max()) return false;
    return connection_->Write(request.data(), static_cast<uint32_t>(request.size())) == platform::PipeStatus::Ok;
}

PipeClientReply PipeClientConnection::Read(uint32_t bufferSize, uint32_t waitMs) {
    PipeClientReply reply;
    reply.buffer.assign(bufferSize, 0);
    if (!connection_) {
        reply.status = PipeClientStatus::ReadFailed;
        return reply;
    }
    uint32_t size = 0;
    const platform::PipeStatus status = connection_->ReadWithin(reply.buffer.data(), bufferSize, &size, waitMs);
    if (status == platform::PipeStatus::Ok) {
        reply.status = PipeClientStatus::Ok;
        reply.size = std::min(size, bufferSize);
        return reply;
    }
    // A reply cut at the buffer's end leaves its first bytes behind; none of them count.
    std::fill(reply.buffer.begin(), reply.buffer.end(), uint8_t {0});
    if (status == platform::PipeStatus::Timeout) {
        reply.status = PipeClientStatus::NoReply;
        Close();
    } else {
        reply.status = PipeClientStatus::ReadFailed;
    }
    return reply;
}

PipeClientReply SendRequest(ByteView request, uint32_t bufferSize, std::string_view pipeName) {
    PipeClientConnection connection(pipeName);
    if (!connection.IsOpen()) {
        return PipeClientReply {PipeClientStatus::OpenFailed, Bytes(bufferSize, 0), 0};
    }
    if (!connection.Write(request)) {
        return PipeClientReply {PipeClientStatus::WriteFailed, Bytes(bufferSize, 0), 0};
    }
    return connection.Read(bufferSize);
}

}  // namespace qor::winpipe
