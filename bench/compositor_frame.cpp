// The compositor's cost for one frame of two 1920 x 2160 views (a projection layer drawn into
// the 3840 x 2160 stage buffer) on the service's Direct3D 11 device, set beside a memcpy of the
// same bytes in the same run, so the ratio says how far the drawing is from a plain copy.
// Views of that size map one to one onto the halves; a second figure stretches 1920 x 1080
// views (what xr_demo submits) over them, which takes the filtering path.
//
//   compositor_frame [--frames N]
#include "gpu/device.h"
#include "service/compositor/compositor.h"
#include "service/driverhost/graphics_devices.h"
#include "service/session/swapchain.h"

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

class BenchSwapchain final : public qor::QorSwapchain {
public:
    bool CreateImages(qor::gpu::Device&) override { return true; }
};

uint64_t AddEyeSwapchain(qor::gpu::Device& device, uint32_t width, uint32_t height, uint8_t seed) {
    auto swapchain = std::make_shared<BenchSwapchain>();
    swapchain->usageFlags = XR_SWAPCHAIN_USAGE_COLOR_ATTACHMENT_BIT | XR_SWAPCHAIN_USAGE_SAMPLED_BIT;
    swapchain->format = qor::gpu::format::kR8G8B8A8UnormSrgb;
    swapchain->width = width;
    swapchain->height = height;
    qor::gpu::TextureDesc desc;
    desc.width = width;
    desc.height = height;
    desc.format = swapchain->format;
    desc.bindFlags = qor::gpu::kBindShaderResource;
    auto texture = device.CreateTexture(desc);
    if (!texture || !texture->CreateShaderResourceView(desc.format)) return 0;
    std::vector<uint8_t> pixels(size_t(width) * height * 4);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7 + seed);
    if (!texture->WritePixels(0, pixels.data(), pixels.size())) return 0;
    swapchain->textures.push_back(std::move(texture));
    swapchain->lastReleased = 0;
    return qor::SwapchainRegistry::Get().Insert(swapchain);
}

std::unique_ptr<qor::CompositorLayer> ProjectionLayer(uint64_t left, uint64_t right, uint32_t width, uint32_t height) {
    auto layer = std::make_unique<qor::CompositorLayer>();
    layer->type = XR_TYPE_COMPOSITION_LAYER_PROJECTION;
    layer->viewCount = 2;
    const uint64_t swapchains[2] = {left, right};
    for (int i = 0; i < 2; ++i) {
        layer->views[i].pose.orientation.w = 1;
        layer->views[i].fov = {-0.5f, 0.5f, 0.5f, -0.5f};
        layer->views[i].swapchain = swapchains[i];
        layer->views[i].imageRect = {{0, 0}, {int32_t(width), int32_t(height)}};
    }
    return layer;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Median time of DrawLayers for a projection layer of two width x height views. No session is
// registered, so nothing is presented; the stage goes back to key 0 between frames as the
// display side would give it back.
std::optional<double> MedianFrameMs(qor::gpu::Device& device, uint32_t width, uint32_t height, uint32_t frames) {
    const uint64_t left = AddEyeSwapchain(device, width, height, 1);
    const uint64_t right = AddEyeSwapchain(device, width, height, 2);
    if (left == 0 || right == 0) {
        std::fprintf(stderr, "compositor_frame: cannot make the eye images\n");
        return std::nullopt;
    }
    qor::Compositor& compositor = qor::Compositor::Get();
    std::vector<double> drawMs;
    for (uint32_t i = 0; i < frames + 2; ++i) {
        compositor.AddLayer(0, ProjectionLayer(left, right, width, height));
        const auto start = Clock::now();
        const bool drawn = compositor.DrawLayers(0);
        const auto end = Clock::now();
        if (!drawn || compositor.ReleaseStageBuffer() != qor::gpu::kSyncOk) {
            std::fprintf(stderr, "compositor_frame: frame %u was not composed\n", i);
            return std::nullopt;
        }
        if (i >= 2) drawMs.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    return Median(drawMs);
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
    qor::ServiceGraphicsDevices().d3d11Device = qor::gpu::CreateDevice(qor::gpu::Api::D3D11, 0, &error);
    qor::gpu::Device* device = qor::ServiceGraphicsDevices().d3d11Device.get();
    if (device == nullptr) {
        std::fprintf(stderr, "compositor_frame: no Direct3D 11 device: %s\n", error.c_str());
        return 1;
    }
    const std::optional<double> oneToOne = MedianFrameMs(*device, kHalfWidth, kHalfHeight, frames);
    const std::optional<double> stretched = MedianFrameMs(*device, kHalfWidth, kHalfHeight / 2, frames);
    if (!oneToOne || !stretched) return 1;

    // The same bytes moved by memcpy: both eye images into one stage-sized buffer.
    const size_t bytes = size_t(kHalfWidth) * kHalfHeight * 4 * 2;
    std::vector<uint8_t> source(bytes, 1);
    std::vector<uint8_t> target(bytes, 0);
    std::vector<double> copyMs;
    for (uint32_t i = 0; i < frames + 2; ++i) {
        source[i % bytes] = static_cast<uint8_t>(i);
        const auto start = Clock::now();
        std::memcpy(target.data(), source.data(), bytes);
        const auto end = Clock::now();
        if (target[i % bytes] != source[i % bytes]) return 1;  // keeps the copy
        if (i >= 2) copyMs.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }

    const double copy = Median(copyMs);
    std::printf("compositor frame, two %ux%u views into %ux%u: median %.2f ms over %u frames\n", kHalfWidth, kHalfHeight,
                kHalfWidth * 2, kHalfHeight, *oneToOne, frames);
    std::printf("memcpy of the same %.1f MB:                        median %.2f ms\n", bytes / 1e6, copy);
    std::printf("ratio compositor / memcpy: %.1f\n", *oneToOne / copy);
    std::printf("compositor frame, two %ux%u views stretched over the halves: median %.2f ms (%.1f x memcpy)\n",
                kHalfWidth, kHalfHeight / 2, *stretched, *stretched / copy);
    qor::Compositor::Get().Close();
    qor::SwapchainRegistry::Get().Clear();
    qor::ServiceGraphicsDevices().d3d11Device.reset();
    return 0;
}
