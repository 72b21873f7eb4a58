// Names of the soft device's POSIX shared-memory objects. Every name starts with a prefix
// derived from the pipe folder, so that systems (and test runs) with different
// NORVIK_PIPE_DIR values never see each other's textures.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qor::gpu::soft {

// "norvik-gpu-<16 hex digits of a hash of the pipe folder>-", without the leading slash, as
// the objects appear under /dev/shm.
std::string ShmPrefix();

// The object that holds the texture with this legacy handle ("/" + prefix + "h" + 8 hex).
std::string HandleObjectName(uint32_t handle);

// The object that names a texture shared by name: "/" + prefix + "n" + the name with every
// code unit other than [A-Za-z0-9_.-] written as "~XXXX". Nothing for an empty or over-long
// name.
std::optional<std::string> ShareObjectName(std::u16string_view name);

}  // namespace qor::gpu::soft
