#include "gpu/soft/object_names.h"

#include "platform/pipe.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <vector>

namespace qor::gpu::soft {

namespace {
// memfd names hold at most NAME_MAX bytes less the "memfd:" the kernel puts before them.
constexpr size_t kMaxObjectName = 249;

uint64_t Fnv1a(std::string_view text) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (const unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

// What /proc/self/fd shows for a memfd object: it has no path, so it is always "deleted".
std::string MemfdLink(const std::string& name) { return "/memfd:" + name + " (deleted)"; }

bool LinkIs(int folder, const char* entry, const std::string& link) {
    char target[512];
    const ssize_t length = ::readlinkat(folder, entry, target, sizeof target);
    return length > 0 && static_cast<size_t>(length) == link.size() && std::memcmp(target, link.data(), link.size()) == 0;
}

// The descriptor numbers in `fdFolder` ("/proc/<pid>/fd") whose target is `link`, at the time
// of the scan.
std::vector<int> DescriptorsLinkedTo(const std::string& link, const char* fdFolder = "/proc/self/fd") {
    std::vector<int> found;
    DIR* folder = ::opendir(fdFolder);
    if (folder == nullptr) return found;
    const int own = ::dirfd(folder);
    while (const dirent* entry = ::readdir(folder)) {
        const char* text = entry->d_name;
        const char* end = text + std::strlen(text);
        int fd = -1;
        const auto parsed = std::from_chars(text, end, fd);
        if (parsed.ec != std::errc() || parsed.ptr != end || fd == own) continue;
        if (LinkIs(own, text, link)) found.push_back(fd);
    }
    ::closedir(folder);
    return found;
}

std::string SelfPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Other processes of this user, by pid (the kernel lets a process open only those's descriptors).
std::vector<std::string> OtherOwnProcesses() {
    std::vector<std::string> pids;
    DIR* folder = ::opendir("/proc");
    if (folder == nullptr) return pids;
    const std::string self = std::to_string(::getpid());
    const uid_t user = ::getuid();
    while (const dirent* entry = ::readdir(folder)) {
        const char* text = entry->d_name;
        if (text[0] < '1' || text[0] > '9' || self == text) continue;
        struct stat info {};
        if (::fstatat(::dirfd(folder), text, &info, 0) == 0 && info.st_uid == user) pids.emplace_back(text);
    }
    ::closedir(folder);
    return pids;
}

// Opens the object through a descriptor of another process of this user: a legacy handle is
// global on Windows, so a process that was handed no descriptor still opens the texture.
int OpenFromOtherProcess(const std::string& link, int flags, const std::function<bool(int fd)>& accept) {
    for (const std::string& pid : OtherOwnProcesses()) {
        const std::string fdFolder = "/proc/" + pid + "/fd";
        for (const int candidate : DescriptorsLinkedTo(link, fdFolder.c_str())) {
            const int opened = ::open((fdFolder + "/" + std::to_string(candidate)).c_str(), flags | O_CLOEXEC | O_NOCTTY);
            if (opened < 0) continue;
            // The number may have been reused between the scan and the open: the name is
            // checked again on what was opened.
            if (LinkIs(AT_FDCWD, SelfPath(opened).c_str(), link) && accept(opened)) return opened;
            ::close(opened);
        }
    }
    return -1;
}
}  // namespace

std::string ObjectPrefix() {
    std::string folder = platform::PipePath("");
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    char text[40];
    std::snprintf(text, sizeof text, "norvik-gpu-%016llx-", static_cast<unsigned long long>(Fnv1a(folder)));
    return text;
}

std::string HandleObjectName(uint32_t handle) {
    char text[16];
    std::snprintf(text, sizeof text, "h%08x", handle);
    return ObjectPrefix() + text;
}

std::optional<std::string> ShareObjectName(std::u16string_view name) {
    if (name.empty()) return std::nullopt;
    std::string object = ObjectPrefix() + "n";
    for (const char16_t unit : name) {
        const bool plain = (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z') ||
                           (unit >= u'0' && unit <= u'9') || unit == u'_' || unit == u'-' || unit == u'.';
        if (plain) {
            object += static_cast<char>(unit);
        } else {
            char text[8];
            std::snprintf(text, sizeof text, "~%04x", static_cast<unsigned>(unit));
            object += text;
        }
        if (object.size() > kMaxObjectName) return std::nullopt;
    }
    return object;
}

bool ObjectOpen(const std::string& name) { return !DescriptorsLinkedTo(MemfdLink(name)).empty(); }

int OpenObject(const std::string& name, int flags, const std::function<bool(int fd)>& accept) {
    const std::string link = MemfdLink(name);
    for (const int candidate : DescriptorsLinkedTo(link)) {
        // Another thread may close the number and reuse it after the scan: a duplicate of our
        // own cannot change, so the name is checked again on it before anything is opened.
        const int own = ::fcntl(candidate, F_DUPFD_CLOEXEC, 0);
        if (own < 0) continue;
        int opened = -1;
        if (LinkIs(AT_FDCWD, SelfPath(own).c_str(), link)) {
            // Reopening through /proc gives a new open file description, which the keyed
            // mutex's per-opener lock needs.
            opened = ::open(SelfPath(own).c_str(), flags | O_CLOEXEC | O_NOCTTY);
        }
        ::close(own);
        if (opened < 0) continue;
        if (accept(opened)) return opened;
        ::close(opened);
    }
    return OpenFromOtherProcess(link, flags, accept);
}

}  // namespace qor::gpu::soft
