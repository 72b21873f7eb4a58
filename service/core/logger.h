// The service's daily log files. Any thread queues text; one writer thread appends it with
// the time stamp taken at queueing, so request handlers never wait for the disk: the writer
// holds the queue's mutex only to take a batch, never while it writes.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace qor {

// Where the time comes from; tests replace it to cross midnight without waiting.
struct LogClock {
    std::function<int64_t()> now;              // seconds since the epoch
    std::function<std::tm(int64_t)> toLocal;   // local calendar time of such a value
};
LogClock SystemLogClock();

enum class LogTarget : uint32_t { Server = 0, Compositor = 1 };

class Logger {
public:
    // `folder` is created with its parents; the files are named after the local date.
    explicit Logger(std::string folder, LogClock clock = SystemLogClock());
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    void Log(std::string text);
    void LogError(std::string text);
    // A line of the compositor's own daily file.
    void LogCompositor(std::string text);
    // Waits until every entry queued so far has been written.
    void Flush();

    const std::string& Folder() const { return folder_; }
    // The file names for a local date, e.g. "server_2021-06-01.log".
    static std::string ServerFileName(const std::tm& date);
    static std::string CompositorFileName(const std::tm& date);

private:
    struct Entry {
        LogTarget target;
        int64_t time;
        std::string text;
    };

    void Queue(LogTarget target, std::string text);
    void OpenFiles(const std::tm& date);  // writer thread (or the constructor before it starts)
    void WriterLoop();
    void WriteEntry(const Entry& entry);  // writer thread

    const std::string folder_;
    const LogClock clock_;
    std::mutex mutex_;
    std::condition_variable incoming_;  // the "Incoming_Log" event
    std::condition_variable drained_;
    // Guarded by mutex_.
    bool signalled_ = false;
    bool running_ = true;
    bool writing_ = false;
    std::deque<Entry> queue_;
    int dateYear_ = 0, dateMonth_ = 0, dateDay_ = 0;  // the date last seen by Queue
    std::optional<std::tm> reopen_;                   // files to open before the next batch
    // Only the writer thread uses the files once it runs.
    std::ofstream serverFile_;
    std::ofstream compositorFile_;
    std::thread writer_;
};

// The service's log folder: local application data + "\Norvik\OpenXR\Logs".
std::string ServiceLogFolder();

// The logger the free functions below write to: the running service's, or, outside one (a
// second copy that refuses to start), one made on first use and kept until exit.
Logger& ServiceLogger();
// Makes `logger` the one the free functions write to while it lives; the previous one
// comes back when it goes.
class ActiveLogger {
public:
    explicit ActiveLogger(Logger& logger);
    ~ActiveLogger();
    ActiveLogger(const ActiveLogger&) = delete;
    ActiveLogger& operator=(const ActiveLogger&) = delete;

private:
    Logger* previous_;
};

void Log(std::string text);
void LogError(std::string text);
void LogCompositor(std::string text);

// Client-supplied text (application names, paths) for display in a log line: control
// characters become "\n", "\r", "\t" or "\xHH", so the text cannot start lines of its own.
// For display only: a backslash stays as it is, which keeps paths readable, so the result
// cannot be unescaped.
std::string EscapeForLog(std::string_view text);

}  // namespace qor
