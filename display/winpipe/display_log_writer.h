// The diagnostic log of the display side (lenticular driver, window service, weaving window):
// written only when HKEY_LOCAL_MACHINE "SOFTWARE\OEM\Plexaview\Log" "Plexaview" is 1, one file
// per module under the program-data folder, one line per entry.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qor::winpipe {

inline constexpr std::string_view kDisplayLogSwitchKey = "SOFTWARE\\OEM\\Plexaview\\Log";
inline constexpr std::string_view kDisplayLogSwitchValue = "Plexaview";
inline constexpr std::string_view kDisplayLogFolder = "OEM\\Plexaview\\Log";

// The module names, one per deliverable.
inline constexpr std::string_view kDriverLogModule = "OstrelDriver";
inline constexpr std::string_view kWindowServiceLogModule = "PlexaSvc";
inline constexpr std::string_view kWeavingWindowLogModule = "Plexaview";

enum class DisplayLogLevel { Info = 0, Warning = 1, Error = 2, Exception = 3 };

// The driver's file has no date in its name; the window service's and the weaving window's
// have the local date of the writer's creation.
enum class DisplayLogFileName { Undated, Dated };

// True when the switch value is the DWORD 1.
bool DisplayLogSwitchOn();

// "%s\%s\%s_%s.log" (undated) or "%s\%s\%s_%s_%s.log" with the date as "%4d%02d%02d", from
// the program-data folder, "OEM\Plexaview\Log", the user name and the module name.
std::string DisplayLogPath(std::string_view programData, std::string_view user, std::string_view module,
                           const std::optional<std::tm>& date);

// One entry: the 11-character level tag, a blank, the local time as "%Y%m%d_%H:%M:%S" and
// ".%03d" milliseconds, then " | " between module, context and message, and "\r\n".
std::string DisplayLogLine(DisplayLogLevel level, const std::tm& localTime, int milliseconds,
                           std::string_view module, std::string_view context, std::string_view message);

class DisplayLogWriter {
public:
    // The writer of the module when the switch is on, its file named from %PROGRAMDATA% and
    // the process user and its folder made; null when the switch is off.
    static std::unique_ptr<DisplayLogWriter> CreateIfSwitchedOn(std::string_view module, DisplayLogFileName naming);

    // The writer of this file; its folder is made now.
    DisplayLogWriter(std::string_view module, std::string path);

    const std::string& Path() const { return path_; }

    // Appends one line. Each line opens the file for appending in binary mode (others may
    // have it open too), writes and closes it, under one lock for the whole process, so
    // lines of different threads never mix. Text is UTF-8 and written as it is.
    void Write(DisplayLogLevel level, std::string_view context, std::string_view message);
    // The same with a printf-style message.
    void Writef(DisplayLogLevel level, std::string_view context, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 4, 5)))
#endif
        ;

private:
    std::string module_;
    std::string path_;
};

}  // namespace qor::winpipe
