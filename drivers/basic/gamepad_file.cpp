#include "drivers/basic/gamepad_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>

namespace qor::basic {

namespace {

struct Field {
    std::string_view name;
    int32_t min;
    int32_t max;
    void (*store)(GamepadState& state, int32_t value);
};

template <uint16_t Bit>
void StoreButton(GamepadState& state, int32_t value) {
    if (value != 0) state.buttons |= Bit;
}

template <uint8_t GamepadState::*Trigger>
void StoreTrigger(GamepadState& state, int32_t value) {
    state.*Trigger = static_cast<uint8_t>(value);
}

template <int16_t GamepadState::*Axis>
void StoreAxis(GamepadState& state, int32_t value) {
    state.*Axis = static_cast<int16_t>(value);
}

constexpr Field Button(std::string_view name, void (*store)(GamepadState&, int32_t)) { return {name, 0, 1, store}; }
constexpr Field Trigger(std::string_view name, void (*store)(GamepadState&, int32_t)) {
    return {name, 0, 255, store};
}
constexpr Field Axis(std::string_view name, void (*store)(GamepadState&, int32_t)) {
    return {name, -32768, 32767, store};
}

constexpr std::array kFields = {
    Button("a", StoreButton<kPadA>),
    Button("b", StoreButton<kPadB>),
    Button("x", StoreButton<kPadX>),
    Button("y", StoreButton<kPadY>),
    Button("menu", StoreButton<kPadStart>),
    Button("view", StoreButton<kPadBack>),
    Button("dpad_up", StoreButton<kPadDpadUp>),
    Button("dpad_down", StoreButton<kPadDpadDown>),
    Button("dpad_left", StoreButton<kPadDpadLeft>),
    Button("dpad_right", StoreButton<kPadDpadRight>),
    Button("shoulder_left", StoreButton<kPadLeftShoulder>),
    Button("shoulder_right", StoreButton<kPadRightShoulder>),
    Button("thumbstick_left_click", StoreButton<kPadLeftThumb>),
    Button("thumbstick_right_click", StoreButton<kPadRightThumb>),
    Trigger("trigger_left", StoreTrigger<&GamepadState::leftTrigger>),
    Trigger("trigger_right", StoreTrigger<&GamepadState::rightTrigger>),
    Axis("thumbstick_left_x", StoreAxis<&GamepadState::leftStickX>),
    Axis("thumbstick_left_y", StoreAxis<&GamepadState::leftStickY>),
    Axis("thumbstick_right_x", StoreAxis<&GamepadState::rightStickX>),
    Axis("thumbstick_right_y", StoreAxis<&GamepadState::rightStickY>),
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The next blank-separated word of `line`, taken off its front; empty at the end.
std::string_view TakeWord(std::string_view& line) {
    size_t start = 0;
    while (start < line.size() && IsBlank(line[start])) ++start;
    size_t end = start;
    while (end < line.size() && !IsBlank(line[end])) ++end;
    const std::string_view word = line.substr(start, end - start);
    line.remove_prefix(end);
    return word;
}

// Applies one "name value" line; false when it is malformed or names a field seen before.
bool ApplyLine(std::string_view line, GamepadState& state, std::array<bool, kFields.size()>& seen) {
    const std::string_view name = TakeWord(line);
    const std::string_view valueText = TakeWord(line);
    if (name.empty() || valueText.empty() || !TakeWord(line).empty()) return false;
    int32_t value = 0;
    const auto [end, error] = std::from_chars(valueText.data(), valueText.data() + valueText.size(), value);
    if (error != std::errc() || end != valueText.data() + valueText.size()) return false;
    for (size_t i = 0; i < kFields.size(); ++i) {
        const Field& field = kFields[i];
        if (field.name != name) continue;
        if (seen[i] || value < field.min || value > field.max) return false;
        seen[i] = true;
        field.store(state, value);
        return true;
    }
    return false;
}

}  // namespace

std::optional<GamepadState> ParseGamepadReport(std::string_view text) {
    if (text.size() > kGamepadFileMaxBytes) return std::nullopt;
    GamepadState state;
    std::array<bool, kFields.size()> seen {};
    while (!text.empty()) {
        const size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        std::string_view rest = line;
        const std::string_view first = TakeWord(rest);
        if (first.empty() || first.front() == '#') continue;
        if (!ApplyLine(line, state, seen)) return std::nullopt;
    }
    return state;
}

GamepadFileReading ReadGamepadFile(const std::string& path) {
    // Non-blocking, so a FIFO put there cannot stall the frame that polls the pad.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return {errno != ENOENT && errno != ENOTDIR, std::nullopt};
    GamepadFileReading reading {true, std::nullopt};
    struct stat info {};
    std::string text;
    bool complete = false;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        // One byte more than allowed tells an over-long file from a full one.
        std::array<char, kGamepadFileMaxBytes + 1> buffer;
        size_t filled = 0;
        for (;;) {
            const ssize_t got = ::read(fd, buffer.data() + filled, buffer.size() - filled);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) break;
            filled += static_cast<size_t>(got);
            if (got == 0 || filled == buffer.size()) {
                complete = true;
                break;
            }
        }
        text.assign(buffer.data(), filled);
    }
    ::close(fd);
    if (complete) reading.report = ParseGamepadReport(text);
    return reading;
}

}  // namespace qor::basic
