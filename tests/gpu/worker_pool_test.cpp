// The soft device's worker pool: every band once, worker numbers a band can trust, and jobs
// from several threads at once.
#include "gpu/soft/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace qor::test {
namespace {

using gpu::soft::WorkerPool;

TEST(WorkerPoolTest, RunsEveryBandOnceWithDistinctWorkersAndJobsFromManyThreads) {
    WorkerPool pool(3);
    ASSERT_EQ(pool.Workers(), 4);
    // Each band counts itself, and marks its worker busy while it runs: no two bands may share one.
    const auto job = [&pool](int bands) {
        std::vector<std::atomic<int>> runs(static_cast<size_t>(bands));
        std::vector<std::atomic<int>> busy(static_cast<size_t>(pool.Workers()));
        std::atomic<bool> clash {false};
        pool.Run(bands, [&](int band, int worker) {
            if (worker < 0 || worker >= pool.Workers() || busy[size_t(worker)].exchange(1) != 0) clash = true;
            runs[size_t(band)].fetch_add(1);
            busy[size_t(worker)].store(0);
        });
        bool once = true;
        for (auto& count : runs) once = once && count.load() == 1;
        return once && !clash;
    };
    for (const int bands : {0, 1, 2, 7, 64}) EXPECT_TRUE(job(bands)) << bands << " bands";

    // Jobs from other threads, the pool busy or not: each finishes complete.
    std::vector<std::thread> callers;
    std::atomic<int> complete {0};
    for (int c = 0; c < 4; ++c) {
        callers.emplace_back([&] {
            for (int i = 0; i < 50; ++i) complete += job(16) ? 1 : 0;
        });
    }
    for (auto& caller : callers) caller.join();
    EXPECT_EQ(complete.load(), 200);
}

}  // namespace
}  // namespace qor::test
