#include "download/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace tovani {
namespace {

using namespace std::chrono_literals;

// Polls `done` until it holds or `limit` passes; a liveness deadline, not a speed check.
template <class Pred> bool wait_until(Pred done, std::chrono::milliseconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// A door that tasks wait at until the test opens it.
class Door {
public:
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        cv_.notify_all();
    }
    void pass() {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool open_ = false;
};

// Launches real threads and counts the ones still alive, workers and monitor alike.
struct CountingLauncher {
    std::shared_ptr<std::atomic<int>> alive = std::make_shared<std::atomic<int>>(0);

    ThreadLauncher launcher() const {
        return [alive = alive](std::function<void()> body, std::size_t stack) {
            alive->fetch_add(1);
            bool made = launch_thread(
                [alive, body = std::move(body)] {
                    body();
                    alive->fetch_sub(1);
                },
                stack);
            if (!made)
                alive->fetch_sub(1);
            return made;
        };
    }
};

struct StartCase {
    const char* what;
    std::optional<int> thread_count, max_threads, idle_timeout_ms, stack_size;
    int want_threads, want_max, want_idle, want_stack;
};

TEST(ThreadPool, StartNormalisesItsArguments) {
    const StartCase cases[] = {
        {"all omitted", {}, {}, {}, {}, 5, 5, 10000, 0},
        {"zero threads", 0, {}, {}, {}, 1, 1, 10000, 0},
        {"negative threads", -3, {}, {}, {}, 1, 1, 10000, 0},
        {"maximum below count", 5, 3, {}, {}, 5, 5, 10000, 0},
        {"maximum above count", 5, 8, {}, {}, 5, 8, 10000, 0},
        {"short idle timeout", 2, {}, 50, {}, 2, 2, 100, 0},
        {"idle timeout kept", 2, {}, 2000, {}, 2, 2, 2000, 0},
        {"small stack", 2, {}, {}, 5000, 2, 2, 10000, 8192},
        {"stack cut to 4096", 2, {}, {}, 13000, 2, 2, 10000, 12288},
        {"stack zero", 2, {}, {}, 0, 2, 2, 10000, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ThreadPool pool;
        ASSERT_TRUE(pool.start(c.thread_count, c.max_threads, c.idle_timeout_ms, {}, c.stack_size));
        EXPECT_EQ(pool.state(), ThreadPool::running);
        EXPECT_EQ(pool.thread_count(), c.want_threads);
        EXPECT_EQ(pool.idle_count(), c.want_threads);
        EXPECT_EQ(pool.max_threads(), c.want_max);
        EXPECT_EQ(pool.idle_timeout_ms(), c.want_idle);
        EXPECT_EQ(pool.stack_size(), c.want_stack);
        EXPECT_TRUE(pool.stop());
        EXPECT_EQ(pool.thread_count(), 0);
    }
}

TEST(ThreadPool, SettersNormaliseAndActOnlyWhileRunning) {
    ThreadPool pool;
    pool.set_max_threads(9);
    pool.set_idle_timeout(5000);
    pool.set_stack_size(16384);
    EXPECT_EQ(pool.max_threads(), 0);
    EXPECT_EQ(pool.idle_timeout_ms(), 0);
    EXPECT_EQ(pool.stack_size(), 0);

    ASSERT_TRUE(pool.start(2));
    struct {
        int stack_in, stack_out;
    } const stacks[] = {{13000, 8192}, {0, 0}, {5000, 8192}, {-1, 8192}, {40000, 32768}};
    for (const auto& s : stacks) {
        pool.set_stack_size(s.stack_in);
        EXPECT_EQ(pool.stack_size(), s.stack_out) << s.stack_in;
    }
    pool.set_idle_timeout(50);
    EXPECT_EQ(pool.idle_timeout_ms(), 100);
    pool.set_idle_timeout(2000);
    EXPECT_EQ(pool.idle_timeout_ms(), 2000);
    pool.set_max_threads(0);
    EXPECT_EQ(pool.max_threads(), 1);
    pool.set_max_threads(12);
    EXPECT_EQ(pool.max_threads(), 12);
    EXPECT_TRUE(pool.stop());
}

TEST(ThreadPool, SecondStartWhileRunningChangesNothing) {
    ThreadPool pool;
    ASSERT_TRUE(pool.start(3, 6));
    EXPECT_FALSE(pool.start(7, 9));
    EXPECT_EQ(pool.thread_count(), 3);
    EXPECT_EQ(pool.max_threads(), 6);
    EXPECT_TRUE(pool.stop());
}

void record_args(int first, int second);
std::atomic<int> recorded_first{-1};
std::atomic<int> recorded_second{-1};
void record_args(int first, int second) {
    recorded_first = first;
    recorded_second = second;
}

TEST(ThreadPool, RefusedPostsCountNothing) {
    ThreadPool pool;
    EXPECT_FALSE(pool.post_task(record_args, 1, 2)) << "before start";
    EXPECT_EQ(pool.queued_count(), 0);
    EXPECT_TRUE(pool.is_all_done());

    ASSERT_TRUE(pool.start(1));
    EXPECT_FALSE(pool.post_task(static_cast<TaskRoutine>(nullptr)));
    EXPECT_FALSE(pool.post_task(Task{}));
    EXPECT_FALSE(pool.post_task_address(0));
    EXPECT_EQ(pool.queued_count(), 0);
    EXPECT_TRUE(pool.is_all_done());
    EXPECT_TRUE(pool.stop());

    EXPECT_FALSE(pool.post_task(record_args)) << "after stop";
    EXPECT_EQ(pool.queued_count(), 0);
}

TEST(ThreadPool, EveryFormOfTaskGetsItsArguments) {
    ThreadPool pool;
    ASSERT_TRUE(pool.start(2));
    std::atomic<int> lambda_sum{0};
    std::function<void(int, int)> as_function = [&](int a, int b) { lambda_sum += a * 100 + b; };

    struct Case {
        const char* what;
        std::function<bool()> post;
        std::function<bool()> arrived;
    };
    const Case cases[] = {
        {"routine with both arguments", [&] { return pool.post_task(record_args, 7, -9); },
         [] { return recorded_first == 7 && recorded_second == -9; }},
        {"routine with arguments omitted", [&] { return pool.post_task(record_args); },
         [] { return recorded_first == 0 && recorded_second == 0; }},
        {"routine by address",
         [&] { return pool.post_task_address(reinterpret_cast<std::uintptr_t>(&record_args), 3); },
         [] { return recorded_first == 3 && recorded_second == 0; }},
        {"std::function", [&] { return pool.post_task(as_function, 4, 5); },
         [&] { return lambda_sum == 405; }},
        {"capturing lambda",
         [&] { return pool.post_task([&](int a, int b) { lambda_sum += a - b; }, 10, 10); },
         [&] { return lambda_sum == 405; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        recorded_first = recorded_second = -1;
        ASSERT_TRUE(c.post());
        ASSERT_TRUE(wait_until([&] { return pool.is_all_done(); }));
        EXPECT_TRUE(c.arrived());
    }
    EXPECT_TRUE(pool.stop());
}

TEST(ThreadPool, OneWorkerRunsTasksInPostingOrder) {
    ThreadPool pool;
    ASSERT_TRUE(pool.start(1));
    std::vector<int> order;
    for (int i = 1; i <= 200; ++i)
        ASSERT_TRUE(pool.post_task([&order](int n, int) { order.push_back(n); }, i));
    ASSERT_TRUE(pool.stop(ThreadPool::finish_and_wait));
    ASSERT_EQ(order.size(), 200u);
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(order[i], i + 1);
}

TEST(ThreadPool, IsAllDoneNeverMissesATaskInFlight) {
    ThreadPool pool;
    EXPECT_TRUE(pool.is_all_done()) << "fresh pool";
    ASSERT_TRUE(pool.start(1));

    // Tasks go one at a time, so each passes from queued to busy with the queue running dry:
    // the moment a wrong counting order would show as "all done" too early.
    std::atomic<int> posted{0};
    std::atomic<int> finished{0};
    std::atomic<bool> posting{true};
    std::atomic<int> violations{0};
    std::thread watcher([&] {
        while (posting) {
            const int before = posted.load();
            if (pool.is_all_done() && finished.load() < before)
                ++violations;
        }
    });
    for (int i = 1; i <= 20000; ++i) {
        ASSERT_TRUE(pool.post_task([&finished](int, int) { ++finished; }));
        ++posted;
        while (finished.load() < i)
            std::this_thread::yield();
    }
    posting = false;
    watcher.join();
    EXPECT_EQ(violations, 0);
    EXPECT_TRUE(wait_until([&] { return pool.is_all_done(); }));

    auto door = std::make_shared<Door>();
    ASSERT_TRUE(pool.post_task([door](int, int) { door->pass(); }));
    EXPECT_FALSE(pool.is_all_done()) << "a task is queued or running";
    door->open();
    EXPECT_TRUE(wait_until([&] { return pool.is_all_done(); }));
    EXPECT_TRUE(pool.stop());
}

TEST(ThreadPool, AThrowingTaskCountsAsDoneAndKeepsItsWorker) {
    ThreadPool pool;
    ASSERT_TRUE(pool.start(1));
    ASSERT_TRUE(pool.post_task([](int, int) { throw std::runtime_error("task failed"); }));
    std::atomic<bool> ran{false};
    ASSERT_TRUE(pool.post_task([&ran](int, int) { ran = true; }));
    ASSERT_TRUE(wait_until([&] { return pool.is_all_done(); }));
    EXPECT_TRUE(ran);
    EXPECT_EQ(pool.thread_count(), 1);
    EXPECT_TRUE(pool.stop());
}

TEST(ThreadPool, StopModesDiscardOrFinishAndWaitOrReturn) {
    struct Case {
        int mode;
        bool returns_at_once;
        int queued_tasks_run;
    };
    const Case cases[] = {
        {ThreadPool::discard_and_wait, false, 0},
        {ThreadPool::finish_and_wait, false, 20},
        {ThreadPool::discard_and_return, true, 0},
        {ThreadPool::finish_and_return, true, 20},
        {7, false, 0},
        {-1, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        ThreadPool pool;
        ASSERT_TRUE(pool.start(1));
        auto door = std::make_shared<Door>();
        auto ran = std::make_shared<std::atomic<int>>(0);
        ASSERT_TRUE(pool.post_task([door](int, int) { door->pass(); }));
        for (int i = 0; i < 20; ++i)
            ASSERT_TRUE(pool.post_task([ran](int, int) { ++*ran; }));
        ASSERT_TRUE(wait_until([&] { return pool.busy_count() == 1; }));

        // Waiting modes: the "GUI" lets the running task go from its message processing,
        // which only happens once the stop is under way.
        int pumped = 0;
        MessagePump pump = [&] {
            if (++pumped == 1)
                door->open();
        };
        EXPECT_TRUE(pool.stop(c.mode, 0, c.returns_at_once ? MessagePump{} : pump));
        if (c.returns_at_once) {
            EXPECT_EQ(pool.state(), ThreadPool::stopping) << "the running task holds the pool";
            EXPECT_FALSE(pool.stop()) << "a stop is already under way";
            door->open();
            ASSERT_TRUE(wait_until([&] { return pool.state() == ThreadPool::idle; }));
        } else {
            EXPECT_GE(pumped, 1);
            EXPECT_EQ(pool.state(), ThreadPool::idle);
        }
        EXPECT_EQ(*ran, c.queued_tasks_run);
        EXPECT_EQ(pool.thread_count(), 0);
        EXPECT_EQ(pool.queued_count(), 0);
        EXPECT_EQ(pool.busy_count(), 0);
        EXPECT_TRUE(pool.is_all_done());
    }
}

TEST(ThreadPool, PlainStopWaitsForTheRunningTask) {
    ThreadPool pool;
    ASSERT_TRUE(pool.start(2));
    auto door = std::make_shared<Door>();
    auto finished = std::make_shared<std::atomic<bool>>(false);
    ASSERT_TRUE(pool.post_task([door, finished](int, int) {
        door->pass();
        *finished = true;
    }));
    ASSERT_TRUE(wait_until([&] { return pool.busy_count() == 1; }));
    std::thread opener([&] {
        wait_until([&] { return pool.state() == ThreadPool::stopping; });
        std::this_thread::sleep_for(50ms);
        door->open();
    });
    EXPECT_TRUE(pool.stop());
    EXPECT_TRUE(*finished) << "stop returned before the task did";
    EXPECT_EQ(pool.state(), ThreadPool::idle);
    opener.join();
}

TEST(ThreadPool, StopWithATimeLimitGivesUpAndThePoolWindsDownLater) {
    ThreadPool pool;
    ASSERT_TRUE(pool.start(2));
    auto door = std::make_shared<Door>();
    ASSERT_TRUE(pool.post_task([door](int, int) { door->pass(); }));
    ASSERT_TRUE(wait_until([&] { return pool.busy_count() == 1; }));

    EXPECT_FALSE(pool.stop(ThreadPool::discard_and_wait, 100));
    EXPECT_EQ(pool.state(), ThreadPool::stopping);
    int pumped = 0;
    EXPECT_FALSE(pool.stop(ThreadPool::discard_and_wait, 100, [&] { ++pumped; }));
    EXPECT_EQ(pumped, 0) << "a second stop is refused before it waits";

    door->open();
    ASSERT_TRUE(wait_until([&] { return pool.state() == ThreadPool::idle; }));
    EXPECT_EQ(pool.thread_count(), 0);
    ASSERT_TRUE(pool.start(1)) << "the pool can start again";
    EXPECT_TRUE(pool.stop());
}

TEST(ThreadPool, StopOnAnIdlePoolSucceedsAtOnce) {
    ThreadPool pool;
    EXPECT_TRUE(pool.stop());
    EXPECT_TRUE(pool.stop(ThreadPool::finish_and_wait, 10));
    EXPECT_EQ(pool.state(), ThreadPool::idle);
}

TEST(ThreadPool, PauseHoldsTasksUntilResumeAndStopReleasesIt) {
    ThreadPool pool;
    EXPECT_FALSE(pool.pause()) << "not running";
    EXPECT_FALSE(pool.resume());
    EXPECT_FALSE(pool.wait_resumed(0));

    ASSERT_TRUE(pool.start(2));
    auto door = std::make_shared<Door>();
    auto ran = std::make_shared<std::atomic<int>>(0);
    ASSERT_TRUE(pool.post_task([door, ran](int, int) {
        door->pass();
        ++*ran;
    }));
    ASSERT_TRUE(wait_until([&] { return pool.busy_count() == 1; }));

    ASSERT_TRUE(pool.pause());
    EXPECT_FALSE(pool.wait_resumed(20));
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(pool.post_task([ran](int, int) { ++*ran; }));
    door->open();
    ASSERT_TRUE(wait_until([&] { return *ran == 1; })) << "the running task finishes";
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(*ran, 1) << "no task starts while paused";
    EXPECT_EQ(pool.queued_count(), 5);
    EXPECT_FALSE(pool.is_all_done());

    ASSERT_TRUE(pool.resume());
    EXPECT_TRUE(pool.wait_resumed(0));
    ASSERT_TRUE(wait_until([&] { return pool.is_all_done(); }));
    EXPECT_EQ(*ran, 6);

    ASSERT_TRUE(pool.pause());
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(pool.post_task([ran](int, int) { ++*ran; }));
    EXPECT_TRUE(pool.stop(ThreadPool::finish_and_wait));
    EXPECT_EQ(*ran, 11) << "a finishing stop opens the gate";
}

TEST(ThreadPool, WaitTaskDoneAndSignalTaskDone) {
    ThreadPool pool;
    EXPECT_FALSE(pool.wait_task_done(0)) << "not running";
    EXPECT_FALSE(pool.signal_task_done());

    ASSERT_TRUE(pool.start(1));
    EXPECT_FALSE(pool.wait_task_done(30)) << "nothing finished";
    int pumped = 0;
    EXPECT_FALSE(pool.wait_task_done(30, [&] { ++pumped; }));
    EXPECT_GT(pumped, 0);

    EXPECT_TRUE(pool.signal_task_done());
    EXPECT_TRUE(pool.wait_task_done(0));
    EXPECT_FALSE(pool.wait_task_done(0)) << "the signal was taken";

    ASSERT_TRUE(pool.post_task([](int, int) {}));
    EXPECT_TRUE(pool.wait_task_done(10000));
    EXPECT_TRUE(pool.stop());
}

TEST(ThreadPool, GrowsOneThreadAtATimeAndAddedThreadsRetire) {
    ThreadPool* observed = nullptr;
    std::vector<int> threads_at_launch;
    std::mutex launches_mutex;
    ThreadPool pool([&](std::function<void()> body, std::size_t stack) {
        if (observed != nullptr && observed->state() == ThreadPool::running) {
            std::lock_guard lock(launches_mutex);
            threads_at_launch.push_back(observed->thread_count());
        }
        return launch_thread(std::move(body), stack);
    });
    observed = &pool;
    ASSERT_TRUE(pool.start(5, 20, 200));
    EXPECT_EQ(pool.thread_count(), 5);

    auto door = std::make_shared<Door>();
    auto ran = std::make_shared<std::atomic<int>>(0);
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(pool.post_task([door, ran](int, int) {
            door->pass();
            ++*ran;
        }));
    ASSERT_TRUE(wait_until([&] { return pool.thread_count() == 20; }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(pool.thread_count(), 20) << "never beyond max_threads";
    EXPECT_EQ(pool.busy_count(), 20);
    EXPECT_EQ(pool.queued_count(), 80);
    {
        std::lock_guard lock(launches_mutex);
        ASSERT_EQ(threads_at_launch.size(), 15u);
        for (std::size_t i = 0; i < threads_at_launch.size(); ++i)
            EXPECT_EQ(threads_at_launch[i], 5 + static_cast<int>(i))
                << "each thread is added after the previous one has started";
    }

    door->open();
    ASSERT_TRUE(wait_until([&] { return pool.is_all_done(); }));
    EXPECT_EQ(*ran, 100);
    ASSERT_TRUE(wait_until([&] { return pool.thread_count() == 5; }))
        << "added threads retire after the idle timeout";
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(pool.thread_count(), 5) << "the first threads never retire";
    EXPECT_TRUE(pool.stop());
}

TEST(ThreadPool, StartedWithoutAMaximumItNeverGrows) {
    ThreadPool pool;
    ASSERT_TRUE(pool.start(2));
    auto door = std::make_shared<Door>();
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(pool.post_task([door](int, int) { door->pass(); }));
    ASSERT_TRUE(wait_until([&] { return pool.busy_count() == 2; }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(pool.thread_count(), 2);

    pool.set_max_threads(3);
    EXPECT_TRUE(wait_until([&] { return pool.thread_count() == 3; }))
        << "raising the maximum lets it grow at once";
    door->open();
    EXPECT_TRUE(pool.stop(ThreadPool::finish_and_wait));
}

// Succeeds or fails thread creations in the order given; later ones succeed.
ThreadLauncher scripted_launcher(std::vector<bool> script,
                                 std::shared_ptr<std::atomic<int>> calls) {
    auto shared_script = std::make_shared<std::vector<bool>>(std::move(script));
    return [shared_script, calls](std::function<void()> body, std::size_t stack) {
        const int call = calls->fetch_add(1);
        if (call < static_cast<int>(shared_script->size()) && !(*shared_script)[call])
            return false;
        return launch_thread(std::move(body), stack);
    };
}

TEST(ThreadPool, StartToleratesUpToFiveThreadFailuresInARow) {
    // The first launch is the monitor, the rest are workers.
    struct Case {
        const char* what;
        std::vector<bool> script;
        int thread_count;
        bool started;
        int threads;
    };
    const bool F = false, T = true;
    const Case cases[] = {
        {"monitor fails", {F}, 3, false, 0},
        {"every worker fails", {T, F, F, F, F, F}, 3, false, 0},
        {"four failures are retried", {T, F, F, F, F, T, T, T}, 3, true, 3},
        {"gives up after five in a row", {T, T, F, F, F, F, F}, 3, true, 1},
        {"failures in between", {T, F, T, F, F, T, F, T}, 4, true, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto calls = std::make_shared<std::atomic<int>>(0);
        ThreadPool pool(scripted_launcher(c.script, calls));
        EXPECT_EQ(pool.start(c.thread_count), c.started);
        EXPECT_EQ(pool.thread_count(), c.threads);
        EXPECT_EQ(pool.state(), c.started ? ThreadPool::running : ThreadPool::idle);
        EXPECT_TRUE(pool.stop());
        EXPECT_EQ(pool.state(), ThreadPool::idle);
        if (!c.started) {
            // A later start makes its threads afresh (the script has run out by now).
            EXPECT_TRUE(pool.start(2));
            EXPECT_EQ(pool.thread_count(), 2);
            EXPECT_TRUE(pool.stop());
        }
    }
}

TEST(ThreadPool, MonitorLowersTheMaximumAfterFiveFailuresInARow) {
    auto calls = std::make_shared<std::atomic<int>>(0);
    // Monitor and two workers start; the monitor's first growth fails five times.
    ThreadPool pool(
        scripted_launcher({true, true, true, false, false, false, false, false}, calls));
    ASSERT_TRUE(pool.start(2, 6));
    auto door = std::make_shared<Door>();
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(pool.post_task([door](int, int) { door->pass(); }));
    ASSERT_TRUE(wait_until([&] { return pool.max_threads() == 2; }));
    EXPECT_EQ(pool.thread_count(), 2);
    door->open();
    EXPECT_TRUE(pool.stop(ThreadPool::finish_and_wait));
}

TEST(ThreadPool, RestartsAfterEachStop) {
    ThreadPool pool;
    auto ran = std::make_shared<std::atomic<int>>(0);
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(pool.start(round));
        EXPECT_EQ(pool.thread_count(), round);
        for (int i = 0; i < 10; ++i)
            ASSERT_TRUE(pool.post_task([ran](int, int) { ++*ran; }));
        ASSERT_TRUE(pool.stop(round % 2 == 0 ? ThreadPool::finish_and_wait
                                             : ThreadPool::finish_and_return));
        ASSERT_TRUE(wait_until([&] { return pool.state() == ThreadPool::idle; }));
        EXPECT_EQ(*ran, round * 10);
        EXPECT_EQ(pool.thread_count(), 0);
        EXPECT_TRUE(pool.is_all_done());
    }
}

TEST(ThreadPool, DestroyWhileTasksRunThenFreeThePool) {
    CountingLauncher threads;
    auto door = std::make_shared<Door>();
    auto started = std::make_shared<std::atomic<int>>(0);
    auto finished = std::make_shared<std::atomic<int>>(0);
    auto pool = std::make_unique<ThreadPool>(threads.launcher());
    ASSERT_TRUE(pool->start(3, 6, 100));
    for (int i = 0; i < 30; ++i)
        ASSERT_TRUE(pool->post_task([door, started, finished](int, int) {
            ++*started;
            door->pass();
            ++*finished;
        }));
    ASSERT_TRUE(wait_until([&] { return *started >= 3; }));

    pool->destroy();
    pool.reset(); // the object goes while its workers are still inside tasks
    door->open();
    ASSERT_TRUE(wait_until([&] { return *threads.alive == 0; }))
        << "workers and monitor leave on their own";
    EXPECT_EQ(*finished, *started) << "running tasks finish";
    EXPECT_LT(*started, 30) << "queued tasks are dropped";
}

TEST(ThreadPool, DestructorOfARunningPoolLeavesNoThreadBehind) {
    CountingLauncher threads;
    {
        ThreadPool pool(threads.launcher());
        ASSERT_TRUE(pool.start(4, 8));
        for (int i = 0; i < 100; ++i)
            ASSERT_TRUE(pool.post_task([](int, int) { std::this_thread::sleep_for(1ms); }));
    }
    EXPECT_TRUE(wait_until([&] { return *threads.alive == 0; }));
}

} // namespace
} // namespace tovani
