// The compositor's cost for one frame of two 1920 x 2160 views (a projection layer drawn into
// the 3840 x 2160 stage buffer) on the service's Direct3D 11 device, set beside a memcpy of the
// same bytes in the same run, so the ratio says how far the drawing is from a plain copy.
// Views of that size map one to one onto the halves; a second figure stretches 1920 x 1080
// views (what xr_demo submits) over them, which takes the filtering path. On the soft device
// each is measured with the rectangle path's AVX2 kernels (where the CPU has them), its
// baseline kernels, and the general triangle path, so one run shows what each step gains.
//
//   compositor_frame [--frames N]
#include "gpu/device.h"
#include "service/compositor/compositor.h"

#if !defined(_WIN32)
#include "gpu/soft/draw_paths.h"
#include "gpu/soft/pixel_kernels.h"
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kHalfWidth = 1920;
constexpr uint32_t kHalfHeight = 2160;

// One released sRGB eye image, as a swapchain shows it to the compositor.
class EyeImage final : public qor::LayerImageSource {
public:
    explicit EyeImage(std::unique_ptr<qor::gpu::Texture> texture) : texture_(std::move(texture)) {}
    bool Exists() const override { return true; }
    qor::gpu::Texture* ReleasedImage() const override { return texture_.get(); }
    uint32_t ImageWidth() const override { return texture_->Desc().width; }
    uint32_t ImageHeight() const override { return texture_->Desc().height; }
    int64_t ImageFormat() const override { return texture_->Desc().format; }
    uint64_t ImageUsageFlags() const override {
        return XR_SWAPCHAIN_USAGE_COLOR_ATTACHMENT_BIT | XR_SWAPCHAIN_USAGE_SAMPLED_BIT;
    }

private:
    std::unique_ptr<qor::gpu::Texture> texture_;
};

// Frames go nowhere: no provider is polled and no display presents.
class NoDisplay final : public qor::PresentTarget {
public:
    std::span<qor::IServerDeviceProvider* const> Providers() const override { return {}; }
    qor::IQorDisplayComponent* Display() const override { return nullptr; }
};

std::shared_ptr<EyeImage> MakeEyeImage(qor::gpu::Device& device, uint32_t width, uint32_t height, uint8_t seed) {
    qor::gpu::TextureDesc desc;
    desc.width = width;
    desc.height = height;
    desc.format = qor::gpu::format::kR8G8B8A8UnormSrgb;
    desc.bindFlags = qor::gpu::kBindShaderResource;
    auto texture = device.CreateTexture(desc);
    if (!texture || !texture->CreateShaderResourceView(desc.format)) return nullptr;
    std::vector<uint8_t> pixels(size_t(width) * height * 4);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7 + seed);
    if (!texture->WritePixels(0, pixels.data(), pixels.size())) return nullptr;
    return std::make_shared<EyeImage>(std::move(texture));
}

