#include "weaver/text_painter_sdl.h"

#include "display/winpipe/display_log_writer.h"
#include "gpu/soft/texture_pixels.h"
#include "platform/system.h"
#include "weaver/messages.h"

#include <SDL.h>
#include <SDL_ttf.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <string>

namespace qor::plexa {

namespace {

using winpipe::DisplayLogLevel;

constexpr std::string_view kLogContext = "OUTPUTMANAGER::TextPainter():";

struct FontFace {
    std::string_view name;
    int pixels;
    bool italic;
};

constexpr FontFace kFaces[] = {
    {kLatinTitleFont, 32, false}, {kLatinBodyFont, 26, false}, {kLatinKeyFont, 26, true},
    {kOtherTitleFont, 32, false}, {kOtherBodyFont, 26, false}, {kOtherKeyFont, 26, true},
    {kWarningFont, 16, false},    {kEmbeddedFont, 16, false},
};

const FontFace* FaceNamed(std::string_view name) {
    for (const FontFace& face : kFaces) {
        if (face.name == name) return &face;
    }
    return nullptr;
}

// SDL_ttf keeps a count of its users, but its start and stop are not safe to race.
std::mutex& TtfMutex() {
    static std::mutex mutex;
    return mutex;
}

// Byte offsets of red, green and blue in a texel of the back buffer's format.
struct ChannelOrder {
    int r, g, b;
};

std::optional<ChannelOrder> ChannelsOf(uint32_t dxgiFormat) {
    switch (dxgiFormat) {
    case gpu::format::kB8G8R8A8Unorm:
    case gpu::format::kB8G8R8A8Typeless:
    case gpu::format::kB8G8R8A8UnormSrgb:
        return ChannelOrder {2, 1, 0};
    case gpu::format::kR8G8B8A8Unorm:
    case gpu::format::kR8G8B8A8Typeless:
    case gpu::format::kR8G8B8A8UnormSrgb:
        return ChannelOrder {0, 1, 2};
    default:
        return std::nullopt;
    }
}

uint8_t Mix(float source, uint8_t destination, float alpha) {
    return static_cast<uint8_t>(std::lround(source * 255.0f * alpha + destination * (1.0f - alpha)));
}

// Blends the coverage (alpha) of an ARGB8888 glyph surface in `colour` onto the texels, the
// surface's corner at (left, top), clipped to the texture.
void Blend(const SDL_Surface& glyphs, uint8_t* texels, const gpu::TextureDesc& desc, ChannelOrder order, int left,
           int top, const Rgba& colour) {
    const int firstX = std::max(0, -left);
    const int firstY = std::max(0, -top);
    const int lastX = std::min(glyphs.w, static_cast<int>(desc.width) - left);
    const int lastY = std::min(glyphs.h, static_cast<int>(desc.height) - top);
    const size_t rowBytes = size_t(desc.width) * 4;
    for (int y = firstY; y < lastY; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(glyphs.pixels) + y * glyphs.pitch);
        uint8_t* out = texels + size_t(top + y) * rowBytes + size_t(left + firstX) * 4;
        for (int x = firstX; x < lastX; ++x, out += 4) {
            const float alpha = static_cast<float>(row[x] >> 24) / 255.0f * colour.a;
            if (alpha <= 0) continue;
            out[order.r] = Mix(colour.r, out[order.r], alpha);
            out[order.g] = Mix(colour.g, out[order.g], alpha);
            out[order.b] = Mix(colour.b, out[order.b], alpha);
            out[3] = Mix(1.0f, out[3], alpha);
        }
    }
}

class SdlTextPainter final : public TextPainter {
public:
    explicit SdlTextPainter(std::shared_ptr<winpipe::DisplayLogWriter> log) : log_(std::move(log)) {
        std::lock_guard lock(TtfMutex());
        ready_ = TTF_Init() == 0;
        if (!ready_) Log(std::string("SDL_ttf failed to start: ") + TTF_GetError());
    }

