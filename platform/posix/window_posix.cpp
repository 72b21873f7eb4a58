// Window stand-in: windows are records in this process, each owned by the thread that made
// it; every thread has a message queue with the Win32 loop semantics (posted messages in
// order, sent messages run on the owner's thread, quit once the queue is empty). A top-level
// window is also a datagram socket under the pipe folder's "wnd" folder, named by the hashes
// of its class and title, the process id and the handle; a thread per such window moves the
// messages posted there into its owner's queue.
#include "platform/window.h"

#include "platform/pipe.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace qor::platform {

namespace {

struct QueuedMessage {
    WindowMessage message;
    std::shared_ptr<std::promise<int64_t>> sent;  // set for SendWindowMessage from another thread
};

struct ThreadQueue {
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<QueuedMessage> messages;
    bool quit = false;
    int exitCode = 0;
};

struct WindowRecord {
    WindowProc proc;
    std::shared_ptr<ThreadQueue> queue;
};

// The socket of a top-level window and the thread that reads it.
struct Endpoint {
    int socket = -1;
    int wake[2] = {-1, -1};
    std::string path;
    std::thread receiver;

    ~Endpoint() {
        if (receiver.joinable()) {
            const char byte = 1;
            [[maybe_unused]] auto written = ::write(wake[1], &byte, 1);
            receiver.join();
        }
        for (int fd : {socket, wake[0], wake[1]}) {
            if (fd >= 0) ::close(fd);
        }
        if (!path.empty()) ::unlink(path.c_str());
    }
};

struct WindowTable {
    std::mutex mutex;
    std::map<WindowHandle, WindowRecord> windows;
    std::map<std::thread::id, std::shared_ptr<ThreadQueue>> queues;
    std::map<WindowHandle, std::unique_ptr<Endpoint>> endpoints;  // this process's top-level windows
    // Handles given out for other processes' windows, and the endpoint each stands for.
    std::map<WindowHandle, std::string> remotes;
    std::map<std::string, WindowHandle> remoteByPath;
    WindowHandle nextHandle = 0x10010;
};

WindowTable& Table() {
    static auto* table = new WindowTable;  // lives until exit: other threads may post late
    return *table;
}

std::shared_ptr<ThreadQueue> QueueOfThisThread() {
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    auto& queue = table.queues[std::this_thread::get_id()];
    if (!queue) queue = std::make_shared<ThreadQueue>();
    return queue;
}

std::optional<WindowRecord> FindWindow(WindowHandle window) {
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    const auto found = table.windows.find(window);
    if (found == table.windows.end()) return std::nullopt;
    return found->second;
}

void Enqueue(ThreadQueue& queue, QueuedMessage message) {
    {
        std::lock_guard lock(queue.mutex);
        queue.messages.push_back(std::move(message));
    }
    queue.ready.notify_all();
}

int64_t CallProc(const WindowMessage& message) {
    const auto record = FindWindow(message.window);
    if (!record) return 0;
    return record->proc(message.window, message.message, message.wParam, message.lParam);
}

// A posted message on the wire: message (u32), wParam (u64), lParam (i64), native order.
constexpr size_t kDatagramSize = 20;

// FNV-1a over the ASCII-lower-cased name: class names, titles and message names compare
// without regard to case, as on Windows.
uint64_t NameHash(std::string_view name) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (char c : name) {
        const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        hash = (hash ^ static_cast<uint8_t>(lower)) * 0x100000001b3ull;
    }
    return hash;
}

std::string Hex(uint64_t value, int width = 0) {
    char digits[17];
    const auto end = std::to_chars(digits, digits + sizeof digits, value, 16).ptr;
    std::string text(digits, end);
    if (static_cast<int>(text.size()) < width) text.insert(0, width - text.size(), '0');
    return text;
}

// "<class hash>-<title hash>-": what every endpoint name of that class and title begins with.
std::string NamePrefix(std::string_view className, std::string_view title) {
    return Hex(NameHash(className), 16) + "-" + Hex(NameHash(title), 16) + "-";
}

bool MakeAddress(const std::string& path, sockaddr_un* address) {
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    if (path.size() >= sizeof address->sun_path) return false;
    std::memcpy(address->sun_path, path.data(), path.size());
    return true;
}

