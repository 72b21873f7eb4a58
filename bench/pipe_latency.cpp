// Round trips of the service pipe's liveness probe, set beside a bare SOCK_SEQPACKET
// exchange on the same kind of socket, so the cost our pipe layer and dispatch add shows.
// Prints median and p99 per request and the throughput, for 1 and 32 concurrent clients.
//
//   pipe_latency [--iterations N] [--warmup N]
#include "platform/pipe.h"
#include "service/server/pipe_server.h"
#include "service/server/qor_server.h"
#include "service/server/service_state.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <latch>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kReplyCapacity = qor::platform::kPipeBufferSize;  // what every real client receives into
constexpr uint32_t kTransactWaitMs = 500;
constexpr const char* kRawPipeName = "RawSeqpacketBaseline";
constexpr std::chrono::seconds kStallLimit {30};

struct Options {
    uint32_t iterations = 5000;  // timed exchanges per client thread
    uint32_t warmup = 200;       // untimed exchanges per client thread before the clock starts
};

struct Figures {
    size_t clients = 0;
    std::optional<double> medianUs;  // empty when no exchange succeeded
    std::optional<double> p99Us;
    double perSecond = 0;
    uint64_t succeeded = 0;
    uint64_t failed = 0;
};

// Every attempted exchange, so the watchdog can tell a slow run from a hung one.
std::atomic<uint64_t> attempts {0};
std::string tempFolder;

