// Named-pipe stand-in: a Unix SOCK_SEQPACKET socket per pipe name. Message boundaries are
// kept by the socket; "N instances" are N threads accepting on one listener with backlog 0,
// so a client that finds every instance busy waits in connect() as it would in WaitNamedPipe.
#include "platform/pipe.h"

#include "platform/posix/private_folder.h"
#include "platform/system.h"

#include <poll.h>
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
#include <utility>
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

// Sends one message, with `descriptors` beside it when there are any.
PipeStatus SendMessage(int fd, const void* data, uint32_t size, const Descriptors& descriptors = {}) {
    iovec part {const_cast<void*>(data), size};
    msghdr header {};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * kMaxMessageDescriptors)] {};
    if (!descriptors.empty()) {
        if (descriptors.size() > kMaxMessageDescriptors) return PipeStatus::TooLarge;
        const size_t bytes = sizeof(int) * descriptors.size();
        header.msg_control = control;
        header.msg_controllen = CMSG_SPACE(bytes);
        cmsghdr* entry = CMSG_FIRSTHDR(&header);
        entry->cmsg_level = SOL_SOCKET;
        entry->cmsg_type = SCM_RIGHTS;
        entry->cmsg_len = CMSG_LEN(bytes);
        auto* fds = reinterpret_cast<int*>(CMSG_DATA(entry));
        for (size_t i = 0; i < descriptors.size(); ++i) fds[i] = descriptors[i].Get();
    }
    ssize_t sent;
    do {
        sent = ::sendmsg(fd, &header, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) return (errno == EMSGSIZE) ? PipeStatus::TooLarge : PipeStatus::Broken;
    return static_cast<uint32_t>(sent) == size ? PipeStatus::Ok : PipeStatus::Broken;
}

// Takes the descriptors of SCM_RIGHTS entries into `received`.
void TakeDescriptors(msghdr& header, Descriptors& received) {
    for (cmsghdr* entry = CMSG_FIRSTHDR(&header); entry != nullptr; entry = CMSG_NXTHDR(&header, entry)) {
        if (entry->cmsg_level != SOL_SOCKET || entry->cmsg_type != SCM_RIGHTS) continue;
        const size_t count = (entry->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        const auto* fds = reinterpret_cast<const int*>(CMSG_DATA(entry));
        for (size_t i = 0; i < count; ++i) {
            int fd;
            std::memcpy(&fd, fds + i, sizeof fd);
            received.emplace_back(fd);
        }
    }
}

// Receives one message. A message longer than `capacity` is reported, never silently cut.
// Descriptors beside it go to `received`; without it none are accepted (the kernel closes
// any a peer sent).
PipeStatus ReceiveMessage(int fd, void* buffer, uint32_t capacity, uint32_t* size, Descriptors* received = nullptr) {
    iovec part {buffer, capacity};
    msghdr header {};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * kMaxMessageDescriptors)] {};
    if (received != nullptr) {
        header.msg_control = control;
        header.msg_controllen = sizeof control;
    }
    ssize_t bytes;
    do {
        bytes = ::recvmsg(fd, &header, MSG_CMSG_CLOEXEC);
    } while (bytes < 0 && errno == EINTR);
    *size = 0;
    if (bytes < 0) return PipeStatus::Broken;
    if (received != nullptr) TakeDescriptors(header, *received);
    if (header.msg_flags & MSG_TRUNC) return PipeStatus::MoreData;
    if (bytes == 0) return PipeStatus::Broken;  // the peer closed
    *size = static_cast<uint32_t>(bytes);
    return PipeStatus::Ok;
}

enum class Readiness { Message, Idle, Closed };

// Waits until a message can be read, the peer hangs up, or `waitMs` passes.
Readiness WaitForMessage(int fd, uint32_t waitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        pollfd entry {fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(std::max<int64_t>(0, left)));
        if (ready > 0) return (entry.revents & POLLIN) != 0 ? Readiness::Message : Readiness::Closed;
        if (ready == 0) return Readiness::Idle;
        if (errno != EINTR) return Readiness::Closed;
    }
}

// The connection of one client, as its request's handler sees it.
class ConnectionClient final : public PipeClient {
public:
    ConnectionClient(int fd, uint32_t processId, const std::atomic<bool>& stopping)
        : fd_(fd), processId_(processId), stopping_(stopping) {}

    uint32_t ProcessId() const override { return processId_; }

