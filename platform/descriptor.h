// Descriptors handed to another process beside a pipe message. On POSIX the shared objects of
// this system are anonymous (sealed memfd), so they travel as file descriptors (SCM_RIGHTS).
// Windows shares objects by handle value or by name, so nothing travels there and every list
// stays empty.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace qor::platform {

// At most this many descriptors travel with one message: a swapchain's three images with
// their share-name records, and room to spare.
constexpr uint32_t kMaxMessageDescriptors = 8;

// Owns one descriptor and closes it when destroyed.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { Reset(); }
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    // Gives up ownership.
    int Release() { return std::exchange(fd_, -1); }
    void Reset() {
#if !defined(_WIN32)
        if (fd_ >= 0) ::close(fd_);
#endif
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

using Descriptors = std::vector<Descriptor>;

}  // namespace qor::platform
