// Names of the soft device's shared objects (anonymous memfd objects) and how a process finds
// them. Every name starts with a prefix derived from the pipe folder, so that systems (and
// test runs) with different NORVIK_PIPE_DIR values in one process never see each other's
// textures.
//
// The process's own descriptor table is the registry: an object is known here while some
// descriptor of it is open, whether this process made it or received it from another. Driver
// modules link their own copy of this code, so a table in memory would not be shared between
// the service and its drivers; the descriptor table is.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qor::gpu::soft {

// "norvik-gpu-<16 hex digits of a hash of the pipe folder>-".
std::string ObjectPrefix();

// The object that holds the texture with this legacy handle: prefix + "h" + 8 hex digits.
std::string HandleObjectName(uint32_t handle);

// The object that names a texture shared by name: prefix + "n" + the name with every code
// unit other than [A-Za-z0-9_.-] written as "~XXXX". Nothing for an empty or over-long name.
std::optional<std::string> ShareObjectName(std::u16string_view name);

// True when a descriptor of this process refers to the object called `name`.
bool ObjectOpen(const std::string& name);

// Opens the object called `name` that this process has a descriptor of, as a new open file
// description with `flags` (O_CLOEXEC is added), and returns the first one `accept` takes;
// failing that, one that another process of this user has a descriptor of (a legacy handle
// opens anywhere on Windows); -1 when there is none. A descriptor `accept` refuses is closed
// here.
int OpenObject(const std::string& name, int flags, const std::function<bool(int fd)>& accept);

}  // namespace qor::gpu::soft