std::unique_ptr<qor::CompositorLayer> ProjectionLayer(const qor::LayerImage& left, const qor::LayerImage& right,
                                                      uint32_t width, uint32_t height) {
    auto layer = std::make_unique<qor::CompositorLayer>();
    layer->type = XR_TYPE_COMPOSITION_LAYER_PROJECTION;
    layer->viewCount = 2;
    const qor::LayerImage images[2] = {left, right};
    for (int i = 0; i < 2; ++i) {
        layer->views[i].pose.orientation.w = 1;
        layer->views[i].fov = {-0.5f, 0.5f, 0.5f, -0.5f};
        layer->views[i].image = images[i];
        layer->views[i].imageRect = {{0, 0}, {int32_t(width), int32_t(height)}};
    }
    return layer;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Two like-for-like pairs: frames one after another beside memcpys one after another (each
// finding its buffers in the caches as far as they fit), and frames and memcpys taken in
// turns (each finding its buffers pushed out by the other).
struct Figures {
    double hotFrameMs;
    double coldFrameMs;
    double coldCopyMs;
};

// A memcpy of the bytes a frame moves: both eye images into one stage-sized buffer.
class CopyBaseline {
public:
    CopyBaseline() : source_(kBytes, 1), target_(kBytes, 0) {}
    double Ms(uint32_t i) {
        source_[i % kBytes] = static_cast<uint8_t>(i);
        const auto start = Clock::now();
        std::memcpy(target_.data(), source_.data(), kBytes);
        const auto end = Clock::now();
        if (target_[i % kBytes] != source_[i % kBytes]) std::abort();  // keeps the copy
        return std::chrono::duration<double, std::milli>(end - start).count();
    }
    static constexpr size_t kBytes = size_t(kHalfWidth) * kHalfHeight * 4 * 2;

private:
    std::vector<uint8_t> source_;
    std::vector<uint8_t> target_;
};

// Median times of DrawLayers for a projection layer of two width x height views, back to
// back and in turns with the memcpy. Nothing is presented; the stage goes back to key 0
// between frames as the display side would give it back.
std::optional<Figures> Measure(qor::Compositor& compositor, qor::gpu::Device& device, CopyBaseline& baseline,
                               uint32_t width, uint32_t height, uint32_t frames) {
    const auto left = MakeEyeImage(device, width, height, 1);
    const auto right = MakeEyeImage(device, width, height, 2);
    if (!left || !right) {
        std::fprintf(stderr, "compositor_frame: cannot make the eye images\n");
        return std::nullopt;
    }
    const auto frame = [&]() -> std::optional<double> {
        compositor.AddLayer(0, ProjectionLayer(left, right, width, height));
        const auto start = Clock::now();
        const bool drawn = compositor.DrawLayers(0, NoDisplay());
        const auto end = Clock::now();
        if (!drawn || compositor.ReleaseStageBuffer() != qor::gpu::kSyncOk) {
            std::fprintf(stderr, "compositor_frame: a frame was not composed\n");
            return std::nullopt;
        }
        return std::chrono::duration<double, std::milli>(end - start).count();
    };
    std::vector<double> hotMs, coldMs, copyMs;
    for (uint32_t i = 0; i < frames + 2; ++i) {
        const auto ms = frame();
        if (!ms) return std::nullopt;
        if (i >= 2) hotMs.push_back(*ms);
    }
    for (uint32_t i = 0; i < frames + 1; ++i) {
        const double copy = baseline.Ms(i);
        const auto ms = frame();
        if (!ms) return std::nullopt;
        if (i == 0) continue;
        coldMs.push_back(*ms);
        copyMs.push_back(copy);
    }
    return Figures {Median(hotMs), Median(coldMs), Median(copyMs)};
}

}  // namespace

int main(int argc, char** argv) {
    uint32_t frames = 30;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
            frames = static_cast<uint32_t>(std::max(1L, std::strtol(argv[++i], nullptr, 10)));
        } else {
            std::fprintf(stderr, "usage: compositor_frame [--frames N]\n");
            return 2;
        }
    }

    std::string error;
    const std::unique_ptr<qor::gpu::Device> device = qor::gpu::CreateDevice(qor::gpu::Api::D3D11, 0, &error);
    if (!device) {
        std::fprintf(stderr, "compositor_frame: no Direct3D 11 device: %s\n", error.c_str());
        return 1;
    }
    qor::Compositor compositor([&device] { return device.get(); });

    CopyBaseline baseline;
    std::vector<double> hot;
    for (uint32_t i = 0; i < frames + 2; ++i) {
        const double ms = baseline.Ms(i);
        if (i >= 2) hot.push_back(ms);
    }
    const double hotCopy = Median(hot);
    std::printf("memcpy of the %.1f MB a frame moves (two %ux%u views), one after another: median %.2f ms\n",
                CopyBaseline::kBytes / 1e6, kHalfWidth, kHalfHeight, hotCopy);

    struct Path {
        const char* name;
        bool rectangles;
        bool avx2;
    };
#if defined(_WIN32)
    const Path paths[] = {{"Direct3D 11", true, true}};
#else
    const Path paths[] = {{"rectangle path, AVX2 kernels", true, true},
                          {"rectangle path, baseline kernels", true, false},
                          {"triangle path", false, false}};
#endif
    for (const Path& path : paths) {
#if !defined(_WIN32)
        if (path.avx2 && !qor::gpu::soft::CpuRunsAvx2()) continue;
        qor::gpu::soft::UseRectangleDraws(path.rectangles);
        qor::gpu::soft::UseKernels(path.avx2 ? qor::gpu::soft::KernelSet::Avx2 : qor::gpu::soft::KernelSet::Baseline);
#endif
        const std::optional<Figures> oneToOne = Measure(compositor, *device, baseline, kHalfWidth, kHalfHeight, frames);
        const std::optional<Figures> stretched =
            Measure(compositor, *device, baseline, kHalfWidth, kHalfHeight / 2, frames);
        if (!oneToOne || !stretched) return 1;
        std::printf("%s, medians of %u frames:\n", path.name, frames);
        const auto print = [&](const char* what, const Figures& f) {
            std::printf("  %s: one after another %.2f ms (%.2f x memcpy); in turns with a memcpy %.2f ms, memcpy %.2f ms "
                        "(%.2f x)\n",
                        what, f.hotFrameMs, f.hotFrameMs / hotCopy, f.coldFrameMs, f.coldCopyMs, f.coldFrameMs / f.coldCopyMs);
        };
        print("two 1920x2160 views one to one", *oneToOne);
        print("two 1920x1080 views stretched ", *stretched);
    }
    compositor.Close();
    return 0;
}
