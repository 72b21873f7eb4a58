// Message digests through the platform's cryptographic service: CryptoAPI on Windows, OpenSSL
// on POSIX.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qor::platform {

using Md5Digest = std::array<uint8_t, 16>;

// MD5 of `size` bytes at `data` (`data` may be null when `size` is 0). False, with `digest`
// untouched, when the service cannot be opened or the hash fails.
bool Md5(const void* data, size_t size, Md5Digest* digest);

}  // namespace qor::platform
