// Key presses delivered to a display window the way its window system does: SDL events on
// POSIX, posted window messages on Windows. They arrive on the window's thread in order.
#pragma once

#include "drivers/basic/display_window.h"

namespace qor::test {

void PressArrowKey(basic::DisplayWindow& window, basic::ArrowKey key);
void ReleaseArrowKey(basic::DisplayWindow& window, basic::ArrowKey key);
void TypeCharacter(basic::DisplayWindow& window, char character);

}  // namespace qor::test
