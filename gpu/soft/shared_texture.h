// The shared object behind a shared soft texture: an anonymous memfd object holding a header
// page with the texture's description and its keyed mutex, then the pixel store. The store
// holds mip 0 of every array slice, slice after slice, rows of width × BytesPerPixel bytes
// (one sample per pixel; further mips and samples exist only in the description).
//
// The creator seals the object's size before anyone else can see it, so no other process can
// shrink it under a mapping; the object goes away with its last descriptor and mapping, so a
// crashed process leaves nothing behind. Every opening process maps the whole object writable
// and may scribble on the header, so each side keeps its own copy of the description and never
// waits on the header's lock without a limit. Within one process all openers (also those of a
// driver module's own copy of this code) share a single mapping, so the pages count once.
//
// The keyed mutex: a process-shared robust mutex guards its state, waiters sleep on a futex
// in the header, and the holder write-locks one byte of the object through its own open file
// description, so the kernel drops that lock when the holder dies and the next acquirer sees
// the mutex abandoned.
#pragma once

#include "gpu/device.h"
#include "platform/descriptor.h"

#include <pthread.h>
#include <time.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace qor::gpu::soft {

// What the creator fixes at creation; an opener reads it once, as a copy, when it opens.
struct SharedDescription {
    uint32_t magic;  // marks a filled header
    uint32_t layoutVersion;
    uint32_t handle;  // the legacy handle the object was made for
    uint32_t width, height, mipLevels, arraySize, format, sampleCount, bindFlags, miscFlags;
    uint64_t pixelBytes;
};

// The first page of a texture object, as every process that opens it maps it.
struct SharedHeader {
    SharedDescription description;
    pthread_mutex_t lock;  // process-shared, robust: guards the fields below
    // Counts releases; waiters sleep on it as a futex. Not a pthread condition variable:
    // glibc's (2.36) can block every later signaller once a waiting process was killed.
    std::atomic<uint32_t> releases;
    uint64_t lastKey;  // the key of the last release; 0 at creation
    uint64_t holder;   // the holder's token, 0 while free
};

class SharedStorage {
public:
    // A new object under a fresh legacy handle, unused in this process; null on failure.
    static std::unique_ptr<SharedStorage> Create(const TextureDesc& desc, size_t pixelBytes);
    // Opens the object with this handle that this process has a descriptor of (made here or
    // received); null when there is none. It keeps a descriptor of its own, which the keyed
    // mutex needs and which keeps the handle findable in this process.
    static std::unique_ptr<SharedStorage> Open(uint32_t handle);
    // The handle a share name stands for, when this process has a descriptor of the name.
    static std::optional<uint32_t> ResolveName(std::u16string_view name);

    // New descriptors of the object with this handle (empty when there is none here), and of
    // a name's record followed by its texture's object, for another process.
    static platform::Descriptors SharingDescriptors(uint32_t handle);
    static platform::Descriptors SharingDescriptorsByName(std::u16string_view name);

    // Closes, including the names this storage made, and unmaps when it was the process's last
    // user of the mapping; the objects themselves live on while another descriptor or mapping
    // of them remains.
    ~SharedStorage();
    SharedStorage(const SharedStorage&) = delete;
    SharedStorage& operator=(const SharedStorage&) = delete;

    uint32_t Handle() const { return handle_; }
    // Copies taken at creation or at the open, never read again from the shared header.
    const TextureDesc& Desc() const { return desc_; }
    size_t PixelBytes() const { return pixelBytes_; }
    uint8_t* Pixels();

    // Makes `name` open this texture; false when the name is taken in this process or unusable.
    bool AddName(std::u16string_view name);

    // DXGI keyed-mutex semantics across every opener of the object.
    uint32_t AcquireSync(uint64_t key, uint32_t milliseconds);
    bool ReleaseSync(uint64_t key);

private:
    SharedStorage(platform::Descriptor fd, void* base, size_t size, uint32_t handle, const TextureDesc& desc,
                  size_t pixelBytes);
    SharedHeader* Header() const { return static_cast<SharedHeader*>(base_); }
    bool LockHeader(const timespec& deadline);
    void UnlockHeader();
    bool HolderAlive();
    bool TakeOwnership();

    platform::Descriptor fd_;
    void* base_;
    size_t size_;
    uint32_t handle_;
    TextureDesc desc_;
    size_t pixelBytes_;
    uint64_t token_;  // identifies this opener as the keyed mutex's holder
    std::vector<platform::Descriptor> names_;  // the name records this storage made
};

}  // namespace qor::gpu::soft