// A lost server thread or a client stuck in connect() would otherwise hang the run forever;
// the watchdog ends it, with the temp folder removed, once nothing has moved for a while.
class Watchdog {
public:
    Watchdog() : thread_([this] { Watch(); }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    void Watch() {
        std::unique_lock lock(mutex_);
        uint64_t seen = attempts.load();
        auto lastMove = Clock::now();
        while (!wake_.wait_for(lock, std::chrono::seconds(1), [this] { return done_; })) {
            const uint64_t now = attempts.load();
            if (now != seen) {
                seen = now;
                lastMove = Clock::now();
            } else if (Clock::now() - lastMove > kStallLimit) {
                std::fprintf(stderr, "pipe_latency: no exchange finished for %lld s; giving up\n",
                             static_cast<long long>(kStallLimit.count()));
                std::error_code ignored;
                std::filesystem::remove_all(tempFolder, ignored);
                std::_Exit(1);
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread thread_;
};

double Percentile(const std::vector<int64_t>& sorted, double fraction) {
    // Nearest rank: the smallest sample with at least `fraction` of all samples at or below it.
    size_t rank = static_cast<size_t>(fraction * static_cast<double>(sorted.size()) + 0.999999);
    rank = std::clamp<size_t>(rank, 1, sorted.size());
    return static_cast<double>(sorted[rank - 1]) / 1000.0;
}

// Runs `clients` threads; each warms up, then all start together and time every exchange.
template <typename ExchangeFn>
Figures Measure(size_t clients, const Options& options, ExchangeFn exchange) {
    std::vector<std::vector<int64_t>> latencies(clients);
    std::vector<uint64_t> failures(clients, 0);
    std::latch warmedUp(static_cast<std::ptrdiff_t>(clients));
    std::latch go(1);

    std::vector<std::thread> threads;
    threads.reserve(clients);
    for (size_t c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            for (uint32_t i = 0; i < options.warmup; ++i) {
                exchange();
                ++attempts;
            }
            auto& mine = latencies[c];
            mine.reserve(options.iterations);
            warmedUp.count_down();
            go.wait();
            for (uint32_t i = 0; i < options.iterations; ++i) {
                const auto start = Clock::now();
                const bool ok = exchange();
                const auto end = Clock::now();
                ++attempts;
                if (ok) {
                    mine.push_back(std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count());
                } else {
                    ++failures[c];
                }
            }
        });
    }
    warmedUp.wait();
    const auto start = Clock::now();
    go.count_down();
    for (auto& thread : threads) thread.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    std::vector<int64_t> all;
    all.reserve(clients * options.iterations);
    Figures figures;
    figures.clients = clients;
    for (size_t c = 0; c < clients; ++c) {
        all.insert(all.end(), latencies[c].begin(), latencies[c].end());
        figures.failed += failures[c];
    }
    figures.succeeded = all.size();
    if (!all.empty()) {
        std::sort(all.begin(), all.end());
        figures.medianUs = Percentile(all, 0.50);
        figures.p99Us = Percentile(all, 0.99);
    }
    figures.perSecond = seconds > 0 ? static_cast<double>(figures.succeeded) / seconds : 0;
    return figures;
}

// ---- the service pipe: QorServer::Dispatch behind PipeServer, reached with TransactPipe

bool PipeProbe() {
    const uint32_t request = 0;  // the liveness probe's code
    uint8_t reply[kReplyCapacity];
    uint32_t size = 0;
    const auto status = qor::platform::TransactPipe(qor::kServicePipeName, &request, sizeof request, reply,
                                                    sizeof reply, &size, kTransactWaitMs);
    if (status != qor::platform::PipeStatus::Ok || size != sizeof(XrResult)) return false;
    XrResult result;
    std::memcpy(&result, reply, sizeof result);
    return result == XR_SUCCESS;
}

// ---- the baseline: the same socket type and listener setup, with nothing of ours on top

bool MakeAddress(const std::string& path, sockaddr_un* address) {
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    if (path.size() >= sizeof address->sun_path) return false;
    std::memcpy(address->sun_path, path.data(), path.size());
    return true;
}

class RawServer {
public:
    ~RawServer() { Stop(); }

    bool Start(const sockaddr_un& address, uint32_t instances) {
        address_ = address;
        listener_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        if (listener_ < 0) return false;
        ::unlink(address_.sun_path);
        // Backlog 0 as the pipe stand-in uses, so clients queue for a free thread the same way.
        if (::bind(listener_, reinterpret_cast<const sockaddr*>(&address_), sizeof address_) != 0 ||
            ::listen(listener_, 0) != 0) {
            ::close(listener_);
            listener_ = -1;
            return false;
        }
        for (uint32_t i = 0; i < instances; ++i) threads_.emplace_back([this] { Serve(); });
        return true;
    }

    void Stop() {
        if (listener_ < 0) return;
        stopping_ = true;
        ::shutdown(listener_, SHUT_RDWR);  // wakes the threads blocked in accept()
        for (auto& thread : threads_) thread.join();
        threads_.clear();
        ::close(listener_);
        listener_ = -1;
        ::unlink(address_.sun_path);
    }

private:
    void Serve() {
        uint8_t request[qor::platform::kPipeBufferSize];
        while (!stopping_) {
            const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0) continue;  // stopping, or a client that gave up
            // Answer every message until the client closes, as a pipe instance does.
            while (::recv(connection, request, sizeof request, 0) > 0) {
                const uint32_t reply = 0;
                if (::send(connection, &reply, sizeof reply, MSG_NOSIGNAL) != sizeof reply) break;
            }
            ::close(connection);
        }
    }

    sockaddr_un address_ {};
    int listener_ = -1;
    std::atomic<bool> stopping_ {false};
    std::vector<std::thread> threads_;
};

bool RawProbe(const sockaddr_un& address) {
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    const uint32_t request = 0;
    ok = ok && ::send(fd, &request, sizeof request, MSG_NOSIGNAL) == sizeof request;
    uint8_t reply[kReplyCapacity];
    uint32_t result = 1;
    if (ok) {
        ok = ::recv(fd, reply, sizeof reply, 0) == sizeof result;
        std::memcpy(&result, reply, sizeof result);
    }
    ::close(fd);
    return ok && result == 0;
}

// ---- report

std::string Microseconds(const std::optional<double>& value) {
    if (!value) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", *value);
    return text;
}

std::string Ratio(const std::optional<double>& pipe, const std::optional<double>& raw) {
    if (!pipe || !raw || *raw <= 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.2fx", *pipe / *raw);
    return text;
}

void PrintRow(const char* server, const Figures& f) {
    std::printf("  %-14s %7zu %11s %11s %13.0f %8llu\n", server, f.clients, Microseconds(f.medianUs).c_str(),
                Microseconds(f.p99Us).c_str(), f.perSecond, static_cast<unsigned long long>(f.failed));
}

bool ParseCount(const char* text, uint32_t* out) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (end == text || *end != '\0' || value > 10'000'000) return false;
    *out = static_cast<uint32_t>(value);
    return true;
}

int Usage() {
    std::fprintf(stderr, "usage: pipe_latency [--iterations N] [--warmup N]\n"
                         "  --iterations N  timed exchanges per client thread (default 5000, at least 1)\n"
                         "  --warmup N      untimed exchanges per client thread first (default 200)\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") return Usage();
        if (i + 1 >= argc) return Usage();
        uint32_t* target = arg == "--iterations" ? &options.iterations : arg == "--warmup" ? &options.warmup : nullptr;
        if (target == nullptr || !ParseCount(argv[++i], target)) return Usage();
    }
    if (options.iterations == 0) return Usage();

