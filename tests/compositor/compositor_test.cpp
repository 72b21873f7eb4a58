// The compositor on the service's device: layers drawn side by side into the stage buffer, read
// back as the display side reads it (key 1, then back to key 0), the keyed-mutex protocol, and
// PollFrame / PresentFrame through a loaded test driver on the session's target.
#include "gpu/device.h"
#include "platform/library.h"
#include "platform/system.h"
#include "service/compositor/compositor.h"
#include "service/core/handle_counter.h"
#include "service/core/logger.h"
#include "service/driverhost/driver_registry.h"
#include "service/session/session_present_target.h"
#include "service/session/session_registry.h"
#include "service/session/swapchain.h"
#include "service/server/service_state.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <thread>

namespace qor::test {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kColor = XR_SWAPCHAIN_USAGE_COLOR_ATTACHMENT_BIT | XR_SWAPCHAIN_USAGE_SAMPLED_BIT;
constexpr uint32_t kStageWidth = 3840;
constexpr uint32_t kStageHeight = 2160;
constexpr uint32_t kHalf = kStageWidth / 2;
constexpr XrPosef kIdentityPose {{0, 0, 0, 1}, {0, 0, 0}};
constexpr XrFovf kSquareFov {-0.7853982f, 0.7853982f, 0.7853982f, -0.7853982f};  // ±45°
const float kSin45 = std::sqrt(0.5f);

class ImageSwapchain final : public QorSwapchain {
public:
    bool CreateImages(gpu::Device&) override { return true; }
    uint64_t handle = 0;
};
using Swapchain = std::shared_ptr<ImageSwapchain>;
const LayerImage kNeverMade;

struct Rgba {
    int r, g, b, a;
};

// What the stage (an sRGB render target) stores for a linear shader output.
int StageByte(double linear) {
    linear = std::clamp(linear, 0.0, 1.0);
    const double srgb = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
    return static_cast<int>(std::lround(srgb * 255));
}
double Decoded(int srgbByte) {
    const double c = srgbByte / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}
double Raised(double c) { return std::pow(c, 0.454545); }

class Stage {
public:
    Stage(std::vector<uint8_t> pixels) : pixels_(std::move(pixels)) {}
    Rgba At(uint32_t x, uint32_t y) const {
        const uint8_t* p = pixels_.data() + (size_t(y) * kStageWidth + x) * 4;
        return {p[0], p[1], p[2], p[3]};
    }
    const std::vector<uint8_t>& Bytes() const { return pixels_; }

private:
    std::vector<uint8_t> pixels_;
};

::testing::AssertionResult Near(const Rgba& actual, const Rgba& expected, int tolerance = 1) {
    const int worst = std::max({std::abs(actual.r - expected.r), std::abs(actual.g - expected.g),
                                std::abs(actual.b - expected.b), std::abs(actual.a - expected.a)});
    if (worst <= tolerance) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << actual.r << ", " << actual.g << ", " << actual.b << ", " << actual.a
                                         << ") instead of (" << expected.r << ", " << expected.g << ", " << expected.b
                                         << ", " << expected.a << ")";
}

class CompositorTest : public ::testing::Test {
protected:
    void SetUp() override {
        env_.Set("NORVIK_TEST_DRIVER_TRACE", trace_);
        std::string error;
        ownedDevice_ = gpu::CreateDevice(gpu::Api::D3D11, 0, &error);
        ASSERT_TRUE(ownedDevice_) << error;
        device_ = ownedDevice_.get();
        if (!CanShareStage()) GTEST_SKIP() << "this device cannot share a texture guarded by a keyed mutex";

        // "a" does not initialise but is still polled; "default" is tried last and registers the display.
        AddDriver("a");
        AddDriver("default");
        env_.Set("NORVIK_TEST_DRIVER_MODE_a", "fail");
        state_.drivers.LoadDriversFrom(drivers_);
        ASSERT_EQ(state_.drivers.Providers().size(), 2u);
        ASSERT_EQ(state_.drivers.Systems().size(), 1u);
        fs::remove(platform::PathFromUtf8(trace_));  // the trace of the frames alone

        session_ = std::make_shared<Session>();
        session_->handle = state_.handles.New(kSessionHandleBase);
        session_->systemId = state_.drivers.Systems().begin()->first;
        std::lock_guard lock(state_.sessions.Mutex());
        state_.sessions.SessionsLocked()[session_->handle] = session_;
    }

