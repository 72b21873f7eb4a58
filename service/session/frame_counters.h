// The 16-bit frame counters of a session (waited, begun, ended): they count from 0, and once
// past it never return to 0, so 0 keeps meaning "no frame yet".
#pragma once

#include <cstdint>

namespace qor {

constexpr uint16_t NextFrameCount(uint16_t count) { return count == 0xFFFF ? 1 : static_cast<uint16_t>(count + 1); }

// The inverse of NextFrameCount (a given-back wait); 0 is skipped here too.
constexpr uint16_t PreviousFrameCount(uint16_t count) {
    return count <= 1 ? 0xFFFF : static_cast<uint16_t>(count - 1);
}

// True when the ended counter trails the begun one, i.e. a begun frame was never ended. The
// ended counter is always equal to the begun one or one step behind it, so inequality is that
// test, and unlike a plain "<" it holds across the wrap from 0xFFFF to 1.
constexpr bool FrameBehind(uint16_t ended, uint16_t begun) { return ended != begun; }

}  // namespace qor
