// The weaving window's captures beside what it presents (NORVIK_CAPTURE_DIR): each frame's
// side-by-side input, and now and then what each eye sees of the woven frame through the lens
// model, so that a developer without a panel can check the 3D.
#pragma once

#include "display/capture/png_capture.h"
#include "gpu/device.h"
#include "lenssdk/weaver_math.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qor::plexa {

// The first presented frame that is not black and every this many after it get per-eye
// previews: tracing the lens model costs a second or more per frame, so it runs on a thread of
// its own and a due preview waits while the last one is still traced.
constexpr uint64_t kPreviewEveryFrames = 150;
// Previews show the panel's centre at its own pixels, at most this large: an exactly centred
// part of the frame has the same subpixel positions as in the whole, at a ninth of the work.
constexpr uint32_t kPreviewWidth = 1280;
constexpr uint32_t kPreviewHeight = 720;

class FrameCaptures {
public:
    // Null when NORVIK_CAPTURE_DIR is not set.
    static std::unique_ptr<FrameCaptures> FromEnvironment();
    explicit FrameCaptures(std::string folder);
    ~FrameCaptures();
    FrameCaptures(const FrameCaptures&) = delete;
    FrameCaptures& operator=(const FrameCaptures&) = delete;

    // After presented frame `number`: "Plexaview_input_<number>.png" from `input` (the weaver's
    // side-by-side input, B8G8R8A8), and on preview frames "Plexaview_left_<number>.png" and
    // "Plexaview_right_<number>.png": what each eye at `eyes` sees of the centre of `woven`
    // (B8G8R8A8, the whole panel).
    void OnPresented(uint64_t number, gpu::Texture& input, gpu::Texture& woven, const lens::WeaveSettings& settings,
                     const lens::EyePair& eyes);

    // Previews written so far (for the tests and the end-of-run summary).
    uint64_t PreviewsWritten() const;

private:
    struct PreviewJob {
        uint64_t number = 0;
        std::vector<uint8_t> woven;
        uint32_t width = 0;
        uint32_t height = 0;
        lens::WeaveSettings settings;
        lens::EyePair eyes;
    };
    void SubmitInput(uint64_t number, gpu::Texture& input);
    void RunPreviews();

    std::string folder_;
    std::unique_ptr<capture::CaptureWriter> inputs_;
    std::vector<uint8_t> inputFrame_;
    uint64_t firstPreview_ = 0;  // 0 until the first preview is asked for
    uint64_t previewsAsked_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<PreviewJob> job_;
    bool stopping_ = false;
    uint64_t previews_ = 0;
    std::thread previewThread_;
};

}  // namespace qor::plexa