    bool CanShareStage() {
        gpu::TextureDesc desc;
        desc.width = desc.height = 4;
        desc.format = gpu::format::kR8G8B8A8UnormSrgb;
        desc.bindFlags = gpu::kBindRenderTarget | gpu::kBindShaderResource;
        desc.miscFlags = gpu::kMiscSharedKeyedMutex;
        const auto texture = device_->CreateTexture(desc);
        if (!texture || texture->SharedHandle() == 0 || texture->AcquireSync(0, 0) != gpu::kSyncOk) return false;
        return texture->ReleaseSync(0) && gpu::ImmediateContext(*device_) != nullptr;
    }

    void AddDriver(const std::string& name) {
        const fs::path bin = platform::PathFromUtf8(drivers_) / name / "bin" / std::string(platform::kBinaryFolderName);
        fs::create_directories(bin);
        fs::copy_file(NORVIK_TEST_DRIVER, bin / (name + "Driver" + std::string(platform::kLibrarySuffix)));
    }

    std::vector<std::string> Trace() const {
        std::vector<std::string> lines;
        std::istringstream text(ReadFile(trace_));
        for (std::string line; std::getline(text, line);) lines.push_back(line);
        return lines;
    }
    uint64_t PresentedHandle() const {
        const auto lines = Trace();
        for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
            if (it->rfind("default present ", 0) == 0) return std::stoull(it->substr(16));
        }
        return 0;
    }

    // One image of `format` (a typed texture, so its view's format is the texture's own),
    // shared by legacy handle as a Direct3D 11 swapchain's images are, released and filled
    // with `pixels` (one slice). The registry holds it, as it holds the application's.
    Swapchain AddSwapchain(uint32_t width, uint32_t height, uint32_t format, const std::vector<uint8_t>& pixels,
                           uint64_t usage = kColor) {
        auto swapchain = std::make_shared<ImageSwapchain>();
        swapchain->session = session_->handle;
        swapchain->usageFlags = usage;
        swapchain->format = format;
        swapchain->width = width;
        swapchain->height = height;
        AddImage(*swapchain, pixels);
        swapchain->lastReleased = 0;
        swapchain->handle = state_.swapchains.Insert(swapchain);
        return swapchain;
    }
    void AddImage(ImageSwapchain& swapchain, const std::vector<uint8_t>& pixels) {
        gpu::TextureDesc desc;
        desc.width = swapchain.width;
        desc.height = swapchain.height;
        desc.format = static_cast<uint32_t>(swapchain.format);
        desc.bindFlags = gpu::kBindShaderResource;
        desc.miscFlags = gpu::kMiscShared;
        auto texture = device_->CreateTexture(desc);
        EXPECT_TRUE(texture && texture->CreateShaderResourceView(desc.format));
        EXPECT_TRUE(texture && texture->WritePixels(0, pixels.data(), pixels.size()));
        swapchain.textures.push_back(std::move(texture));
    }
    static std::vector<uint8_t> UniformPixels(Rgba colour) {
        std::vector<uint8_t> pixels;
        for (int i = 0; i < 16; ++i) pixels.insert(pixels.end(), {uint8_t(colour.r), uint8_t(colour.g), uint8_t(colour.b), uint8_t(colour.a)});
        return pixels;
    }
    Swapchain AddUniform(uint32_t format, Rgba colour, uint64_t usage = kColor) {
        return AddSwapchain(4, 4, format, UniformPixels(colour), usage);
    }
    // As xrDestroySwapchain takes it from the registry; the test still holds it.
    void Destroy(const Swapchain& swapchain) { EXPECT_TRUE(state_.swapchains.Erase(swapchain->handle, 0)); }

