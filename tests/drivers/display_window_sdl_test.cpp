// The POSIX display window end to end: a shared soft stage texture written as the compositor
// does, handed to PresentFrame, and the PNG the window captures of what it presented (stretched
// bilinearly to the window, as the Windows window draws it).
#include "drivers/basic/display_device.h"
#include "gpu/device.h"
#include "tests/drivers/window_keys.h"
#include "tests/support/test_env.h"

#include <SDL.h>
#include <gtest/gtest.h>
#include <png.h>

#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

// SDL is not built for ThreadSanitizer: it hands its own objects between the window's thread
// and the gamepad's caller through code the sanitizer cannot see into.
extern "C" const char* __tsan_default_suppressions() { return "race:libSDL2-2.0.so.0\n"; }

namespace qor {

namespace test {

namespace {
void PushKey(basic::DisplayWindow& window, Uint32 type, basic::ArrowKey key) {
    SDL_Event event {};
    event.type = type;
    event.key.windowID = static_cast<Uint32>(window.NativeWindow());
    event.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    switch (key) {
        case basic::ArrowKey::Left:
            event.key.keysym.sym = SDLK_LEFT;
            break;
        case basic::ArrowKey::Right:
            event.key.keysym.sym = SDLK_RIGHT;
            break;
        case basic::ArrowKey::Up:
            event.key.keysym.sym = SDLK_UP;
            break;
        case basic::ArrowKey::Down:
            event.key.keysym.sym = SDLK_DOWN;
            break;
    }
    event.key.keysym.scancode = SDL_GetScancodeFromKey(event.key.keysym.sym);
    ASSERT_EQ(SDL_PushEvent(&event), 1) << SDL_GetError();
}
}  // namespace

void PressArrowKey(basic::DisplayWindow& window, basic::ArrowKey key) { PushKey(window, SDL_KEYDOWN, key); }
void ReleaseArrowKey(basic::DisplayWindow& window, basic::ArrowKey key) { PushKey(window, SDL_KEYUP, key); }

void TypeCharacter(basic::DisplayWindow& window, char character) {
    SDL_Event event {};
    event.type = SDL_TEXTINPUT;
    event.text.windowID = static_cast<Uint32>(window.NativeWindow());
    event.text.text[0] = character;
    ASSERT_EQ(SDL_PushEvent(&event), 1) << SDL_GetError();
}

}  // namespace test

namespace {

constexpr uint32_t kStageWidth = 3840;
constexpr uint32_t kStageHeight = 2160;
constexpr uint32_t kWindowWidth = 320;
constexpr uint32_t kWindowHeight = 180;

using Rgb = std::array<uint8_t, 3>;

constexpr Rgb kRed {255, 0, 0};
constexpr Rgb kGreen {0, 255, 0};
constexpr Rgb kBlue {0, 0, 255};
constexpr Rgb kMagenta {255, 0, 255};

struct Image {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgb;

    Rgb At(uint32_t x, uint32_t y) const {
        const size_t i = (static_cast<size_t>(y) * width + x) * 3;
        return Rgb {rgb[i], rgb[i + 1], rgb[i + 2]};
    }
};

bool ReadPng(const std::string& path, Image* image) {
    png_image png {};
    png.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&png, path.c_str()) == 0) return false;
    png.format = PNG_FORMAT_RGB;
    image->width = png.width;
    image->height = png.height;
    image->rgb.resize(PNG_IMAGE_SIZE(png));
    return png_image_finish_read(&png, nullptr, image->rgb.data(), 0, nullptr) != 0;
}

// A stage texture as the compositor makes it: shared, with a keyed mutex.
std::unique_ptr<gpu::Texture> MakeStage(gpu::Device& device, uint32_t format = gpu::format::kR8G8B8A8UnormSrgb) {
    gpu::TextureDesc desc;
    desc.width = kStageWidth;
    desc.height = kStageHeight;
    desc.format = format;
    desc.bindFlags = gpu::kBindRenderTarget | gpu::kBindShaderResource;
    desc.miscFlags = gpu::kMiscSharedKeyedMutex;
    return device.CreateTexture(desc);
}

