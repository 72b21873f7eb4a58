// Named-pipe stand-in: a Unix SOCK_SEQPACKET socket per pipe name. Message boundaries are
// kept by the socket; "N instances" are N threads accepting on one listener with backlog 0,
// so a client that finds every instance busy waits in connect() as it would in WaitNamedPipe.
#include "platform/pipe.h"

#include "platform/system.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace qor::platform {

namespace {

bool MakeSocketAddress(const std::string& path, sockaddr_un* address) {
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    if (path.size() >= sizeof address->sun_path) return false;
    std::memcpy(address->sun_path, path.data(), path.size());
    return true;
}

int NewSocket() { return ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0); }

void SetSendTimeout(int fd, uint32_t waitMs) {
    timeval timeout {};
    if (waitMs != kWaitForever) {
        timeout.tv_sec = waitMs / 1000;
        timeout.tv_usec = static_cast<suseconds_t>(waitMs % 1000) * 1000;
        // A zero timeval means "no limit" to the kernel; the shortest real wait is 1 us.
        if (waitMs == 0) timeout.tv_usec = 1;
    }
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
}

PipeStatus StatusFromConnectError(int error) {
    switch (error) {
        case ENOENT:
        case ECONNREFUSED:  // a socket file left behind with no server listening
            return PipeStatus::NotFound;
        case EAGAIN:
        case EINPROGRESS:
            return PipeStatus::Timeout;
        default:
            return PipeStatus::Failed;
    }
}

// Connects, waiting for a free instance up to `waitMs`. Returns the socket or -1.
int ConnectToPipe(std::string_view name, uint32_t waitMs, PipeStatus* status) {
    sockaddr_un address {};
    if (!MakeSocketAddress(PipePath(name), &address)) {
        *status = PipeStatus::Failed;
        return -1;
    }
    const int fd = NewSocket();
    if (fd < 0) {
        *status = PipeStatus::Failed;
        return -1;
    }
    SetSendTimeout(fd, waitMs);
    int result;
    do {
        result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (result != 0 && errno == EINTR && waitMs == kWaitForever);
    if (result != 0) {
        *status = StatusFromConnectError(errno);
        ::close(fd);
        return -1;
    }
    SetSendTimeout(fd, kWaitForever);
    *status = PipeStatus::Ok;
    return fd;
}

PipeStatus SendMessage(int fd, const void* data, uint32_t size) {
    ssize_t sent;
    do {
        sent = ::send(fd, data, size, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) return (errno == EMSGSIZE) ? PipeStatus::TooLarge : PipeStatus::Broken;
    return static_cast<uint32_t>(sent) == size ? PipeStatus::Ok : PipeStatus::Broken;
}

// Receives one message. A message longer than `capacity` is reported, never silently cut.
PipeStatus ReceiveMessage(int fd, void* buffer, uint32_t capacity, uint32_t* size) {
    iovec part {buffer, capacity};
    msghdr header {};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    ssize_t received;
    do {
        received = ::recvmsg(fd, &header, 0);
    } while (received < 0 && errno == EINTR);
    *size = 0;
    if (received < 0) return PipeStatus::Broken;
    if (header.msg_flags & MSG_TRUNC) return PipeStatus::MoreData;
    if (received == 0) return PipeStatus::Broken;  // the peer closed
    *size = static_cast<uint32_t>(received);
    return PipeStatus::Ok;
}

// One instance: fixed buffers, reused for every request it serves.
struct PipeInstance {
    std::array<uint8_t, kPipeBufferSize> request {};
    uint32_t requestSize = 0;
    std::array<uint8_t, kPipeBufferSize> reply {};
    uint32_t replySize = 0;
    int connection = -1;  // guarded by the server's mutex
    std::thread thread;
};

class PosixMessagePipeServer final : public MessagePipeServer {
public:
    ~PosixMessagePipeServer() override { Stop(); }

    bool Start(const PipeServerOptions& options, PipeRequestHandler handler) override {
        handler_ = std::move(handler);
        path_ = PipeFolder() + "/" + options.name;
        sockaddr_un address {};
        if (!MakeSocketAddress(path_, &address)) {
            DebugPrintf("CreateNamedPipe failed with %d.\n", ENAMETOOLONG);
            return false;
        }
        listener_ = NewSocket();
        if (listener_ < 0) {
            DebugPrintf("CreateNamedPipe failed with %d.\n", errno);
            return false;
        }
        ::unlink(path_.c_str());
        // Backlog 0 holds one pending connection; further clients wait in connect().
        if (::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 0) != 0) {
            DebugPrintf("CreateNamedPipe failed with %d.\n", errno);
            ::close(listener_);
            listener_ = -1;
            return false;
        }
        if (options.access == PipeAccess::EveryoneAndAppContainers) ::chmod(path_.c_str(), 0666);
        instances_.reserve(options.instances);
        for (uint32_t i = 0; i < options.instances; ++i) {
            auto instance = std::make_unique<PipeInstance>();
            PipeInstance* raw = instance.get();
            try {
                instance->thread = std::thread([this, raw] { Serve(*raw); });
            } catch (const std::system_error& error) {
                DebugPrintf("CreateThread failed, GLE=%d.\n", error.code().value());
                return false;
            }
            instances_.push_back(std::move(instance));
        }
        return true;
    }

    void Stop() override {
        if (listener_ < 0) return;
        stopping_ = true;
        ::shutdown(listener_, SHUT_RDWR);  // wakes the threads blocked in accept()
        {
            std::lock_guard lock(mutex_);
            for (auto& instance : instances_) {
                if (instance->connection >= 0) ::shutdown(instance->connection, SHUT_RDWR);
            }
        }
        for (auto& instance : instances_) {
            if (instance->thread.joinable()) instance->thread.join();
        }
        instances_.clear();
        ::close(listener_);
        listener_ = -1;
        ::unlink(path_.c_str());
    }

    uint32_t RunningInstances() const override { return static_cast<uint32_t>(instances_.size()); }

private:
    void Serve(PipeInstance& instance) {
        DebugPrintf("Enter Thread.\n");
        while (!stopping_) {
            const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0) {
                if (stopping_) break;
                if (errno != EINTR && errno != ECONNABORTED) {
                    DebugPrintf("ConnectNamedPipe failed with %d.\n", errno);
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));  // e.g. out of descriptors
                }
                continue;
            }
            {
                std::lock_guard lock(mutex_);
                instance.connection = connection;
            }
            if (!stopping_) ServeConnection(instance, connection);
            {
                std::lock_guard lock(mutex_);
                instance.connection = -1;
            }
            ::close(connection);
        }
    }

    // Reading, then writing, then reading again until the client closes or a transfer fails.
    void ServeConnection(PipeInstance& instance, int connection) {
        for (;;) {
            if (ReceiveMessage(connection, instance.request.data(), kPipeBufferSize, &instance.requestSize) !=
                PipeStatus::Ok) {
                return;  // closed, failed or over-long: no reply, next client
            }
            uint32_t size = 0;
            handler_(instance.request.data(), instance.requestSize, instance.reply.data(), &size);
            instance.replySize = std::min(size, kPipeBufferSize);
            if (SendMessage(connection, instance.reply.data(), instance.replySize) != PipeStatus::Ok) return;
        }
    }

    PipeRequestHandler handler_;
    std::string path_;
    int listener_ = -1;
    std::atomic<bool> stopping_ {false};
    std::mutex mutex_;
    std::vector<std::unique_ptr<PipeInstance>> instances_;
};