    static XrRect2Di Rect(int32_t x, int32_t y, int32_t width = int32_t(kHalf), int32_t height = int32_t(kStageHeight)) {
        return {{x, y}, {width, height}};
    }
    static std::unique_ptr<CompositorLayer> Projection(LayerImage left, LayerImage right, XrRect2Di leftRect = Rect(0, 0),
                                                       XrRect2Di rightRect = Rect(0, 0),
                                                       const XrPosef (&poses)[2] = {kIdentityPose, kIdentityPose}) {
        auto layer = std::make_unique<CompositorLayer>();
        layer->type = XR_TYPE_COMPOSITION_LAYER_PROJECTION;
        layer->viewCount = 2;
        const LayerImage images[2] = {left, right};
        const XrRect2Di rects[2] = {leftRect, rightRect};
        for (int i = 0; i < 2; ++i) {
            layer->views[i].pose = poses[i];
            layer->views[i].fov = kSquareFov;
            layer->views[i].image = images[i];
            layer->views[i].imageRect = rects[i];
        }
        return layer;
    }
    static std::unique_ptr<CompositorLayer> Quad(LayerImage image, int32_t visibility, XrPosef pose, XrExtent2Df size) {
        auto layer = std::make_unique<CompositorLayer>();
        layer->type = XR_TYPE_COMPOSITION_LAYER_QUAD;
        layer->eyeVisibility = visibility;
        layer->image = std::move(image);
        layer->pose = pose;
        layer->size = size;
        return layer;
    }

    bool Frame(std::unique_ptr<CompositorLayer> layer = nullptr) {
        if (layer) compositor_.AddLayer(session_->handle, std::move(layer));
        return compositor_.DrawLayers(session_->handle, SessionPresentTarget(state_, session_->handle));
    }

    // What the display side sees: it takes key 1, reads, and gives the stage back with key 0.
    Stage TakeFrame() {
        std::vector<uint8_t> pixels;
        const auto stage = device_->OpenSharedTexture(PresentedHandle());
        EXPECT_TRUE(stage);
        if (!stage) return Stage(std::vector<uint8_t>(size_t(kStageWidth) * kStageHeight * 4));
        EXPECT_EQ(stage->AcquireSync(1, 10000), gpu::kSyncOk);
        EXPECT_TRUE(stage->ReadPixels(0, &pixels));
        EXPECT_TRUE(stage->ReleaseSync(0));
        return Stage(std::move(pixels));
    }

    TempEnvironment env_;
    std::string trace_ = env_.Path("trace.txt");
    std::string drivers_ = env_.Path("drivers");
    std::unique_ptr<gpu::Device> ownedDevice_;
    gpu::Device* device_ = nullptr;
    // Its swapchains' textures are on the device above.
    ServiceState state_;
    // Asks for the device at each use, as the service's compositor does.
    Compositor compositor_ {[this] { return ownedDevice_.get(); }};
    std::shared_ptr<Session> session_;
};

// Every byte from the position, so that a pixel read from the wrong place shows.
std::vector<uint8_t> Pattern(uint32_t width, uint32_t height, uint32_t seed) {
    std::vector<uint8_t> pixels(size_t(width) * height * 4);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* p = pixels.data() + (size_t(y) * width + x) * 4;
            p[0] = uint8_t(x * 7 + y * 3 + seed);
            p[1] = uint8_t(x + y * 11 + seed * 5);
            p[2] = uint8_t((x ^ y) + seed * 3);
            p[3] = uint8_t(x * 13 + y);
        }
    }
    return pixels;
}

