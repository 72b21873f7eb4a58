#include "platform/posix/private_folder.h"

#include "platform/system.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <vector>

namespace qor::platform {

namespace {

std::mutex refusalsMutex;
std::vector<std::string>& Refusals() {
    static std::vector<std::string> refusals;
    return refusals;
}

std::string Refuse(std::string text) {
    text += ": refused";
    bool fresh = false;
    {
        std::lock_guard lock(refusalsMutex);
        auto& refusals = Refusals();
        // Clients check the pipe folder on every call; one entry and one line per distinct refusal.
        if (std::find(refusals.begin(), refusals.end(), text) == refusals.end()) {
            refusals.push_back(text);
            fresh = true;
        }
    }
    if (fresh) DebugOutput(text + "\n");
    return text;
}

std::string ModeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Makes the folder and its missing parents, each with mode 0700; failures show in the lstat after.
void MakeFolders(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0 || errno != ENOENT) return;
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return;
    MakeFolders(path.substr(0, slash));
    ::mkdir(path.c_str(), 0700);
}

// Sets the mode through a descriptor of the very directory that was checked, so that a
// folder swapped in between is not changed instead.
bool NarrowMode(const std::string& path, const struct stat& checked) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat opened {};
    const bool same = ::fstat(fd, &opened) == 0 && opened.st_dev == checked.st_dev && opened.st_ino == checked.st_ino;
    const bool changed = same && ::fchmod(fd, 0700) == 0;
    ::close(fd);
    return changed;
}

}  // namespace

std::optional<std::string> CheckPrivateFolder(const std::string& path, PrivateFolderUse use, bool create) {
    std::string folder = path;
    // "link/" would make lstat follow the link.
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (folder.empty()) return Refuse("an empty folder name");
    if (create) MakeFolders(folder);
    struct stat info {};
    // Absent or unreachable: there is nothing to take over, and any use of it fails anyway.
    if (::lstat(folder.c_str(), &info) != 0) return std::nullopt;
    if (S_ISLNK(info.st_mode)) return Refuse("folder " + folder + " is a symbolic link");
    if (!S_ISDIR(info.st_mode)) return Refuse("folder " + folder + " is not a directory");
    const uid_t self = ::geteuid();
    if (info.st_uid != self) {
        return Refuse("folder " + folder + " is owned by uid " + std::to_string(info.st_uid) + ", not " +
                      std::to_string(self));
    }
    const mode_t mode = info.st_mode & 07777;
    if (use == PrivateFolderUse::Data) {
        if ((mode & (S_IWGRP | S_IWOTH)) == 0) return std::nullopt;
        return Refuse("folder " + folder + " is writable by group or others (mode " + ModeText(mode) + ")");
    }
    if (mode == 0700 || NarrowMode(folder, info)) return std::nullopt;
    return Refuse("folder " + folder + " has mode " + ModeText(mode) + " and cannot be set to 0700");
}

std::string PrivateFolderOrUnusable(const std::string& path, PrivateFolderUse use, bool create) {
    return CheckPrivateFolder(path, use, create) ? std::string(kUnusableFolder) : path;
}

std::optional<OwnAccount> OwnAccountEntry() {
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 16384);
    for (;;) {
        passwd entry {};
        passwd* found = nullptr;
        const int error = ::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found);
        if (error == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (error != 0 || found == nullptr) return std::nullopt;
        return OwnAccount {found->pw_name ? found->pw_name : "", found->pw_dir ? found->pw_dir : ""};
    }
}

std::optional<std::string> HomeFolder() {
    if (auto home = GetEnv("HOME"); home && !home->empty()) return home;
    const auto account = OwnAccountEntry();
    if (!account || account->home.empty()) return std::nullopt;
    return account->home;
}

std::string InHomeFolder(std::string_view relative) {
    const auto home = HomeFolder();
    if (!home) {
        Refuse("no home folder for uid " + std::to_string(::geteuid()) +
               " (HOME is unset and the password database has none), so no folder below it");
        return kUnusableFolder;
    }
    return *home + "/" + std::string(relative);
}

std::vector<std::string> FolderRefusals() {
    std::lock_guard lock(refusalsMutex);
    return Refusals();
}

}  // namespace qor::platform
