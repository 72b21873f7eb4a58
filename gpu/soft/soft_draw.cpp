// The soft device's immediate context: the fixed pipelines of draw.h run on the CPU. The vertex
// stages are the shaders' dot products; a triangle rasterizer with Direct3D 11's rules (clip
// volume 0 <= z <= w, 8-bit sub-pixel snapping, top-left fill rule, back faces culled as in the
// default rasterizer state) feeds row loops that sample, shade, blend and store a span at a time.
//
// Colour data path, modelled on a Direct3D 11 device with these formats:
//   - sampling a view of an sRGB format converts each texel sRGB -> linear before filtering
//     (alpha stays linear); other 8-bit formats read as byte / 255, half floats as they are;
//   - the projection pixel shader's gamma flag then raises every channel to the power 0.454545;
//   - writing an sRGB render target converts linear -> sRGB after blending (blending itself
//     runs on linear values, the destination being converted sRGB -> linear first); other
//     targets store round(255 * saturate(c)). Clearing an sRGB target converts the same way.
// So an sRGB swapchain drawn with the gamma flag onto the sRGB stage buffer is decoded, raised
// to 1/2.2 and encoded again, exactly as the Direct3D backend does.
//
// Soft textures do not remember the formats of their views: a typeless texture is read as its
// family's UNORM member (FLOAT for the 16-bit family) and written as UNORM. A source without a
// shader resource view, or in a format that is not sampled as colour, reads as zero, as an
// empty Direct3D slot does. Only mip 0 exists, so every sample comes from it.
#include "gpu/draw.h"

#include "gpu/soft/draw_paths.h"
#include "gpu/soft/pixel_kernels.h"
#include "gpu/soft/texture_pixels.h"
#include "gpu/soft/worker_pool.h"
#include "gpu/texture_rules.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <typeinfo>
#include <unordered_map>
#include <vector>

namespace qor::gpu {

namespace {

// ---------------------------------------------------------------------------------------------
// Colour conversions

constexpr int kEncodeSteps = 65535;  // linear values are looked up in steps of 1/65535

double SrgbToLinear(double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); }
double LinearToSrgb(double l) { return l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1.0 / 2.4) - 0.055; }

// c^0.454545 for floats in (0, 1], by the top 16 bits of their representation; linear in the
// rest of the bits, which is within 2e-6 of the power.
constexpr uint32_t kGammaEntries = (0x3F800000u >> 16) + 2;

struct ColourTables {
    float unorm8[256];                  // byte -> byte / 255
    float srgb8[256];                   // sRGB byte -> linear
    uint8_t srgbEncode[kEncodeSteps + 1];  // linear (in 1/65535 steps) -> sRGB byte
    float gamma[kGammaEntries];
};

const ColourTables& Tables() {
    static const ColourTables* tables = [] {
        auto* made = new ColourTables;  // kept until exit
        for (int b = 0; b < 256; ++b) {
            made->unorm8[b] = static_cast<float>(b / 255.0);
            made->srgb8[b] = static_cast<float>(SrgbToLinear(b / 255.0));
        }
        for (int i = 0; i <= kEncodeSteps; ++i) {
            made->srgbEncode[i] = static_cast<uint8_t>(std::lround(255.0 * LinearToSrgb(double(i) / kEncodeSteps)));
        }
        for (uint32_t i = 0; i < kGammaEntries; ++i) {
            made->gamma[i] = static_cast<float>(std::pow(double(std::bit_cast<float>(i << 16)), 0.454545));
        }
        return made;
    }();
    return *tables;
}

// Float to UNORM8 as Direct3D stores it: saturated, rounded, NaN as 0.
inline uint8_t EncodeUnorm(float c) {
    if (!(c > 0.0f)) return 0;
    if (c >= 1.0f) return 255;
    return static_cast<uint8_t>(c * 255.0f + 0.5f);
}

inline uint8_t EncodeSrgb(const uint8_t* table, float c) {
    if (!(c > 0.0f)) return 0;
    if (c >= 1.0f) return 255;
    return table[static_cast<int>(c * float(kEncodeSteps) + 0.5f)];
}

inline float HalfToFloat(uint16_t half) {
    const uint32_t sign = static_cast<uint32_t>(half & 0x8000u) << 16;
    const uint32_t exponent = (half >> 10) & 0x1Fu;
    const uint32_t mantissa = half & 0x3FFu;
    if (exponent == 0) {
        const float value = static_cast<float>(mantissa) * 5.9604644775390625e-8f;  // 2^-24
        return sign != 0 ? -value : value;
    }
    const uint32_t bits = exponent == 31 ? (sign | 0x7F800000u | (mantissa << 13))
                                         : (sign | ((exponent + 112) << 23) | (mantissa << 13));
    return std::bit_cast<float>(bits);
}

// The shader's exp2(log2(c) * 0.454545); log2 of 0 or less gives 0 once stored.
inline float Gamma(const float* table, float c) {
    if (!(c > 0.0f)) return 0.0f;
    if (c > 1.0f) return std::pow(c, 0.454545f);
    const uint32_t bits = std::bit_cast<uint32_t>(c);
    const uint32_t index = bits >> 16;
    const float fraction = float(bits & 0xFFFFu) * (1.0f / 65536.0f);
    return table[index] + (table[index + 1] - table[index]) * fraction;
}

// ---------------------------------------------------------------------------------------------
// Formats

enum class Texels { Rgba8, Bgra8, Bgrx8, Rgba16Float, Rgba16Unorm, Rgb10a2 };

struct SourceFormat {
    Texels texels;
    bool srgb;
};

std::optional<SourceFormat> ReadFormat(uint32_t dxgiFormat) {
    switch (dxgiFormat) {
        case format::kR8G8B8A8Typeless:
        case format::kR8G8B8A8Unorm:
            return SourceFormat {Texels::Rgba8, false};
        case format::kR8G8B8A8UnormSrgb:
            return SourceFormat {Texels::Rgba8, true};
        case format::kB8G8R8A8Typeless:
        case format::kB8G8R8A8Unorm:
            return SourceFormat {Texels::Bgra8, false};
        case format::kB8G8R8A8UnormSrgb:
            return SourceFormat {Texels::Bgra8, true};
        case format::kB8G8R8X8Typeless:
        case format::kB8G8R8X8Unorm:
            return SourceFormat {Texels::Bgrx8, false};
        case format::kB8G8R8X8UnormSrgb:
            return SourceFormat {Texels::Bgrx8, true};
        case format::kR16G16B16A16Typeless:
        case format::kR16G16B16A16Float:
            return SourceFormat {Texels::Rgba16Float, false};
        case format::kR16G16B16A16Unorm:
            return SourceFormat {Texels::Rgba16Unorm, false};
        case format::kR10G10B10A2Typeless:
        case format::kR10G10B10A2Unorm:
            return SourceFormat {Texels::Rgb10a2, false};
        default:
            return std::nullopt;  // integer and signed formats are not sampled as colours
    }
}

struct TargetFormat {
    bool bgra;
    bool srgb;
};

std::optional<TargetFormat> WriteFormat(uint32_t dxgiFormat) {
    switch (dxgiFormat) {
        case format::kR8G8B8A8Typeless:
        case format::kR8G8B8A8Unorm:
            return TargetFormat {false, false};
        case format::kR8G8B8A8UnormSrgb:
            return TargetFormat {false, true};
        case format::kB8G8R8A8Typeless:
        case format::kB8G8R8A8Unorm:
            return TargetFormat {true, false};
        case format::kB8G8R8A8UnormSrgb:
            return TargetFormat {true, true};
        default:
            return std::nullopt;
    }
}

// ---------------------------------------------------------------------------------------------
// Recognising the soft backend's own devices. Their class is private to soft_device.cpp, so
// dynamic types are compared with an object made for that purpose.

struct SoftTypes {
    const std::type_info* device = nullptr;
    // An owning device's NativeDevice() points at a member of its own, this far into the
    // object; a wrapper of an application's device points at that other device.
    std::ptrdiff_t nativeOffset = 0;
};

const SoftTypes& Types() {
    static const SoftTypes types = [] {
        SoftTypes made;
        auto probe = CreateDevice(Api::D3D11, 0, nullptr);
        if (!probe) return made;
        const Device& probeDevice = *probe;
        made.device = &typeid(probeDevice);
        made.nativeOffset = static_cast<const char*>(probe->NativeDevice()) - static_cast<const char*>(dynamic_cast<const void*>(probe.get()));
        return made;
    }();
    return types;
}

