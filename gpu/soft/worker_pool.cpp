#include "gpu/soft/worker_pool.h"

#include <algorithm>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace qor::gpu::soft {

namespace {
// More threads than this gain nothing against the memory bandwidth a frame needs.
constexpr unsigned kMostWorkers = 8;

int SharedHelpers() { return int(std::clamp(std::thread::hardware_concurrency(), 1u, kMostWorkers)) - 1; }
}  // namespace

WorkerPool::WorkerPool(int helpers) {
    for (int w = 1; w <= helpers; ++w) {
        try {
            threads_.emplace_back([this, w] { Serve(w); });
        } catch (const std::system_error&) {
            break;  // fewer threads: the caller draws more bands
        }
    }
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

#if defined(_WIN32)
// Windows ends a process's other threads before its DLLs' static objects go, so a pool stopped
// then would wait for helpers that are gone (and no thread can be joined under the loader lock
// of an unload either). The module holding the pool stays loaded instead, and the pool lives
// until the process ends.
WorkerPool& WorkerPool::Shared() {
    static WorkerPool& pool = *[] {
        HMODULE self = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCWSTR>(&SharedHelpers), &self);
        return new WorkerPool(SharedHelpers());
    }();
    return pool;
}
#else
// A static object, not a leaked one: a module that links the soft device stops its threads
// when it is unloaded, before their code goes away.
WorkerPool& WorkerPool::Shared() {
    static WorkerPool pool(SharedHelpers());
    return pool;
}
#endif

void WorkerPool::Run(int bands, const std::function<void(int, int)>& task) {
    if (bands <= 0) return;
    std::unique_lock job(jobMutex_, std::try_to_lock);
    if (!job.owns_lock() || threads_.empty() || bands == 1) {
        for (int band = 0; band < bands; ++band) task(band, 0);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        task_ = &task;
        bands_ = bands;
        nextBand_ = 0;
        finishedBands_ = 0;
        ++generation_;
    }
    wake_.notify_all();
    Work(0);
    std::unique_lock lock(mutex_);
    // Every band finished and no helper still looking at this job's task.
    done_.wait(lock, [this] { return finishedBands_ == bands_ && busyHelpers_ == 0; });
    task_ = nullptr;
}

void WorkerPool::Serve(int worker) {
    unsigned long long seen = 0;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || (generation_ != seen && task_ != nullptr); });
            if (stopping_) return;
            seen = generation_;
            ++busyHelpers_;
        }
        Work(worker);
        {
            std::lock_guard lock(mutex_);
            --busyHelpers_;
        }
        done_.notify_all();
    }
}

void WorkerPool::Work(int worker) {
    for (;;) {
        int band;
        const std::function<void(int, int)>* task;
        {
            std::lock_guard lock(mutex_);
            if (task_ == nullptr || nextBand_ >= bands_) return;
            band = nextBand_++;
            task = task_;
        }
        (*task)(band, worker);
        {
            std::lock_guard lock(mutex_);
            ++finishedBands_;
        }
    }
}

}  // namespace qor::gpu::soft