class PosixPipeConnection final : public PipeConnection {
public:
    explicit PosixPipeConnection(int fd) : fd_(fd) {}
    ~PosixPipeConnection() override { ::close(fd_); }
    PosixPipeConnection(const PosixPipeConnection&) = delete;
    PosixPipeConnection& operator=(const PosixPipeConnection&) = delete;

    PipeStatus Write(const void* data, uint32_t size) override { return SendMessage(fd_, data, size); }
    PipeStatus Read(void* buffer, uint32_t capacity, uint32_t* size) override {
        return ReceiveMessage(fd_, buffer, capacity, size);
    }

private:
    int fd_;
};

}  // namespace

namespace {
std::string PipeFolderPath() {
    if (auto value = GetEnv("NORVIK_PIPE_DIR"); value && !value->empty()) return *value;
    if (auto runtime = GetEnv("XDG_RUNTIME_DIR"); runtime && !runtime->empty()) return *runtime + "/norvik";
    return "/tmp/norvik-" + std::to_string(::getuid());
}
}  // namespace

std::string PipeFolder() {
    const std::string folder = PipeFolderPath();
    if (::mkdir(folder.c_str(), 0700) != 0 && errno == ENOENT) {
        CreateFolders(folder);
        ::chmod(folder.c_str(), 0700);
    }
    return folder;
}

// Clients only name the socket; the folder is made by whoever creates objects in it.
std::string PipePath(std::string_view name) { return PipeFolderPath() + "/" + std::string(name); }

std::unique_ptr<MessagePipeServer> CreateMessagePipeServer() { return std::make_unique<PosixMessagePipeServer>(); }

PipeStatus TransactPipe(std::string_view name, const void* request, uint32_t requestSize, void* reply,
                        uint32_t replyCapacity, uint32_t* replySize, uint32_t waitMs) {
    *replySize = 0;
    if (requestSize > kPipeBufferSize) return PipeStatus::TooLarge;
    PipeStatus status;
    const int fd = ConnectToPipe(name, waitMs, &status);
    if (fd < 0) return status;
    status = SendMessage(fd, request, requestSize);
    if (status == PipeStatus::Ok) status = ReceiveMessage(fd, reply, replyCapacity, replySize);
    ::close(fd);
    return status;
}

std::unique_ptr<PipeConnection> OpenPipeConnection(std::string_view name, uint32_t busyWaitMs, PipeStatus* status) {
    PipeStatus local;
    PipeStatus& result = status ? *status : local;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(busyWaitMs);
    for (;;) {
        uint32_t wait = busyWaitMs;
        if (busyWaitMs != kWaitForever) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            wait = static_cast<uint32_t>(std::max<int64_t>(0, left.count()));
        }
        const int fd = ConnectToPipe(name, wait, &result);
        if (fd >= 0) return std::make_unique<PosixPipeConnection>(fd);
        if (result != PipeStatus::Timeout || wait == 0) return nullptr;
    }
}

}  // namespace qor::platform