// Every row the same: column x takes colourOf(x).
template <typename ColourOf>
std::vector<uint8_t> Columns(const ColourOf& colourOf) {
    std::vector<uint8_t> pixels(static_cast<size_t>(kStageWidth) * kStageHeight * 4);
    std::vector<uint8_t> row(static_cast<size_t>(kStageWidth) * 4);
    for (uint32_t x = 0; x < kStageWidth; ++x) {
        const Rgb c = colourOf(x);
        std::memcpy(&row[x * 4], c.data(), 3);
        row[x * 4 + 3] = 255;
    }
    for (uint32_t y = 0; y < kStageHeight; ++y) std::memcpy(&pixels[y * row.size()], row.data(), row.size());
    return pixels;
}

// Columns [0, split0) take colours[0], [split0, split1) colours[1], the rest colours[2].
std::vector<uint8_t> Bands(uint32_t split0, uint32_t split1, const std::array<Rgb, 3>& colours) {
    return Columns([&](uint32_t x) { return x < split0 ? colours[0] : x < split1 ? colours[1] : colours[2]; });
}

std::vector<uint8_t> Halves(const Rgb& left, const Rgb& right) {
    return Bands(kStageWidth / 2, kStageWidth / 2, {left, right, right});
}

// Draws as the compositor does: holding key 0, released with key 1 for the display side.
void Compose(gpu::Texture& stage, const std::vector<uint8_t>& pixels) {
    ASSERT_EQ(stage.AcquireSync(0, 5000), gpu::kSyncOk);
    ASSERT_TRUE(stage.WritePixels(0, pixels.data(), pixels.size()));
    ASSERT_TRUE(stage.ReleaseSync(1));
}

class CapturingDisplayWindow : public testing::Test {
protected:
    void SetUp() override {
        captureDir_ = env_.Path("capture");
        std::filesystem::create_directories(captureDir_);
        env_.Set("NORVIK_CAPTURE_DIR", captureDir_);
        compositor_ = gpu::CreateDevice(gpu::Api::D3D11, 0, nullptr);
        ASSERT_NE(compositor_, nullptr);
    }

    void Open(uint32_t displayMode, bool showFps = false) {
        basic::BasicDriverSettings settings;
        settings.windowWidth = kWindowWidth;
        settings.windowHeight = kWindowHeight;
        settings.displayMode = displayMode;
        settings.showFps = showFps;
        device_ = CSampleDeviceDriver::CreateWithWindow(settings);
        ASSERT_NE(device_->Window(), nullptr);
        ASSERT_NE(device_->Window()->NativeWindow(), 0u);
    }

    std::string CapturePath(int number) const {
        char name[64];
        std::snprintf(name, sizeof name, "OpenXR Display Window_%06d.png", number);
        return captureDir_ + "/" + name;
    }

    size_t CaptureCount() const {
        size_t count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(captureDir_)) {
            if (entry.path().extension() == ".png") ++count;
        }
        return count;
    }

    // Waits for the capture of the window's frame `number` (written after the frame is
    // presented, under its final name only once complete) and reads it.
    Image Captured(int number) {
        Image image;
        EXPECT_TRUE(test::WaitUntil([&] { return std::filesystem::exists(CapturePath(number)); })) << CapturePath(number);
        EXPECT_TRUE(ReadPng(CapturePath(number), &image)) << CapturePath(number);
        EXPECT_EQ(image.width, kWindowWidth);
        EXPECT_EQ(image.height, kWindowHeight);
        return image;
    }

    // Every pixel of columns [x0, x1) has the colour.
    static void ExpectColumns(const Image& image, uint32_t x0, uint32_t x1, const Rgb& colour) {
        for (uint32_t y = 0; y < image.height; ++y) {
            for (uint32_t x = x0; x < x1; ++x) {
                ASSERT_EQ(image.At(x, y), colour) << "at " << x << ", " << y;
            }
        }
    }

    test::TempEnvironment env_;
    std::string captureDir_;
    std::unique_ptr<gpu::Device> compositor_;
    std::unique_ptr<CSampleDeviceDriver> device_;
};

TEST_F(CapturingDisplayWindow, WholeFrameIsScaledToTheWindowAndTheMutexComesBackWithKeyZero) {
    Open(0);
    auto stage = MakeStage(*compositor_);
    ASSERT_NE(stage, nullptr);
    Compose(*stage, Halves(kRed, kBlue));

    device_->PresentFrame(stage->SharedHandle());
    // Released with key 0, the key the compositor takes next; key 1 is no longer free.
    EXPECT_EQ(stage->AcquireSync(1, 0), gpu::kSyncTimeout);
    EXPECT_EQ(stage->AcquireSync(0, 0), gpu::kSyncOk);
    ASSERT_TRUE(stage->ReleaseSync(0));

    const Image image = Captured(1);
    ExpectColumns(image, 0, kWindowWidth / 2, kRed);
    ExpectColumns(image, kWindowWidth / 2, kWindowWidth, kBlue);
}

