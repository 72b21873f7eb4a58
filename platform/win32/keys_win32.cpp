#include "platform/keys.h"

#include <windows.h>

namespace qor::platform {

bool KeysDown(std::initializer_list<uint16_t> virtualKeys) {
    if (virtualKeys.size() == 0) return false;
    for (const uint16_t key : virtualKeys) {
        if ((::GetAsyncKeyState(key) & 0x8000) == 0) return false;
    }
    return true;
}

}  // namespace qor::platform