// Moves what is posted to the endpoint into the window's queue until woken to stop. Only
// datagrams of exactly the posted-message size are taken; anything else is dropped.
void ReceivePosted(Endpoint* endpoint, WindowHandle window) {
    for (;;) {
        pollfd entries[2] = {{endpoint->socket, POLLIN, 0}, {endpoint->wake[0], POLLIN, 0}};
        if (::poll(entries, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (entries[1].revents != 0) return;
        if ((entries[0].revents & POLLIN) == 0) return;  // the socket failed
        uint8_t datagram[kDatagramSize + 1];
        const ssize_t size = ::recv(endpoint->socket, datagram, sizeof datagram, MSG_DONTWAIT);
        if (size != static_cast<ssize_t>(kDatagramSize)) continue;
        uint32_t message;
        uint64_t wParam;
        int64_t lParam;
        std::memcpy(&message, datagram, 4);
        std::memcpy(&wParam, datagram + 4, 8);
        std::memcpy(&lParam, datagram + 12, 8);
        PostWindowMessage(window, message, wParam, lParam);
    }
}

// Binds the window's endpoint and starts its receiver; null when that fails.
std::unique_ptr<Endpoint> OpenEndpoint(std::string_view className, std::string_view title, WindowHandle window) {
    const std::string folder = PipeFolder() + "/wnd";
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return nullptr;
    auto endpoint = std::make_unique<Endpoint>();
    const std::string path =
        folder + "/" + NamePrefix(className, title) + std::to_string(::getpid()) + "-" + Hex(window);
    sockaddr_un address {};
    if (!MakeAddress(path, &address)) return nullptr;
    endpoint->socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (endpoint->socket < 0 || ::pipe2(endpoint->wake, O_CLOEXEC) != 0) return nullptr;
    ::unlink(path.c_str());  // left by an ended process that had our process id
    if (::bind(endpoint->socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return nullptr;
    endpoint->path = path;
    try {
        endpoint->receiver = std::thread(ReceivePosted, endpoint.get(), window);
    } catch (const std::system_error&) {
        return nullptr;
    }
    return endpoint;
}

// True when a socket is bound at the path; a file left by a process that ended is not.
bool Reachable(const std::string& path) {
    sockaddr_un address {};
    if (!MakeAddress(path, &address)) return false;
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

bool PostToEndpoint(const std::string& path, uint32_t message, uint64_t wParam, int64_t lParam) {
    sockaddr_un address {};
    if (!MakeAddress(path, &address)) return false;
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    uint8_t datagram[kDatagramSize];
    std::memcpy(datagram, &message, 4);
    std::memcpy(datagram + 4, &wParam, 8);
    std::memcpy(datagram + 12, &lParam, 8);
    ssize_t sent;
    do {
        // A full queue of the receiver is not waited for: a post never blocks.
        sent = ::sendto(fd, datagram, sizeof datagram, MSG_DONTWAIT | MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (sent < 0 && errno == EINTR);
    ::close(fd);
    return sent == static_cast<ssize_t>(kDatagramSize);
}

// The handle standing for another process's endpoint; the same one each time.
WindowHandle RemoteHandle(const std::string& path) {
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    if (const auto found = table.remoteByPath.find(path); found != table.remoteByPath.end()) return found->second;
    const WindowHandle handle = table.nextHandle;
    table.nextHandle += 4;
    table.remotes[handle] = path;
    table.remoteByPath[path] = handle;
    return handle;
}

WindowHandle AddWindow(WindowProc proc) {
    auto queue = QueueOfThisThread();
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    const WindowHandle handle = table.nextHandle;
    table.nextHandle += 4;
    table.windows[handle] = WindowRecord {std::move(proc), std::move(queue)};
    return handle;
}

// The first live top-level window whose endpoint name "<class hash>-<title hash>-<process
// id>-<handle>" `matches`; 0 when there is none.
WindowHandle FindEndpoint(const std::function<bool(std::string_view)>& matches) {
    constexpr size_t kHashesSize = 2 * 17;
    const std::string ownProcess = std::to_string(::getpid());
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(PipePath("wnd"), error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() < kHashesSize || !matches(name)) continue;
        const std::string_view owner = std::string_view(name).substr(kHashesSize);
        const size_t dash = owner.find('-');
        if (dash == std::string_view::npos) continue;
        if (owner.substr(0, dash) == ownProcess) {
            WindowHandle handle = 0;
            const std::string_view hex = owner.substr(dash + 1);
            std::from_chars(hex.data(), hex.data() + hex.size(), handle, 16);
            if (FindWindow(handle)) return handle;
            continue;
        }
        if (Reachable(entry.path().string())) return RemoteHandle(entry.path().string());
    }
    return 0;
}

int signalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] auto written = ::write(signalPipe[1], &byte, 1);
}

}  // namespace

WindowHandle CreateMessageOnlyWindow(std::string_view, std::string_view, WindowProc proc) {
    if (!proc) return 0;
    return AddWindow(std::move(proc));
}

WindowHandle CreateTopLevelWindow(std::string_view className, std::string_view title, WindowProc proc) {
    if (!proc) return 0;
    const WindowHandle handle = AddWindow(std::move(proc));
    auto endpoint = OpenEndpoint(className, title, handle);
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    if (!endpoint) {
        table.windows.erase(handle);
        return 0;
    }
    table.endpoints[handle] = std::move(endpoint);
    return handle;
}

WindowHandle FindTopLevelWindow(std::string_view className, std::optional<std::string_view> title) {
    const std::string prefix = title ? NamePrefix(className, *title) : Hex(NameHash(className), 16) + "-";
    return FindEndpoint([&](std::string_view name) { return name.compare(0, prefix.size(), prefix) == 0; });
}

void DestroyWindow(WindowHandle window) {
    if (!FindWindow(window)) return;
    CallProc(WindowMessage {window, kWmDestroy, 0, 0});
    std::unique_ptr<Endpoint> endpoint;
    {
        auto& table = Table();
        std::lock_guard lock(table.mutex);
        table.windows.erase(window);
        if (const auto found = table.endpoints.find(window); found != table.endpoints.end()) {
            endpoint = std::move(found->second);
            table.endpoints.erase(found);
        }
    }
    // Stopped outside the table's lock: its receiver may be waiting for it to post.
    endpoint.reset();
}

uint32_t RegisteredWindowMessage(std::string_view name) {
    if (name.empty()) return 0;
    return 0xC000u + static_cast<uint32_t>(NameHash(name) % 0x4000u);
}

int64_t DefaultWindowProc(WindowHandle window, uint32_t message, uint64_t, int64_t) {
    if (message == kWmClose) DestroyWindow(window);
    return 0;
}

bool PostWindowMessage(WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) {
    const auto record = FindWindow(window);
    if (!record) {
        std::string remote;
        {
            auto& table = Table();
            std::lock_guard lock(table.mutex);
            const auto found = table.remotes.find(window);
            if (found == table.remotes.end()) return false;
            remote = found->second;
        }
        return PostToEndpoint(remote, message, wParam, lParam);
    }
    Enqueue(*record->queue, QueuedMessage {WindowMessage {window, message, wParam, lParam}, nullptr});
    return true;
}

int64_t SendWindowMessage(WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) {
    const auto record = FindWindow(window);
    if (!record) return 0;
    const WindowMessage sent {window, message, wParam, lParam};
    if (record->queue == QueueOfThisThread()) return CallProc(sent);
    auto result = std::make_shared<std::promise<int64_t>>();
    auto future = result->get_future();
    Enqueue(*record->queue, QueuedMessage {sent, result});
    return future.get();
}

void PostQuitMessage(int exitCode) {
    auto queue = QueueOfThisThread();
    {
        std::lock_guard lock(queue->mutex);
        queue->quit = true;
        queue->exitCode = exitCode;
    }
    queue->ready.notify_all();
}

namespace {

struct Taken {
    WindowMessage message;
    bool quit = false;  // the thread's quit message, not a posted one
};

// The next posted message or the quit message, handling sent messages on the way; with `wait`
// false, nullopt when the queue is empty.
std::optional<Taken> TakeMessage(bool wait) {
    auto queue = QueueOfThisThread();
    for (;;) {
        std::unique_lock lock(queue->mutex);
        if (wait) queue->ready.wait(lock, [&] { return !queue->messages.empty() || queue->quit; });
        if (queue->messages.empty()) {
            if (!queue->quit) return std::nullopt;
            queue->quit = false;
            return Taken {WindowMessage {0, kWmQuit, static_cast<uint64_t>(queue->exitCode), 0}, true};
        }
        QueuedMessage next = std::move(queue->messages.front());
        queue->messages.pop_front();
        lock.unlock();
        if (!next.sent) return Taken {next.message, false};
        // Sent messages are handled inside the loop's wait, never returned to the caller.
        next.sent->set_value(CallProc(next.message));
    }
}

}  // namespace

bool GetWindowMessage(WindowMessage* message) {
    const Taken taken = *TakeMessage(true);
    *message = taken.message;
    return !taken.quit;
}

bool PeekWindowMessage(WindowMessage* message) {
    const std::optional<Taken> next = TakeMessage(false);
    if (next) *message = next->message;
    return next.has_value();
}

void DispatchWindowMessage(const WindowMessage& message) { CallProc(message); }

void CloseWindowOnTerminationSignals(WindowHandle window) {
    static std::once_flag installed;
    std::call_once(installed, [] {
        if (::pipe2(signalPipe, O_CLOEXEC) != 0) return;
        struct sigaction action {};
        action.sa_handler = OnTerminationSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &action, nullptr);
        ::sigaction(SIGINT, &action, nullptr);
    });
    static std::mutex mutex;
    static WindowHandle target = 0;
    static bool started = false;
    std::lock_guard lock(mutex);
    target = window;
    if (started || signalPipe[0] < 0) return;
    started = true;
    std::thread([] {
        char byte;
        while (::read(signalPipe[0], &byte, 1) > 0 || errno == EINTR) {
            WindowHandle to;
            {
                std::lock_guard inner(mutex);
                to = target;
            }
            PostWindowMessage(to, kWmClose, 0, 0);
        }
    }).detach();
}

WindowHandle FindTopLevelWindowByTitle(std::string_view title) {
    const std::string titlePart = Hex(NameHash(title), 16) + "-";
    return FindEndpoint([&](std::string_view name) { return name.compare(17, titlePart.size(), titlePart) == 0; });
}

}  // namespace qor::platform
