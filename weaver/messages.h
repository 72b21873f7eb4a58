// The rules of the weaving window's on-screen messages, apart from any window or device: the
// exit hint's parts and layout, the resolution warning's lines, the frame-rate counter, the
// message-centre notices and the two boxes.
#pragma once

#include "gpu/draw.h"
#include "weaver/message_settings.h"
#include "weaver/text_painter.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qor::winpipe {
class DisplayLogWriter;
}

namespace qor::plexa {

// The panel width the exit hint belongs to; any other width gets the resolution warning.
inline constexpr uint32_t kNativeClientWidth = 3840;

// Font files.
inline constexpr std::string_view kLatinTitleFont = "SegoeUI32.font";
inline constexpr std::string_view kLatinBodyFont = "SegoeUI26.font";
inline constexpr std::string_view kLatinKeyFont = "SegoeUI26I.font";
inline constexpr std::string_view kOtherTitleFont = "Wryh32.font";
inline constexpr std::string_view kOtherBodyFont = "Wryh26.font";
inline constexpr std::string_view kOtherKeyFont = "Wryh26I.font";
inline constexpr std::string_view kWarningFont = "SegoeUI16.font";
// The font built into the program, for the frame-rate counter.
inline constexpr std::string_view kEmbeddedFont = "Embedded.font";

inline constexpr Rgba kWhite {1, 1, 1, 1};
inline constexpr Rgba kGrey {0.698f, 0.698f, 0.698f, 1};
inline constexpr Rgba kGreen {0, 0.50196f, 0, 1};

struct TextDraw {
    std::string_view font;
    std::string text;  // UTF-8
    float x = 0;
    float y = 0;
    Rgba colour;
};

// "Message_String" in its parts, in UTF-16 code units (the character positions of the rules).
struct ExitHintParts {
    std::u16string title;
    std::u16string body;
    std::u16string key;
    std::u16string tail;
};

// Title up to and including the first "!" (else "！", else "。"), body up to the next "Alt",
// key of at most 5 characters from there, tail of at most 30 from 6 after "Alt". A text with
// no mark, or no "Alt" after it, cannot be split that way and is all title.
ExitHintParts SplitExitHint(std::string_view messageString);
// The exit hint's draws in order (the key twice, a pixel apart), fonts and spacing by the
// body's first character (the title's when the body is empty).
std::vector<TextDraw> ExitHintDraws(const ExitHintParts& parts);

// The warning's first three lines, each ending before character position 40, 80, 120.
std::vector<std::string> BreakWarningLines(std::string_view warning);
// The first two lines, placed on a client of this size.
std::vector<TextDraw> WarningDraws(const std::vector<std::string>& lines, uint32_t clientWidth, uint32_t clientHeight);

// Frames per second as text, averaged over about a second of passes.
class FrameRateCounter {
public:
    explicit FrameRateCounter(int64_t startMs) : previousMs_(startMs) {}
    void Count(int64_t nowMs);
    // Empty until the first second is complete.
    const std::string& Text() const { return text_; }

private:
    double accumulated_ = 0;
    int count_ = 0;
    int64_t previousMs_;
    std::string text_;
};

// Whether each box and its text is shown `elapsedMs` after the message start.
bool ExitHintShown(const MessageSettings& settings, uint32_t clientWidth, int64_t elapsedMs);
bool WarningShown(const MessageSettings& settings, uint32_t clientWidth, int64_t elapsedMs);

// The exit-hint box's texel (R8G8B8A8): red, green and blue from the low bytes, alpha byte 1.
uint32_t ExitHintBoxTexel(const MessageSettings& settings);

// A box: its corners in normalised device coordinates and the texture rectangle it shows.
struct BoxQuad {
    float left, bottom, right, top;
    float u0, v0, u1, v1;
};
inline constexpr BoxQuad kExitHintBox {0.54f, -0.975f, 0.985f, -0.77f, 0, 0, 0.1f, 0.1f};
inline constexpr BoxQuad kWarningBox {-0.21f, 0, 0.21f, 0.2f, 0, 0, 0.4f, 0.4f};
// The box's pixel rectangle on a client of this size.
gpu::Viewport BoxPixels(const BoxQuad& box, uint32_t clientWidth, uint32_t clientHeight);

// The message centre of the display service and its two notices.
inline constexpr std::string_view kMessageCentreTitle = "TavrixExperienceMessageCenter";
inline constexpr uint32_t kShowWarningNotice = 4024;
inline constexpr uint32_t kCloseWarningNotice = 4025;

// Each notice is due at most once per process: show during the show time, close after it
// (or on an early quit, after a show).
class NoticeSchedule {
public:
    explicit NoticeSchedule(uint32_t showDurationMs) : showDurationMs_(showDurationMs) {}
    // The notice due at this pass, marked as sent.
    std::optional<uint32_t> DueAt(int64_t elapsedMs);
    // The close notice when quitting inside the show time after the show notice; marked as sent.
    std::optional<uint32_t> DueOnQuit(int64_t elapsedMs);

private:
    uint32_t showDurationMs_;
    bool showSent_ = false;
    bool closeSent_ = false;
};

// Sends the notice to the message-centre window when it exists and logs the result under
// `context` (`log` may be null).
void SendNotice(uint32_t notice, winpipe::DisplayLogWriter* log, std::string_view context);

}  // namespace qor::plexa
