#include "weaver/text_painter_sdl.h"

#include "display/winpipe/display_log_writer.h"
#include "gpu/soft/texture_pixels.h"
#include "platform/system.h"
#include "weaver/messages.h"
#include "weaver/text_faces.h"

#include <SDL.h>
#include <SDL_ttf.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <string>

namespace qor::plexa {

namespace {



// SDL_ttf keeps a count of its users, but its start and stop are not safe to race.
std::mutex& TtfMutex() {
    static std::mutex mutex;
    return mutex;
}

class SdlTextPainter final : public TextPainter {
public:
    explicit SdlTextPainter(std::shared_ptr<winpipe::DisplayLogWriter> log) : log_(std::move(log)) {
        std::lock_guard lock(TtfMutex());
        ready_ = TTF_Init() == 0;
        if (!ready_) log_.Error(std::string("SDL_ttf failed to start: ") + TTF_GetError());
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
            log_.ErrorOnce(&backBufferLogged_, "the back buffer cannot be drawn on (format " + std::to_string(desc.format) + ")");
            return;
        }
        const auto corner = TextCorner(x, y);
        if (!corner) return;
        const std::string zeroTerminated(text);
        SDL_Surface* rendered = TTF_RenderUTF8_Blended(font, zeroTerminated.c_str(), SDL_Color {255, 255, 255, 255});
        if (rendered == nullptr) {
            log_.ErrorOnce(&renderLogged_, std::string("text not rendered: ") + TTF_GetError());
            return;
        }
        SDL_Surface* glyphs = SDL_ConvertSurfaceFormat(rendered, SDL_PIXELFORMAT_ARGB8888, 0);
        SDL_FreeSurface(rendered);
        if (glyphs == nullptr) return;
        if (SDL_LockSurface(glyphs) == 0) {
            // The coverage is the alpha byte of each little-endian ARGB8888 pixel.
            const CoverageView coverage {static_cast<const uint8_t*>(glyphs->pixels) + 3, 4, size_t(glyphs->pitch),
                                         glyphs->w, glyphs->h};
            const TexelView target {texels, size_t(desc.width) * 4, int(desc.width), int(desc.height)};
            BlendCoverage(coverage, target, *order, corner->left, corner->top, colour);
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
        if (face == nullptr) {
            log_.Error("Font \"" + std::string(name) + "\" is not one of the message fonts");
            return nullptr;
        }
        const int pixels = face->pixels;
        const std::string placed = PlacedFontPath(name);
        if (platform::FileExists(placed)) {
            if (TTF_Font* font = TTF_OpenFont(placed.c_str(), pixels)) return font;
            log_.Error("\"" + placed + "\" is not a TrueType font; using " + kStandInFontPath);
        }
        TTF_Font* font = TTF_OpenFont(kStandInFontPath, pixels);
        if (font == nullptr) {
            log_.Error("Font \"" + std::string(name) + "\" not opened: " + TTF_GetError());
            return nullptr;
        }
        if (face->italic) TTF_SetFontStyle(font, TTF_STYLE_ITALIC);
        return font;
    }

    PainterLog log_;
    bool ready_ = false;
    bool backBufferLogged_ = false;
    bool renderLogged_ = false;
    std::map<std::string, TTF_Font*, std::less<>> fonts_;
};

}  // namespace

std::unique_ptr<TextPainter> CreateSdlTextPainter(std::shared_ptr<winpipe::DisplayLogWriter> log) {
    return std::make_unique<SdlTextPainter>(std::move(log));
}

std::unique_ptr<TextPainter> CreateTextPainter(std::shared_ptr<winpipe::DisplayLogWriter> log) {
    return CreateSdlTextPainter(std::move(log));
}

}  // namespace qor::plexa
