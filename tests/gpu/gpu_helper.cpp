// A second process for the sharing tests: opens a texture another process shares and works
// on it on command. One command per line on standard input, one answer line per command.
// On POSIX the first argument is a socket on which the test sends the texture's descriptors;
// the helper takes them in before each open command and closes them once it has opened.
//   open-handle <hex> | open-name <ascii name>    -> ok | fail
//   write <slice> <byte>                          -> ok | fail   (fills the slice)
//   read <slice>                                  -> value <byte> | mixed | fail
//   acquire <key> <ms>                            -> the AcquireSync result, decimal
//   release <key>                                 -> ok | fail
//   announced-acquire <key> <ms>                  -> waiting, then the AcquireSync result
//   pingpong <rounds> <key> <next key>            -> ok <last byte> | fail <step>
//     (each round: acquire key, read byte v of slice 0, fill it with v + 1, release next key)
//   exit
// POSIX only, acting as a hostile peer on the texture objects among its descriptors:
//   truncate                                      -> refused | resized | fail (none found)
//   hold-header | drop-header                     -> ok | fail  (the header's lock, through
//                                                    a mapping of its own)
#include "gpu/device.h"

#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#if !defined(_WIN32)
#include "gpu/soft/shared_texture.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#endif

namespace {
using namespace qor::gpu;

std::string ReadValue(Texture& texture, uint32_t slice) {
    std::vector<uint8_t> pixels;
    if (!texture.ReadPixels(slice, &pixels) || pixels.empty()) return "fail";
    for (const uint8_t byte : pixels) {
        if (byte != pixels[0]) return "mixed";
    }
    return "value " + std::to_string(pixels[0]);
}

bool Fill(Texture& texture, uint32_t slice, uint8_t value) {
    const TextureDesc& desc = texture.Desc();
    const std::vector<uint8_t> pixels(static_cast<size_t>(desc.width) * desc.height * BytesPerPixel(desc.format), value);
    return texture.WritePixels(slice, pixels.data(), pixels.size());
}

std::string PingPong(Texture& texture, int rounds, uint64_t key, uint64_t nextKey) {
    int last = -1;
    for (int round = 0; round < rounds; ++round) {
        if (texture.AcquireSync(key, 10000) != kSyncOk) return "fail acquire";
        std::vector<uint8_t> pixels;
        if (!texture.ReadPixels(0, &pixels) || pixels.empty()) return "fail read";
        last = (pixels[0] + 1) & 0xFF;
        if (!Fill(texture, 0, static_cast<uint8_t>(last))) return "fail write";
        if (!texture.ReleaseSync(nextKey)) return "fail release";
    }
    return "ok " + std::to_string(last);
}

#if !defined(_WIN32)
// Everything the test process has sent so far, without waiting for more.
qor::platform::Descriptors ReceiveDescriptors(int socket) {
    qor::platform::Descriptors received;
    for (;;) {
        char byte = 0;
        iovec payload {&byte, 1};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * qor::platform::kMaxMessageDescriptors)] {};
        msghdr message {};
        message.msg_iov = &payload;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        if (::recvmsg(socket, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC) <= 0) return received;
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr; header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) continue;
            const size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (size_t i = 0; i < count; ++i) {
                int fd = -1;
                std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof fd);
                received.emplace_back(fd);
            }
        }
    }
}

// This process's descriptors of texture objects (not name records, which are smaller than
// the header page).
std::vector<int> TextureObjects() {
    std::vector<int> found;
    DIR* folder = ::opendir("/proc/self/fd");
    if (folder == nullptr) return found;
    while (const dirent* entry = ::readdir(folder)) {
        char target[512] {};
        if (::readlinkat(::dirfd(folder), entry->d_name, target, sizeof target - 1) <= 0) continue;
        if (std::strncmp(target, "/memfd:norvik-gpu-", 18) != 0) continue;
        const int fd = std::atoi(entry->d_name);
        if (::lseek(fd, 0, SEEK_END) >= 4096) found.push_back(fd);
    }
    ::closedir(folder);
    return found;
}

