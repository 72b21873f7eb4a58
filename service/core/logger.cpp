#include "service/core/logger.h"

#include "platform/system.h"

#include <atomic>
#include <cstdio>
#include <utility>

namespace qor {

namespace {
std::string DateSuffix(const std::tm& date) {
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "_%Y-%m-%d", &date);
    return buffer;
}
}  // namespace

LogClock SystemLogClock() {
    return LogClock {[] { return static_cast<int64_t>(std::time(nullptr)); }, platform::LocalTime};
}

std::string Logger::ServerFileName(const std::tm& date) { return "server" + DateSuffix(date) + ".log"; }

std::string Logger::CompositorFileName(const std::tm& date) { return "compositor" + DateSuffix(date) + ".log"; }

Logger::Logger(std::string folder, LogClock clock) : folder_(std::move(folder)), clock_(std::move(clock)) {
    const std::tm today = clock_.toLocal(clock_.now());
    platform::CreateFolders(folder_);  // a failure shows only as files that do not open
    OpenFiles(today);
    dateYear_ = today.tm_year;
    dateMonth_ = today.tm_mon;
    dateDay_ = today.tm_mday;
    writer_ = std::thread([this] { WriterLoop(); });
}

Logger::~Logger() {
    Flush();
    {
        std::lock_guard lock(mutex_);
        running_ = false;
        signalled_ = true;
    }
    incoming_.notify_all();
    writer_.join();
}

void Logger::OpenFiles(const std::tm& date) {
    for (auto* file : {&serverFile_, &compositorFile_}) {
        if (file->is_open()) file->close();
        file->clear();
    }
    // Text mode: the C runtime turns "\n" into "\r\n" on Windows.
    serverFile_.open(platform::PathFromUtf8(platform::JoinPath(folder_, ServerFileName(date))), std::ios::out | std::ios::app);
    compositorFile_.open(platform::PathFromUtf8(platform::JoinPath(folder_, CompositorFileName(date))),
                         std::ios::out | std::ios::app);
}

void Logger::Log(std::string text) { Queue(LogTarget::Server, std::move(text)); }

void Logger::LogError(std::string text) { Queue(LogTarget::Server, "[ERROR] " + std::move(text)); }

void Logger::LogCompositor(std::string text) { Queue(LogTarget::Compositor, std::move(text)); }

void Logger::Queue(LogTarget target, std::string text) {
    const int64_t now = clock_.now();
    const std::tm date = clock_.toLocal(now);
    {
        std::lock_guard lock(mutex_);
        // The whole date is compared, so a month without any log line still gets new files.
        // The writer opens them before it writes the next batch, this entry included.
        if (date.tm_mday != dateDay_ || date.tm_mon != dateMonth_ || date.tm_year != dateYear_) {
            dateYear_ = date.tm_year;
            dateMonth_ = date.tm_mon;
            dateDay_ = date.tm_mday;
            reopen_ = date;
        }
        queue_.push_back(Entry {target, now, std::move(text)});
        signalled_ = true;
    }
    incoming_.notify_one();
}

void Logger::Flush() {
    std::unique_lock lock(mutex_);
    drained_.wait(lock, [this] { return (queue_.empty() && !writing_) || !running_; });
}

void Logger::WriterLoop() {
    std::unique_lock lock(mutex_);
    while (running_) {
        incoming_.wait(lock, [this] { return signalled_; });
        signalled_ = false;
        std::deque<Entry> batch;
        batch.swap(queue_);
        const std::optional<std::tm> reopen = std::exchange(reopen_, std::nullopt);
        writing_ = true;
        // The disk may be slow: queueing threads must not wait for it.
        lock.unlock();
        if (reopen) OpenFiles(*reopen);
        for (const Entry& entry : batch) WriteEntry(entry);
        lock.lock();
        writing_ = false;
        drained_.notify_all();
    }
}

void Logger::WriteEntry(const Entry& entry) {
    std::ofstream& file = entry.target == LogTarget::Server ? serverFile_ : compositorFile_;
    if (!file.is_open()) return;  // entries for a file that could not be opened are dropped
    const std::tm time = clock_.toLocal(entry.time);
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "%d-%02d-%02d  %02d:%02d:%02d\t", time.tm_year + 1900, time.tm_mon + 1,
                  time.tm_mday, time.tm_hour, time.tm_min, time.tm_sec);
    file << stamp << entry.text << '\n';
    file.flush();
}

std::string ServiceLogFolder() { return platform::JoinPath(platform::LocalAppDataFolder(), "\\Norvik\\OpenXR\\Logs"); }

namespace {
std::atomic<Logger*> activeLogger {nullptr};
}  // namespace

Logger& ServiceLogger() {
    if (Logger* active = activeLogger.load()) return *active;
    static Logger* fallback = new Logger(ServiceLogFolder());  // kept until exit
    return *fallback;
}

ActiveLogger::ActiveLogger(Logger& logger) : previous_(activeLogger.exchange(&logger)) {}

ActiveLogger::~ActiveLogger() { activeLogger.store(previous_); }

void Log(std::string text) { ServiceLogger().Log(std::move(text)); }

void LogError(std::string text) { ServiceLogger().LogError(std::move(text)); }

void LogCompositor(std::string text) { ServiceLogger().LogCompositor(std::move(text)); }

std::string EscapeForLog(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    // ASCII control characters: everything below the space, and DEL.
    constexpr unsigned char kFirstPrintable = 0x20;
    constexpr unsigned char kDelete = 0x7F;
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= kFirstPrintable && byte != kDelete) {
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        }
    }
    return out;
}

}  // namespace qor