// The stage half [x0, x0 + 1920) against `source` read from (offsetX, offsetY) one to one,
// through a UNORM view onto the sRGB stage; alpha keeps the clear's 255.
::testing::AssertionResult HalfMatches(const Stage& stage, uint32_t x0, const std::vector<uint8_t>& source,
                                       uint32_t sourceWidth, uint32_t offsetX, uint32_t offsetY) {
    int table[256];
    for (int b = 0; b < 256; ++b) table[b] = StageByte(b / 255.0);
    size_t wrong = 0;
    for (uint32_t y = 0; y < kStageHeight; ++y) {
        for (uint32_t x = 0; x < kHalf; ++x) {
            const uint8_t* s = source.data() + (size_t(y + offsetY) * sourceWidth + x + offsetX) * 4;
            const Rgba actual = stage.At(x0 + x, y);
            if (actual.r != table[s[0]] || actual.g != table[s[1]] || actual.b != table[s[2]] || actual.a != 255) {
                if (wrong++ == 0) {
                    return ::testing::AssertionFailure() << "pixel (" << x0 + x << ", " << y << ") is " << Near(actual, {table[s[0]], table[s[1]], table[s[2]], 255}, 0).message();
                }
            }
        }
    }
    return ::testing::AssertionSuccess();
}

TEST_F(CompositorTest, AProjectionLayerFillsEachHalfOneToOneAndIsPresentedAfterPolling) {
    const auto left = Pattern(kHalf, kStageHeight, 1);
    const auto right = Pattern(kHalf, kStageHeight, 2);
    const auto leftSwapchain = AddSwapchain(kHalf, kStageHeight, gpu::format::kR8G8B8A8Unorm, left);
    const auto rightSwapchain = AddSwapchain(kHalf, kStageHeight, gpu::format::kR8G8B8A8Unorm, right);

    ASSERT_TRUE(Frame(Projection(leftSwapchain, rightSwapchain)));
    EXPECT_EQ(compositor_.QueuedLayers(), 0u);
    const uint64_t handle = PresentedHandle();
    EXPECT_NE(handle, 0u);
    EXPECT_EQ(Trace(), (std::vector<std::string> {"a poll", "default poll", "default present " + std::to_string(handle)}));

    const Stage stage = TakeFrame();
    EXPECT_TRUE(HalfMatches(stage, 0, left, kHalf, 0, 0));
    EXPECT_TRUE(HalfMatches(stage, kHalf, right, kHalf, 0, 0));
}

TEST_F(CompositorTest, AnImageRectWithAnOffsetSamplesExactlyThatRect) {
    const uint32_t width = 2000, height = 2200;
    const auto pixels = Pattern(width, height, 3);
    const auto swapchain = AddSwapchain(width, height, gpu::format::kR8G8B8A8Unorm, pixels);

    ASSERT_TRUE(Frame(Projection(swapchain, swapchain, Rect(40, 30), Rect(80, 40))));
    const Stage stage = TakeFrame();
    EXPECT_TRUE(HalfMatches(stage, 0, pixels, width, 40, 30));
    EXPECT_TRUE(HalfMatches(stage, kHalf, pixels, width, 80, 40));
}

