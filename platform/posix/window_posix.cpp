// Window stand-in: windows are records in this process, each owned by the thread that made
// it; every thread has a message queue with the Win32 loop semantics (posted messages in
// order, sent messages run on the owner's thread, quit once the queue is empty).
#include "platform/window.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <future>
#include <map>
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

struct WindowTable {
    std::mutex mutex;
    std::map<WindowHandle, WindowRecord> windows;
    std::map<std::thread::id, std::shared_ptr<ThreadQueue>> queues;
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

int signalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] auto written = ::write(signalPipe[1], &byte, 1);
}

}  // namespace

WindowHandle CreateMessageOnlyWindow(std::string_view, std::string_view, WindowProc proc) {
    if (!proc) return 0;
    auto queue = QueueOfThisThread();
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    const WindowHandle handle = table.nextHandle;
    table.nextHandle += 4;
    table.windows[handle] = WindowRecord {std::move(proc), std::move(queue)};
    return handle;
}

void DestroyWindow(WindowHandle window) {
    if (!FindWindow(window)) return;
    CallProc(WindowMessage {window, kWmDestroy, 0, 0});
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    table.windows.erase(window);
}

int64_t DefaultWindowProc(WindowHandle window, uint32_t message, uint64_t, int64_t) {
    if (message == kWmClose) DestroyWindow(window);
    return 0;
}

bool PostWindowMessage(WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) {
    const auto record = FindWindow(window);
    if (!record) return false;
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

bool GetWindowMessage(WindowMessage* message) {
    auto queue = QueueOfThisThread();
    for (;;) {
        std::unique_lock lock(queue->mutex);
        queue->ready.wait(lock, [&] { return !queue->messages.empty() || queue->quit; });
        if (queue->messages.empty()) {
            queue->quit = false;
            *message = WindowMessage {0, kWmQuit, static_cast<uint64_t>(queue->exitCode), 0};
            return false;
        }
        QueuedMessage next = std::move(queue->messages.front());
        queue->messages.pop_front();
        lock.unlock();
        if (!next.sent) {
            *message = next.message;
            return true;
        }
        // Sent messages are handled inside the loop's wait, never returned to the caller.
        next.sent->set_value(CallProc(next.message));
    }
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

}  // namespace qor::platform