bool IsOwningSoftDevice(Device& device) {
    const SoftTypes& types = Types();
    if (types.device == nullptr || typeid(device) != *types.device || device.Kind() != Api::D3D11) return false;
    const char* start = static_cast<const char*>(dynamic_cast<const void*>(&device));
    return static_cast<const char*>(device.NativeDevice()) == start + types.nativeOffset;
}


// ---------------------------------------------------------------------------------------------
// Pipeline state

enum class Addressing { Wrap, Clamp };
// Opaque: ONE / ZERO writing red, green and blue (projection) or all channels (copy).
// Alpha: SRC_ALPHA / INV_SRC_ALPHA on colour, ONE / ZERO on alpha, all channels written.
enum class Blend { OpaqueRgb, OpaqueAll, Alpha };

struct Rgba {
    float r, g, b, a;
};

struct SourceView {
    const uint8_t* texels = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
    size_t rowPitch = 0;
    SourceFormat format {Texels::Rgba8, false};
};

struct TargetView {
    uint8_t* pixels = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
    TargetFormat format {false, false};
};

struct DrawState {
    SourceView source;
    TargetView target;
    Addressing addressing = Addressing::Wrap;
    Blend blend = Blend::OpaqueRgb;
    bool gamma = false;
    // The pixels a draw may touch: the viewport within the target.
    int scissorX0 = 0, scissorY0 = 0, scissorX1 = 0, scissorY1 = 0;
};

// Perspective-correct texture coordinates along a span: u = (uq0 + k duq) / (q0 + k dq).
struct SpanCoords {
    double q0, dq, uq0, duq, vq0, dvq;
};

// ---------------------------------------------------------------------------------------------
// Sampling: bilinear, 8 bits of sub-texel precision as Direct3D hardware filters.

template <Texels T>
// `alphaTable` is the UNORM table: alpha is never sRGB.
inline Rgba FetchTexel(const SourceView& s, const float* rgbTable, const float* alphaTable, uint32_t x, uint32_t y) {
    const uint8_t* p = s.texels + y * s.rowPitch;
    if constexpr (T == Texels::Rgba8) {
        p += size_t(x) * 4;
        return {rgbTable[p[0]], rgbTable[p[1]], rgbTable[p[2]], alphaTable[p[3]]};
    } else if constexpr (T == Texels::Bgra8) {
        p += size_t(x) * 4;
        return {rgbTable[p[2]], rgbTable[p[1]], rgbTable[p[0]], alphaTable[p[3]]};
    } else if constexpr (T == Texels::Bgrx8) {
        p += size_t(x) * 4;
        return {rgbTable[p[2]], rgbTable[p[1]], rgbTable[p[0]], 1.0f};
    } else if constexpr (T == Texels::Rgba16Float) {
        uint16_t c[4];
        std::memcpy(c, p + size_t(x) * 8, 8);
        return {HalfToFloat(c[0]), HalfToFloat(c[1]), HalfToFloat(c[2]), HalfToFloat(c[3])};
    } else if constexpr (T == Texels::Rgba16Unorm) {
        uint16_t c[4];
        std::memcpy(c, p + size_t(x) * 8, 8);
        constexpr float scale = 1.0f / 65535.0f;
        return {c[0] * scale, c[1] * scale, c[2] * scale, c[3] * scale};
    } else {
        uint32_t v;
        std::memcpy(&v, p + size_t(x) * 4, 4);
        constexpr float scale = 1.0f / 1023.0f;
        return {(v & 0x3FFu) * scale, ((v >> 10) & 0x3FFu) * scale, ((v >> 20) & 0x3FFu) * scale, (v >> 30) / 3.0f};
    }
}

// A texel coordinate (texel centres at +0.5) as a whole texel and a weight in 1/256 steps.
struct Tap {
    uint32_t i0, i1;
    float w;  // weight of i1
};

template <Addressing A>
inline Tap TapOf(double coordinate, uint32_t size) {
    double t = coordinate * size - 0.5;
    if constexpr (A == Addressing::Wrap) {
        if (!(t >= 0.0 && t < size)) {  // NaN too
            t = std::isfinite(t) ? t - size * std::floor(t / size) : 0.0;
            if (!(t >= 0.0 && t < size)) t = 0.0;
        }
        const auto fixed = static_cast<int64_t>(t * 256.0 + 0.5);  // t >= 0: truncation rounds
        auto i = static_cast<uint32_t>(fixed >> 8);
        if (i >= size) i -= size;
        return {i, i + 1 == size ? 0 : i + 1, float(fixed & 255) * (1.0f / 256.0f)};
    } else {
        if (!(t >= -1.0)) t = -1.0;
        if (!(t <= size)) t = size;
        const auto fixed = static_cast<int64_t>((t + 1.0) * 256.0 + 0.5) - 256;
        const int64_t i = fixed >> 8;  // floor
        const auto last = int64_t(size) - 1;
        return {uint32_t(std::clamp<int64_t>(i, 0, last)), uint32_t(std::clamp<int64_t>(i + 1, 0, last)),
                float(fixed & 255) * (1.0f / 256.0f)};
    }
}

inline Rgba Lerp(const Rgba& a, const Rgba& b, float w) {
    return {a.r + (b.r - a.r) * w, a.g + (b.g - a.g) * w, a.b + (b.b - a.b) * w, a.a + (b.a - a.a) * w};
}

// `columns` holds room for one filtered texel per source column.
template <Texels T, Addressing A>
void SampleSpan(const SourceView& s, const SpanCoords& c, int count, Rgba* out, Rgba* columns) {
    const ColourTables& tables = Tables();
    const float* rgbTable = s.format.srgb ? tables.srgb8 : tables.unorm8;
    const float* alphaTable = tables.unorm8;
    if (c.dq == 0.0 && c.dvq == 0.0) {
        // One source row pair for the whole span: each column is filtered vertically once,
        // then every pixel blends two columns.
        const double inverseQ = 1.0 / c.q0;
        const Tap y = TapOf<A>(c.vq0 * inverseQ, s.height);
        const double first = c.uq0 * inverseQ * s.width - 0.5;
        const double last = (c.uq0 + c.duq * (count - 1)) * inverseQ * s.width - 0.5;
        const auto width = int64_t(s.width);
        int64_t from = 0, to = width - 1;
        if (std::abs(first) < 1e9 && std::abs(last) < 1e9 && std::abs(last - first) < double(width)) {
            from = int64_t(std::floor(std::min(first, last))) - 1;
            to = int64_t(std::floor(std::max(first, last))) + 2;
        }
        for (int64_t i = from; i <= to; ++i) {
            int64_t column = i;
            if constexpr (A == Addressing::Wrap) {
                column %= width;
                if (column < 0) column += width;
            } else {
                column = std::clamp<int64_t>(column, 0, width - 1);
            }
            const auto x = uint32_t(column);
            columns[x] = Lerp(FetchTexel<T>(s, rgbTable, alphaTable, x, y.i0),
                              FetchTexel<T>(s, rgbTable, alphaTable, x, y.i1), y.w);
        }
        for (int k = 0; k < count; ++k) {
            const Tap x = TapOf<A>((c.uq0 + c.duq * k) * inverseQ, s.width);
            out[k] = Lerp(columns[x.i0], columns[x.i1], x.w);
        }
        return;
    }
    for (int k = 0; k < count; ++k) {
        const double r = 1.0 / (c.q0 + c.dq * k);
        const Tap x = TapOf<A>((c.uq0 + c.duq * k) * r, s.width);
        const Tap y = TapOf<A>((c.vq0 + c.dvq * k) * r, s.height);
        const Rgba top = Lerp(FetchTexel<T>(s, rgbTable, alphaTable, x.i0, y.i0),
                              FetchTexel<T>(s, rgbTable, alphaTable, x.i1, y.i0), x.w);
        const Rgba bottom = Lerp(FetchTexel<T>(s, rgbTable, alphaTable, x.i0, y.i1),
                                 FetchTexel<T>(s, rgbTable, alphaTable, x.i1, y.i1), x.w);
        out[k] = Lerp(top, bottom, y.w);
    }
}

using SampleFunction = void (*)(const SourceView&, const SpanCoords&, int, Rgba*, Rgba*);

// Room for one row of a draw: its colours, and one filtered texel per source column.
struct SpanScratch {
    std::vector<Rgba> colours;
    std::vector<Rgba> columns;
};

// Below this many pixels a triangle is drawn on the calling thread: waking the pool's threads
// would cost more than they save.
constexpr int64_t kParallelPixels = 1 << 16;

