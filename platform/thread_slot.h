// Per-thread memory behind one slot, as a library keeps its per-thread state: a TLS index with
// blocks from LocalAlloc on Windows; thread-local storage on POSIX, where each thread's blocks
// are freed when the thread ends (no thread-detach notice would free them there).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace qor::platform {

// Whether a loaded library hears of each new thread (DLL_THREAD_ATTACH). Where it does not, a
// library takes a thread's first call for its attach.
#if defined(_WIN32)
inline constexpr bool kLibrariesSeeThreadAttach = true;
#else
inline constexpr bool kLibrariesSeeThreadAttach = false;
#endif

// Constant-initialised and trivially destroyed, so a library's load and unload hooks can use a
// namespace-scope slot whatever the order of its static objects.
class ThreadSlot {
public:
    explicit constexpr ThreadSlot(size_t blockSize) : blockSize_(blockSize) {}
    ThreadSlot(const ThreadSlot&) = delete;
    ThreadSlot& operator=(const ThreadSlot&) = delete;

    // TlsAlloc; true once the slot is open (an open slot stays as it is). False when the process
    // has no slot left.
    bool Open();
    // TlsFree. Blocks other threads still hold are left to them.
    void Close();

    // The calling thread's block; null when it has none or the slot is closed.
    void* Block() const;
    // The calling thread's block, made zero-filled when it has none; null when the slot is
    // closed or no memory is left.
    void* MakeBlock();
    // Frees the calling thread's block, if it has one.
    void FreeBlock();

private:
    static constexpr uint32_t kClosed = 0xFFFFFFFF;  // TLS_OUT_OF_INDEXES
    size_t blockSize_;
    std::atomic<uint32_t> index_ {kClosed};
};

}  // namespace qor::platform
