#include "weaver/text_painter_win32.h"

#include "display/winpipe/display_log_writer.h"
#include "gpu/d3d11/d3d_core.h"
#include "platform/system.h"
#include "platform/win32/wide.h"
#include "weaver/text_faces.h"

#include <d3d11.h>
#include <windows.h>

// windows.h names DrawTextW DrawText; the seam's method keeps its own name.
#undef DrawText

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

namespace qor::plexa {

namespace {

using gpu::d3d11::Ref;


const wchar_t* FaceNameOf(Script script) { return script == Script::Latin ? L"Segoe UI" : L"Microsoft YaHei"; }

class GdiTextPainter final : public TextPainter {
public:
    explicit GdiTextPainter(std::shared_ptr<winpipe::DisplayLogWriter> log)
        : log_(std::move(log)), dc_(CreateCompatibleDC(nullptr)) {
        if (dc_ == nullptr) {
            log_.Error("no memory device context for text");
            return;
        }
        SetBkMode(dc_, TRANSPARENT);
        SetTextColor(dc_, RGB(255, 255, 255));
        SetTextAlign(dc_, TA_TOP | TA_LEFT | TA_NOUPDATECP);
    }

    ~GdiTextPainter() override {
        if (dc_ != nullptr) {
            // Nothing of ours may stay selected when the objects go.
            if (originalBitmap_ != nullptr) SelectObject(dc_, originalBitmap_);
            if (originalFont_ != nullptr) SelectObject(dc_, originalFont_);
            DeleteDC(dc_);
        }
        if (bitmap_ != nullptr) DeleteObject(bitmap_);
        for (auto& [name, font] : fonts_) {
            if (font != nullptr) DeleteObject(font);
        }
        for (const std::wstring& file : addedFiles_) RemoveFontResourceExW(file.c_str(), FR_PRIVATE, nullptr);
    }

    bool LoadFont(std::string_view fontName) override { return Font(fontName) != nullptr; }

    void DrawText(gpu::Texture& backBuffer, std::string_view fontName, std::string_view text, float x, float y,
                  const Rgba& colour) override {
        if (text.empty()) return;
        HFONT font = Font(fontName);
        if (font == nullptr) return;
        const auto corner = TextCorner(x, y);
        if (!corner) return;
        // Asked rather than cast: a Direct3D 12 back buffer is a resource of another kind.
        Ref<ID3D11Texture2D> held;
        if (auto* native = static_cast<IUnknown*>(backBuffer.Native())) {
            native->QueryInterface(__uuidof(ID3D11Texture2D), held.PutVoid());
        }
        ID3D11Texture2D* texture = held.Get();
        D3D11_TEXTURE2D_DESC desc {};
        if (texture != nullptr) texture->GetDesc(&desc);
        const auto order = ChannelsOf(desc.Format);
        // Only a plain GPU texture can take the region back through UpdateSubresource.
        if (texture == nullptr || !order || desc.SampleDesc.Count != 1 || desc.Usage != D3D11_USAGE_DEFAULT) {
            log_.ErrorOnce(&backBufferLogged_, "the back buffer cannot be drawn on (format " +
                                            std::to_string(static_cast<uint32_t>(desc.Format)) + ")");
            return;
        }

        const std::wstring wide = platform::Wide(text);
        const FontFace* face = FaceNamed(fontName);
        SelectFont(font);
        SIZE extent {};
        if (!GetTextExtentPoint32W(dc_, wide.c_str(), static_cast<int>(wide.size()), &extent)) return;
        // An italic face leans past its advance widths.
        const int lean = face->italic ? extent.cy / 4 : 0;
        const auto region = ClipToTexture(*corner, extent.cx + lean, extent.cy, desc.Width, desc.Height);
        if (!region) return;
        // The region lies on the texture, so the bitmap is never larger than the back buffer.
        if (!Render(wide, corner->left - region->left, corner->top - region->top, *region)) return;
        BlendOnto(texture, desc, *order, *region, colour);
    }

private:
    // The font of this name; null, logged once, for names that are not message fonts.
    HFONT Font(std::string_view name) {
        if (const auto found = fonts_.find(name); found != fonts_.end()) return found->second;
        HFONT font = dc_ != nullptr ? Open(name) : nullptr;
        fonts_.emplace(std::string(name), font);
        return font;
    }