template <Addressing A>
SampleFunction SamplerFor(Texels texels) {
    switch (texels) {
        case Texels::Rgba8: return &SampleSpan<Texels::Rgba8, A>;
        case Texels::Bgra8: return &SampleSpan<Texels::Bgra8, A>;
        case Texels::Bgrx8: return &SampleSpan<Texels::Bgrx8, A>;
        case Texels::Rgba16Float: return &SampleSpan<Texels::Rgba16Float, A>;
        case Texels::Rgba16Unorm: return &SampleSpan<Texels::Rgba16Unorm, A>;
        case Texels::Rgb10a2: return &SampleSpan<Texels::Rgb10a2, A>;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Blending and storing

template <bool Bgra, bool Srgb, Blend B>
void StoreSpan(const TargetView& t, int y, int x0, int count, const Rgba* colours) {
    const ColourTables& tables = Tables();
    const float* decode = Srgb ? tables.srgb8 : tables.unorm8;
    const auto encode = [&](float c) { return Srgb ? EncodeSrgb(tables.srgbEncode, c) : EncodeUnorm(c); };
    constexpr int r = Bgra ? 2 : 0;
    constexpr int b = Bgra ? 0 : 2;
    uint8_t* p = t.pixels + (size_t(y) * t.width + size_t(x0)) * 4;
    for (int k = 0; k < count; ++k, p += 4) {
        const Rgba& s = colours[k];
        if constexpr (B == Blend::Alpha) {
            const float a = std::clamp(s.a, 0.0f, 1.0f);
            const float keep = 1.0f - a;
            p[r] = encode(std::clamp(s.r, 0.0f, 1.0f) * a + decode[p[r]] * keep);
            p[1] = encode(std::clamp(s.g, 0.0f, 1.0f) * a + decode[p[1]] * keep);
            p[b] = encode(std::clamp(s.b, 0.0f, 1.0f) * a + decode[p[b]] * keep);
            p[3] = EncodeUnorm(s.a);
        } else {
            p[r] = encode(s.r);
            p[1] = encode(s.g);
            p[b] = encode(s.b);
            if constexpr (B == Blend::OpaqueAll) p[3] = EncodeUnorm(s.a);
        }
    }
}

using StoreFunction = void (*)(const TargetView&, int, int, int, const Rgba*);

template <bool Bgra, bool Srgb>
StoreFunction StoreFor(Blend blend) {
    switch (blend) {
        case Blend::OpaqueRgb: return &StoreSpan<Bgra, Srgb, Blend::OpaqueRgb>;
        case Blend::OpaqueAll: return &StoreSpan<Bgra, Srgb, Blend::OpaqueAll>;
        case Blend::Alpha: return &StoreSpan<Bgra, Srgb, Blend::Alpha>;
    }
    return nullptr;
}

StoreFunction StoreFor(const TargetFormat& format, Blend blend) {
    if (format.bgra) return format.srgb ? StoreFor<true, true>(blend) : StoreFor<true, false>(blend);
    return format.srgb ? StoreFor<false, true>(blend) : StoreFor<false, false>(blend);
}

// One run of an exact span: texels (advancing `step` bytes each) through the byte tables.
using CopyRun = void (*)(const uint8_t*, size_t, uint8_t*, int, const uint8_t*, const uint8_t*);

template <bool SourceBgr, bool OpaqueSource, bool TargetBgr, bool WriteAlpha>
void CopyRunOf(const uint8_t* in, size_t step, uint8_t* out, int count, const uint8_t* colour, const uint8_t* alpha) {
    constexpr int sr = SourceBgr ? 2 : 0, sb = SourceBgr ? 0 : 2;
    constexpr int tr = TargetBgr ? 2 : 0, tb = TargetBgr ? 0 : 2;
    for (int k = 0; k < count; ++k, in += step, out += 4) {
        const uint8_t r = colour[in[sr]], g = colour[in[1]], b = colour[in[sb]];
        out[tr] = r;
        out[1] = g;
        out[tb] = b;
        if constexpr (WriteAlpha) out[3] = alpha[OpaqueSource ? 255 : in[3]];
    }
}

template <bool SourceBgr, bool OpaqueSource>
CopyRun CopyRunFor(bool targetBgr, bool writeAlpha) {
    if (targetBgr) return writeAlpha ? &CopyRunOf<SourceBgr, OpaqueSource, true, true> : &CopyRunOf<SourceBgr, OpaqueSource, true, false>;
    return writeAlpha ? &CopyRunOf<SourceBgr, OpaqueSource, false, true> : &CopyRunOf<SourceBgr, OpaqueSource, false, false>;
}

CopyRun CopyRunFor(bool sourceBgr, bool opaqueSource, bool targetBgr, bool writeAlpha) {
    if (!sourceBgr) return CopyRunFor<false, false>(targetBgr, writeAlpha);
    return opaqueSource ? CopyRunFor<true, true>(targetBgr, writeAlpha) : CopyRunFor<true, false>(targetBgr, writeAlpha);
}

// ---------------------------------------------------------------------------------------------
// Geometry

struct ClipVertex {
    double x, y, z, w, u, v;
};

// Direct3D's clip volume in z (0 <= z <= w) plus a guard band in x and y, far enough out that
// it never shows, which keeps screen positions within the fixed-point range.
constexpr double kGuardBand = 4.0;
constexpr double kMinimumW = 1e-9;
constexpr int kMaxClipped = 12;

double PlaneDistance(const ClipVertex& v, int plane) {
    switch (plane) {
        case 0: return v.z;
        case 1: return v.w - v.z;
        case 2: return kGuardBand * v.w - v.x;
        case 3: return kGuardBand * v.w + v.x;
        case 4: return kGuardBand * v.w - v.y;
        case 5: return kGuardBand * v.w + v.y;
        default: return v.w - kMinimumW;
    }
}

ClipVertex Mix(const ClipVertex& a, const ClipVertex& b, double t) {
    return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t,
            a.w + (b.w - a.w) * t, a.u + (b.u - a.u) * t, a.v + (b.v - a.v) * t};
}

// Sutherland-Hodgman against every plane; returns the vertex count of the clipped polygon.
int ClipTriangle(const ClipVertex (&triangle)[3], ClipVertex (&out)[kMaxClipped]) {
    ClipVertex buffer[2][kMaxClipped];
    int count = 3;
    std::copy(triangle, triangle + 3, buffer[0]);
    int current = 0;
    for (int plane = 0; plane < 7 && count > 0; ++plane) {
        const ClipVertex* in = buffer[current];
        ClipVertex* next = buffer[current ^ 1];
        int made = 0;
        for (int i = 0; i < count; ++i) {
            const ClipVertex& a = in[i];
            const ClipVertex& b = in[(i + 1) % count];
            const double da = PlaneDistance(a, plane);
            const double db = PlaneDistance(b, plane);
            if (da >= 0) next[made++] = a;
            if ((da >= 0) != (db >= 0)) next[made++] = Mix(a, b, da / (da - db));
        }
        count = made;
        current ^= 1;
    }
    std::copy(buffer[current], buffer[current] + count, out);
    return count;
}

// A vertex after the viewport transform: 1/256-pixel fixed point and the attributes divided by w.
struct ScreenVertex {
    int64_t x, y;
    double q, uq, vq;
};

constexpr int64_t kSubPixels = 256;

int64_t FloorDiv(int64_t a, int64_t b) {  // b > 0
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}
int64_t CeilDiv(int64_t a, int64_t b) { return -FloorDiv(-a, b); }

// ---------------------------------------------------------------------------------------------
// Rectangle draws: what the system draws most (projection views, copies to a window) is an
// axis-aligned rectangle whose texture coordinates follow its axes, without perspective. Such a
// draw covers exactly the pixels the rasterizer would give its two triangles and samples each
// with the same texel taps, but filters separably a row at a time with the kernels of
// pixel_kernels.h: a straight table copy when every tap lands on a texel centre, a pair table
// when only rows are blended, else source rows decoded and resampled horizontally, blended
// vertically, and encoded through one table per channel.

struct RectMapping {
    int x0, x1, y0, y1;  // covered pixels [x0, x1) × [y0, y1)
    // Texture coordinates at the centre of pixel (i, j): uAt0 + uStep i and vAt0 + vStep j.
    double uAt0, uStep, vAt0, vStep;
};

// The rectangle the six vertices make on screen, or nothing when they make anything else: any
// clipping, perspective, culling or coordinates that do not follow the axes. Those draws take
// the triangle path.
std::optional<RectMapping> FindRectangle(const ClipVertex (&vertices)[6], const Viewport& viewport, const DrawState& state) {
    const double w = vertices[0].w;
    if (!std::isfinite(w) || !(w > kMinimumW)) return std::nullopt;
    struct Corner {
        int64_t x, y;
        double u, v;
    };
    Corner corners[6];
    for (int i = 0; i < 6; ++i) {
        const ClipVertex& c = vertices[i];
        if (c.w != w || !std::isfinite(c.x) || !std::isfinite(c.y) || !std::isfinite(c.z) || !std::isfinite(c.u) ||
            !std::isfinite(c.v) || !(c.z >= 0 && c.z <= w) || !(std::abs(c.x) <= kGuardBand * w) ||
            !(std::abs(c.y) <= kGuardBand * w)) {
            return std::nullopt;
        }
        const double q = 1.0 / w;
        const double sx = viewport.x + (c.x * q + 1.0) * 0.5 * viewport.width;
        const double sy = viewport.y + (1.0 - c.y * q) * 0.5 * viewport.height;
        corners[i] = {std::llround(sx * kSubPixels), std::llround(sy * kSubPixels), c.u, c.v};
    }
    const auto area = [&](int t) {
        const Corner &a = corners[t], &b = corners[t + 1], &c = corners[t + 2];
        return (b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y);
    };
    if (area(0) <= 0 || area(3) <= 0) return std::nullopt;  // culled or degenerate: the triangle path decides
    int64_t left = corners[0].x, right = left, top = corners[0].y, bottom = top;
    for (const Corner& c : corners) {
        left = std::min(left, c.x);
        right = std::max(right, c.x);
        top = std::min(top, c.y);
        bottom = std::max(bottom, c.y);
    }
    // Every vertex a corner, the coordinates following the axes; each triangle leaves out one
    // corner, and the two left out are opposite, so the triangles share a diagonal.
    double uLeft = 0, uRight = 0, vTop = 0, vBottom = 0;
    bool seenLeft = false, seenRight = false, seenTop = false, seenBottom = false;
    const auto agree = [](bool* seen, double* value, double u) {
        if (*seen) return *value == u;
        *seen = true;
        *value = u;
        return true;
    };
    int missing[2] = {0, 0};
    for (int t = 0; t < 2; ++t) {
        int present = 0;  // bit (2 * bottom + right) per corner
        for (int i = 3 * t; i < 3 * t + 3; ++i) {
            const Corner& c = corners[i];
            if ((c.x != left && c.x != right) || (c.y != top && c.y != bottom)) return std::nullopt;
            const bool isRight = c.x == right, isBottom = c.y == bottom;
            if (!(isRight ? agree(&seenRight, &uRight, c.u) : agree(&seenLeft, &uLeft, c.u))) return std::nullopt;
            if (!(isBottom ? agree(&seenBottom, &vBottom, c.v) : agree(&seenTop, &vTop, c.v))) return std::nullopt;
            present |= 1 << (2 * int(isBottom) + int(isRight));
        }
        missing[t] = 15 & ~present;
    }
    // Opposite corners: bits 0 and 3, or 1 and 2.
    if (!((missing[0] == 1 && missing[1] == 8) || (missing[0] == 8 && missing[1] == 1) ||
          (missing[0] == 2 && missing[1] == 4) || (missing[0] == 4 && missing[1] == 2))) {
        return std::nullopt;
    }
    // Pixel centres on the left and top edges are inside, on the right and bottom ones outside.
    RectMapping m;
    m.x0 = int(std::max<int64_t>(state.scissorX0, CeilDiv(left - kSubPixels / 2, kSubPixels)));
    m.x1 = int(std::min<int64_t>(state.scissorX1, CeilDiv(right - kSubPixels / 2, kSubPixels)));
    m.y0 = int(std::max<int64_t>(state.scissorY0, CeilDiv(top - kSubPixels / 2, kSubPixels)));
    m.y1 = int(std::min<int64_t>(state.scissorY1, CeilDiv(bottom - kSubPixels / 2, kSubPixels)));
    const double leftPixels = double(left) / kSubPixels, topPixels = double(top) / kSubPixels;
    m.uStep = (uRight - uLeft) / (double(right - left) / kSubPixels);
    m.vStep = (vBottom - vTop) / (double(bottom - top) / kSubPixels);
    m.uAt0 = uLeft + m.uStep * (0.5 - leftPixels);
    m.vAt0 = vTop + m.vStep * (0.5 - topPixels);
    return m;
}

// Linear value -> target byte, raised to 0.454545 first for the gamma flag, by the float's top
// bits; each entry is the byte of its bucket's middle value.
struct EncodeTable {
    uint8_t entries[soft::kEncodeEntries + 3] {};  // 3 more for the kernels' 4-byte reads
};

const EncodeTable& EncodeTableFor(bool gamma, bool srgb) {
    static const EncodeTable* tables[2][2] {};
    static std::once_flag made[2][2];
    std::call_once(made[gamma][srgb], [&] {
        auto* table = new EncodeTable;  // kept until exit
        for (uint32_t i = 0; i < soft::kEncodeEntries; ++i) {
            double value = std::min(1.0, double(std::bit_cast<float>((i << soft::kEncodeShift) | (1u << (soft::kEncodeShift - 1)))));
            if (i == 0) value = 0.0;
            if (gamma) value = std::pow(value, 0.454545);
            if (srgb) value = LinearToSrgb(value);
            table->entries[i] = static_cast<uint8_t>(std::lround(std::clamp(value, 0.0, 1.0) * 255.0));
        }
        tables[gamma][srgb] = table;
    });
    return *tables[gamma][srgb];
}

constexpr float kOnes[256] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                              1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                              1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                              1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                              1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                              1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                              1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                              1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};