TEST_F(CompositorTest, SrgbFormatsRaiseTheLayerToOneOverTwoPointTwoFromTheirViewOn) {
    const Rgba colour {64, 128, 200, 255};
    const auto expectUnorm = [&](bool raised) {
        const auto f = [&](int b) { return StageByte(raised ? Raised(b / 255.0) : b / 255.0); };
        return Rgba {f(colour.r), f(colour.g), f(colour.b), 255};
    };
    const auto expectSrgb = [&](bool raised) {
        const auto f = [&](int b) { return StageByte(raised ? Raised(Decoded(b)) : Decoded(b)); };
        return Rgba {f(colour.r), f(colour.g), f(colour.b), 255};
    };
    const auto unorm = AddUniform(gpu::format::kR8G8B8A8Unorm, colour);
    const auto srgb = AddUniform(gpu::format::kR8G8B8A8UnormSrgb, colour);
    const auto bgraSrgb = AddUniform(gpu::format::kB8G8R8A8UnormSrgb, {colour.b, colour.g, colour.r, 255});
    const auto bgrxSrgb = AddUniform(gpu::format::kB8G8R8X8UnormSrgb, {colour.b, colour.g, colour.r, 0});

    // Each sRGB format sets the flag; plain UNORM does not.
    ASSERT_TRUE(Frame(Projection(srgb, unorm)));
    Stage stage = TakeFrame();
    EXPECT_TRUE(Near(stage.At(500, 700), expectSrgb(true)));
    // The flag stays set for the later view of the same layer.
    EXPECT_TRUE(Near(stage.At(kHalf + 500, 700), expectUnorm(true)));

    ASSERT_TRUE(Frame(Projection(bgraSrgb, bgrxSrgb)));
    stage = TakeFrame();
    EXPECT_TRUE(Near(stage.At(10, 10), expectSrgb(true)));
    EXPECT_TRUE(Near(stage.At(kStageWidth - 1, kStageHeight - 1), expectSrgb(true)));

    // A later layer starts again without it.
    compositor_.AddLayer(session_->handle, Projection(srgb, srgb));
    ASSERT_TRUE(Frame(Projection(unorm, unorm)));
    stage = TakeFrame();
    EXPECT_TRUE(Near(stage.At(100, 100), expectUnorm(false)));
    EXPECT_TRUE(Near(stage.At(kHalf + 100, 100), expectUnorm(false)));
}

TEST_F(CompositorTest, QuadLayersNeedAProjectionLayerAndBlendIntoTheHalvesOfTheirEyes) {
    const auto red = AddUniform(gpu::format::kR8G8B8A8Unorm, {255, 0, 0, 128});
    // 1 × 1 at 2 m in front, each eye 3 cm to its side, 90° fields of view: 480 × 540 pixels.
    const XrPosef ahead {{0, 0, 0, 1}, {0, 0, -2}};
    const XrExtent2Df size {1, 1};

    ASSERT_TRUE(Frame(Quad(red, XR_EYE_VISIBILITY_BOTH, ahead, size)));
    Stage stage = TakeFrame();
    EXPECT_TRUE(std::all_of(stage.Bytes().begin(), stage.Bytes().end(), [i = 0](uint8_t b) mutable {
        return b == ((i++ % 4) == 3 ? 255 : 0);
    })) << "a quad before any projection layer draws nothing";

    const int grey = 100;
    const auto background = AddUniform(gpu::format::kR8G8B8A8Unorm, {grey, grey, grey, 255});
    const XrPosef eyes[2] = {{{0, 0, 0, 1}, {-0.03f, 0, 0}}, {{0, 0, 0, 1}, {0.03f, 0, 0}}};
    const int under = StageByte(grey / 255.0);
    const double alpha = 128 / 255.0;
    const Rgba blended {StageByte(alpha + Decoded(under) * (1 - alpha)), StageByte(Decoded(under) * (1 - alpha)),
                        StageByte(Decoded(under) * (1 - alpha)), 128};
    const Rgba plain {under, under, under, 255};
    // The quad's centre: 3 cm off each eye's axis, 0.015 of the half-width.
    const uint32_t leftCentre = 974, rightCentre = kHalf + 945;
    const struct {
        int32_t visibility;
        bool left, right;
    } cases[] = {{XR_EYE_VISIBILITY_BOTH, true, true}, {XR_EYE_VISIBILITY_LEFT, true, false}, {XR_EYE_VISIBILITY_RIGHT, false, true}};
    for (const auto& c : cases) {
        compositor_.AddLayer(session_->handle, Projection(background, background, Rect(0, 0, 4, 4), Rect(0, 0, 4, 4), eyes));
        ASSERT_TRUE(Frame(Quad(red, c.visibility, ahead, size)));
        stage = TakeFrame();
        EXPECT_TRUE(Near(stage.At(leftCentre, 1080), c.left ? blended : plain)) << c.visibility;
        EXPECT_TRUE(Near(stage.At(rightCentre, 1080), c.right ? blended : plain)) << c.visibility;
        // The edges: 240 pixels either side of the centre, 270 above and below.
        EXPECT_TRUE(Near(stage.At(leftCentre - 235, 1080 + 265), c.left ? blended : plain)) << c.visibility;
        EXPECT_TRUE(Near(stage.At(leftCentre - 245, 1080), plain)) << c.visibility;
        EXPECT_TRUE(Near(stage.At(rightCentre, 1080 - 275), plain)) << c.visibility;
    }
}