    HFONT Open(std::string_view name) {
        const FontFace* face = FaceNamed(name);
        if (face == nullptr) {
            log_.Error("Font \"" + std::string(name) + "\" is not one of the message fonts");
            return nullptr;
        }
        AddPlacedFile(name, face->script);
        LOGFONTW description {};
        description.lfHeight = -face->pixels;  // negative: the em height rather than the cell's
        description.lfWeight = FW_NORMAL;
        description.lfItalic = face->italic ? TRUE : FALSE;
        description.lfCharSet = DEFAULT_CHARSET;
        description.lfOutPrecision = OUT_TT_PRECIS;
        description.lfClipPrecision = CLIP_DEFAULT_PRECIS;
        description.lfQuality = ANTIALIASED_QUALITY;  // grey levels, no colour fringes
        description.lfPitchAndFamily = DEFAULT_PITCH | FF_SWISS;
        wcsncpy(description.lfFaceName, FaceNameOf(face->script), LF_FACESIZE - 1);
        HFONT font = CreateFontIndirectW(&description);
        if (font == nullptr) log_.Error("Font \"" + std::string(name) + "\" not created");
        return font;
    }

    // A TrueType file at the font's name is made available to this process only; the face is
    // still chosen by its name, so the file serves when it holds that face.
    void AddPlacedFile(std::string_view name, Script script) {
        const std::string placed = PlacedFontPath(name);
        if (!platform::FileExists(placed)) return;
        std::wstring file = platform::Wide(placed);
        for (const std::wstring& added : addedFiles_) {
            if (added == file) return;
        }
        if (AddFontResourceExW(file.c_str(), FR_PRIVATE, nullptr) == 0) {
            log_.Error("\"" + placed + "\" is not a TrueType font; using the system's " +
                platform::Narrow(FaceNameOf(script)));
            return;
        }
        addedFiles_.push_back(std::move(file));
    }

    void SelectFont(HFONT font) {
        HGDIOBJ previous = SelectObject(dc_, font);
        if (originalFont_ == nullptr) originalFont_ = previous;
    }

    // White text on black in the top-down bitmap, grown to at least the region's size; the
    // text's corner at (left, top) of it.
    bool Render(const std::wstring& wide, int left, int top, const PixelRect& region) {
        if (region.width > bitmapWidth_ || region.height > bitmapHeight_) {
            const int width = std::max(region.width, bitmapWidth_);
            const int height = std::max(region.height, bitmapHeight_);
            BITMAPINFO info {};
            info.bmiHeader.biSize = sizeof info.bmiHeader;
            info.bmiHeader.biWidth = width;
            info.bmiHeader.biHeight = -height;  // top-down
            info.bmiHeader.biPlanes = 1;
            info.bmiHeader.biBitCount = 32;
            info.bmiHeader.biCompression = BI_RGB;
            void* bits = nullptr;
            HBITMAP bitmap = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
            if (bitmap == nullptr || bits == nullptr) {
                if (bitmap != nullptr) DeleteObject(bitmap);
                log_.ErrorOnce(&bitmapLogged_, "no bitmap of " + std::to_string(width) + " x " + std::to_string(height) +
                                            " pixels for text");
                return false;
            }
            HGDIOBJ previous = SelectObject(dc_, bitmap);
            if (originalBitmap_ == nullptr) originalBitmap_ = previous;
            if (bitmap_ != nullptr) DeleteObject(bitmap_);
            bitmap_ = bitmap;
            bits_ = static_cast<uint8_t*>(bits);
            bitmapWidth_ = width;
            bitmapHeight_ = height;
        }
        GdiFlush();
        for (int row = 0; row < region.height; ++row) {
            std::memset(bits_ + size_t(row) * Pitch(), 0, size_t(region.width) * 4);
        }
        // Only the region's part of the bitmap is read: keep GDI from drawing past it.
        const HRGN clip = CreateRectRgn(0, 0, region.width, region.height);
        SelectClipRgn(dc_, clip);
        if (clip != nullptr) DeleteObject(clip);
        const BOOL drawn = TextOutW(dc_, left, top, wide.c_str(), static_cast<int>(wide.size()));
        GdiFlush();
        if (!drawn) log_.ErrorOnce(&renderLogged_, "text not rendered");
        return drawn != FALSE;
    }

    size_t Pitch() const { return size_t(bitmapWidth_) * 4; }

