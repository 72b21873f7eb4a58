#include "platform/system.h"

#include "platform/pipe.h"
#include "platform/posix/private_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

namespace qor::platform {

namespace {
// $PRIMARY, else $XDG_VARIABLE, else ~/FALLBACK; made when missing and refused when another
// user could have put files there that we would trust.
std::string FolderFromEnvironment(const char* primary, const char* xdgVariable, const char* homeRelative) {
    std::string folder;
    if (auto value = GetEnv(primary); value && !value->empty()) {
        folder = *value;
    } else if (auto xdg = GetEnv(xdgVariable); xdg && !xdg->empty()) {
        folder = *xdg;
    } else {
        folder = InHomeFolder(homeRelative);
    }
    return PrivateFolderOrUnusable(folder, PrivateFolderUse::Data, true);
}
}  // namespace

std::string LocalAppDataFolder() { return FolderFromEnvironment("LOCALAPPDATA", "XDG_DATA_HOME", ".local/share"); }

std::string ProgramDataFolder() { return FolderFromEnvironment("PROGRAMDATA", "XDG_STATE_HOME", ".local/state"); }

std::string JoinPath(std::string_view folder, std::string_view windowsRelative) {
    std::string result(folder);
    while (!windowsRelative.empty() && (windowsRelative.front() == '\\' || windowsRelative.front() == '/')) {
        windowsRelative.remove_prefix(1);
    }
    if (windowsRelative.empty()) return result;
    if (result.empty() || result.back() != '/') result += '/';
    for (char c : windowsRelative) result += (c == '\\') ? '/' : c;
    return result;
}

bool CreateFolders(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return std::filesystem::is_directory(path, error);
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

std::optional<std::string> GetEnv(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

std::string ExecutablePath() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

uint32_t ProcessId() { return static_cast<uint32_t>(::getpid()); }

std::string UserName() {
    if (const auto account = OwnAccountEntry(); account && !account->name.empty()) return account->name;
    if (auto user = GetEnv("USER"); user && !user->empty()) return *user;
    return std::to_string(::geteuid());
}

namespace {
class FileInstanceLock final : public InstanceLock {
public:
    explicit FileInstanceLock(int fd) : fd_(fd) {}
    ~FileInstanceLock() override { ::close(fd_); }
    FileInstanceLock(const FileInstanceLock&) = delete;
    FileInstanceLock& operator=(const FileInstanceLock&) = delete;

private:
    int fd_;
};
}  // namespace

std::unique_ptr<InstanceLock> TryAcquireInstanceLock(std::string_view name) {
    const std::string path = PipeFolder() + "/" + std::string(name) + ".lock";
    // A symbolic link in place of the lock file is not followed: it could point anywhere.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    // flock belongs to the open file description, so a second open in this same process
    // is refused too, as a second CreateMutex caller would see the mutex exist.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<FileInstanceLock>(fd);
}

int64_t PerformanceCounter() {
    timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

int64_t PerformanceFrequency() { return 1000000000LL; }

std::tm LocalTime(int64_t seconds) {
    const std::time_t value = static_cast<std::time_t>(seconds);
    std::tm local {};
    ::localtime_r(&value, &local);
    return local;
}

void DebugOutput(std::string_view text) {
    // Read at each call (it is cheap), so a test or a shell can switch it on at any time.
    const char* enabled = std::getenv("NORVIK_DEBUG_OUTPUT");
    if (enabled == nullptr || std::string_view(enabled) != "1") return;
    // One write call so that lines of different threads do not interleave.
    [[maybe_unused]] auto written = ::write(STDERR_FILENO, text.data(), text.size());
}

void DebugPrintf(const char* format, ...) {
    char buffer[100];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (length < 0) return;
    DebugOutput(std::string_view(buffer, std::min<size_t>(static_cast<size_t>(length), sizeof buffer - 1)));
}

}  // namespace qor::platform