TEST_F(CompositorTest, QuadPlacementFollowsTheLayerPoseAndTheEyePose) {
    const auto white = AddUniform(gpu::format::kR8G8B8A8Unorm, {255, 255, 255, 255});
    const auto black = AddUniform(gpu::format::kR8G8B8A8Unorm, {0, 0, 0, 255});
    // Both eyes at the origin turned 90° to the left (looking down -x); the quad 2 m away on
    // -x, turned the same way so that it faces them, and a further 90° about its own normal:
    // 1 m wide and 0.25 m high becomes 0.25 m wide and 1 m high.
    const XrQuaternionf left90 {0, kSin45, 0, kSin45};
    const XrPosef eyes[2] = {{left90, {0, 0, 0}}, {left90, {0, 0, 0}}};
    const XrQuaternionf upright {0.5f, 0.5f, 0.5f, 0.5f};  // left90 after 90° about z
    compositor_.AddLayer(session_->handle, Projection(black, black, Rect(0, 0, 4, 4), Rect(0, 0, 4, 4), eyes));
    ASSERT_TRUE(Frame(Quad(white, XR_EYE_VISIBILITY_BOTH, {upright, {-2, 0, 0}}, {1, 0.25f})));

    const Stage stage = TakeFrame();
    const Rgba lit {255, 255, 255, 255};
    const Rgba dark {0, 0, 0, 255};
    for (const uint32_t x0 : {0u, kHalf}) {
        EXPECT_TRUE(Near(stage.At(x0 + 960, 1080), lit));
        EXPECT_TRUE(Near(stage.At(x0 + 960, 1080 - 260), lit)) << "1 m high: 270 pixels up";
        EXPECT_TRUE(Near(stage.At(x0 + 960, 1080 - 280), dark));
        EXPECT_TRUE(Near(stage.At(x0 + 960 + 55, 1080), lit)) << "0.25 m wide: 60 pixels across";
        EXPECT_TRUE(Near(stage.At(x0 + 960 + 65, 1080), dark));
    }
}

