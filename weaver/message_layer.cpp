#include "weaver/message_layer.h"

#include "display/winpipe/display_log_writer.h"
#include "platform/system.h"

#include <array>

namespace qor::plexa {

namespace {

using winpipe::DisplayLogLevel;

constexpr const char* kInitContext = "OUTPUTMANAGER::InitOutpu():";
constexpr const char* kUpdateContext = "OUTPUTMANAGER::UpdateApplicationWindow():";
constexpr const char* kQuitContext = "MainLoop(): ";
constexpr uint32_t kBoxSize = 10;

// The constant-colour texture of the exit-hint box; null when the device refuses it.
std::unique_ptr<gpu::Texture> MakeExitHintBox(gpu::Device& device, uint32_t texel) {
    gpu::TextureDesc desc;
    desc.width = kBoxSize;
    desc.height = kBoxSize;
    desc.format = gpu::format::kR8G8B8A8Unorm;
    desc.bindFlags = gpu::kBindShaderResource;
    auto texture = device.CreateTexture(desc);
    if (!texture || !texture->CreateShaderResourceView(desc.format)) return nullptr;
    std::array<uint8_t, kBoxSize * kBoxSize * 4> texels {};
    for (size_t i = 0; i < texels.size(); ++i) texels[i] = static_cast<uint8_t>(texel >> (8 * (i % 4)));
    if (!texture->WritePixels(0, texels.data(), texels.size())) return nullptr;
    return texture;
}

}  // namespace

MessageLayer::MessageLayer(gpu::Device& device, MessageSettings settings, uint32_t clientWidth,
                           uint32_t clientHeight, bool showFps, int64_t startMs, std::unique_ptr<TextPainter> painter,
                           std::shared_ptr<winpipe::DisplayLogWriter> log)
    : settings_(std::move(settings)),
      clientWidth_(clientWidth),
      clientHeight_(clientHeight),
      showFps_(showFps),
      startMs_(startMs),
      painter_(std::move(painter)),
      log_(std::move(log)),
      frameRate_(startMs),
      notices_(settings_.showDurationMs) {
    const bool native = clientWidth_ == kNativeClientWidth;
    if (native) {
        exitHintDraws_ = ExitHintDraws(SplitExitHint(settings_.messageString));
    } else {
        warningDraws_ = WarningDraws(BreakWarningLines(settings_.warningMessage), clientWidth_, clientHeight_);
    }
    if (painter_) {
        const std::vector<std::string_view> fonts =
            native ? std::vector<std::string_view> {kLatinTitleFont, kLatinBodyFont, kLatinKeyFont, kOtherTitleFont,
                                                    kOtherBodyFont, kOtherKeyFont}
                   : std::vector<std::string_view> {kWarningFont};
        for (const std::string_view font : fonts) painter_->LoadFont(font);
        if (showFps_) painter_->LoadFont(kEmbeddedFont);
    }
    exitHintBox_ = MakeExitHintBox(device, ExitHintBoxTexel(settings_));
    if (!exitHintBox_) {
        LogError(kInitContext, "Message Box texture create failed");
    } else if (log_) {
        log_->Write(DisplayLogLevel::Info, kInitContext, "Initialize Message Box texture successfully");
    }
}

void MessageLayer::Draw(gpu::DrawContext& context, gpu::Texture& backBuffer, gpu::Texture* stage, int64_t nowMs) {
    const int64_t elapsed = nowMs - startMs_;
    DrawBox(context, backBuffer, stage, elapsed);
    if (showFps_) {
        frameRate_.Count(nowMs);
        DrawTexts(backBuffer, {TextDraw {kEmbeddedFont, frameRate_.Text(), 0, 0, kGreen}});
    }
    if (clientWidth_ == kNativeClientWidth) {
        if (const auto notice = notices_.DueAt(elapsed)) SendNotice(*notice, log_.get(), kUpdateContext);
        if (ExitHintShown(settings_, clientWidth_, elapsed)) DrawTexts(backBuffer, exitHintDraws_);
    } else if (WarningShown(settings_, clientWidth_, elapsed)) {
        DrawTexts(backBuffer, warningDraws_);
    }
}

void MessageLayer::OnQuit(int64_t nowMs) {
    if (const auto notice = notices_.DueOnQuit(nowMs - startMs_)) SendNotice(*notice, log_.get(), kQuitContext);
}

void MessageLayer::DrawBox(gpu::DrawContext& context, gpu::Texture& backBuffer, gpu::Texture* stage,
                           int64_t elapsedMs) {
    const BoxQuad* box = nullptr;
    gpu::Texture* source = nullptr;
    if (ExitHintShown(settings_, clientWidth_, elapsedMs)) {
        box = &kExitHintBox;
        source = exitHintBox_.get();
    } else if (WarningShown(settings_, clientWidth_, elapsedMs)) {
        box = &kWarningBox;
        source = stage;
    }
    if (source == nullptr) return;
    if (!context.SetRenderTarget(backBuffer)) {
        if (!targetRefusedLogged_) LogError(kUpdateContext, "Message box not drawn: the back buffer has no target view");
        targetRefusedLogged_ = true;
        return;
    }
    context.DrawCopy(*source, BoxPixels(*box, clientWidth_, clientHeight_), box->u0, box->v0, box->u1, box->v1);
}

void MessageLayer::DrawTexts(gpu::Texture& backBuffer, const std::vector<TextDraw>& draws) {
    if (!painter_) return;
    for (const TextDraw& draw : draws) painter_->DrawText(backBuffer, draw.font, draw.text, draw.x, draw.y, draw.colour);
}

void MessageLayer::LogError(const char* context, const char* message) {
    if (log_) log_->Write(DisplayLogLevel::Error, context, message);
}

// Counted from the first call: the times are only ever subtracted from each other.
int64_t ProcessClockMs() {
    static const int64_t start = platform::PerformanceCounter();
    const int64_t ticks = platform::PerformanceCounter() - start;
    const int64_t frequency = platform::PerformanceFrequency();
    return ticks / frequency * 1000 + ticks % frequency * 1000 / frequency;
}

}  // namespace qor::plexa