TEST_F(CapturingDisplayWindow, DisplayModeOneStretchesTheLeftEyeOverTheWindow) {
    Open(1);
    auto stage = MakeStage(*compositor_);
    ASSERT_NE(stage, nullptr);
    // Left eye: green then magenta; right eye: blue.
    Compose(*stage, Bands(kStageWidth / 4, kStageWidth / 2, {kGreen, kMagenta, kBlue}));
    device_->PresentFrame(stage->SharedHandle());

    const Image image = Captured(1);
    ExpectColumns(image, 0, kWindowWidth / 2, kGreen);
    ExpectColumns(image, kWindowWidth / 2, kWindowWidth, kMagenta);
}

// Bilinear, as the Windows window draws: at a third of the stage's width (a sixth of it for
// the left eye) each window pixel's centre falls halfway between two texels, so one-texel
// stripes come out an even grey, in both display modes.
TEST_F(CapturingDisplayWindow, NeighbouringTexelsAreBlendedInEitherDisplayMode) {
    for (const uint32_t mode : {0u, 1u}) {
        SCOPED_TRACE(mode);
        Open(mode);
        auto stage = MakeStage(*compositor_, gpu::format::kR8G8B8A8Unorm);
        ASSERT_NE(stage, nullptr);
        Compose(*stage, Columns([](uint32_t x) { return x % 2 == 0 ? Rgb {0, 0, 0} : Rgb {254, 254, 254}; }));
        device_->PresentFrame(stage->SharedHandle());
        ExpectColumns(Captured(1), 0, kWindowWidth, Rgb {127, 127, 127});
        device_.reset();
        for (const auto& entry : std::filesystem::directory_iterator(captureDir_)) std::filesystem::remove(entry.path());
    }
}

// The driver hides the window when a session ends: the window lets go of the stage, so the
// compositor's next stage (here under a new handle) is opened afresh and nothing keeps the old one.
TEST_F(CapturingDisplayWindow, HidingLetsGoOfTheStageUntilTheNextFrame) {
    Open(0);
    auto stage = MakeStage(*compositor_);
    ASSERT_NE(stage, nullptr);
    Compose(*stage, Halves(kRed, kRed));
    device_->PresentFrame(stage->SharedHandle());
    ExpectColumns(Captured(1), 0, kWindowWidth, kRed);

    const uint64_t handle = stage->SharedHandle();
    device_->SetDisplayState(1);
    device_->SetDisplayState(0);
    stage.reset();
    EXPECT_EQ(compositor_->OpenSharedTexture(handle), nullptr);

    auto next = MakeStage(*compositor_, gpu::format::kR8G8B8A8Unorm);
    ASSERT_NE(next, nullptr);
    Compose(*next, Halves(kGreen, kBlue));
    device_->PresentFrame(next->SharedHandle());
    const Image image = Captured(2);
    ExpectColumns(image, 0, kWindowWidth / 2, kGreen);
    ExpectColumns(image, kWindowWidth / 2, kWindowWidth, kBlue);
}

TEST_F(CapturingDisplayWindow, SrgbStageShowsSampledValuesAndEachNewHandleIsOpened) {
    Open(0);
    auto srgb = MakeStage(*compositor_);
    auto unorm = MakeStage(*compositor_, gpu::format::kR8G8B8A8Unorm);
    ASSERT_NE(srgb, nullptr);
    ASSERT_NE(unorm, nullptr);
    const Rgb grey {188, 188, 188};
    Compose(*srgb, Halves(grey, grey));
    Compose(*unorm, Halves(grey, kGreen));

    // Sampling an sRGB view gives linear values: 188 encoded is 0.503, stored as 128.
    device_->PresentFrame(srgb->SharedHandle());
    ExpectColumns(Captured(1), 0, kWindowWidth, Rgb {128, 128, 128});
    device_->PresentFrame(unorm->SharedHandle());
    const Image second = Captured(2);
    ExpectColumns(second, 0, kWindowWidth / 2, grey);
    ExpectColumns(second, kWindowWidth / 2, kWindowWidth, kGreen);

    // Back to the first texture: opened again, not the one seen last.
    ASSERT_EQ(srgb->AcquireSync(0, 5000), gpu::kSyncOk);
    ASSERT_TRUE(srgb->ReleaseSync(1));
    device_->PresentFrame(srgb->SharedHandle());
    ExpectColumns(Captured(3), 0, kWindowWidth, Rgb {128, 128, 128});
}

