// The soft device's worker threads: a draw's rows are cut into bands that the pool's threads
// and the caller draw together. The threads are started once and wait between draws.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qor::gpu::soft {

class WorkerPool {
public:
    // `helpers` threads besides each caller.
    explicit WorkerPool(int helpers);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // The process's pool: one thread per hardware thread besides the caller, at most 7.
    static WorkerPool& Shared();

    // Threads that may run one job at once: the helpers and the caller.
    int Workers() const { return int(threads_.size()) + 1; }

    // Calls task(band, worker) once for every band in [0, bands), `worker` in [0, Workers())
    // naming the thread (no two calls with the same worker run at once), and returns when all
    // have returned. A job that arrives while another runs is run by its caller alone (worker 0).
    void Run(int bands, const std::function<void(int band, int worker)>& task);

private:
    void Serve(int worker);
    void Work(int worker);

    std::mutex jobMutex_;  // held by the caller whose job the pool runs
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    const std::function<void(int, int)>* task_ = nullptr;
    int bands_ = 0;
    int nextBand_ = 0;
    int finishedBands_ = 0;
    int busyHelpers_ = 0;
    unsigned long long generation_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace qor::gpu::soft