// A value's entry in the encode tables: the float's top bits, clamped to [0, 1] (NaN to 0).
inline uint32_t EncodeIndex(float value) {
    value = value > 0.0f ? value : 0.0f;
    value = value < 1.0f ? value : 1.0f;
    return std::bit_cast<uint32_t>(value) >> soft::kEncodeShift;
}

// For rows that only blend two source rows (columns one to one): what each pair of source
// bytes becomes for one vertical weight, decoded, blended and encoded as the row kernels do.
struct PairTable {
    uint8_t entries[soft::kPairEntries + 3] {};  // 3 more for the kernels' 4-byte reads
};

// Pair tables are kept between draws, at most this many (64 KB each): a frame's rows use
// one or two weights, and a draw with more distinct weights than kMostPairWeights filters.
constexpr size_t kPairTablesKept = 16;
constexpr size_t kMostPairWeights = 4;

std::shared_ptr<const PairTable> PairTableFor(int weight256, const float* decode, const uint8_t* encode) {
    struct Key {
        int weight;
        const float* decode;
        const uint8_t* encode;
        bool operator==(const Key&) const = default;
    };
    static std::mutex mutex;
    static auto* kept = new std::vector<std::pair<Key, std::shared_ptr<const PairTable>>>;  // kept until exit
    const Key key {weight256, decode, encode};
    {
        std::lock_guard lock(mutex);
        for (const auto& [k, table] : *kept) {
            if (k == key) return table;
        }
    }
    auto table = std::make_shared<PairTable>();
    const float w = float(weight256) * (1.0f / 256.0f);
    for (uint32_t lower = 0; lower < 256; ++lower) {
        for (uint32_t upper = 0; upper < 256; ++upper) {
            const float a = decode[upper];
            table->entries[upper | lower << 8] = encode[EncodeIndex(a + (decode[lower] - a) * w)];
        }
    }
    std::lock_guard lock(mutex);
    if (kept->size() >= kPairTablesKept) kept->erase(kept->begin());  // the oldest goes
    kept->emplace_back(key, table);
    return table;
}

// One worker's rows: two source rows, each decoded and resampled to the target's columns
// (four planes, one per source byte), found again by their row index; a decoded row before
// resampling; and the row being drawn.
struct RectScratch {
    std::vector<float> filtered[2];
    int64_t filteredRow[2] = {-1, -1};
    int nextSlot = 0;
    std::vector<float> decoded;
    std::vector<float> values;
    std::vector<uint32_t> picked[2];  // the texels exact columns take from two source rows
};

std::atomic<bool> g_rectangleDraws {true};
std::atomic<unsigned long long> g_rectanglesDrawn {0};

