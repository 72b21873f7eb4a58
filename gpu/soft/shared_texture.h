// The POSIX shared-memory object behind a shared soft texture: a header with the texture's
// description and its keyed mutex, then the pixel store. The store holds mip 0 of every
// array slice, slice after slice, rows of width × BytesPerPixel bytes (one sample per pixel;
// further mips and samples exist only in the description).
//
// The keyed mutex: a process-shared robust mutex guards its state, waiters sleep on a futex
// in the header, and the holder write-locks one byte of the object through its own open file
// description, so the kernel drops that lock when the holder dies and the next acquirer sees
// the mutex abandoned.
#pragma once

#include "gpu/device.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qor::gpu::soft {

struct SharedHeader;

class SharedStorage {
public:
    // A new object under a fresh legacy handle, unique within the pipe folder; null on failure.
    static std::unique_ptr<SharedStorage> Create(const TextureDesc& desc, size_t pixelBytes);
    // Opens the object of another texture object (in any process); null when there is none.
    static std::unique_ptr<SharedStorage> Open(uint32_t handle);
    // The handle a share name stands for, when the name exists.
    static std::optional<uint32_t> ResolveName(std::u16string_view name);

    // Unmaps and closes. The creator also removes the handle's object, and every storage
    // the names it made; other openers keep their mapping until they close.
    ~SharedStorage();
    SharedStorage(const SharedStorage&) = delete;
    SharedStorage& operator=(const SharedStorage&) = delete;

    uint32_t Handle() const { return handle_; }
    TextureDesc Desc() const;
    uint8_t* Pixels();
    size_t PixelBytes() const;

    // Makes `name` open this texture; false when the name is taken or unusable.
    bool AddName(std::u16string_view name);

    // DXGI keyed-mutex semantics across every opener of the object.
    uint32_t AcquireSync(uint64_t key, uint32_t milliseconds);
    bool ReleaseSync(uint64_t key);

private:
    // `createdObject` is the handle's object when this storage made it, else empty.
    SharedStorage(int fd, void* base, size_t size, uint32_t handle, std::string createdObject);
    SharedHeader* Header() const { return static_cast<SharedHeader*>(base_); }
    bool LockHeader();
    void UnlockHeader();
    bool HolderAlive();
    bool TakeOwnership();

    int fd_;
    void* base_;
    size_t size_;
    uint32_t handle_;
    uint64_t token_;  // identifies this opener as the keyed mutex's holder
    std::vector<std::string> ownedObjects_;  // removed at destruction
};

}  // namespace qor::gpu::soft
