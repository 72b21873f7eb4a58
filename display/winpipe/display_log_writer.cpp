#include "display/winpipe/display_log_writer.h"

#include "platform/registry.h"
#include "platform/system.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <vector>

namespace qor::winpipe {

namespace {

// The critical section every line is written under.
std::mutex& LineLock() {
    static std::mutex lock;
    return lock;
}

const char* LevelTag(DisplayLogLevel level) {
    switch (level) {
        case DisplayLogLevel::Info: return "[INFO]     ";
        case DisplayLogLevel::Warning: return "[WARNING]  ";
        case DisplayLogLevel::Error: return "[ERROR]    ";
        case DisplayLogLevel::Exception: return "[EXCEPTION]";
    }
    return "[INFO]     ";
}

std::string FormatV(const char* format, va_list arguments) {
    va_list copy;
    va_copy(copy, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0) return std::string();
    std::vector<char> text(static_cast<size_t>(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, arguments);
    return std::string(text.data(), static_cast<size_t>(length));
}

std::string Format(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::string text = FormatV(format, arguments);
    va_end(arguments);
    return text;
}

}  // namespace

bool DisplayLogSwitchOn() {
    return platform::RegistryReadDword(platform::RegistryRoot::LocalMachine, kDisplayLogSwitchKey,
                                       kDisplayLogSwitchValue) == 1u;
}

std::string DisplayLogPath(std::string_view programData, std::string_view user, std::string_view module,
                           const std::optional<std::tm>& date) {
    // Formatted with the folder left empty, then joined to it, so the separators are the
    // platform's.
    const std::string folder(kDisplayLogFolder);
    const std::string userName(user);
    const std::string moduleName(module);
    std::string relative;
    if (date) {
        const std::string day = Format("%4d%02d%02d", date->tm_year + 1900, date->tm_mon + 1, date->tm_mday);
        relative = Format("%s\\%s\\%s_%s_%s.log", "", folder.c_str(), userName.c_str(), moduleName.c_str(), day.c_str());
    } else {
        relative = Format("%s\\%s\\%s_%s.log", "", folder.c_str(), userName.c_str(), moduleName.c_str());
    }
    return platform::JoinPath(programData, relative);
}

std::string DisplayLogLine(DisplayLogLevel level, const std::tm& localTime, int milliseconds,
                           std::string_view module, std::string_view context, std::string_view message) {
    char time[32];
    const size_t length = std::strftime(time, sizeof time, "%Y%m%d_%H:%M:%S", &localTime);
    std::string line = LevelTag(level);
    line += ' ';
    line.append(time, length);
    line += Format(".%03d", milliseconds);
    line += " | ";
    line += module;
    line += " | ";
    line += context;
    line += " | ";
    line += message;
    line += "\r\n";
    return line;
}

std::unique_ptr<DisplayLogWriter> DisplayLogWriter::CreateIfSwitchedOn(std::string_view module,
                                                                       DisplayLogFileName naming) {
    if (!DisplayLogSwitchOn()) return nullptr;
    std::optional<std::tm> date;
    if (naming == DisplayLogFileName::Dated) {
        const auto now = std::chrono::system_clock::now();
        date = platform::LocalTime(std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count());
    }
    return std::make_unique<DisplayLogWriter>(
        module, DisplayLogPath(platform::ProgramDataFolder(), platform::UserName(), module, date));
}

DisplayLogWriter::DisplayLogWriter(std::string_view module, std::string path) : module_(module), path_(std::move(path)) {
    // A folder that cannot be made shows only as lines that are not written.
    const size_t separator = path_.find_last_of("/\\");
    if (separator != std::string::npos) platform::CreateFolders(path_.substr(0, separator));
}

void DisplayLogWriter::Write(DisplayLogLevel level, std::string_view context, std::string_view message) {
    std::lock_guard lock(LineLock());
    // The time is taken under the lock, so the lines of a file are in time order.
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now);
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(now - seconds).count();
    const std::string line = DisplayLogLine(level, platform::LocalTime(seconds.count()),
                                            static_cast<int>(milliseconds), module_, context, message);
    std::ofstream file(platform::PathFromUtf8(path_), std::ios::out | std::ios::binary | std::ios::app);
    if (!file) return;
    file.write(line.data(), static_cast<std::streamsize>(line.size()));
}

void DisplayLogWriter::Writef(DisplayLogLevel level, std::string_view context, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const std::string message = FormatV(format, arguments);
    va_end(arguments);
    Write(level, context, message);
}

}  // namespace qor::winpipe
