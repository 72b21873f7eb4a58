#include "gpu/soft/shared_texture.h"

#include "gpu/soft/shm_names.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

namespace qor::gpu::soft {

namespace {
constexpr uint32_t kHeaderMagic = 0x5854524eu;  // "NRTX"
constexpr uint32_t kNameMagic = 0x4d414e4eu;    // "NNAM"
constexpr uint32_t kLayoutVersion = 1;
// Pixels start on their own page.
constexpr size_t kPixelOffset = 4096;
constexpr uint32_t kInfinite = 0xFFFFFFFFu;
// A waiter looks again this often whether the holder is still alive: nobody signals a death.
constexpr long kLivenessPollNs = 5'000'000;

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

// Waiting on and waking a word in shared memory across processes.
void FutexWait(std::atomic<uint32_t>* word, uint32_t seen, long long nanoseconds) {
    const timespec relative {static_cast<time_t>(nanoseconds / 1'000'000'000), static_cast<long>(nanoseconds % 1'000'000'000)};
    ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAIT, seen, &relative, nullptr, 0);
}

void FutexWakeAll(std::atomic<uint32_t>* word) {
    ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

// One byte of the object, write-locked by the keyed mutex's holder through its own open
// file description: the kernel drops the lock when the holder's process dies.
flock HolderByte(short type) {
    flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 1;
    return lock;
}

struct NameRecord {
    std::atomic<uint32_t> magic;
    uint32_t handle;
};
}  // namespace

struct SharedHeader {
    std::atomic<uint32_t> magic;  // kHeaderMagic once the creator has filled the header
    uint32_t layoutVersion;
    uint32_t width, height, mipLevels, arraySize, format, sampleCount, bindFlags, miscFlags;
    uint64_t pixelBytes;
    pthread_mutex_t lock;  // process-shared, robust: guards the fields below
    // Counts releases; waiters sleep on it as a futex. Not a pthread condition variable:
    // glibc's (2.36) can block every later signaller once a waiting process was killed.
    std::atomic<uint32_t> releases;
    uint64_t lastKey;  // the key of the last release; 0 at creation
    uint64_t holder;   // the holder's token, 0 while free
};
static_assert(sizeof(SharedHeader) <= kPixelOffset);
static_assert(std::atomic<uint32_t>::is_always_lock_free);
static_assert(sizeof(NameRecord) == 8);

SharedStorage::SharedStorage(int fd, void* base, size_t size, uint32_t handle, std::string createdObject)
    : fd_(fd), base_(base), size_(size), handle_(handle), token_(NextToken()) {
    if (!createdObject.empty()) ownedObjects_.push_back(std::move(createdObject));
}

SharedStorage::~SharedStorage() {
    for (const auto& name : ownedObjects_) ::shm_unlink(name.c_str());
    ::munmap(base_, size_);
    ::close(fd_);
}

std::unique_ptr<SharedStorage> SharedStorage::Create(const TextureDesc& desc, size_t pixelBytes) {
    int fd = -1;
    uint32_t handle = 0;
    std::string name;
    for (int attempt = 0; attempt < 64 && fd < 0; ++attempt) {
        handle = static_cast<uint32_t>(RandomValue());
        if (handle == 0) continue;
        name = HandleObjectName(handle);
        fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        if (fd < 0 && errno != EEXIST) return nullptr;
    }
    if (fd < 0) return nullptr;
    const size_t size = kPixelOffset + pixelBytes;
    // Reserving the pages now turns a full /dev/shm into a refused texture, not a SIGBUS later.
    void* base = MAP_FAILED;
    if (::ftruncate(fd, static_cast<off_t>(size)) == 0 && ::posix_fallocate(fd, 0, static_cast<off_t>(size)) == 0) {
        base = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    }
    if (base == MAP_FAILED) {
        ::shm_unlink(name.c_str());
        ::close(fd);
        return nullptr;
    }

    auto* header = new (base) SharedHeader {};
    header->layoutVersion = kLayoutVersion;
    header->width = desc.width;
    header->height = desc.height;
    header->mipLevels = desc.mipLevels;
    header->arraySize = desc.arraySize;
    header->format = desc.format;
    header->sampleCount = desc.sampleCount;
    header->bindFlags = desc.bindFlags;
    header->miscFlags = desc.miscFlags;
    header->pixelBytes = pixelBytes;
    pthread_mutexattr_t mutexAttributes;
    pthread_mutexattr_init(&mutexAttributes);
    pthread_mutexattr_setpshared(&mutexAttributes, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&mutexAttributes, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(&header->lock, &mutexAttributes);
    pthread_mutexattr_destroy(&mutexAttributes);
    header->releases.store(0, std::memory_order_relaxed);
    header->lastKey = 0;
    header->holder = 0;
    header->magic.store(kHeaderMagic, std::memory_order_release);
    return std::unique_ptr<SharedStorage>(new SharedStorage(fd, base, size, handle, name));
}

std::unique_ptr<SharedStorage> SharedStorage::Open(uint32_t handle) {
    if (handle == 0) return nullptr;
    const int fd = ::shm_open(HandleObjectName(handle).c_str(), O_RDWR, 0);
    if (fd < 0) return nullptr;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || static_cast<size_t>(status.st_size) < kPixelOffset) {
        ::close(fd);
        return nullptr;
    }
    const size_t size = static_cast<size_t>(status.st_size);
    void* base = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (base == MAP_FAILED) {
        ::close(fd);
        return nullptr;
    }
    const auto* header = static_cast<const SharedHeader*>(base);
    if (header->magic.load(std::memory_order_acquire) != kHeaderMagic || header->layoutVersion != kLayoutVersion ||
        header->pixelBytes > size - kPixelOffset) {
        ::munmap(base, size);
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<SharedStorage>(new SharedStorage(fd, base, size, handle, {}));
}

std::optional<uint32_t> SharedStorage::ResolveName(std::u16string_view name) {
    const auto object = ShareObjectName(name);
    if (!object) return std::nullopt;
    const int fd = ::shm_open(object->c_str(), O_RDONLY, 0);
    if (fd < 0) return std::nullopt;
    std::optional<uint32_t> handle;
    struct stat status {};
    if (::fstat(fd, &status) == 0 && static_cast<size_t>(status.st_size) >= sizeof(NameRecord)) {
        void* base = ::mmap(nullptr, sizeof(NameRecord), PROT_READ, MAP_SHARED, fd, 0);
        if (base != MAP_FAILED) {
            const auto* record = static_cast<const NameRecord*>(base);
            if (record->magic.load(std::memory_order_acquire) == kNameMagic) handle = record->handle;
            ::munmap(base, sizeof(NameRecord));
        }
    }
    ::close(fd);
    return handle;
}

bool SharedStorage::AddName(std::u16string_view name) {
    const auto object = ShareObjectName(name);
    if (!object) return false;
    // O_EXCL: a name already in use in this pipe folder is refused, as Windows refuses it.
    const int fd = ::shm_open(object->c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd < 0) return false;
    void* base = MAP_FAILED;
    if (::ftruncate(fd, sizeof(NameRecord)) == 0) {
        base = ::mmap(nullptr, sizeof(NameRecord), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    }
    ::close(fd);
    if (base == MAP_FAILED) {
        ::shm_unlink(object->c_str());
        return false;
    }
    auto* record = new (base) NameRecord {};
    record->handle = handle_;
    record->magic.store(kNameMagic, std::memory_order_release);
    ::munmap(base, sizeof(NameRecord));
    ownedObjects_.push_back(*object);
    return true;
}

TextureDesc SharedStorage::Desc() const {
    const SharedHeader* header = Header();
    TextureDesc desc;
    desc.width = header->width;
    desc.height = header->height;
    desc.mipLevels = header->mipLevels;
    desc.arraySize = header->arraySize;
    desc.format = header->format;
    desc.sampleCount = header->sampleCount;
    desc.bindFlags = header->bindFlags;
    desc.miscFlags = header->miscFlags;
    return desc;
}

uint8_t* SharedStorage::Pixels() { return static_cast<uint8_t*>(base_) + kPixelOffset; }

size_t SharedStorage::PixelBytes() const { return Header()->pixelBytes; }

bool SharedStorage::LockHeader() {
    const int result = pthread_mutex_lock(&Header()->lock);
    // A process died inside a few assignments of ours; the fields are still meaningful.
    if (result == EOWNERDEAD) return pthread_mutex_consistent(&Header()->lock) == 0;
    return result == 0;
}

void SharedStorage::UnlockHeader() { pthread_mutex_unlock(&Header()->lock); }

bool SharedStorage::HolderAlive() {
    flock lock = HolderByte(F_WRLCK);
    if (::fcntl(fd_, F_OFD_GETLK, &lock) != 0) return true;
    return lock.l_type != F_UNLCK;
}

bool SharedStorage::TakeOwnership() {
    flock lock = HolderByte(F_WRLCK);
    if (::fcntl(fd_, F_OFD_SETLK, &lock) != 0) return false;
    Header()->holder = token_;
    return true;
}

uint32_t SharedStorage::AcquireSync(uint64_t key, uint32_t milliseconds) {
    const timespec deadline = Plus(Now(), static_cast<long long>(milliseconds) * 1'000'000);
    if (!LockHeader()) return kSyncFailed;
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
        const timespec now = Now();
        long long wait = kLivenessPollNs;
        if (milliseconds != kInfinite) {
            const long long left = NanosecondsBetween(now, deadline);
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
        if (!LockHeader()) return kSyncFailed;
    }
    UnlockHeader();
    return result;
}

bool SharedStorage::ReleaseSync(uint64_t key) {
    if (!LockHeader()) return false;
    SharedHeader* header = Header();
    const bool holding = header->holder == token_;
    if (holding) {
        header->holder = 0;
        header->lastKey = key;
        flock lock = HolderByte(F_UNLCK);
        ::fcntl(fd_, F_OFD_SETLK, &lock);
        header->releases.fetch_add(1, std::memory_order_relaxed);
    }
    UnlockHeader();
    if (holding) FutexWakeAll(&header->releases);
    return holding;
}

}  // namespace qor::gpu::soft
