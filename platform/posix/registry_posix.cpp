// Registry stand-in: a key is a folder, a value is a file holding "dword:<n>" or "sz:<text>".
// Lookups ignore case, as the Windows registry does; writes are atomic (temp file + rename).
#include "platform/registry.h"

#include "platform/posix/private_folder.h"
#include "platform/system.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace qor::platform {

namespace {

constexpr std::string_view kTempPrefix = ".norvik-tmp-";
constexpr std::string_view kDefaultValueFile = "@";

// The root of the tree. Values such as "RuntimeDir" decide which libraries the service loads,
// so a root another user could write is refused and everything below it reads as missing.
// Only writes make the root; a read never creates anything.
std::string RegistryFolder(bool create) {
    std::string folder;
    if (auto value = GetEnv("NORVIK_REGISTRY_DIR"); value && !value->empty()) {
        folder = *value;
    } else if (auto config = GetEnv("XDG_CONFIG_HOME"); config && !config->empty()) {
        folder = *config + "/norvik/registry";
    } else {
        folder = InHomeFolder(".config/norvik/registry");
    }
    return PrivateFolderOrUnusable(folder, PrivateFolderUse::Data, create);
}

const char* RootName(RegistryRoot root) {
    return root == RegistryRoot::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

bool IsSafeComponent(std::string_view component) {
    return !component.empty() && component != "." && component != ".." &&
           component.find('/') == std::string_view::npos && component.find('\0') == std::string_view::npos;
}

// Splits "SOFTWARE\Norvik\X" into its components; false for names that could leave the tree.
bool SplitKey(std::string_view key, std::vector<std::string>* components) {
    size_t start = 0;
    while (start <= key.size()) {
        const size_t end = std::min(key.find('\\', start), key.size());
        const std::string_view part = key.substr(start, end - start);
        if (!part.empty()) {
            if (!IsSafeComponent(part)) return false;
            components->emplace_back(part);
        }
        start = end + 1;
    }
    return true;
}

// The entry of `folder` whose name equals `name` ignoring case; the exact name when none.
std::string FindEntry(const std::string& folder, const std::string& name) {
    if (FileExists(folder + "/" + name)) return name;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return name;
    std::string found = name;
    while (const dirent* entry = ::readdir(dir)) {
        if (::strcasecmp(entry->d_name, name.c_str()) == 0) {
            found = entry->d_name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

// The folder of a key, resolving each component without regard to case; `create` when the
// caller is about to write.
std::optional<std::string> KeyFolder(RegistryRoot root, std::string_view key, bool create = false) {
    std::vector<std::string> components;
    if (!SplitKey(key, &components)) return std::nullopt;
    const std::string base = RegistryFolder(create);
    if (base == kUnusableFolder) return std::nullopt;
    std::string folder = base + "/" + RootName(root);
    for (const auto& component : components) folder += "/" + FindEntry(folder, component);
    return folder;
}

std::optional<std::string> ValueFile(const std::string& folder, std::string_view value) {
    if (value.empty()) return folder + "/" + std::string(kDefaultValueFile);
    if (!IsSafeComponent(value) || value.substr(0, kTempPrefix.size()) == kTempPrefix) return std::nullopt;
    return folder + "/" + FindEntry(folder, std::string(value));
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

std::optional<uint32_t> ParseDword(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.remove_suffix(1);
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    if (text.empty() || text.front() == '-' || text.front() == '+') return std::nullopt;
    const std::string digits(text);
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(digits.c_str(), &end, 0);
    if (errno != 0 || end != digits.c_str() + digits.size() || value > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<uint32_t>(value);
}

std::optional<RegistryValue> ParseValue(const std::string& content) {
    RegistryValue value;
    if (content.rfind("dword:", 0) == 0) {
        auto number = ParseDword(std::string_view(content).substr(6));
        if (!number) return std::nullopt;
        value.type = RegistryType::Dword;
        value.dword = *number;
        return value;
    }
    if (content.rfind("sz:", 0) == 0) {
        value.type = RegistryType::String;
        value.text = content.substr(3);
        // Files written by hand usually end in a newline that is not part of the value.
        if (!value.text.empty() && value.text.back() == '\n') value.text.pop_back();
        if (!value.text.empty() && value.text.back() == '\r') value.text.pop_back();
        return value;
    }
    return std::nullopt;
}

std::optional<RegistryValue> ReadValue(RegistryRoot root, std::string_view key, std::string_view name) {
    const auto folder = KeyFolder(root, key);
    if (!folder) return std::nullopt;
    const auto file = ValueFile(*folder, name);
    if (!file) return std::nullopt;
    const auto content = ReadWholeFile(*file);
    if (!content) return std::nullopt;
    return ParseValue(*content);
}

bool WriteValue(RegistryRoot root, std::string_view key, std::string_view name, const std::string& content) {
    const auto folder = KeyFolder(root, key, true);
    if (!folder || !CreateFolders(*folder)) return false;
    const auto file = ValueFile(*folder, name);
    if (!file) return false;
    static std::atomic<unsigned> counter {0};
    const std::string temp = *folder + "/" + std::string(kTempPrefix) + std::to_string(ProcessId()) + "-" +
                             std::to_string(counter++);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool written = ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temp.c_str(), file->c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

bool IsTempName(std::string_view name) { return name.substr(0, kTempPrefix.size()) == kTempPrefix; }

class InotifyRegistryWatch final : public RegistryWatch {
public:
    explicit InotifyRegistryWatch(int fd) : fd_(fd) {}
    ~InotifyRegistryWatch() override { ::close(fd_); }
    InotifyRegistryWatch(const InotifyRegistryWatch&) = delete;
    InotifyRegistryWatch& operator=(const InotifyRegistryWatch&) = delete;

    bool WaitForChange(uint32_t timeoutMs) override {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            pollfd ready {fd_, POLLIN, 0};
            const int polled = ::poll(&ready, 1, static_cast<int>(std::max<int64_t>(0, left)));
            if (polled < 0 && errno == EINTR) continue;
            if (polled <= 0) return false;
            if (DrainEvents()) return true;
        }
    }

private:
    // Reads the queued events; true when one of them concerns a value (not a temp file).
    bool DrainEvents() {
        alignas(inotify_event) char buffer[4096];
        bool changed = false;
        for (;;) {
            const ssize_t length = ::read(fd_, buffer, sizeof buffer);
            if (length <= 0) break;
            for (ssize_t offset = 0; offset < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
                const std::string_view name = event->len ? std::string_view(event->name) : std::string_view();
                if (!IsTempName(name)) changed = true;
                offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return changed;
    }

    int fd_;
};

}  // namespace

std::optional<uint32_t> RegistryReadDword(RegistryRoot root, std::string_view key, std::string_view value) {
    const auto read = ReadValue(root, key, value);
    if (!read || read->type != RegistryType::Dword) return std::nullopt;
    return read->dword;
}

std::optional<std::string> RegistryReadString(RegistryRoot root, std::string_view key, std::string_view value) {
    const auto read = ReadValue(root, key, value);
    if (!read || read->type != RegistryType::String) return std::nullopt;
    return read->text;
}

bool RegistryWriteDword(RegistryRoot root, std::string_view key, std::string_view value, uint32_t data) {
    return WriteValue(root, key, value, "dword:" + std::to_string(data));
}

bool RegistryWriteString(RegistryRoot root, std::string_view key, std::string_view value, std::string_view data) {
    return WriteValue(root, key, value, "sz:" + std::string(data));
}

bool RegistryCreateKey(RegistryRoot root, std::string_view key) {
    const auto folder = KeyFolder(root, key, true);
    return folder && CreateFolders(*folder);
}

bool RegistryDeleteValue(RegistryRoot root, std::string_view key, std::string_view value) {
    const auto folder = KeyFolder(root, key);
    if (!folder) return false;
    const auto file = ValueFile(*folder, value);
    return file && ::unlink(file->c_str()) == 0;
}

bool RegistryDeleteTree(RegistryRoot root, std::string_view key) {
    std::vector<std::string> components;
    if (!SplitKey(key, &components) || components.empty()) return false;  // never the whole root
    const auto folder = KeyFolder(root, key);
    if (!folder || !FileExists(*folder)) return false;
    std::error_code error;
    std::filesystem::remove_all(*folder, error);
    return !error;
}

std::vector<RegistryValue> RegistryEnumerateValues(RegistryRoot root, std::string_view key) {
    std::vector<RegistryValue> values;
    const auto folder = KeyFolder(root, key);
    if (!folder) return values;
    DIR* dir = ::opendir(folder->c_str());
    if (dir == nullptr) return values;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || IsTempName(name)) continue;
        const auto content = ReadWholeFile(*folder + "/" + name);
        if (!content) continue;  // a subkey
        auto value = ParseValue(*content);
        if (!value) continue;
        value->name = (name == kDefaultValueFile) ? std::string() : name;
        values.push_back(std::move(*value));
    }
    ::closedir(dir);
    return values;
}

std::unique_ptr<RegistryWatch> WatchRegistryKey(RegistryRoot root, std::string_view key) {
    const auto folder = KeyFolder(root, key);
    if (!folder) return nullptr;
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return nullptr;
    constexpr uint32_t kEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE;
    if (::inotify_add_watch(fd, folder->c_str(), kEvents) < 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<InotifyRegistryWatch>(fd);
}

}  // namespace qor::platform
