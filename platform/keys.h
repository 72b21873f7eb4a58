// The keyboard as GetAsyncKeyState sees it: on Windows the asynchronous key state; on POSIX
// the X11 key map while a display can be opened, plus the virtual-key codes listed one per
// line (decimal or 0x hex) in "<pipe folder>/keys-down" while that file exists.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace qor::platform {

// True when every one of the virtual keys is down at one reading (the high bit of its
// asynchronous state is set). False for an empty list.
bool KeysDown(std::initializer_list<uint16_t> virtualKeys);

}  // namespace qor::platform
