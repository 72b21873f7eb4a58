#include "weaver/frame_captures.h"

#include "lenssdk/lens_preview.h"
#include "platform/system.h"
#include "weaver/panel_window.h"

#include <algorithm>
#include <cstdio>

namespace qor::plexa {

namespace {

constexpr const char* kInputTitle = "Plexaview_input";
constexpr const char* kLeftTitle = "Plexaview_left";
constexpr const char* kRightTitle = "Plexaview_right";

// Whether a sparse sample of the frame's pixels holds any colour: the first frames of a session
// are often still black, and a preview of those shows nothing.
bool ShowsSomething(const uint8_t* pixels, std::size_t bytes) {
    constexpr std::size_t kSampleStride = 4 * 97;
    for (std::size_t i = 0; i + 3 <= bytes; i += kSampleStride) {
        if ((pixels[i] | pixels[i + 1] | pixels[i + 2]) != 0) return true;
    }
    return false;
}

// The part of `whole` pixels centred in it, at most `most`, that leaves an even margin on
// each side (so its centre is the whole's).
uint32_t CentredSpan(uint32_t whole, uint32_t most) {
    if (whole <= most) return whole;
    return (whole - most) % 2 == 0 ? most : most - 1;
}

}  // namespace

std::unique_ptr<FrameCaptures> FrameCaptures::FromEnvironment() {
    const std::optional<std::string> folder = platform::GetEnv("NORVIK_CAPTURE_DIR");
    if (!folder || folder->empty()) return nullptr;
    return std::make_unique<FrameCaptures>(*folder);
}

FrameCaptures::FrameCaptures(std::string folder) : folder_(std::move(folder)) {
    previewThread_ = std::thread([this] { RunPreviews(); });
}

FrameCaptures::~FrameCaptures() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    previewThread_.join();
}

uint64_t FrameCaptures::PreviewsWritten() const {
    std::lock_guard lock(mutex_);
    return previews_;
}

void FrameCaptures::OnPresented(uint64_t number, gpu::Texture& input, gpu::Texture& woven,
                                const lens::WeaveSettings& settings, const lens::EyePair& eyes) {
    if (CaptureDue(number)) SubmitInput(number, input);
    const bool due = firstPreview_ == 0 || number - firstPreview_ >= kPreviewEveryFrames * (previewsAsked_);
    if (!due) return;
    const gpu::TextureDesc& desc = woven.Desc();
    const uint8_t* pixels = woven.CpuPixels(0);
    if (pixels == nullptr) return;
    if (firstPreview_ == 0 && !ShowsSomething(pixels, std::size_t(desc.width) * desc.height * 4)) return;
    {
        std::lock_guard lock(mutex_);
        if (job_) return;  // the last preview is still being traced
        PreviewJob job;
        job.number = number;
        job.width = CentredSpan(desc.width, kPreviewWidth);
        job.height = CentredSpan(desc.height, kPreviewHeight);
        const uint32_t left = (desc.width - job.width) / 2, top = (desc.height - job.height) / 2;
        job.woven.resize(std::size_t(job.width) * job.height * 4);
        for (uint32_t row = 0; row < job.height; ++row) {
            const uint8_t* from = pixels + (std::size_t(top + row) * desc.width + left) * 4;
            std::copy_n(from, std::size_t(job.width) * 4, job.woven.data() + std::size_t(row) * job.width * 4);
        }
        job.settings = settings;
        job.eyes = eyes;
        job_ = std::move(job);
    }
    if (firstPreview_ == 0) firstPreview_ = number;
    ++previewsAsked_;
    wake_.notify_all();
}

void FrameCaptures::SubmitInput(uint64_t number, gpu::Texture& input) {
    const gpu::TextureDesc& desc = input.Desc();
    const uint8_t* pixels = input.CpuPixels(0);
    if (pixels == nullptr) return;
    if (!inputs_) inputs_ = std::make_unique<capture::CaptureWriter>(desc.width, desc.height);
    if (!inputs_->HasRoom()) return;
    inputFrame_.assign(pixels, pixels + std::size_t(desc.width) * desc.height * 4);
    inputs_->Submit(capture::CaptureFilePath(folder_, kInputTitle, number), &inputFrame_);
}

void FrameCaptures::RunPreviews() {
    capture::YieldToFrameWork();
    for (;;) {
        PreviewJob job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || job_.has_value(); });
            // A preview already asked for is finished before the window goes.
            if (!job_) return;
            job = std::move(*job_);
        }
        // Blue-first bytes: the panel's subpixels lie in reverse order within each pixel.
        lens::WeaveSettings settings = job.settings;
        settings.bgr = !settings.bgr;
        const lens::ImageView woven {job.woven.data(), int(job.width), int(job.height), std::size_t(job.width) * 4};
        for (const auto& [title, eye] : {std::pair {kLeftTitle, job.eyes.left}, std::pair {kRightTitle, job.eyes.right}}) {
            const std::vector<uint8_t> seen = lens::SeenByEye(settings, woven, eye);
            const std::string path = capture::CaptureFilePath(folder_, title, job.number);
            if (seen.empty() || !capture::WriteCapturePng(path, seen.data(), job.width, job.height)) {
                std::fprintf(stderr, "Plexa: cannot write %s\n", path.c_str());
            }
        }
        std::lock_guard lock(mutex_);
        ++previews_;
        job_.reset();
    }
}

}  // namespace qor::plexa
