// Dispatch cost of the worker pool: many empty tasks posted from one thread and run to the end.

#include "download/thread_pool.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

namespace {

void empty_task(int, int) {}

// Posts state.range(1) tasks to a pool of state.range(0) workers and waits until all have run.
template <class Post> void run_batch(benchmark::State& state, Post post) {
    const int workers = static_cast<int>(state.range(0));
    const int tasks = static_cast<int>(state.range(1));
    tovani::ThreadPool pool;
    if (!pool.start(workers)) {
        state.SkipWithError("the pool did not start");
        return;
    }
    for (auto _ : state) {
        for (int i = 0; i < tasks; ++i)
            post(pool, i);
        while (!pool.is_all_done())
            std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    state.SetItemsProcessed(state.iterations() * tasks);
    pool.stop();
}

void BM_EmptyRoutines(benchmark::State& state) {
    run_batch(state, [](tovani::ThreadPool& pool, int i) { pool.post_task(empty_task, i); });
}

void BM_EmptyCapturingLambdas(benchmark::State& state) {
    int sink = 0;
    run_batch(state, [&sink](tovani::ThreadPool& pool, int i) {
        pool.post_task([&sink](int, int) { benchmark::DoNotOptimize(&sink); }, i);
    });
}

} // namespace

BENCHMARK(BM_EmptyRoutines)->Args({8, 1'000'000})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EmptyRoutines)->Args({1, 1'000'000})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EmptyCapturingLambdas)
    ->Args({8, 1'000'000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
