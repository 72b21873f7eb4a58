#include "weaver/messages.h"

#include "display/winpipe/display_log_writer.h"
#include "platform/system.h"
#include "platform/window.h"

namespace qor::plexa {

namespace {

using platform::Utf16ToUtf8;

constexpr size_t kKeyLength = 5;
constexpr size_t kTailOffset = 6;  // "Alt+Q" and the blank after it
constexpr size_t kTailLength = 30;
constexpr size_t kWarningLineLength = 40;

// The first of the marks that ends the title, in order of preference.
size_t TitleMark(std::u16string_view text) {
    for (const char16_t mark : {u'!', u'\uFF01', u'\u3002'}) {
        if (const size_t at = text.find(mark); at != std::u16string_view::npos) return at;
    }
    return std::u16string_view::npos;
}

}  // namespace

ExitHintParts SplitExitHint(std::string_view messageString) {
    const std::u16string text = platform::Utf8ToUtf16(messageString);
    const size_t mark = TitleMark(text);
    if (mark == std::u16string::npos) return ExitHintParts {text, {}, {}, {}};
    const size_t alt = text.find(u"Alt", mark + 1);
    if (alt == std::u16string::npos) return ExitHintParts {text, {}, {}, {}};
    ExitHintParts parts;
    parts.title = text.substr(0, mark + 1);
    parts.body = text.substr(mark + 1, alt - (mark + 1));
    parts.key = text.substr(alt, kKeyLength);
    if (alt + kTailOffset < text.size()) parts.tail = text.substr(alt + kTailOffset, kTailLength);
    return parts;
}

std::vector<TextDraw> ExitHintDraws(const ExitHintParts& parts) {
    const std::u16string& first = parts.body.empty() ? parts.title : parts.body;
    const bool latin = first.empty() || first.front() < 0x0101;
    struct Layout {
        float titleX, bodyX, charWidth, keyCharWidth;
        std::string_view titleFont, bodyFont, keyFont;
    };
    const Layout layout = latin ? Layout {3000, 2995, 17.5f, 18, kLatinTitleFont, kLatinBodyFont, kLatinKeyFont}
                                : Layout {2995, 2996, 35, 21, kOtherTitleFont, kOtherBodyFont, kOtherKeyFont};
    const float h = layout.charWidth * static_cast<float>(parts.body.size());
    const float tailX = 2995 + h + layout.keyCharWidth * static_cast<float>(parts.key.size());
    // The tail continues the body's sentence, so it takes the body's font and grey.
    const TextDraw all[] = {
        {layout.titleFont, Utf16ToUtf8(parts.title), layout.titleX, 1950, kWhite},
        {layout.bodyFont, Utf16ToUtf8(parts.body), layout.bodyX, 2035, kGrey},
        {layout.keyFont, Utf16ToUtf8(parts.key), 2985 + h, 2035, kWhite},
        {layout.keyFont, Utf16ToUtf8(parts.key), 2986 + h, 2035, kWhite},
        {layout.bodyFont, Utf16ToUtf8(parts.tail), tailX, 2035, kGrey},
    };
    std::vector<TextDraw> draws;
    for (const TextDraw& draw : all) {
        if (!draw.text.empty()) draws.push_back(draw);
    }
    return draws;
}

std::vector<std::string> BreakWarningLines(std::string_view warning) {
    const std::u16string text = platform::Utf8ToUtf16(warning);
    std::vector<std::string> lines;
    size_t start = 0;
    for (const size_t limit : {40u, 80u, 120u}) {
        if (start >= text.size()) break;
        if (text.size() <= limit) {
            lines.push_back(Utf16ToUtf8(std::u16string_view(text).substr(start)));
            break;
        }
        const size_t space = text.rfind(u' ', limit);
        if (space == std::u16string::npos || space < start) {
            lines.push_back(Utf16ToUtf8(std::u16string_view(text).substr(start, kWarningLineLength)));
            start += kWarningLineLength;
        } else {
            lines.push_back(Utf16ToUtf8(std::u16string_view(text).substr(start, space - start)));
            start = space + 1;
        }
    }
    return lines;
}

std::vector<TextDraw> WarningDraws(const std::vector<std::string>& lines, uint32_t clientWidth,
                                   uint32_t clientHeight) {
    const float lineY[] = {0.415f, 0.45f};
    std::vector<TextDraw> draws;
    for (size_t i = 0; i < lines.size() && i < 2; ++i) {
        draws.push_back({kWarningFont, lines[i], 0.41f * static_cast<float>(clientWidth),
                         lineY[i] * static_cast<float>(clientHeight), kWhite});
    }
    return draws;
}

void FrameRateCounter::Count(int64_t nowMs) {
    const int64_t interval = nowMs - previousMs_;
    // A pass in the same millisecond as the last has no interval to measure: it is left out.
    if (interval <= 0) return;
    accumulated_ += 1000.0 / static_cast<double>(interval);
    ++count_;
    previousMs_ = nowMs;
    if (accumulated_ > 1000) {
        text_ = std::to_string(static_cast<int64_t>(accumulated_ / count_));
        accumulated_ = 0;
        count_ = 0;
    }
}

bool ExitHintShown(const MessageSettings& settings, uint32_t clientWidth, int64_t elapsedMs) {
    return clientWidth == kNativeClientWidth && settings.enableShow &&
           (settings.altAlways || elapsedMs < static_cast<int64_t>(settings.showDurationMs));
}

bool WarningShown(const MessageSettings& settings, uint32_t clientWidth, int64_t elapsedMs) {
    return clientWidth != kNativeClientWidth &&
           (settings.warningAlways || (settings.warningDurationMs >= 0 && elapsedMs < settings.warningDurationMs));
}

uint32_t ExitHintBoxTexel(const MessageSettings& settings) {
    const auto low = [](int32_t value) { return static_cast<uint32_t>(value) & 0xFFu; };
    return low(settings.red) | low(settings.green) << 8 | low(settings.blue) << 16 | 0x01000000u;
}

gpu::Viewport BoxPixels(const BoxQuad& box, uint32_t clientWidth, uint32_t clientHeight) {
    const float width = static_cast<float>(clientWidth);
    const float height = static_cast<float>(clientHeight);
    const float left = (box.left + 1) / 2 * width;
    const float top = (1 - box.top) / 2 * height;
    return gpu::Viewport {left, top, (box.right + 1) / 2 * width - left, (1 - box.bottom) / 2 * height - top};
}

std::optional<uint32_t> NoticeSchedule::DueAt(int64_t elapsedMs) {
    if (elapsedMs < static_cast<int64_t>(showDurationMs_)) {
        if (showSent_) return std::nullopt;
        showSent_ = true;
        return kShowWarningNotice;
    }
    if (closeSent_) return std::nullopt;
    closeSent_ = true;
    return kCloseWarningNotice;
}

std::optional<uint32_t> NoticeSchedule::DueOnQuit(int64_t elapsedMs) {
    if (!showSent_ || closeSent_ || elapsedMs >= static_cast<int64_t>(showDurationMs_)) return std::nullopt;
    closeSent_ = true;
    return kCloseWarningNotice;
}

void SendNotice(uint32_t notice, winpipe::DisplayLogWriter* log, std::string_view context) {
    const platform::WindowHandle centre = platform::FindTopLevelWindowByTitle(kMessageCentreTitle);
    if (centre == 0) return;
    const auto result = static_cast<int>(platform::SendWindowMessage(centre, notice, 0, 0));
    if (log == nullptr) return;
    if (notice == kShowWarningNotice) {
        log->Writef(winpipe::DisplayLogLevel::Info, context, "Sent Show Warning MSG to KVLS. Ret=%d", result);
    } else {
        log->Writef(winpipe::DisplayLogLevel::Info, context, "Sent Close Warning MSG to KVLS. Ret=%d", result);
    }
}

}  // namespace qor::plexa
