// The basic driver's display window for one 3840 x 2160 stage frame: how long PresentFrame
// keeps the compositor's stage (the request side, keyed mutex held) and how long a frame takes
// until the window has presented it, set beside a memcpy of the stage's bytes in the same run.
// With --capture every presented frame is also written as a PNG into a temporary folder, and
// the count written is printed once the window is gone. The process's resident memory is shown
// before and after the window is hidden.
//
//   display_window [--frames N] [--capture] [--mode 0|1]
#include "drivers/basic/display_window.h"
#include "gpu/device.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kStageWidth = 3840;
constexpr uint32_t kStageHeight = 2160;
constexpr auto kPresentDeadline = std::chrono::seconds(10);

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

double Ms(Clock::duration duration) { return std::chrono::duration<double, std::milli>(duration).count(); }

// This process's resident memory in MB, from /proc/self/status.
double ResidentMb() {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return 0.0;
    char line[256];
    long kilobytes = 0;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::sscanf(line, "VmRSS: %ld kB", &kilobytes) == 1) break;
    }
    std::fclose(status);
    return kilobytes / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
    uint32_t frames = 60;
    bool capture = false;
    uint32_t mode = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
            frames = static_cast<uint32_t>(std::max(1L, std::strtol(argv[++i], nullptr, 10)));
        } else if (std::strcmp(argv[i], "--capture") == 0) {
            capture = true;
        } else if (std::strcmp(argv[i], "--mode") == 0 && i + 1 < argc) {
            mode = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else {
            std::fprintf(stderr, "usage: display_window [--frames N] [--capture] [--mode 0|1]\n");
            return 2;
        }
    }

    std::string folder;
    if (capture) {
        char pattern[] = "/tmp/norvik-bench-window.XXXXXX";
        if (::mkdtemp(pattern) == nullptr) return 1;
        folder = pattern;
        ::setenv("NORVIK_CAPTURE_DIR", folder.c_str(), 1);
    } else {
        ::unsetenv("NORVIK_CAPTURE_DIR");
    }

    std::string error;
    const auto compositor = qor::gpu::CreateDevice(qor::gpu::Api::D3D11, 0, &error);
    if (!compositor) {
        std::fprintf(stderr, "display_window: no device: %s\n", error.c_str());
        return 1;
    }
    qor::gpu::TextureDesc desc;
    desc.width = kStageWidth;
    desc.height = kStageHeight;
    desc.format = qor::gpu::format::kR8G8B8A8UnormSrgb;
    desc.bindFlags = qor::gpu::kBindRenderTarget | qor::gpu::kBindShaderResource;
    desc.miscFlags = qor::gpu::kMiscSharedKeyedMutex;
    const auto stage = compositor->CreateTexture(desc);
    std::vector<uint8_t> pixels(size_t(kStageWidth) * kStageHeight * 4);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>((i / 4096) * 13 + (i % 4) * 60);
    if (!stage || stage->AcquireSync(0, 5000) != qor::gpu::kSyncOk || !stage->WritePixels(0, pixels.data(), pixels.size()) ||
        !stage->ReleaseSync(0)) {
        std::fprintf(stderr, "display_window: cannot make the stage\n");
        return 1;
    }

    qor::basic::BasicDriverSettings settings;
    settings.displayMode = mode;
    settings.showFps = false;
    auto window = qor::basic::CreateDisplayWindow(settings, {});
    if (window->NativeWindow() == 0) {
        std::fprintf(stderr, "display_window: no window\n");
        return 1;
    }

    // One frame after another, as the compositor hands them over: the stage's mutex held
    // by PresentFrame, then the time until the window thread has presented the frame.
    std::vector<double> presentMs;
    std::vector<double> shownMs;
    const auto runStart = Clock::now();
    for (uint32_t i = 0; i < frames + 2; ++i) {
        if (stage->AcquireSync(0, 5000) != qor::gpu::kSyncOk || !stage->ReleaseSync(1)) return 1;
        const uint64_t before = window->PresentedFrames();
        const auto start = Clock::now();
        window->PresentFrame(stage->SharedHandle());
        const auto returned = Clock::now();
        while (window->PresentedFrames() == before) {
            if (Clock::now() - start > kPresentDeadline) {
                std::fprintf(stderr, "display_window: frame %u was not presented\n", i);
                return 1;
            }
            std::this_thread::yield();
        }
        const auto shown = Clock::now();
        if (i >= 2) {
            presentMs.push_back(Ms(returned - start));
            shownMs.push_back(Ms(shown - start));
        }
    }
    const double runSeconds = Ms(Clock::now() - runStart) / 1000.0;
    // Hidden, as when a session ends: the window's share of the resident memory goes.
    const double shownMb = ResidentMb();
    window->SetDisplayState(0);
    const double hiddenMb = ResidentMb();
    window.reset();  // writes what is still queued

    const size_t bytes = pixels.size();
    std::vector<uint8_t> target(bytes, 0);
    std::vector<double> copyMs;
    for (uint32_t i = 0; i < frames + 2; ++i) {
        pixels[i % bytes] = static_cast<uint8_t>(i);
        const auto start = Clock::now();
        std::memcpy(target.data(), pixels.data(), bytes);
        const auto end = Clock::now();
        if (target[i % bytes] != pixels[i % bytes]) return 1;  // keeps the copy
        if (i >= 2) copyMs.push_back(Ms(end - start));
    }

    const double copy = Median(copyMs);
    std::printf("display window %ux%u, stage %ux%u, mode %u, %u frames%s\n", settings.windowWidth, settings.windowHeight,
                kStageWidth, kStageHeight, mode, frames, capture ? ", PNG captures" : "");
    std::printf("PresentFrame call (stage held):  median %.2f ms (%.1f x memcpy)\n", Median(presentMs),
                Median(presentMs) / copy);
    std::printf("until presented:                 median %.2f ms (%.1f x memcpy)\n", Median(shownMs),
                Median(shownMs) / copy);
    std::printf("memcpy of the stage's %.1f MB:   median %.2f ms\n", bytes / 1e6, copy);
    std::printf("frames one after another: %.1f frames/s\n", (frames + 2) / runSeconds);
    std::printf("resident memory (stage included): %.0f MB after the frames, %.0f MB once hidden\n", shownMb, hiddenMb);
    if (capture) {
        size_t written = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            if (entry.path().extension() == ".png") ++written;
        }
        std::printf("PNG files written: %zu of %u frames\n", written, frames + 2);
        std::filesystem::remove_all(folder);
    }
    return 0;
}
