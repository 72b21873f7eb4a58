#include "display/capture/png_capture.h"

#include <png.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

namespace qor::capture {

void YieldToFrameWork() {
    // The idle class runs the thread only on time no other thread wants, and any frame work
    // that wakes takes the core at once; where it is refused, the lowest nice value (a
    // thread's own on Linux). Failure of both leaves it at normal priority, only slower.
    const sched_param none {};
    if (::pthread_setschedparam(::pthread_self(), SCHED_IDLE, &none) == 0) return;
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kBackgroundNice);
}

namespace {

// libpng reports errors by longjmp to here, so nothing between setjmp and the end needs a
// destructor. Level 1 without row filters: the fastest deflate, which still packs the flat
// images a compositor makes well.
bool EncodePng(FILE* file, const uint8_t* bgra, uint32_t width, uint32_t height) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, Z_BEST_SPEED);
    png_write_info(png, info);
    // Rows go in as they are: blue first, and the fourth byte dropped.
    png_set_bgr(png);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
    const size_t rowBytes = size_t {width} * 4;
    for (uint32_t y = 0; y < height; ++y) png_write_row(png, bgra + y * rowBytes);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

std::string CaptureFilePath(const std::string& folder, const std::string& title, uint64_t number) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%06llu", static_cast<unsigned long long>(number));
    return folder + "/" + title + "_" + digits + ".png";
}

bool WriteCapturePng(const std::string& path, const uint8_t* bgra, uint32_t width, uint32_t height) {
    if (bgra == nullptr || width == 0 || height == 0) return false;
    const std::string temporary = path + ".tmp";
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) return false;
    const bool encoded = EncodePng(file, bgra, width, height);
    const bool closed = std::fclose(file) == 0;
    if (!encoded || !closed) {
        std::remove(temporary.c_str());
        return false;
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

CaptureWriter::CaptureWriter(uint32_t width, uint32_t height, WriteFunction write)
    : width_(width), height_(height), write_(std::move(write)) {
    thread_ = std::thread([this] { Run(); });
}

CaptureWriter::~CaptureWriter() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

bool CaptureWriter::Submit(std::string path, std::vector<uint8_t>* frame) {
    std::vector<uint8_t> spare;
    {
        std::lock_guard lock(mutex_);
        if (queue_.size() >= kQueueFrames || stopping_ || frame->size() != size_t {width_} * height_ * 4) {
            ++skipped_;
            return false;
        }
        if (!spares_.empty()) {
            spare = std::move(spares_.back());
            spares_.pop_back();
        }
        keepSpares_ = true;
        queue_.push_back(Job {std::move(path), std::move(*frame)});
    }
    wake_.notify_one();
    *frame = std::move(spare);
    return true;
}

bool CaptureWriter::HasRoom() {
    std::lock_guard lock(mutex_);
    if (queue_.size() < kQueueFrames && !stopping_) return true;
    ++skipped_;
    return false;
}

void CaptureWriter::ReleaseSpareBuffers() {
    std::vector<std::vector<uint8_t>> freed;
    std::lock_guard lock(mutex_);
    freed.swap(spares_);
    keepSpares_ = false;
}

uint64_t CaptureWriter::Skipped() const {
    std::lock_guard lock(mutex_);
    return skipped_;
}

void CaptureWriter::Run() {
    YieldToFrameWork();
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            // What was queued before the stop is still written.
            if (queue_.empty()) return;
            job = std::move(queue_.front());
            queue_.pop_front();
        }
        try {
            write_(job.path, job.frame.data(), width_, height_);
        } catch (...) {
        }
        std::lock_guard lock(mutex_);
        // The queue plus the frame in hand: never more spares than that. A buffer not kept is
        // freed with `job`, after the lock.
        if (keepSpares_ && spares_.size() < kQueueFrames + 1) spares_.push_back(std::move(job.frame));
    }
}

}  // namespace qor::capture