    // Copies the region of the back buffer out, blends the coverage on it and writes it back.
    void BlendOnto(ID3D11Texture2D* texture, const D3D11_TEXTURE2D_DESC& desc, ChannelOrder order,
                   const PixelRect& region, const Rgba& colour) {
        Ref<ID3D11Device> device;
        texture->GetDevice(device.Put());
        Ref<ID3D11DeviceContext> context;
        if (device) device->GetImmediateContext(context.Put());
        if (!context) return;
        ID3D11Texture2D* staging = Staging(device.Get(), desc.Format, region);
        if (staging == nullptr) return;

        const D3D11_BOX box {UINT(region.left), UINT(region.top), 0, UINT(region.left + region.width),
                             UINT(region.top + region.height), 1};
        context->CopySubresourceRegion(staging, 0, 0, 0, 0, texture, 0, &box);
        D3D11_MAPPED_SUBRESOURCE mapped {};
        if (FAILED(context->Map(staging, 0, D3D11_MAP_READ, 0, &mapped))) {
            log_.ErrorOnce(&stagingLogged_, "the back buffer's pixels could not be read");
            return;
        }
        const size_t rowBytes = size_t(region.width) * 4;
        texels_.resize(rowBytes * size_t(region.height));
        for (int row = 0; row < region.height; ++row) {
            std::memcpy(texels_.data() + size_t(row) * rowBytes,
                        static_cast<const uint8_t*>(mapped.pData) + size_t(row) * mapped.RowPitch, rowBytes);
        }
        context->Unmap(staging, 0);

        // White on black: any one colour channel is the coverage; green is the one ClearType
        // would disturb least.
        const CoverageView coverage {bits_ + 1, 4, Pitch(), region.width, region.height};
        const TexelView target {texels_.data(), rowBytes, region.width, region.height};
        BlendCoverage(coverage, target, order, 0, 0, colour);
        context->UpdateSubresource(texture, 0, &box, texels_.data(), UINT(rowBytes), 0);
    }

    // A CPU-readable texture of the back buffer's format at least the region's size, kept for
    // the next text on the same device.
    ID3D11Texture2D* Staging(ID3D11Device* device, DXGI_FORMAT format, const PixelRect& region) {
        // The kept texture holds its device, so an equal pointer is the same device.
        const bool same = staging_ && stagingDevice_ == device && stagingFormat_ == format;
        if (same && stagingWidth_ >= UINT(region.width) && stagingHeight_ >= UINT(region.height)) {
            return staging_.Get();
        }
        if (!same) stagingWidth_ = stagingHeight_ = 0;
        staging_.Reset();
        D3D11_TEXTURE2D_DESC staging {};
        staging.Width = std::max<UINT>(stagingWidth_, UINT(region.width));
        staging.Height = std::max<UINT>(stagingHeight_, UINT(region.height));
        staging.MipLevels = 1;
        staging.ArraySize = 1;
        staging.Format = format;
        staging.SampleDesc.Count = 1;
        staging.Usage = D3D11_USAGE_STAGING;
        staging.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
        if (FAILED(device->CreateTexture2D(&staging, nullptr, staging_.Put()))) {
            log_.ErrorOnce(&stagingLogged_, "no staging texture for text");
            return nullptr;
        }
        stagingDevice_ = device;
        stagingFormat_ = format;
        stagingWidth_ = staging.Width;
        stagingHeight_ = staging.Height;
        return staging_.Get();
    }

    PainterLog log_;
    HDC dc_ = nullptr;
    HGDIOBJ originalFont_ = nullptr;
    HGDIOBJ originalBitmap_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    uint8_t* bits_ = nullptr;
    int bitmapWidth_ = 0;
    int bitmapHeight_ = 0;
    std::map<std::string, HFONT, std::less<>> fonts_;
    std::vector<std::wstring> addedFiles_;
    Ref<ID3D11Texture2D> staging_;
    ID3D11Device* stagingDevice_ = nullptr;
    DXGI_FORMAT stagingFormat_ = DXGI_FORMAT_UNKNOWN;
    UINT stagingWidth_ = 0;
    UINT stagingHeight_ = 0;
    std::vector<uint8_t> texels_;
    bool backBufferLogged_ = false;
    bool bitmapLogged_ = false;
    bool renderLogged_ = false;
    bool stagingLogged_ = false;
};

}  // namespace

std::unique_ptr<TextPainter> CreateGdiTextPainter(std::shared_ptr<winpipe::DisplayLogWriter> log) {
    return std::make_unique<GdiTextPainter>(std::move(log));
}

std::unique_ptr<TextPainter> CreateTextPainter(std::shared_ptr<winpipe::DisplayLogWriter> log) {
    return CreateGdiTextPainter(std::move(log));
}

}  // namespace qor::plexa
