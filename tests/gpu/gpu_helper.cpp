// A second process for the sharing tests: opens a texture another process shares and works
// on it on command. One command per line on standard input, one answer line per command:
//   open-handle <hex> | open-name <ascii name>    -> ok | fail
//   write <slice> <byte>                          -> ok | fail   (fills the slice)
//   read <slice>                                  -> value <byte> | mixed | fail
//   acquire <key> <ms>                            -> the AcquireSync result, decimal
//   release <key>                                 -> ok | fail
//   announced-acquire <key> <ms>                  -> waiting, then the AcquireSync result
//   pingpong <rounds> <key> <next key>            -> ok <last byte> | fail <step>
//     (each round: acquire key, read byte v of slice 0, fill it with v + 1, release next key)
//   exit
#include "gpu/device.h"

#include <iostream>
#include <sstream>
#include <string>

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
}  // namespace

int main() {
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
        if (command == "open-handle") {
            uint64_t handle = 0;
            in >> std::hex >> handle;
            texture = device->OpenSharedTexture(handle);
            answer = texture ? "ok" : "fail";
        } else if (command == "open-name") {
            std::string name;
            in >> name;
            texture = device->OpenSharedTextureByName(std::u16string(name.begin(), name.end()));
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
        std::cout << answer << std::endl;
    }
    return 0;
}