// Everything a rectangle draw's rows share.
struct RectPlan {
    const uint8_t* texels;
    size_t rowPitch;
    uint8_t* target;
    uint32_t targetWidth;
    int x0, x1;
    // Per target column: source columns relative to firstColumn, and the weight of the second.
    std::vector<int32_t> i0, i1;
    std::vector<float> weight;
    int firstColumn = 0, columnCount = 0;
    bool columnsOneToOne = false;  // every weight 0 and the columns consecutive
    bool columnsExact = false;     // every weight 0: each pixel takes one texel of its row
    std::vector<Tap> rowTaps;      // per target row from y0
    int y0 = 0;
    // Source byte b decodes through decode[b] (null: not needed); target byte t takes plane
    // planeOf[t] (-1: not written) through encode[t].
    const float* decode[4] {};
    int planeOf[4] = {-1, -1, -1, -1};
    const uint8_t* encode[4] {};
    soft::ByteMaps maps {};
    // Rows that blend two source rows with weight w (in 1/256) use pairs[pairOf[w]] when
    // pairOf[w] >= 0; the tables live as long as the plan.
    int pairOf[256];
    std::vector<soft::PairMaps> pairs;
    std::vector<std::shared_ptr<const PairTable>> pairTables;
};

// Source row `row` decoded and resampled to the target's columns: four planes of the
// target's width, in the slot that is not `keep` unless a slot holds it already. Resampling
// each source row once and blending the rows after gives what blending first gives (bilinear
// filtering is separable), but an enlarged image resamples each source row only once.
const float* FilteredRow(const RectPlan& plan, uint32_t row, int keep, RectScratch& scratch, const soft::PixelKernels& k,
                         int* slotOut) {
    for (int slot = 0; slot < 2; ++slot) {
        if (scratch.filteredRow[slot] == int64_t(row)) {
            *slotOut = slot;
            return scratch.filtered[slot].data();
        }
    }
    int slot = scratch.nextSlot;
    if (slot == keep) slot ^= 1;
    scratch.nextSlot = slot ^ 1;
    const int count = plan.x1 - plan.x0;
    const size_t n = size_t(plan.columnCount);
    float* filtered = scratch.filtered[slot].data();
    // Columns one to one: decoded straight into the slot (n equals the target's width then).
    float* decoded = plan.columnsOneToOne ? filtered : scratch.decoded.data();
    float* planes[4] {};
    for (int b = 0; b < 4; ++b) {
        if (plan.decode[b] != nullptr) planes[b] = decoded + size_t(b) * n;
    }
    const auto* texels = reinterpret_cast<const uint32_t*>(plan.texels + size_t(row) * plan.rowPitch) + plan.firstColumn;
    k.decodeRow(texels, plan.columnCount, plan.decode, planes);
    if (!plan.columnsOneToOne) {
        for (int b = 0; b < 4; ++b) {
            if (planes[b] == nullptr) continue;
            k.resampleRow(planes[b], plan.i0.data(), plan.i1.data(), plan.weight.data(), filtered + size_t(b) * size_t(count),
                          count);
        }
    }
    scratch.filteredRow[slot] = row;
    *slotOut = slot;
    return filtered;
}

void DrawRectRow(const RectPlan& plan, int row, RectScratch& scratch, const soft::PixelKernels& k) {
    const Tap& tap = plan.rowTaps[size_t(row - plan.y0)];
    auto* out = reinterpret_cast<uint32_t*>(plan.target + (size_t(row) * plan.targetWidth + size_t(plan.x0)) * 4);
    const int count = plan.x1 - plan.x0;
    if (plan.columnsExact) {
        const int pair = tap.w == 0.0f ? -1 : plan.pairOf[int(tap.w * 256.0f)];
        if (tap.w == 0.0f || pair >= 0) {
            // The texels of the row's columns: in place when consecutive, else picked out.
            const auto texelsOf = [&](uint32_t sourceRow, int which) {
                const auto* texels = reinterpret_cast<const uint32_t*>(plan.texels + size_t(sourceRow) * plan.rowPitch) +
                                     plan.firstColumn;
                if (plan.columnsOneToOne) return texels;
                uint32_t* picked = scratch.picked[which].data();
                for (int c = 0; c < count; ++c) picked[c] = texels[plan.i0[size_t(c)]];
                return static_cast<const uint32_t*>(picked);
            };
            if (pair < 0) {
                k.mapRow(texelsOf(tap.i0, 0), out, count, plan.maps);
            } else {
                k.pairRow(texelsOf(tap.i0, 0), texelsOf(tap.i1, 1), out, count, plan.pairs[size_t(pair)]);
            }
            return;
        }
    }
    int topSlot = 0, bottomSlot = 0;
    const float* rows = FilteredRow(plan, tap.i0, -1, scratch, k, &topSlot);
    if (tap.w != 0.0f) {
        const float* bottom = FilteredRow(plan, tap.i1, topSlot, scratch, k, &bottomSlot);
        const float* top = scratch.filtered[topSlot].data();
        for (int b = 0; b < 4; ++b) {
            if (plan.decode[b] == nullptr) continue;
            const size_t at = size_t(b) * size_t(count);
            k.lerpRow(top + at, bottom + at, tap.w, scratch.values.data() + at, count);
        }
        rows = scratch.values.data();
    }
    const float* values[4] {};
    for (int t = 0; t < 4; ++t) {
        if (plan.planeOf[t] >= 0) values[t] = rows + size_t(plan.planeOf[t]) * size_t(count);
    }
    k.encodePixels(values, plan.encode, out, count);
}

// ---------------------------------------------------------------------------------------------
// The context

// What an empty source slot samples.
alignas(4) constexpr uint8_t kZeroTexel[4] = {0, 0, 0, 0};

// Viewports beyond this many pixels are not drawn (they keep the fixed-point maths in range).
constexpr double kViewportLimit = 65536.0;

class SoftDrawContext final : public DrawContext {
public:
    bool SetRenderTarget(Texture& target) override {
        std::lock_guard lock(mutex_);
        const TextureDesc& desc = target.Desc();
        const auto format = WriteFormat(desc.format);
        if ((desc.bindFlags & kBindRenderTarget) == 0 || !format || desc.sampleCount != 1) {
            Unbind();
            return false;
        }
        // Drawn in place, so whoever opens a shared target sees the frame.
        Unbind();
        target_ = &target;
        targetView_.format = *format;
        targetView_.width = desc.width;
        targetView_.height = desc.height;
        return true;
    }

    Texture* RenderTarget() const override {
        std::lock_guard lock(mutex_);
        return target_;
    }

    void Clear(float r, float g, float b, float a) override {
        std::lock_guard lock(mutex_);
        if (!BeginTargetWork()) return;
        const TargetFormat& f = targetView_.format;
        const auto encode = [&](float c) { return f.srgb ? EncodeSrgb(Tables().srgbEncode, c) : EncodeUnorm(c); };
        uint8_t pixel[4];
        pixel[f.bgra ? 2 : 0] = encode(r);
        pixel[1] = encode(g);
        pixel[f.bgra ? 0 : 2] = encode(b);
        pixel[3] = EncodeUnorm(a);
        const size_t rowBytes = size_t(targetView_.width) * 4;
        uint8_t* first = targetView_.pixels;
        for (size_t i = 0; i < rowBytes; i += 4) std::memcpy(first + i, pixel, 4);
        const auto rows = int(targetView_.height);
        const int bands = int64_t(rows) * targetView_.width < kParallelPixels ? 1 : std::min(rows, pool_.Workers());
        pool_.Run(bands, [&](int band, int) {
            for (int row = std::max(1, rows * band / bands), end = rows * (band + 1) / bands; row < end; ++row) {
                std::memcpy(first + size_t(row) * rowBytes, first, rowBytes);
            }
        });
        EndTargetWork();
    }

    void DrawProjection(const QuadVertices& vertices, const Matrix& model, const Viewport& viewport, Texture& source,
                        uint32_t arrayIndex, bool gammaCorrect) override {
        std::lock_guard lock(mutex_);
        ClipVertex clip[6];
        for (int i = 0; i < 6; ++i) clip[i] = Transform(vertices[i], model, nullptr);
        Draw(clip, viewport, source, arrayIndex, Addressing::Wrap, Blend::OpaqueRgb, gammaCorrect);
    }

    void DrawQuad(const QuadVertices& vertices, const Matrix& model, const Matrix& viewProjection,
                  const Viewport& viewport, Texture& source) override {
        std::lock_guard lock(mutex_);
        ClipVertex clip[6];
        for (int i = 0; i < 6; ++i) clip[i] = Transform(vertices[i], model, &viewProjection);
        Draw(clip, viewport, source, 0, Addressing::Wrap, Blend::Alpha, false);
    }

    void DrawCopy(Texture& source, const Viewport& viewport, float u0, float v0, float u1, float v1) override {
        std::lock_guard lock(mutex_);
        // The full-screen rectangle, clockwise as the other pipelines' vertices.
        const ClipVertex clip[6] = {{-1, -1, 0, 1, u0, v1}, {-1, 1, 0, 1, u0, v0}, {1, 1, 0, 1, u1, v0},
                                    {-1, -1, 0, 1, u0, v1}, {1, 1, 0, 1, u1, v0},  {1, -1, 0, 1, u1, v1}};
        Draw(clip, viewport, source, 0, Addressing::Clamp, Blend::OpaqueAll, false);
    }

