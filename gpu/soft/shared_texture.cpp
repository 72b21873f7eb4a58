#include "gpu/soft/shared_texture.h"

#include "gpu/soft/object_names.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace qor::gpu::soft {

namespace {
constexpr uint32_t kHeaderMagic = 0x5854524eu;  // "NRTX"
constexpr uint32_t kNameMagic = 0x4d414e4eu;    // "NNAM"
constexpr uint32_t kLayoutVersion = 2;
// Pixels start on their own page.
constexpr size_t kPixelOffset = 4096;
constexpr uint32_t kInfinite = 0xFFFFFFFFu;
// A waiter looks again this often whether the holder is still alive: nobody signals a death.
constexpr long long kLivenessPollNs = 5'000'000;
// Peers hold the header lock for a few assignments: even a zero-time acquire waits that out.
constexpr long long kHeaderLockGraceNs = 5'000'000;
// A peer that keeps the header lock this long is stuck or hostile: releases and unlimited
// acquires give up rather than hang the caller.
constexpr long long kHeaderLockLimitNs = 100'000'000;
// Nobody may change a texture object's size once it is shared; a name record not even its bytes.
constexpr int kTextureSeals = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL;
constexpr int kNameSeals = kTextureSeals | F_SEAL_WRITE;

struct NameRecord {
    uint32_t magic;
    uint32_t handle;
};

uint64_t RandomValue() {
    uint64_t value = 0;
    while (::getrandom(&value, sizeof value, 0) != static_cast<ssize_t>(sizeof value)) {
    }
    return value;
}

uint64_t NextToken() {
    static const uint64_t salt = RandomValue() | 1;
    static std::atomic<uint64_t> counter {0};
    return salt + 2 * ++counter;  // odd values: never 0, the "free" marker
}

// Serialises "is this handle or name free here?" with taking it, for the threads of this module.
std::mutex& RegistryMutex() {
    static std::mutex mutex;
    return mutex;
}

timespec Now() {
    timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

timespec Plus(timespec time, long long nanoseconds) {
    nanoseconds += time.tv_nsec;
    time.tv_sec += static_cast<time_t>(nanoseconds / 1'000'000'000);
    time.tv_nsec = static_cast<long>(nanoseconds % 1'000'000'000);
    return time;
}

long long NanosecondsBetween(const timespec& from, const timespec& to) {
    return (static_cast<long long>(to.tv_sec) - from.tv_sec) * 1'000'000'000 + (to.tv_nsec - from.tv_nsec);
}

timespec Later(const timespec& a, const timespec& b) { return NanosecondsBetween(a, b) > 0 ? b : a; }

// Waiting on and waking a word in shared memory across processes.
void FutexWait(std::atomic<uint32_t>* word, uint32_t seen, long long nanoseconds) {
    const timespec relative {static_cast<time_t>(nanoseconds / 1'000'000'000), static_cast<long>(nanoseconds % 1'000'000'000)};
    ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAIT, seen, &relative, nullptr, 0);
}

void FutexWakeAll(std::atomic<uint32_t>* word) {
    ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

// One byte of the object, write-locked by the keyed mutex's holder through its own open file
// description: the kernel drops the lock when the holder's process dies.
struct flock HolderByte(short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 1;
    return lock;
}

bool HasSeals(int fd, int required) {
    const int seals = ::fcntl(fd, F_GET_SEALS);
    return seals >= 0 && (seals & required) == required;
}

// The object's size, when it is at least `minimum` bytes and fits in memory.
std::optional<size_t> ObjectSize(int fd, size_t minimum) {
    struct stat status {};
    if (::fstat(fd, &status) != 0 || status.st_size < 0 || static_cast<uint64_t>(status.st_size) > SIZE_MAX ||
        static_cast<size_t>(status.st_size) < minimum) {
        return std::nullopt;
    }
    return static_cast<size_t>(status.st_size);
}

// The description of a sealed texture object made for `handle`, copied out of the object
// once; nothing when the object is not one.
std::optional<SharedDescription> ReadDescription(int fd, uint32_t handle, size_t* size) {
    const auto objectSize = ObjectSize(fd, kPixelOffset);
    if (!HasSeals(fd, kTextureSeals) || !objectSize) return std::nullopt;
    SharedDescription description {};
    if (::pread(fd, &description, sizeof description, 0) != static_cast<ssize_t>(sizeof description)) return std::nullopt;
    if (description.magic != kHeaderMagic || description.layoutVersion != kLayoutVersion ||
        description.handle != handle || description.pixelBytes > *objectSize - kPixelOffset) {
        return std::nullopt;
    }
    *size = *objectSize;
    return description;
}

std::optional<uint32_t> ReadNameRecord(int fd) {
    const auto size = ObjectSize(fd, sizeof(NameRecord));
    if (!HasSeals(fd, kNameSeals) || !size || *size != sizeof(NameRecord)) return std::nullopt;
    NameRecord record {};
    if (::pread(fd, &record, sizeof record, 0) != static_cast<ssize_t>(sizeof record)) return std::nullopt;
    if (record.magic != kNameMagic || record.handle == 0) return std::nullopt;
    return record.handle;
}

// ---- One mapping of an object per process ----
// A second mapping of the same pages counts them twice in the process's resident memory (the
// compositor's stage, opened again by the display window in the service), so all openers in a
// process share one. Driver modules link their own copy of this code, so nothing here lives
// in a module's memory: a mapping is found in /proc/self/maps, its users are counted in a
// private page just below it, and every copy takes turns through an exclusive lock on this
// process's own /proc folder, opened anew by each taker. The record pages are private, so a
// forked child counts its own users, as it has its own copies of the openers.

// What the page below a mapping holds; the same in every copy of this code.
struct MappingHead {
    static constexpr uint64_t kMagic[2] = {0x4E4F52564B4D4150ull, 0x5245434F52443031ull};  // "NORVKMAP", "RECORD01"
    uint64_t magic[2];
    const void* self;  // where the record lives: a copy of one elsewhere does not count
    uint64_t device, inode, size;
};

struct MappingRecord {
    MappingHead head;
    std::atomic<uint64_t> users;
};

size_t PageBytes() {
    static const size_t bytes = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    return bytes;
}

class ProcessMappingLock {
public:
    ProcessMappingLock() : fd_(::open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (!fd_.Valid()) return;
        int result = 0;
        do {
            result = ::flock(fd_.Get(), LOCK_EX);
        } while (result != 0 && errno == EINTR);
        held_ = result == 0;
    }
    // Closing the descriptor drops the lock.
    bool Held() const { return held_; }

private:
    platform::Descriptor fd_;
    bool held_ = false;
};

bool IsRecordOf(const MappingRecord* record, const struct stat& object, size_t size) {
    // Whatever lies below a mapping that is not ours may not even be readable.
    MappingHead head {};
    iovec local {&head, sizeof head};
    iovec remote {const_cast<MappingRecord*>(record), sizeof head};
    if (::process_vm_readv(::getpid(), &local, 1, &remote, 1, 0) != static_cast<ssize_t>(sizeof head)) return false;
    return head.magic[0] == MappingHead::kMagic[0] && head.magic[1] == MappingHead::kMagic[1] && head.self == record &&
           head.device == object.st_dev && head.inode == object.st_ino && head.size == size;
}

// This process's mapping of the object, when there is one. Under the process's mapping lock.
MappingRecord* FindMapping(const struct stat& object, size_t size) {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        unsigned long long start = 0, end = 0, offset = 0, inode = 0;
        char access[5] = {};
        if (std::sscanf(line.c_str(), "%llx-%llx %4s %llx %*x:%*x %llu", &start, &end, access, &offset, &inode) != 5 ||
            inode != object.st_ino || offset != 0 || access[3] != 's' || end - start != size || start < PageBytes()) {
            continue;
        }
        auto* record = reinterpret_cast<MappingRecord*>(static_cast<uintptr_t>(start) - PageBytes());
        if (IsRecordOf(record, object, size)) return record;
    }
    return nullptr;
}

// The process's mapping of the `size`-byte object behind `fd`, made when there is none yet;
// one more user of it. Null on failure.
void* ShareMapping(int fd, size_t size) {
    struct stat object {};
    if (::fstat(fd, &object) != 0) return nullptr;
    const ProcessMappingLock lock;
    if (!lock.Held()) return nullptr;
    const size_t page = PageBytes();
    if (MappingRecord* record = FindMapping(object, size)) {
        record->users.fetch_add(1, std::memory_order_acq_rel);
        return reinterpret_cast<uint8_t*>(record) + page;
    }
    if (size > SIZE_MAX - page) return nullptr;
    void* reserved = ::mmap(nullptr, page + size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (reserved == MAP_FAILED) return nullptr;
    auto* bytes = static_cast<uint8_t*>(reserved);
    if (::mprotect(bytes, page, PROT_READ | PROT_WRITE) != 0 ||
        ::mmap(bytes + page, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0) == MAP_FAILED) {
        ::munmap(reserved, page + size);
        return nullptr;
    }
    auto* record = new (reserved) MappingRecord {};
    record->head = MappingHead {{MappingHead::kMagic[0], MappingHead::kMagic[1]}, record,
                                static_cast<uint64_t>(object.st_dev), static_cast<uint64_t>(object.st_ino), size};
    record->users.store(1, std::memory_order_release);
    return bytes + page;
}

// One user less of a mapping from ShareMapping; the last one unmaps it.
void ReleaseMapping(void* base, size_t size) {
    // Without the lock (no descriptor left) the count drops all the same: keeping the
    // mapping would lose it for good.
    const ProcessMappingLock lock;
    const size_t page = PageBytes();
    auto* record = reinterpret_cast<MappingRecord*>(static_cast<uint8_t*>(base) - page);
    if (record->users.fetch_sub(1, std::memory_order_acq_rel) == 1) ::munmap(record, page + size);
}

platform::Descriptor OpenTextureObject(uint32_t handle) {
    size_t size = 0;
    return platform::Descriptor(OpenObject(HandleObjectName(handle), O_RDWR,
                                           [&](int fd) { return ReadDescription(fd, handle, &size).has_value(); }));
}

// The name's record, reopened, and the handle it holds. A record kept after its texture went
// away here (a receiver that held on to it) is passed over.
std::pair<platform::Descriptor, uint32_t> OpenNameRecord(std::u16string_view name) {
    const auto object = ShareObjectName(name);
    if (!object) return {};
    uint32_t handle = 0;
    platform::Descriptor record(OpenObject(*object, O_RDONLY, [&](int fd) {
        const auto found = ReadNameRecord(fd);
        handle = found.value_or(0);
        return found && ObjectOpen(HandleObjectName(*found));
    }));
    return {std::move(record), handle};
}
}  // namespace

SharedStorage::SharedStorage(platform::Descriptor fd, void* base, size_t size, uint32_t handle, const TextureDesc& desc,
                             size_t pixelBytes)
    : fd_(std::move(fd)), base_(base), size_(size), handle_(handle), desc_(desc), pixelBytes_(pixelBytes),
      token_(NextToken()) {}

SharedStorage::~SharedStorage() { ReleaseMapping(base_, size_); }

std::unique_ptr<SharedStorage> SharedStorage::Create(const TextureDesc& desc, size_t pixelBytes) {
    if (pixelBytes > SIZE_MAX - kPixelOffset) return nullptr;
    const size_t size = kPixelOffset + pixelBytes;
    platform::Descriptor fd;
    uint32_t handle = 0;
    {
        std::lock_guard lock(RegistryMutex());
        for (int attempt = 0; attempt < 64; ++attempt) {
            handle = static_cast<uint32_t>(RandomValue());
            if (handle == 0) continue;
            const std::string name = HandleObjectName(handle);
            if (ObjectOpen(name)) continue;
            fd = platform::Descriptor(::memfd_create(name.c_str(), MFD_CLOEXEC | MFD_ALLOW_SEALING));
            break;
        }
    }
    if (!fd.Valid()) return nullptr;
    // Reserving the pages now turns a full memory into a refused texture, not a SIGBUS later;
    // the seals come before anyone else can reach the object.
    if (::ftruncate(fd.Get(), static_cast<off_t>(size)) != 0 || ::posix_fallocate(fd.Get(), 0, static_cast<off_t>(size)) != 0 ||
        ::fcntl(fd.Get(), F_ADD_SEALS, kTextureSeals) != 0) {
        return nullptr;
    }
    void* base = ShareMapping(fd.Get(), size);
    if (base == nullptr) return nullptr;

    auto* header = new (base) SharedHeader {};
    pthread_mutexattr_t mutexAttributes;
    pthread_mutexattr_init(&mutexAttributes);
    pthread_mutexattr_setpshared(&mutexAttributes, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&mutexAttributes, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(&header->lock, &mutexAttributes);
    pthread_mutexattr_destroy(&mutexAttributes);
    header->releases.store(0, std::memory_order_relaxed);
    header->lastKey = 0;
    header->holder = 0;
    header->description = SharedDescription {kHeaderMagic, kLayoutVersion, handle, desc.width, desc.height,
                                             desc.mipLevels, desc.arraySize, desc.format, desc.sampleCount,
                                             desc.bindFlags, desc.miscFlags, pixelBytes};
    return std::unique_ptr<SharedStorage>(new SharedStorage(std::move(fd), base, size, handle, desc, pixelBytes));
}

std::unique_ptr<SharedStorage> SharedStorage::Open(uint32_t handle) {
    if (handle == 0) return nullptr;
    std::unique_ptr<SharedStorage> storage;
    const int fd = OpenObject(HandleObjectName(handle), O_RDWR, [&](int candidate) {
        size_t size = 0;
        const auto description = ReadDescription(candidate, handle, &size);
        if (!description) return false;
        void* base = ShareMapping(candidate, size);
        if (base == nullptr) return false;
        TextureDesc desc;
        desc.width = description->width;
        desc.height = description->height;
        desc.mipLevels = description->mipLevels;
        desc.arraySize = description->arraySize;
        desc.format = description->format;
        desc.sampleCount = description->sampleCount;
        desc.bindFlags = description->bindFlags;
        desc.miscFlags = description->miscFlags;
        storage.reset(new SharedStorage(platform::Descriptor(candidate), base, size, handle, desc,
                                        static_cast<size_t>(description->pixelBytes)));
        return true;
    });
    if (fd < 0) return nullptr;
    return storage;
}

std::optional<uint32_t> SharedStorage::ResolveName(std::u16string_view name) {
    const auto [record, handle] = OpenNameRecord(name);
    if (!record.Valid()) return std::nullopt;
    return handle;
}

platform::Descriptors SharedStorage::SharingDescriptors(uint32_t handle) {
    platform::Descriptors descriptors;
    if (handle == 0) return descriptors;
    platform::Descriptor texture = OpenTextureObject(handle);
    if (texture.Valid()) descriptors.push_back(std::move(texture));
    return descriptors;
}

platform::Descriptors SharedStorage::SharingDescriptorsByName(std::u16string_view name) {
    platform::Descriptors descriptors;
    auto [record, handle] = OpenNameRecord(name);
    if (!record.Valid()) return descriptors;
    platform::Descriptor texture = OpenTextureObject(handle);
    if (!texture.Valid()) return descriptors;
    descriptors.push_back(std::move(record));
    descriptors.push_back(std::move(texture));
    return descriptors;
}

bool SharedStorage::AddName(std::u16string_view name) {
    const auto object = ShareObjectName(name);
    if (!object) return false;
    std::lock_guard lock(RegistryMutex());
    // A name already in use here is refused, as Windows refuses it.
    if (ObjectOpen(*object)) return false;
    platform::Descriptor fd(::memfd_create(object->c_str(), MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (!fd.Valid()) return false;
    const NameRecord record {kNameMagic, handle_};
    if (::pwrite(fd.Get(), &record, sizeof record, 0) != static_cast<ssize_t>(sizeof record) ||
        ::fcntl(fd.Get(), F_ADD_SEALS, kNameSeals) != 0) {
        return false;
    }
    names_.push_back(std::move(fd));
    return true;
}

uint8_t* SharedStorage::Pixels() { return static_cast<uint8_t*>(base_) + kPixelOffset; }

bool SharedStorage::LockHeader(const timespec& deadline) {
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer does not see pthread_mutex_clocklock, only the unlock: it is told here.
    __tsan_mutex_pre_lock(&Header()->lock, __tsan_mutex_try_lock);
#endif
    const int result = pthread_mutex_clocklock(&Header()->lock, CLOCK_MONOTONIC, &deadline);
    // A process died inside a few assignments of ours; the fields are still meaningful.
    const bool locked = result == 0 || (result == EOWNERDEAD && pthread_mutex_consistent(&Header()->lock) == 0);
#if defined(__SANITIZE_THREAD__)
    __tsan_mutex_post_lock(&Header()->lock, __tsan_mutex_try_lock | (locked ? 0 : __tsan_mutex_try_lock_failed), 0);
#endif
    return locked;
}

void SharedStorage::UnlockHeader() { pthread_mutex_unlock(&Header()->lock); }

bool SharedStorage::HolderAlive() {
    struct flock lock = HolderByte(F_WRLCK);
    if (::fcntl(fd_.Get(), F_OFD_GETLK, &lock) != 0) return true;
    return lock.l_type != F_UNLCK;
}

bool SharedStorage::TakeOwnership() {
    struct flock lock = HolderByte(F_WRLCK);
    if (::fcntl(fd_.Get(), F_OFD_SETLK, &lock) != 0) return false;
    Header()->holder = token_;
    return true;
}

uint32_t SharedStorage::AcquireSync(uint64_t key, uint32_t milliseconds) {
    if (!fd_.Valid()) return kSyncFailed;
    const bool unlimited = milliseconds == kInfinite;
    const timespec deadline = Plus(Now(), static_cast<long long>(milliseconds) * 1'000'000);
    const auto lockHeader = [&] {
        const timespec now = Now();
        return LockHeader(unlimited ? Plus(now, kHeaderLockLimitNs) : Later(deadline, Plus(now, kHeaderLockGraceNs)));
    };
    if (!lockHeader()) return kSyncFailed;
    SharedHeader* header = Header();
    uint32_t result = kSyncFailed;
    for (;;) {
        if (header->holder == token_) break;  // already ours: a second acquire is an error
        if (header->holder != 0 && !HolderAlive()) {
            result = TakeOwnership() ? kSyncAbandoned : kSyncFailed;
            break;
        }
        if (header->holder == 0 && header->lastKey == key) {
            result = TakeOwnership() ? kSyncOk : kSyncFailed;
            break;
        }
        long long wait = kLivenessPollNs;
        if (!unlimited) {
            const long long left = NanosecondsBetween(Now(), deadline);
            if (left <= 0) {
                result = kSyncTimeout;
                break;
            }
            if (left < wait) wait = left;
        }
        // Read under the lock: a release after the unlock changes the word, so the wait
        // below returns at once instead of missing it.
        const uint32_t seen = header->releases.load(std::memory_order_relaxed);
        UnlockHeader();
        FutexWait(&header->releases, seen, wait);
        if (!lockHeader()) return kSyncFailed;
    }
    UnlockHeader();
    return result;
}

bool SharedStorage::ReleaseSync(uint64_t key) {
    if (!fd_.Valid() || !LockHeader(Plus(Now(), kHeaderLockLimitNs))) return false;
    SharedHeader* header = Header();
    const bool holding = header->holder == token_;
    if (holding) {
        header->holder = 0;
        header->lastKey = key;
        struct flock lock = HolderByte(F_UNLCK);
        ::fcntl(fd_.Get(), F_OFD_SETLK, &lock);
        header->releases.fetch_add(1, std::memory_order_relaxed);
    }
    UnlockHeader();
    if (holding) FutexWakeAll(&header->releases);
    return holding;
}

}  // namespace qor::gpu::soft