TEST_F(CompositorTest, WhileTheDisplaySideHoldsTheStageFramesAreSkippedAndTheirLayersDrawnLater) {
    const Rgba grey {50, 50, 50, 255};
    const Rgba red {200, 10, 10, 255};
    const auto first = AddUniform(gpu::format::kR8G8B8A8Unorm, grey);
    const auto second = AddUniform(gpu::format::kR8G8B8A8Unorm, red);
    const auto onStage = [](const Rgba& c) { return Rgba {StageByte(c.r / 255.0), StageByte(c.g / 255.0), StageByte(c.b / 255.0), 255}; };
    ASSERT_TRUE(Frame(Projection(first, first)));
    const auto stage = device_->OpenSharedTexture(PresentedHandle());
    ASSERT_TRUE(stage);
    ASSERT_EQ(stage->AcquireSync(1, 10000), gpu::kSyncOk);
    const size_t traceLines = Trace().size();

    EXPECT_FALSE(Frame(Projection(second, first)));
    EXPECT_EQ(compositor_.QueuedLayers(), 1u);
    EXPECT_EQ(Trace().size(), traceLines) << "a skipped frame neither polls nor presents";
    ASSERT_TRUE(stage->ReleaseSync(0));
    ASSERT_TRUE(Frame());
    EXPECT_EQ(compositor_.QueuedLayers(), 0u);
    Stage shown = TakeFrame();
    EXPECT_TRUE(Near(shown.At(0, 0), onStage(red), 0));
    EXPECT_TRUE(Near(shown.At(kHalf, 0), onStage(grey), 0));

    // Only the layers of the last few skipped frames are kept: the oldest here would cover
    // the stage, the later ones draw nothing.
    ASSERT_TRUE(Frame());
    ASSERT_EQ(stage->AcquireSync(1, 10000), gpu::kSyncOk);
    EXPECT_FALSE(Frame(Projection(second, second)));
    for (uint64_t i = 0; i < Compositor::kHeldFrames; ++i) {
        EXPECT_FALSE(Frame(Quad(kNeverMade, XR_EYE_VISIBILITY_BOTH, kIdentityPose, {1, 1})));
    }
    EXPECT_EQ(compositor_.QueuedLayers(), Compositor::kHeldFrames);
    ASSERT_TRUE(stage->ReleaseSync(0));
    ASSERT_TRUE(Frame());
    shown = TakeFrame();
    EXPECT_TRUE(Near(shown.At(0, 0), {0, 0, 0, 255}, 0));
    EXPECT_TRUE(Near(shown.At(kStageWidth - 1, kStageHeight - 1), {0, 0, 0, 255}, 0));

    // A held layer shows its swapchains as they are when it is drawn: the image released
    // since it was submitted, and nothing of one destroyed meanwhile.
    ASSERT_TRUE(Frame());
    ASSERT_EQ(stage->AcquireSync(1, 10000), gpu::kSyncOk);
    AddImage(*second, UniformPixels(grey));
    const auto third = AddUniform(gpu::format::kR8G8B8A8Unorm, red);
    EXPECT_FALSE(Frame(Projection(second, third)));
    second->lastReleased = 1;
    Destroy(third);
    ASSERT_TRUE(stage->ReleaseSync(0));
    ASSERT_TRUE(Frame());
    shown = TakeFrame();
    EXPECT_TRUE(Near(shown.At(0, 0), onStage(grey), 0));
    EXPECT_TRUE(Near(shown.At(kHalf, 0), {0, 0, 0, 255}, 0));
}

TEST_F(CompositorTest, AnotherSessionsLayersAreNeverDrawnInThisSessionsFrame) {
    const auto white = AddUniform(gpu::format::kR8G8B8A8Unorm, {255, 255, 255, 255});
    const uint64_t other = state_.handles.New(kSessionHandleBase);
    compositor_.AddLayer(other, Projection(white, white));
    ASSERT_TRUE(Frame());
    EXPECT_TRUE(Near(TakeFrame().At(100, 100), {0, 0, 0, 255})) << "only the clear";
    EXPECT_EQ(compositor_.QueuedLayers(), 1u);
    compositor_.ForgetSession(other);
    EXPECT_EQ(compositor_.QueuedLayers(), 0u);
#if !defined(_WIN32)  // the service log is process-wide; natively each test has its own process
    ServiceLogger().Flush();
    const std::string folder = env_.Path("local/Norvik/OpenXR/Logs");
    std::string compositorLog;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().rfind("compositor_", 0) == 0) compositorLog = ReadFile(entry.path().string());
    }
    EXPECT_NE(compositorLog.find("Stage buffer created: 3840x2160"), std::string::npos) << compositorLog;
#endif
}

TEST_F(CompositorTest, DepthViewsAreSkippedAndAMissingSwapchainEndsItsLayer) {
    const auto colour = AddUniform(gpu::format::kR8G8B8A8Unorm, {255, 255, 255, 255});
    const auto depth =
        AddUniform(gpu::format::kR8G8B8A8Unorm, {255, 255, 255, 255}, XR_SWAPCHAIN_USAGE_DEPTH_STENCIL_ATTACHMENT_BIT);
    const auto destroyed = AddUniform(gpu::format::kR8G8B8A8Unorm, {255, 255, 255, 255});
    Destroy(destroyed);
    const Rgba lit {255, 255, 255, 255};
    const Rgba dark {0, 0, 0, 255};
    const struct {
        const char* what;
        LayerImage left, right;
        Rgba leftShows, rightShows;
    } cases[] = {{"depth, colour", depth, colour, dark, lit},
                 {"destroyed, colour", destroyed, colour, dark, dark},
                 {"colour, destroyed", colour, destroyed, lit, dark},
                 {"never made, colour", kNeverMade, colour, dark, dark}};
    for (const auto& c : cases) {
        ASSERT_TRUE(Frame(Projection(c.left, c.right, Rect(0, 0, 4, 4), Rect(0, 0, 4, 4))));
        const Stage stage = TakeFrame();
        EXPECT_TRUE(Near(stage.At(960, 1080), c.leftShows, 0)) << c.what;
        EXPECT_TRUE(Near(stage.At(kHalf + 960, 1080), c.rightShows, 0)) << c.what;
    }
}