    // Draws complete as they are issued.
    void Flush() override {}

private:
    void Unbind() {
        target_ = nullptr;
        targetView_ = {};
        targetCopy_ = {};
    }

    // The soft device's textures are drawn in their own memory; another's is copied in
    // before and back after each piece of work.
    bool BeginTargetWork() {
        if (target_ == nullptr) return false;
        if ((targetView_.pixels = soft::TexturePixels(*target_, 0)) != nullptr) return true;
        if (!target_->ReadPixels(0, &targetCopy_)) return false;
        targetView_.pixels = targetCopy_.data();
        return true;
    }
    void EndTargetWork() {
        if (targetView_.pixels == targetCopy_.data()) target_->WritePixels(0, targetCopy_.data(), targetCopy_.size());
    }

    // Array slice `slice` of the source as texels in memory, or the empty slot's zero.
    void BindSource(Texture& source, uint32_t slice, SourceView* view) {
        const TextureDesc& desc = source.Desc();
        const auto format = ReadFormat(desc.format);
        bool readable = format && source.HasShaderResourceView() && desc.sampleCount == 1;
        if (readable) {
            slice = std::min(slice, desc.arraySize - 1);
            if (const uint8_t* pixels = soft::TexturePixels(source, slice)) {
                view->texels = pixels;
            } else {
                readable = source.ReadPixels(slice, &sourceCopy_) && sourceCopy_.size() >= SliceBytes(desc);
                view->texels = sourceCopy_.data();
            }
        }
        if (!readable) {
            *view = {kZeroTexel, 1, 1, 4, {Texels::Rgba8, false}};
            return;
        }
        view->width = desc.width;
        view->height = desc.height;
        view->rowPitch = size_t(desc.width) * BytesPerPixel(desc.format);
        view->format = *format;
    }

    static ClipVertex Transform(const Vertex& vertex, const Matrix& first, const Matrix* second) {
        double p[4] = {vertex.position[0], vertex.position[1], vertex.position[2], 1.0};
        for (const Matrix* m : {&first, second}) {
            if (m == nullptr) continue;
            double out[4];
            for (int k = 0; k < 4; ++k) {
                out[k] = (*m)[4 * k] * p[0] + (*m)[4 * k + 1] * p[1] + (*m)[4 * k + 2] * p[2] + (*m)[4 * k + 3] * p[3];
            }
            std::copy(out, out + 4, p);
        }
        return {p[0], p[1], p[2], p[3], vertex.texcoord[0], vertex.texcoord[1]};
    }

    void Draw(const ClipVertex (&vertices)[6], const Viewport& viewport, Texture& source, uint32_t slice,
              Addressing addressing, Blend blend, bool gamma) {
        if (target_ == nullptr || !(viewport.width > 0) || !(viewport.height > 0) || !(viewport.width <= kViewportLimit) ||
            !(viewport.height <= kViewportLimit) || !(std::abs(viewport.x) <= kViewportLimit) ||
            !(std::abs(viewport.y) <= kViewportLimit)) {
            return;
        }
        if (!BeginTargetWork()) return;
        DrawState state;
        BindSource(source, slice, &state.source);
        state.target = targetView_;
        state.addressing = addressing;
        state.blend = blend;
        state.gamma = gamma;
        // Pixels whose centres lie inside the viewport, within the target.
        state.scissorX0 = int(std::clamp(std::ceil(double(viewport.x) - 0.5), 0.0, double(targetView_.width)));
        state.scissorX1 = int(std::clamp(std::ceil(double(viewport.x) + viewport.width - 0.5), 0.0, double(targetView_.width)));
        state.scissorY0 = int(std::clamp(std::ceil(double(viewport.y) - 0.5), 0.0, double(targetView_.height)));
        state.scissorY1 = int(std::clamp(std::ceil(double(viewport.y) + viewport.height - 0.5), 0.0, double(targetView_.height)));
        sample_ = addressing == Addressing::Wrap ? SamplerFor<Addressing::Wrap>(state.source.format.texels)
                                                 : SamplerFor<Addressing::Clamp>(state.source.format.texels);
        store_ = StoreFor(state.target.format, blend);
        BuildExactTable(state);
        if (TryRectangle(vertices, viewport, state)) {
            EndTargetWork();
            return;
        }
        for (SpanScratch& scratch : scratch_) {
            scratch.colours.resize(targetView_.width);
            scratch.columns.resize(state.source.width);
        }

        if (state.scissorX0 < state.scissorX1 && state.scissorY0 < state.scissorY1) {
            for (int t = 0; t < 6; t += 3) {
                const ClipVertex triangle[3] = {vertices[t], vertices[t + 1], vertices[t + 2]};
                DrawTriangle(triangle, viewport, state);
            }
        }
        EndTargetWork();
    }