TEST_F(CapturingDisplayWindow, FrameWhoseMutexIsHeldElsewhereIsSkippedAfterTheTimeOut) {
    Open(0);
    auto stage = MakeStage(*compositor_);
    ASSERT_NE(stage, nullptr);
    Compose(*stage, Halves(kRed, kRed));
    device_->PresentFrame(stage->SharedHandle());
    ExpectColumns(Captured(1), 0, kWindowWidth, kRed);

    // Key 1 released and taken again by someone else: the window cannot have it.
    Compose(*stage, Halves(kGreen, kGreen));
    ASSERT_EQ(stage->AcquireSync(1, 0), gpu::kSyncOk);
    const auto start = std::chrono::steady_clock::now();
    device_->PresentFrame(stage->SharedHandle());
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(90));
    EXPECT_LT(waited, std::chrono::seconds(5));
    // The holder draws again and hands key 1 on.
    const auto blue = Halves(kBlue, kBlue);
    ASSERT_TRUE(stage->WritePixels(0, blue.data(), blue.size()));
    ASSERT_TRUE(stage->ReleaseSync(1));
    device_->PresentFrame(stage->SharedHandle());
    // The skipped frame made no capture: the next one is number 2, with the later contents.
    ExpectColumns(Captured(2), 0, kWindowWidth, kBlue);
    device_->Window()->IsVisible();  // a round trip through the window's thread
    EXPECT_EQ(device_->Window()->PresentedFrames(), 2u);
    EXPECT_EQ(CaptureCount(), 2u);
}

TEST_F(CapturingDisplayWindow, FrameRateTextIsDrawnAtTheTopLeftWhenAsked) {
    Open(0, true);
    auto stage = MakeStage(*compositor_);
    ASSERT_NE(stage, nullptr);
    Compose(*stage, Halves(kBlue, kBlue));
    device_->PresentFrame(stage->SharedHandle());

    const Image image = Captured(1);
    size_t marked = 0;
    for (uint32_t y = 0; y < 40; ++y) {
        for (uint32_t x = 0; x < 40; ++x) marked += image.At(x, y) != kBlue ? 1 : 0;
    }
    EXPECT_GT(marked, 20u);
    // The rest of the window is the frame.
    ExpectColumns(image, 60, kWindowWidth, kBlue);
    for (uint32_t y = 40; y < kWindowHeight; ++y) ASSERT_EQ(image.At(0, y), kBlue) << y;
}

TEST_F(CapturingDisplayWindow, ClosingTheWindowOnlyHidesItAndFramesGoOn) {
    Open(0);
    device_->SetDisplayState(1);
    ASSERT_TRUE(test::WaitUntil([&] { return device_->Window()->IsVisible(); }));

    SDL_Event close {};
    close.type = SDL_WINDOWEVENT;
    close.window.event = SDL_WINDOWEVENT_CLOSE;
    close.window.windowID = static_cast<Uint32>(device_->Window()->NativeWindow());
    ASSERT_EQ(SDL_PushEvent(&close), 1);
    SDL_Event quit {};
    quit.type = SDL_QUIT;
    ASSERT_EQ(SDL_PushEvent(&quit), 1);
    EXPECT_TRUE(test::WaitUntil([&] { return !device_->Window()->IsVisible(); }));

    auto stage = MakeStage(*compositor_);
    ASSERT_NE(stage, nullptr);
    Compose(*stage, Halves(kGreen, kRed));
    device_->PresentFrame(stage->SharedHandle());
    const Image image = Captured(1);
    ExpectColumns(image, 0, kWindowWidth / 2, kGreen);
    device_->SetDisplayState(1);
    EXPECT_TRUE(test::WaitUntil([&] { return device_->Window()->IsVisible(); }));
}

}  // namespace
}  // namespace qor