TEST_F(CompositorTest, ReleasingTheStageBufferLetsTheNextSessionDrawWhetherOrNotTheFrameWasTaken) {
    ASSERT_TRUE(Frame());
    EXPECT_FALSE(Frame()) << "the display side has not taken the first frame";
    EXPECT_EQ(compositor_.ReleaseStageBuffer(), gpu::kSyncOk);
    ASSERT_TRUE(Frame());

    TakeFrame();
    EXPECT_EQ(compositor_.ReleaseStageBuffer(), gpu::kSyncTimeout) << "nothing to take back";
    EXPECT_TRUE(Frame());

    // The stage goes with Close; the next use makes a new one.
    const uint64_t closed = PresentedHandle();
    compositor_.Close();
    EXPECT_FALSE(device_->OpenSharedTexture(closed));
    EXPECT_TRUE(Frame());
    EXPECT_NE(PresentedHandle(), closed);
}

TEST_F(CompositorTest, WithoutADeviceNothingIsDrawnAndOnlyTheLastFramesLayersAreKept) {
    compositor_.Close();
    ownedDevice_.reset();
    for (uint64_t i = 0; i < Compositor::kHeldFrames + 2; ++i) {
        EXPECT_FALSE(Frame(Quad(kNeverMade, XR_EYE_VISIBILITY_BOTH, kIdentityPose, {1, 1})));
        EXPECT_EQ(compositor_.QueuedLayers(), std::min(i + 1, Compositor::kHeldFrames));
    }
    EXPECT_EQ(compositor_.ReleaseStageBuffer(), gpu::kSyncFailed);
    EXPECT_TRUE(Trace().empty());
}

// Request threads of two applications submit and end frames, destroy sessions and the display
// side takes frames, all at once; run under ThreadSanitizer for the compositor's lock.
TEST_F(CompositorTest, SubmissionDrawingAndReleaseMayComeFromManyThreads) {
    ASSERT_TRUE(Frame());
    const auto stage = device_->OpenSharedTexture(PresentedHandle());
    ASSERT_TRUE(stage);
    std::atomic<bool> done {false};
    std::thread display([&] {
        while (!done) {
            if (stage->AcquireSync(1, 5) == gpu::kSyncOk) stage->ReleaseSync(0);
        }
    });
    std::atomic<int> drawn {1};
    std::vector<std::thread> applications;
    for (int t = 0; t < 2; ++t) {
        applications.emplace_back([&] {
            for (int frame = 0; frame < 6; ++frame) {
                // Layers whose swapchains are gone: the queue and the lock are what is exercised.
                compositor_.AddLayer(session_->handle, Projection(kNeverMade, kNeverMade));
                compositor_.AddLayer(session_->handle, Quad(kNeverMade, XR_EYE_VISIBILITY_BOTH, kIdentityPose, {1, 1}));
                if (Frame()) ++drawn;
                if (frame == 3) compositor_.ReleaseStageBuffer();
            }
        });
    }
    for (auto& thread : applications) thread.join();
    done = true;
    display.join();
    int presents = 0;
    for (const auto& line : Trace()) presents += line.rfind("default present ", 0) == 0 ? 1 : 0;
    EXPECT_EQ(presents, drawn.load());
    EXPECT_LE(compositor_.QueuedLayers(), 2 * 2 * Compositor::kHeldFrames);
}

}  // namespace
}  // namespace qor::test
