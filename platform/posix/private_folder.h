// The folders this system keeps its sockets, registry and data in. Under a shared parent such
// as /tmp another user could make or plant them first and have us talk to their sockets or
// load their libraries, so each folder is checked before it is used.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qor::platform {

enum class PrivateFolderUse {
    // The pipe folder: a directory of ours with mode exactly 0700; our own folder with any
    // other mode is set to 0700.
    Sockets,
    // Registry and data roots: a directory of ours that group and others cannot write.
    Data,
};

// Handed out instead of a refused folder: below /dev/null nothing can be created, bound or
// found (not even by root), so every socket, lock or file named inside it fails cleanly.
inline constexpr const char* kUnusableFolder = "/dev/null/norvik-refused";

// Checks `path` for `use`, first creating it and its missing parents with mode 0700 when
// `create` is set. Returns the refusal text (also recorded for FolderRefusals() and written
// to the debugger output), or nothing when the folder is fit for use or does not exist.
std::optional<std::string> CheckPrivateFolder(const std::string& path, PrivateFolderUse use, bool create);

// `path` when CheckPrivateFolder accepts it, else kUnusableFolder.
std::string PrivateFolderOrUnusable(const std::string& path, PrivateFolderUse use, bool create);

// The password database's entry of this process's effective user; nothing when it has none.
struct OwnAccount {
    std::string name;
    std::string home;
};
std::optional<OwnAccount> OwnAccountEntry();

// The user's home: $HOME when set, else the password database's entry of the effective user.
std::optional<std::string> HomeFolder();

// `relative` below the home folder; kUnusableFolder (and a recorded refusal) without a home,
// as any shared stand-in such as /tmp could be another user's.
std::string InHomeFolder(std::string_view relative);

}  // namespace qor::platform
