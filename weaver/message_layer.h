// The weaving window's on-screen messages, drawn after weaving onto the back buffer: the
// exit-hint or warning box, the frame-rate counter, the exit hint or the resolution warning,
// and the message-centre notices. Owned by the output manager; used on the window thread.
#pragma once

#include "gpu/draw.h"
#include "weaver/message_settings.h"
#include "weaver/messages.h"
#include "weaver/text_painter.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace qor::winpipe {
class DisplayLogWriter;
}

namespace qor::plexa {

class MessageLayer {
public:
    // Builds the message resources (the 10x10 exit-hint box texture on `device`, fonts through
    // the painter); `startMs` is the message start tick. `log` may be null (log off).
    MessageLayer(gpu::Device& device, MessageSettings settings, uint32_t clientWidth, uint32_t clientHeight,
                 bool showFps, int64_t startMs, std::unique_ptr<TextPainter> painter,
                 std::shared_ptr<winpipe::DisplayLogWriter> log);

    // One pass after weaving: the box (the warning box shows `stage`, which may be null: no
    // box), the frame-rate counter, the notices, and the exit hint or the warning lines.
    void Draw(gpu::DrawContext& context, gpu::Texture& backBuffer, gpu::Texture* stage, int64_t nowMs);

    // The main loop's WM_QUIT: the close notice when quitting inside the show time after the
    // show notice.
    void OnQuit(int64_t nowMs);

private:
    void DrawBox(gpu::DrawContext& context, gpu::Texture& backBuffer, gpu::Texture* stage, int64_t elapsedMs);
    void DrawTexts(gpu::Texture& backBuffer, const std::vector<TextDraw>& draws);
    void LogError(const char* context, const char* message);

    MessageSettings settings_;
    uint32_t clientWidth_;
    uint32_t clientHeight_;
    bool showFps_;
    int64_t startMs_;
    std::unique_ptr<TextPainter> painter_;
    std::shared_ptr<winpipe::DisplayLogWriter> log_;
    std::unique_ptr<gpu::Texture> exitHintBox_;
    std::vector<TextDraw> exitHintDraws_;
    std::vector<TextDraw> warningDraws_;
    FrameRateCounter frameRate_;
    NoticeSchedule notices_;
    bool targetRefusedLogged_ = false;
};

// Milliseconds of the process clock the layer's times are in.
int64_t ProcessClockMs();

}  // namespace qor::plexa