    void DrawTriangle(const ClipVertex (&triangle)[3], const Viewport& viewport, const DrawState& state) {
        for (const ClipVertex& v : triangle) {
            if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z) || !std::isfinite(v.w) ||
                !std::isfinite(v.u) || !std::isfinite(v.v)) {
                return;
            }
        }
        ClipVertex polygon[kMaxClipped];
        const int count = ClipTriangle(triangle, polygon);
        if (count < 3) return;
        ScreenVertex screen[kMaxClipped];
        for (int i = 0; i < count; ++i) {
            const ClipVertex& v = polygon[i];
            const double q = 1.0 / v.w;
            const double sx = viewport.x + (v.x * q + 1.0) * 0.5 * viewport.width;
            const double sy = viewport.y + (1.0 - v.y * q) * 0.5 * viewport.height;
            screen[i] = {std::llround(sx * kSubPixels), std::llround(sy * kSubPixels), q, v.u * q, v.v * q};
        }
        // A fan keeps the polygon's winding; shared diagonals meet exactly under the fill rule.
        for (int i = 1; i + 1 < count; ++i) RasterizeTriangle(screen[0], screen[i], screen[i + 1], state);
    }

    void RasterizeTriangle(const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c, const DrawState& state) {
        // Positive area: clockwise on screen, Direct3D's front face; back faces are culled.
        const int64_t area = (b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y);
        if (area <= 0) return;

        Edge edges[3];
        const ScreenVertex* corners[3] = {&a, &b, &c};
        for (int e = 0; e < 3; ++e) {
            const ScreenVertex& from = *corners[e];
            const ScreenVertex& to = *corners[(e + 1) % 3];
            const int64_t dx = to.x - from.x;
            const int64_t dy = to.y - from.y;
            // E(i, j) = dx (Yc(j) - from.y) - dy (Xc(i) - from.x), Xc(i) = 256 i + 128.
            edges[e].step = -dy * kSubPixels;
            edges[e].yTerm = dx * (kSubPixels / 2 - from.y) - dy * (kSubPixels / 2 - from.x);
            edges[e].rowStep = dx * kSubPixels;
            const bool topLeft = dy < 0 || (dy == 0 && dx > 0);
            edges[e].bias = topLeft ? 0 : 1;
        }

        const int64_t minY = std::min({a.y, b.y, c.y});
        const int64_t maxY = std::max({a.y, b.y, c.y});
        const int64_t minX = std::min({a.x, b.x, c.x});
        const int64_t maxX = std::max({a.x, b.x, c.x});
        const int rowFirst = int(std::max<int64_t>(state.scissorY0, CeilDiv(minY - kSubPixels / 2, kSubPixels)));
        const int rowLast = int(std::min<int64_t>(state.scissorY1 - 1, FloorDiv(maxY - kSubPixels / 2, kSubPixels)));
        const int columnFirst = int(std::max<int64_t>(state.scissorX0, CeilDiv(minX - kSubPixels / 2, kSubPixels)));
        const int columnLast = int(std::min<int64_t>(state.scissorX1 - 1, FloorDiv(maxX - kSubPixels / 2, kSubPixels)));
        if (rowFirst > rowLast || columnFirst > columnLast) return;

        // Attribute planes over the snapped positions, in pixels.
        const double ax = double(a.x) / kSubPixels, ay = double(a.y) / kSubPixels;
        const double e1x = double(b.x - a.x) / kSubPixels, e1y = double(b.y - a.y) / kSubPixels;
        const double e2x = double(c.x - a.x) / kSubPixels, e2y = double(c.y - a.y) / kSubPixels;
        const double inverseArea = 1.0 / (e1x * e2y - e2x * e1y);
        const auto plane = [&](double fa, double fb, double fc) {
            const double d1 = fb - fa, d2 = fc - fa;
            const double ddx = (d1 * e2y - d2 * e1y) * inverseArea;
            const double ddy = (d2 * e1x - d1 * e2x) * inverseArea;
            return Plane {fa + ddx * (0.5 - ax) + ddy * (0.5 - ay), ddx, ddy};
        };
        const Plane q = plane(a.q, b.q, c.q);
        const Plane uq = plane(a.uq, b.uq, c.uq);
        const Plane vq = plane(a.vq, b.vq, c.vq);

        // Worker w of n draws rows w, w + n, w + 2n, ...: interleaved rows share a triangle's
        // narrow and wide parts evenly, and each worker writes only its own rows.
        const auto rows = [&](int worker, int workers, SpanScratch& scratch) {
            for (int row = rowFirst + worker; row <= rowLast; row += workers) {
                RenderRow(edges, columnFirst, columnLast, q, uq, vq, row, state, scratch);
            }
        };
        const int64_t pixels = int64_t(rowLast - rowFirst + 1) * (columnLast - columnFirst + 1);
        const int bands = pixels < kParallelPixels ? 1 : pool_.Workers();
        pool_.Run(bands, [&](int band, int worker) { rows(band, bands, scratch_[size_t(worker)]); });
    }

    struct Edge {
        int64_t step;   // change of the edge function per pixel to the right
        int64_t yTerm;  // its parts that do not depend on the column, at row 0
        int64_t rowStep;
        int64_t bias;   // 0 on top and left edges, which own the pixel centres on them
    };
    struct Plane {
        double at0, ddx, ddy;  // value at pixel (0, 0)'s centre and its steps
    };

    // The covered span of one row of a triangle, sampled and stored.
    void RenderRow(const Edge (&edges)[3], int columnFirst, int columnLast, const Plane& q, const Plane& uq,
                   const Plane& vq, int row, const DrawState& state, SpanScratch& scratch) const {
        int64_t lo = columnFirst;
        int64_t hi = columnLast;
        for (const Edge& edge : edges) {
            // Inside when step * i + base >= bias.
            const int64_t base = edge.yTerm + edge.rowStep * row;
            if (edge.step > 0) {
                lo = std::max(lo, CeilDiv(edge.bias - base, edge.step));
            } else if (edge.step < 0) {
                hi = std::min(hi, FloorDiv(base - edge.bias, -edge.step));
            } else if (base < edge.bias) {
                hi = lo - 1;
            }
        }
        if (lo > hi) return;
        const auto at = [&](const Plane& p) { return p.at0 + p.ddx * double(lo) + p.ddy * row; };
        const SpanCoords coords {at(q), q.ddx, at(uq), uq.ddx, at(vq), vq.ddx};
        RenderSpan(state, row, int(lo), int(hi - lo + 1), coords, scratch);
    }

    void RenderSpan(const DrawState& state, int row, int x0, int count, const SpanCoords& coords,
                    SpanScratch& scratch) const {
        if (TryExactSpan(state, row, x0, count, coords)) return;
        Rgba* colours = scratch.colours.data();
        sample_(state.source, coords, count, colours, scratch.columns.data());
        if (state.gamma) {
            const float* table = Tables().gamma;
            const bool alphaShows = state.blend != Blend::OpaqueRgb;
            for (int k = 0; k < count; ++k) {
                colours[k].r = Gamma(table, colours[k].r);
                colours[k].g = Gamma(table, colours[k].g);
                colours[k].b = Gamma(table, colours[k].b);
                if (alphaShows) colours[k].a = Gamma(table, colours[k].a);
            }
        }
        store_(state.target, row, x0, count, colours);
    }

    // The draw as a rectangle (see FindRectangle); false when it is not one.
    bool TryRectangle(const ClipVertex (&vertices)[6], const Viewport& viewport, const DrawState& state) {
        const SourceView& s = state.source;
        if (!g_rectangleDraws.load(std::memory_order_relaxed) || state.blend == Blend::Alpha || state.scissorX0 >= state.scissorX1 || state.scissorY0 >= state.scissorY1 ||
            (s.format.texels != Texels::Rgba8 && s.format.texels != Texels::Bgra8 && s.format.texels != Texels::Bgrx8)) {
            return false;
        }
        const std::optional<RectMapping> rect = FindRectangle(vertices, viewport, state);
        if (!rect) return false;
        g_rectanglesDrawn.fetch_add(1, std::memory_order_relaxed);
        if (rect->x0 >= rect->x1 || rect->y0 >= rect->y1) return true;  // it covers no pixel centre
        state.addressing == Addressing::Wrap ? PlanRectangle<Addressing::Wrap>(*rect, state)
                                             : PlanRectangle<Addressing::Clamp>(*rect, state);
        const int rows = rect->y1 - rect->y0;
        const int64_t pixels = int64_t(rows) * (rect->x1 - rect->x0);
        // A few bands per worker even out uneven progress; each band's rows are consecutive, so
        // a decoded source row serves every target row that needs it.
        const int bands = pixels < kParallelPixels ? 1 : std::min(rows, pool_.Workers() * 4);
        const soft::PixelKernels& kernels = soft::ActiveKernels();
        pool_.Run(bands, [&](int band, int worker) {
            RectScratch& scratch = rectScratch_[size_t(worker)];
            for (int row = rect->y0 + rows * band / bands, end = rect->y0 + rows * (band + 1) / bands; row < end; ++row) {
                DrawRectRow(plan_, row, scratch, kernels);
            }
        });
        return true;
    }

    template <Addressing A>
    void PlanRectangle(const RectMapping& rect, const DrawState& state) {
        const SourceView& s = state.source;
        RectPlan& plan = plan_;
        plan.texels = s.texels;
        plan.rowPitch = s.rowPitch;
        plan.target = state.target.pixels;
        plan.targetWidth = state.target.width;
        plan.x0 = rect.x0;
        plan.x1 = rect.x1;
        plan.y0 = rect.y0;
        const auto count = size_t(rect.x1 - rect.x0);
        plan.i0.resize(count);
        plan.i1.resize(count);
        plan.weight.resize(count);
        int32_t lowest = std::numeric_limits<int32_t>::max(), highest = 0;
        bool oneToOne = true, exact = true;
        for (size_t k = 0; k < count; ++k) {
            const Tap tap = TapOf<A>(rect.uAt0 + rect.uStep * double(rect.x0 + int(k)), s.width);
            plan.i0[k] = int32_t(tap.i0);
            // A weight of 0 takes the first texel alone, whatever the second.
            plan.i1[k] = int32_t(tap.w == 0.0f ? tap.i0 : tap.i1);
            plan.weight[k] = tap.w;
            lowest = std::min({lowest, plan.i0[k], plan.i1[k]});
            highest = std::max({highest, plan.i0[k], plan.i1[k]});
            exact = exact && tap.w == 0.0f;
            oneToOne = oneToOne && exact && plan.i0[k] == plan.i0[0] + int32_t(k);
        }
        for (size_t k = 0; k < count; ++k) {
            plan.i0[k] -= lowest;
            plan.i1[k] -= lowest;
        }
        plan.firstColumn = lowest;
        plan.columnCount = highest - lowest + 1;
        plan.columnsOneToOne = oneToOne;
        plan.columnsExact = exact;
        plan.rowTaps.resize(size_t(rect.y1 - rect.y0));
        for (int j = rect.y0; j < rect.y1; ++j) {
            Tap tap = TapOf<A>(rect.vAt0 + rect.vStep * double(j), s.height);
            if (tap.w == 0.0f) tap.i1 = tap.i0;
            plan.rowTaps[size_t(j - rect.y0)] = tap;
        }

        // Where each channel sits in a source texel and in a target pixel.
        const bool sourceBgr = s.format.texels != Texels::Rgba8;
        const bool opaqueSource = s.format.texels == Texels::Bgrx8;
        const bool writeAlpha = state.blend == Blend::OpaqueAll;
        const int sourceByte[4] = {sourceBgr ? 2 : 0, 1, sourceBgr ? 0 : 2, 3};  // of R, G, B, A
        const int targetByte[4] = {state.target.format.bgra ? 2 : 0, 1, state.target.format.bgra ? 0 : 2, 3};
        const ColourTables& tables = Tables();
        const float* colourDecode = s.format.srgb ? tables.srgb8 : tables.unorm8;
        const uint8_t* colourEncode = EncodeTableFor(state.gamma, state.target.format.srgb).entries;
        const uint8_t* alphaEncode = EncodeTableFor(state.gamma, false).entries;
        for (int b = 0; b < 4; ++b) {
            plan.decode[b] = nullptr;
            plan.planeOf[b] = -1;
            plan.maps.channel[b] = nullptr;
        }
        for (int c = 0; c < 4; ++c) {
            if (c == 3 && !writeAlpha) continue;
            const int from = sourceByte[c], to = targetByte[c];
            plan.decode[from] = c < 3 ? colourDecode : (opaqueSource ? kOnes : tables.unorm8);
            plan.planeOf[to] = from;
            plan.encode[to] = c < 3 ? colourEncode : alphaEncode;
            for (int value = 0; value < 256; ++value) {
                const uint8_t mapped = c < 3 ? exactColour_[value] : exactAlpha_[opaqueSource ? 255 : value];
                byteMaps_[from][value] = uint32_t(mapped) << (8 * to);
            }
            plan.maps.channel[from] = byteMaps_[from];
        }

        PlanPairs(plan);
        const size_t columns = size_t(plan.columnCount);
        for (RectScratch& scratch : rectScratch_) {
            for (auto& filtered : scratch.filtered) filtered.resize(4 * count);
            scratch.filteredRow[0] = scratch.filteredRow[1] = -1;
            scratch.decoded.resize(4 * columns);
            scratch.values.resize(4 * count);
            if (!plan.columnsOneToOne && plan.columnsExact) {
                for (auto& picked : scratch.picked) picked.resize(count);
            }
        }
    }

    // Pair tables for the rows' weights, when the columns map one to one and few weights occur.
    static void PlanPairs(RectPlan& plan) {
        std::fill(std::begin(plan.pairOf), std::end(plan.pairOf), -1);
        plan.pairs.clear();
        plan.pairTables.clear();
        if (!plan.columnsExact) return;
        std::vector<int> weights;
        for (const Tap& tap : plan.rowTaps) {
            const int weight = int(tap.w * 256.0f);
            if (weight != 0 && std::find(weights.begin(), weights.end(), weight) == weights.end()) {
                if (weights.size() == kMostPairWeights) return;
                weights.push_back(weight);
            }
        }
        for (const int weight : weights) {
            soft::PairMaps maps {};
            for (int b = 0; b < 4; ++b) {
                const int to = PlaneTarget(plan, b);
                if (to < 0) continue;
                auto table = PairTableFor(weight, plan.decode[b], plan.encode[to]);
                maps.table[b] = table->entries;
                maps.shift[b] = 8 * to;
                plan.pairTables.push_back(std::move(table));
            }
            plan.pairOf[weight] = int(plan.pairs.size());
            plan.pairs.push_back(maps);
        }
    }
    // The target byte that source byte `b` is written to; -1 when none.
    static int PlaneTarget(const RectPlan& plan, int b) {
        for (int t = 0; t < 4; ++t) {
            if (plan.planeOf[t] == b) return t;
        }
        return -1;
    }

    // An opaque span that maps texel centres onto pixel centres one to one (every filter
    // weight rounds to 0) is a per-byte table lookup from an 8-bit source.
    bool TryExactSpan(const DrawState& state, int row, int x0, int count, const SpanCoords& c) const {
        const SourceView& s = state.source;
        if (state.blend == Blend::Alpha || c.dq != 0.0 || s.format.texels == Texels::Rgba16Float ||
            s.format.texels == Texels::Rgba16Unorm || s.format.texels == Texels::Rgb10a2) {
            return false;
        }
        constexpr double kSlack = 1.0 / 1024;
        const double tx0 = c.uq0 / c.q0 * s.width - 0.5;
        const double txN = (c.uq0 + c.duq * (count - 1)) / c.q0 * s.width - 0.5;
        const double ty0 = c.vq0 / c.q0 * s.height - 0.5;
        const double tyN = (c.vq0 + c.dvq * (count - 1)) / c.q0 * s.height - 0.5;
        if (!std::isfinite(tx0) || !std::isfinite(txN) || !std::isfinite(ty0) || !std::isfinite(tyN)) return false;
        if (std::abs(txN - tx0 - (count - 1)) >= kSlack || std::abs(tyN - ty0) >= kSlack) return false;
        const double startX = std::round(tx0);
        const double startY = std::round(ty0);
        if (std::abs(tx0 - startX) >= kSlack || std::abs(ty0 - startY) >= kSlack) return false;
        if (std::abs(startX) > 1e9 || std::abs(startY) > 1e9) return false;

        const auto width = int64_t(s.width);
        const auto height = int64_t(s.height);
        auto y = int64_t(startY);
        y = state.addressing == Addressing::Wrap ? ((y % height) + height) % height : std::clamp<int64_t>(y, 0, height - 1);
        const uint8_t* texels = s.texels + size_t(y) * s.rowPitch;
        uint8_t* out = state.target.pixels + (size_t(row) * state.target.width + size_t(x0)) * 4;
        const CopyRun copy = exactCopy_;
        // Contiguous runs of texels: wrapping starts a new run at texel 0; clamping repeats an
        // edge texel for the pixels beyond it.
        auto x = int64_t(startX);
        if (state.addressing == Addressing::Wrap) x = ((x % width) + width) % width;
        while (count > 0) {
            int64_t run;
            const uint8_t* from;
            size_t step = 4;
            if (x < 0 || x >= width) {  // clamping only
                run = x < 0 ? std::min<int64_t>(-x, count) : count;
                from = texels + (x < 0 ? 0 : size_t(width - 1) * 4);
                step = 0;
            } else {
                run = std::min<int64_t>(width - x, count);
                from = texels + size_t(x) * 4;
            }
            copy(from, step, out, int(run), exactColour_, exactAlpha_);
            out += run * 4;
            count -= int(run);
            x += run;
            if (state.addressing == Addressing::Wrap && x == width) x = 0;
        }
        return true;
    }

    // What a source byte becomes in the target: decoded, gamma-raised if asked, encoded.
    void BuildExactTable(const DrawState& state) {
        const bool sourceBgr = state.source.format.texels != Texels::Rgba8;
        const bool opaqueSource = state.source.format.texels == Texels::Bgrx8;
        const bool writeAlpha = state.blend == Blend::OpaqueAll;
        exactCopy_ = CopyRunFor(sourceBgr, opaqueSource, state.target.format.bgra, writeAlpha);
        for (int byte = 0; byte < 256; ++byte) {
            double colour = state.source.format.srgb ? SrgbToLinear(byte / 255.0) : byte / 255.0;
            double alpha = byte / 255.0;
            if (state.gamma) {
                colour = std::pow(colour, 0.454545);
                alpha = std::pow(alpha, 0.454545);
            }
            if (state.target.format.srgb) colour = LinearToSrgb(colour);
            exactColour_[byte] = static_cast<uint8_t>(std::lround(std::clamp(colour, 0.0, 1.0) * 255.0));
            exactAlpha_[byte] = static_cast<uint8_t>(std::lround(std::clamp(alpha, 0.0, 1.0) * 255.0));
        }
    }

    mutable std::mutex mutex_;  // a context is one device's, which more than one thread may use
    Texture* target_ = nullptr;
    TargetView targetView_;
    std::vector<uint8_t> targetCopy_;
    std::vector<uint8_t> sourceCopy_;
    // One per worker of a draw's row bands.
    soft::WorkerPool& pool_ = soft::WorkerPool::Shared();
    std::vector<SpanScratch> scratch_ = std::vector<SpanScratch>(size_t(pool_.Workers()));
    std::vector<RectScratch> rectScratch_ = std::vector<RectScratch>(size_t(pool_.Workers()));
    RectPlan plan_;
    uint32_t byteMaps_[4][256] {};
    SampleFunction sample_ = nullptr;
    StoreFunction store_ = nullptr;
    CopyRun exactCopy_ = nullptr;
    uint8_t exactColour_[256] {};
    uint8_t exactAlpha_[256] {};
};

}  // namespace

void soft::UseRectangleDraws(bool use) { g_rectangleDraws.store(use, std::memory_order_relaxed); }
unsigned long long soft::RectangleDraws() { return g_rectanglesDrawn.load(std::memory_order_relaxed); }

// One context per owning soft device, kept for the process's life (a device gives no notice of
// its end): besides scratch rows it holds only the mapping of the shared target bound last.
DrawContext* ImmediateContext(Device& device) {
    if (!IsOwningSoftDevice(device)) return nullptr;
    static std::mutex mutex;
    static auto* contexts = new std::unordered_map<const Device*, std::unique_ptr<SoftDrawContext>>;
    std::lock_guard lock(mutex);
    auto& context = (*contexts)[&device];
    if (!context) context = std::make_unique<SoftDrawContext>();
    return context.get();
}

}  // namespace qor::gpu