    ~SdlTextPainter() override {
        for (auto& [name, font] : fonts_) {
            if (font != nullptr) TTF_CloseFont(font);
        }
        std::lock_guard lock(TtfMutex());
        if (ready_) TTF_Quit();
    }

    bool LoadFont(std::string_view fontName) override { return Font(fontName) != nullptr; }

    void DrawText(gpu::Texture& backBuffer, std::string_view fontName, std::string_view text, float x, float y,
                  const Rgba& colour) override {
        if (text.empty()) return;
        TTF_Font* font = Font(fontName);
        if (font == nullptr) return;
        const gpu::TextureDesc& desc = backBuffer.Desc();
        const auto order = ChannelsOf(desc.format);
        uint8_t* texels = gpu::soft::TexturePixels(backBuffer, 0);
        if (!order || texels == nullptr) {
            LogOnce(&backBufferLogged_, "the back buffer cannot be drawn on (format " + std::to_string(desc.format) + ")");
            return;
        }
        // Far outside the texture nothing shows; the bound keeps the conversion to int defined.
        constexpr float kFar = 1 << 20;
        if (!(std::fabs(x) < kFar && std::fabs(y) < kFar)) return;
        const std::string zeroTerminated(text);
        SDL_Surface* rendered = TTF_RenderUTF8_Blended(font, zeroTerminated.c_str(), SDL_Color {255, 255, 255, 255});
        if (rendered == nullptr) {
            LogOnce(&renderLogged_, std::string("text not rendered: ") + TTF_GetError());
            return;
        }
        SDL_Surface* glyphs = SDL_ConvertSurfaceFormat(rendered, SDL_PIXELFORMAT_ARGB8888, 0);
        SDL_FreeSurface(rendered);
        if (glyphs == nullptr) return;
        if (SDL_LockSurface(glyphs) == 0) {
            Blend(*glyphs, texels, desc, *order, static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)),
                  colour);
            SDL_UnlockSurface(glyphs);
        }
        SDL_FreeSurface(glyphs);
    }

private:
    // The open font of this name; null, logged once, when it cannot be opened.
    TTF_Font* Font(std::string_view name) {
        if (const auto found = fonts_.find(name); found != fonts_.end()) return found->second;
        TTF_Font* font = ready_ ? Open(name) : nullptr;
        fonts_.emplace(std::string(name), font);
        return font;
    }

    TTF_Font* Open(std::string_view name) {
        const FontFace* face = FaceNamed(name);
        const int pixels = face != nullptr ? face->pixels : 16;
        const std::string placed =
            platform::JoinPath(platform::ProgramDataFolder(), "\\OEM\\Plexaview\\Font\\" + std::string(name));
        if (platform::FileExists(placed)) {
            if (TTF_Font* font = TTF_OpenFont(placed.c_str(), pixels)) return font;
            Log("\"" + placed + "\" is not a TrueType font; using " + kStandInFontPath);
        }
        TTF_Font* font = TTF_OpenFont(kStandInFontPath, pixels);
        if (font == nullptr) {
            Log("Font \"" + std::string(name) + "\" not opened: " + TTF_GetError());
            return nullptr;
        }
        if (face != nullptr && face->italic) TTF_SetFontStyle(font, TTF_STYLE_ITALIC);
        return font;
    }

    void Log(const std::string& message) {
        if (log_) log_->Write(DisplayLogLevel::Error, kLogContext, message);
    }
    void LogOnce(bool* logged, const std::string& message) {
        if (*logged) return;
        *logged = true;
        Log(message);
    }

    std::shared_ptr<winpipe::DisplayLogWriter> log_;
    bool ready_ = false;
    bool backBufferLogged_ = false;
    bool renderLogged_ = false;
    std::map<std::string, TTF_Font*, std::less<>> fonts_;
};

}  // namespace

std::unique_ptr<TextPainter> CreateSdlTextPainter(std::shared_ptr<winpipe::DisplayLogWriter> log) {
    return std::make_unique<SdlTextPainter>(std::move(log));
}

}  // namespace qor::plexa
