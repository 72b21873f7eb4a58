// The capture files of the POSIX windows on screen: with NORVIK_CAPTURE_DIR set, every frame the
// window presents is also written there as a PNG, by a writer thread of the window's own so
// that encoding never holds up a present.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qor::capture {

// Captures are a by-product: their threads run on time the frame work leaves, in the idle
// scheduling class or, where that is refused, at this nice value.
constexpr int kBackgroundNice = 19;
// Puts the calling thread in the idle class (else at kBackgroundNice).
void YieldToFrameWork();

// "<folder>/<title>_<number, six digits at least>.png".
std::string CaptureFilePath(const std::string& folder, const std::string& title, uint64_t number);

// Writes `bgra` (rows of width × 4 bytes: blue, green, red, unused) as an 8-bit RGB PNG at
// `path`. The file is written under a temporary name and renamed into place, so a reader never
// sees part of one. Fastest deflate and no row filters. False on any failure.
bool WriteCapturePng(const std::string& path, const uint8_t* bgra, uint32_t width, uint32_t height);

// Writes frames on its own thread from a queue of a few frames. A frame that finds the queue
// full is skipped and counted rather than waited for. Frame buffers are swapped in and out, not
// copied: the writer keeps the buffers it has written for later submissions.
class CaptureWriter {
public:
    using WriteFunction = std::function<bool(const std::string& path, const uint8_t* bgra, uint32_t width, uint32_t height)>;

    // Enough to ride out an encode that runs long now and then; a writer slower than the frame
    // rate for good loses frames instead of holding this many window-sized buffers or more.
    static constexpr size_t kQueueFrames = 3;

    CaptureWriter(uint32_t width, uint32_t height, WriteFunction write = WriteCapturePng);
    // Writes what is queued (at most kQueueFrames frames), then stops.
    ~CaptureWriter();
    CaptureWriter(const CaptureWriter&) = delete;
    CaptureWriter& operator=(const CaptureWriter&) = delete;

    // Queues `*frame` (width × height × 4 bytes) to be written at `path`, giving back in its
    // place a buffer of unspecified contents (possibly empty). False, with `*frame` untouched,
    // when the frame is skipped: the queue is full or the frame has the wrong size.
    bool Submit(std::string path, std::vector<uint8_t>* frame);
    // Whether a frame submitted now would be queued, so a caller can skip copying one that would
    // not be. A frame that finds no room is counted as skipped here.
    bool HasRoom();

    // Frees the buffers kept for later submissions, and those of frames still queued once
    // written, until the next submission (the queued frames are still written).
    void ReleaseSpareBuffers();

    uint64_t Skipped() const;

private:
    struct Job {
        std::string path;
        std::vector<uint8_t> frame;
    };
    void Run();

    const uint32_t width_;
    const uint32_t height_;
    const WriteFunction write_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> queue_;
    std::vector<std::vector<uint8_t>> spares_;
    bool keepSpares_ = true;
    bool stopping_ = false;
    uint64_t skipped_ = 0;
    std::thread thread_;
};

}  // namespace qor::capture
