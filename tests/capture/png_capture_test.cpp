// The display window's capture writer: a writer that is held up costs frames, never a wait,
// and what was queued is written as decodable PNG files before the writer stops.
#include "display/capture/png_capture.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>
#include <png.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace qor::capture {
namespace {

// A write function that stops at its first frame until let go (or, should the test be wrong,
// until a deadline, which the test then sees).
class HeldWrites {
public:
    CaptureWriter::WriteFunction Function() {
        return [this](const std::string& path, const uint8_t*, uint32_t, uint32_t) {
            std::unique_lock lock(mutex_);
            paths_.push_back(path);
            if (!letGo_ && !signal_.wait_for(lock, std::chrono::seconds(20), [this] { return letGo_; })) timedOut_ = true;
            return true;
        };
    }
    void LetGo() {
        std::lock_guard lock(mutex_);
        letGo_ = true;
        signal_.notify_all();
    }
    std::vector<std::string> Paths() {
        std::lock_guard lock(mutex_);
        return paths_;
    }
    bool TimedOut() {
        std::lock_guard lock(mutex_);
        return timedOut_;
    }

private:
    std::mutex mutex_;
    std::condition_variable signal_;
    bool letGo_ = false;
    bool timedOut_ = false;
    std::vector<std::string> paths_;
};

TEST(CaptureWriter, AWriterHeldUpSkipsAndCountsFramesInsteadOfWaiting) {
    constexpr uint32_t kWidth = 4, kHeight = 2;
    const std::vector<uint8_t> frame(kWidth * kHeight * 4, 9);
    HeldWrites held;
    std::vector<std::string> accepted;
    {
        CaptureWriter writer(kWidth, kHeight, held.Function());
        auto submit = [&](int number) {
            std::vector<uint8_t> buffer = frame;
            const std::string path = "frame" + std::to_string(number);
            const bool queued = writer.Submit(path, &buffer);
            if (queued) {
                accepted.push_back(path);
            } else {
                EXPECT_EQ(buffer, frame);  // a skipped frame's buffer stays with the caller
            }
            return queued;
        };
        ASSERT_TRUE(submit(0));
        ASSERT_TRUE(test::WaitUntil([&] { return held.Paths().size() == 1; }));
        // The first frame is in hand; the queue takes its fill, and nothing more.
        for (size_t i = 1; i <= CaptureWriter::kQueueFrames; ++i) EXPECT_TRUE(submit(static_cast<int>(i)));
        EXPECT_FALSE(submit(100));
        EXPECT_FALSE(submit(101));
        std::vector<uint8_t> wrongSize(3);
        EXPECT_FALSE(writer.Submit("wrong", &wrongSize));
        EXPECT_EQ(writer.Skipped(), 3u);
        EXPECT_FALSE(held.TimedOut());  // the submissions did not wait for the writer
        held.LetGo();
    }
    // Stopping wrote every frame queued, in order.
    EXPECT_EQ(held.Paths(), accepted);
    EXPECT_FALSE(held.TimedOut());
}

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
};

TEST(CaptureWriter, QueuedFramesAreWrittenAsRgbPngsBeforeTheWriterStops) {
    test::TempEnvironment env;
    const std::string folder = env.Path("capture");
    std::filesystem::create_directories(folder);
    constexpr uint32_t kWidth = 3, kHeight = 2;
    // Blue, green, red, unused per pixel: pixel k is (red 10k, green 100 + k, blue 200 + k).
    std::vector<uint8_t> frame;
    for (uint8_t k = 0; k < kWidth * kHeight; ++k) frame.insert(frame.end(), {uint8_t(200 + k), uint8_t(100 + k), uint8_t(10 * k), 0});
    const std::string paths[] = {CaptureFilePath(folder, "Window", 1), CaptureFilePath(folder, "Window", 2),
                                 CaptureFilePath(folder + "/missing", "Window", 3)};
    {
        CaptureWriter writer(kWidth, kHeight);
        for (const std::string& path : paths) {
            std::vector<uint8_t> buffer = frame;
            ASSERT_TRUE(writer.Submit(path, &buffer));
            // The queue never fills here: wait for each frame so that none is skipped.
            ASSERT_TRUE(test::WaitUntil([&] { return path == paths[2] || std::filesystem::exists(path); }));
        }
    }
    EXPECT_EQ(paths[0], folder + "/Window_000001.png");
    for (const std::string& path : {paths[0], paths[1]}) {
        png_image png {};
        png.version = PNG_IMAGE_VERSION;
        ASSERT_NE(png_image_begin_read_from_file(&png, path.c_str()), 0) << path;
        EXPECT_EQ(png.width, kWidth);
        EXPECT_EQ(png.height, kHeight);
        png.format = PNG_FORMAT_RGB;
        std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(png));
        ASSERT_NE(png_image_finish_read(&png, nullptr, rgb.data(), 0, nullptr), 0) << path;
        for (uint32_t k = 0; k < kWidth * kHeight; ++k) {
            EXPECT_EQ((Rgb {rgb[3 * k], rgb[3 * k + 1], rgb[3 * k + 2]}), (Rgb {uint8_t(10 * k), uint8_t(100 + k), uint8_t(200 + k)}))
                << path << " pixel " << k;
        }
    }
    // Nothing half-written is left behind, and a folder that is not there takes no file.
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 2u);
}

}  // namespace
}  // namespace qor::capture
