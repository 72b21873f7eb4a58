// Small OS services: known folders, paths, the single-instance lock, the clock, debug output,
// the executable's path and the environment.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qor::platform {

// FOLDERID_LocalAppData on Windows; $LOCALAPPDATA, else ${XDG_DATA_HOME:-~/.local/share} on POSIX.
// On POSIX "~" is $HOME, else the password database's home, and the folder is made (0700) when
// missing; a folder that is not ours or that group or others can write is refused (see below).
std::string LocalAppDataFolder();
// %PROGRAMDATA% on Windows; $PROGRAMDATA, else ${XDG_STATE_HOME:-~/.local/state} on POSIX, made
// and checked as above.
std::string ProgramDataFolder();

// Why folders for sockets, registry or data were refused in this process so far (POSIX: a
// symbolic link, not a directory, another owner, a mode that lets others in, no home folder),
// one text per refusal, for the service's log. A refused folder is replaced by a path where
// nothing can be created, so its users fail cleanly. Always empty on Windows.
std::vector<std::string> FolderRefusals();

// Appends a Windows-style relative path ("\Norvik\OpenXR\Logs") to a folder, with the
// platform's separator.
std::string JoinPath(std::string_view folder, std::string_view windowsRelative);
// Creates the folder and every missing parent; true when it exists afterwards.
bool CreateFolders(const std::string& path);
bool FileExists(const std::string& path);

// The value of an environment variable, or nothing when it is unset.
std::optional<std::string> GetEnv(const char* name);

// Full path of the running executable (the module file name of the process).
std::string ExecutablePath();
// Current process id.
uint32_t ProcessId();
// The name of the user the process runs as: GetUserNameW on Windows; on POSIX the password
// database's name of the effective user, else $USER, else the user id in decimal.
std::string UserName();

// The single-instance lock of a program: a named mutex on Windows, an flock'ed file in the
// pipe folder on POSIX. Held until the object is destroyed.
class InstanceLock {
public:
    virtual ~InstanceLock() = default;
};
// Null when another holder (in any process) has it, or on POSIX when the lock file cannot be
// opened there (a refused pipe folder, a symbolic link planted in its place).
std::unique_ptr<InstanceLock> TryAcquireInstanceLock(std::string_view name);

// Performance-counter semantics: a monotonic tick count and its ticks per second.
int64_t PerformanceCounter();
int64_t PerformanceFrequency();

// The local calendar time of a count of seconds since 1970 (localtime_s / localtime_r); all
// zero when the value cannot be converted.
std::tm LocalTime(int64_t seconds);

// Debugger output: OutputDebugStringW on Windows (seen only when a debugger listens); on POSIX
// standard error, but only while NORVIK_DEBUG_OUTPUT is "1", so applications that load the
// runtime library stay quiet by default.
void DebugOutput(std::string_view text);
// printf-style debug message formatted into a buffer of 100 characters (longer text is cut).
void DebugPrintf(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Text conversions for the UTF-16 parts of the system (Windows APIs, wire fields).
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);
// A filesystem path from UTF-8 text (wide on Windows), for opening files with the std streams.
std::filesystem::path PathFromUtf8(std::string_view text);

}  // namespace qor::platform