    bool Gone() override {
        if (stopping_) return true;
        // A closed peer (or our own shutdown at stop) shows as a hang-up.
        pollfd entry {fd_, 0, 0};
        return ::poll(&entry, 1, 0) > 0 && (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    }

    bool AttachToReply(Descriptor descriptor) override {
        if (!descriptor.Valid() || attached_.size() >= kMaxMessageDescriptors) return false;
        attached_.push_back(std::move(descriptor));
        return true;
    }

    void EndConnection() override { ended_ = true; }
    bool Ended() const { return ended_; }

    // The reply's descriptors; the list is empty again afterwards.
    Descriptors TakeAttached() { return std::exchange(attached_, {}); }

private:
    int fd_;
    uint32_t processId_;
    const std::atomic<bool>& stopping_;
    Descriptors attached_;
    bool ended_ = false;
};

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
        requestWaitMs_ = options.requestWaitMs;
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
            // Wakes reads and waits; handlers that wait see their client Gone().
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
            ucred peer {};
            socklen_t length = sizeof peer;
            const bool known = ::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0;
            if (!known || peer.uid != ::geteuid()) {
                // The folder is private already; a client of another user is never served.
                DebugPrintf("Refused a client of uid %d.\n", known ? static_cast<int>(peer.uid) : -1);
            } else if (!stopping_) {
                // A reply the client does not take within the wait frees the instance too.
                SetSendTimeout(connection, requestWaitMs_);
                ServeConnection(instance, connection, static_cast<uint32_t>(peer.pid));
            }
            {
                std::lock_guard lock(mutex_);
                instance.connection = -1;
            }
            ::close(connection);
        }
    }

    // Reading, then writing, then reading again until the client closes, falls silent or a
    // transfer fails.
    void ServeConnection(PipeInstance& instance, int connection, uint32_t processId) {
        ConnectionClient client(connection, processId, stopping_);
        for (;;) {
            if (WaitForMessage(connection, requestWaitMs_) != Readiness::Message) return;  // idle or closed: next client
            if (ReceiveMessage(connection, instance.request.data(), kPipeBufferSize, &instance.requestSize) !=
                PipeStatus::Ok) {
                return;  // closed, failed or over-long: no reply, next client
            }
            uint32_t size = 0;
            handler_(client, instance.request.data(), instance.requestSize, instance.reply.data(), &size);
            if (client.Ended()) return;
            instance.replySize = std::min(size, kPipeBufferSize);
            const Descriptors attached = client.TakeAttached();
            if (instance.replySize == 0) continue;  // no reply: the client's next request
            if (SendMessage(connection, instance.reply.data(), instance.replySize, attached) != PipeStatus::Ok) return;
        }
    }

    PipeRequestHandler handler_;
    uint32_t requestWaitMs_ = kDefaultRequestWaitMs;
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
    PipeStatus ReadWithin(void* buffer, uint32_t capacity, uint32_t* size, uint32_t waitMs) override {
        // A hang-up is left to the receive, which reports it as Broken.
        if (waitMs != kWaitForever && WaitForMessage(fd_, waitMs) == Readiness::Idle) {
            *size = 0;
            return PipeStatus::Timeout;
        }
        return ReceiveMessage(fd_, buffer, capacity, size);
    }

private:
    int fd_;
};

}  // namespace

namespace {
std::string PipeFolderPath(bool create = false) {
    std::string folder;
    if (auto value = GetEnv("NORVIK_PIPE_DIR"); value && !value->empty()) {
        folder = *value;
    } else if (auto runtime = GetEnv("XDG_RUNTIME_DIR"); runtime && !runtime->empty()) {
        folder = *runtime + "/norvik";
    } else {
        folder = "/tmp/norvik-" + std::to_string(::getuid());
    }
    // A socket in a folder another user controls could pose as the service, so clients check
    // the folder too. A refused folder becomes kUnusableFolder: nothing is made or found there.
    return PrivateFolderOrUnusable(folder, PrivateFolderUse::Sockets, create);
}
}  // namespace

std::string PipeFolder() {
    // Made with mode 0700 on first use; when it is refused, binding sockets and creating lock
    // files below the returned path fail, so a server's start fails without harm.
    return PipeFolderPath(true);
}

// Clients check the folder but never make it; whoever creates objects in it does.
std::string PipePath(std::string_view name) { return PipeFolderPath() + "/" + std::string(name); }

std::unique_ptr<MessagePipeServer> CreateMessagePipeServer() { return std::make_unique<PosixMessagePipeServer>(); }

PipeStatus TransactPipe(std::string_view name, const void* request, uint32_t requestSize, void* reply,
                        uint32_t replyCapacity, uint32_t* replySize, uint32_t waitMs, Descriptors* received) {
    *replySize = 0;
    if (requestSize > kPipeBufferSize) return PipeStatus::TooLarge;
    PipeStatus status;
    const int fd = ConnectToPipe(name, waitMs, &status);
    if (fd < 0) return status;
    status = SendMessage(fd, request, requestSize);
    if (status == PipeStatus::Ok) status = ReceiveMessage(fd, reply, replyCapacity, replySize, received);
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