// Tries to shrink and to grow every texture object, through its descriptor and a new one.
std::string Truncate() {
    const auto objects = TextureObjects();
    if (objects.empty()) return "fail";
    bool resized = false;
    for (const int fd : objects) {
        const qor::platform::Descriptor reopened(::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDWR | O_CLOEXEC));
        for (const int target : {fd, reopened.Get()}) {
            const off_t size = ::lseek(target, 0, SEEK_END);
            resized |= ::ftruncate(target, 0) == 0 || ::ftruncate(target, size + 4096) == 0;
        }
    }
    return resized ? "resized" : "refused";
}

// The header of the first texture object, mapped on its own.
soft::SharedHeader* heldHeader = nullptr;

std::string HoldHeader() {
    const auto objects = TextureObjects();
    if (objects.empty() || heldHeader != nullptr) return "fail";
    void* base = ::mmap(nullptr, sizeof(soft::SharedHeader), PROT_READ | PROT_WRITE, MAP_SHARED, objects[0], 0);
    if (base == MAP_FAILED) return "fail";
    heldHeader = static_cast<soft::SharedHeader*>(base);
    return pthread_mutex_lock(&heldHeader->lock) == 0 ? "ok" : "fail";
}

std::string DropHeader() {
    if (heldHeader == nullptr) return "fail";
    const bool unlocked = pthread_mutex_unlock(&heldHeader->lock) == 0;
    ::munmap(heldHeader, sizeof(soft::SharedHeader));
    heldHeader = nullptr;
    return unlocked ? "ok" : "fail";
}
#endif
}  // namespace

int main(int argc, char** argv) {
#if !defined(_WIN32)
    const int descriptorSocket = argc > 1 ? std::atoi(argv[1]) : -1;
#else
    (void)argc;
    (void)argv;
#endif
    std::string error;
    const auto device = CreateDevice(Api::D3D11, 0, &error);
    if (!device) {
        std::cerr << "gpu_helper: " << error << std::endl;
        return 2;
    }
    std::unique_ptr<Texture> texture;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string command;
        in >> command;
        std::string answer = "fail";
        if (command == "exit") break;
        if (command == "open-handle" || command == "open-name") {
#if !defined(_WIN32)
            // Held only until the open is done: the texture keeps its own descriptor.
            const auto received = ReceiveDescriptors(descriptorSocket);
#endif
            if (command == "open-handle") {
                uint64_t handle = 0;
                in >> std::hex >> handle;
                texture = device->OpenSharedTexture(handle);
            } else {
                std::string name;
                in >> name;
                texture = device->OpenSharedTextureByName(std::u16string(name.begin(), name.end()));
            }
            answer = texture ? "ok" : "fail";
        } else if (texture && command == "write") {
            uint32_t slice = 0;
            int value = 0;
            in >> slice >> value;
            answer = Fill(*texture, slice, static_cast<uint8_t>(value)) ? "ok" : "fail";
        } else if (texture && command == "read") {
            uint32_t slice = 0;
            in >> slice;
            answer = ReadValue(*texture, slice);
        } else if (texture && command == "acquire") {
            uint64_t key = 0;
            uint32_t milliseconds = 0;
            in >> key >> milliseconds;
            answer = std::to_string(texture->AcquireSync(key, milliseconds));
        } else if (texture && command == "announced-acquire") {
            uint64_t key = 0;
            uint32_t milliseconds = 0;
            in >> key >> milliseconds;
            std::cout << "waiting" << std::endl;
            answer = std::to_string(texture->AcquireSync(key, milliseconds));
        } else if (texture && command == "release") {
            uint64_t key = 0;
            in >> key;
            answer = texture->ReleaseSync(key) ? "ok" : "fail";
        } else if (texture && command == "pingpong") {
            int rounds = 0;
            uint64_t key = 0;
            uint64_t nextKey = 0;
            in >> rounds >> key >> nextKey;
            answer = PingPong(*texture, rounds, key, nextKey);
        }
#if !defined(_WIN32)
        else if (command == "truncate") {
            answer = Truncate();
        } else if (command == "hold-header") {
            answer = HoldHeader();
        } else if (command == "drop-header") {
            answer = DropHeader();
        }
#endif
        std::cout << answer << std::endl;
    }
    return 0;
}