    // A private pipe folder, so a running service or a parallel test never meets this one.
    std::string folderTemplate = (std::filesystem::temp_directory_path() / "norvik-bench-XXXXXX").string();
    if (::mkdtemp(folderTemplate.data()) == nullptr) {
        std::perror("pipe_latency: mkdtemp");
        return 1;
    }
    tempFolder = folderTemplate;
    ::setenv("NORVIK_PIPE_DIR", tempFolder.c_str(), 1);

    const size_t clientCounts[] = {1, qor::kServicePipeInstances};
    Figures pipe[2];
    Figures raw[2];
    bool pipeStarted = false;
    bool rawStarted = false;
    {
        Watchdog watchdog;

        // Part A: bound exactly as the service binds it at startup.
        qor::ServiceState state;
        qor::QorServer server(state);
        qor::PipeServer pipeServer;
        pipeStarted = pipeServer.Start(
            [&server](qor::platform::PipeClient& client, const uint8_t* request, uint32_t requestSize, uint8_t* reply,
                      uint32_t* replySize) { server.Dispatch(client, request, requestSize, reply, replySize); });
        if (pipeStarted) {
            for (int i = 0; i < 2; ++i) pipe[i] = Measure(clientCounts[i], options, PipeProbe);
        } else {
            std::fprintf(stderr, "pipe_latency: the service pipe did not start\n");
        }
        // The pipe threads call into `server`, so they stop before it goes.
        pipeServer.Stop();

        // Part B.
        sockaddr_un address {};
        RawServer rawServer;
        rawStarted = MakeAddress(qor::platform::PipePath(kRawPipeName), &address) &&
                     rawServer.Start(address, qor::kServicePipeInstances);
        if (rawStarted) {
            for (int i = 0; i < 2; ++i) {
                raw[i] = Measure(clientCounts[i], options, [&address] { return RawProbe(address); });
            }
        } else {
            std::fprintf(stderr, "pipe_latency: the raw baseline server did not start\n");
        }
        rawServer.Stop();
    }

    std::error_code ignored;
    std::filesystem::remove_all(tempFolder, ignored);

    std::printf("\npipe_latency: 4-byte liveness probe, connect/send/recv/close per exchange\n");
    std::printf("  %u timed exchanges per client after %u warm-up each; %u server instances\n\n",
                options.iterations, options.warmup, qor::kServicePipeInstances);
    std::printf("  %-14s %7s %11s %11s %13s %8s\n", "server", "clients", "median us", "p99 us", "exchanges/s",
                "failed");
    for (int i = 0; i < 2; ++i) {
        if (pipeStarted) PrintRow("service pipe", pipe[i]);
    }
    for (int i = 0; i < 2; ++i) {
        if (rawStarted) PrintRow("raw seqpacket", raw[i]);
    }
    std::printf("\n  %-14s %7s %11s %11s\n", "pipe / raw", "clients", "median", "p99");
    for (int i = 0; i < 2; ++i) {
        std::printf("  %-14s %7zu %11s %11s\n", "", clientCounts[i], Ratio(pipe[i].medianUs, raw[i].medianUs).c_str(),
                    Ratio(pipe[i].p99Us, raw[i].p99Us).c_str());
    }
    uint64_t failed = 0;
    for (int i = 0; i < 2; ++i) failed += pipe[i].failed + raw[i].failed;
    if (failed != 0) std::printf("\n  %llu exchanges failed\n", static_cast<unsigned long long>(failed));
    // Failed exchanges are a result worth reading; a server that never started is not.
    return pipeStarted && rawStarted ? 0 : 1;
}
