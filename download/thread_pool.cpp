#include "download/thread_pool.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace tovani {
namespace {

std::int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// An auto-reset or manual-reset event. set() costs two atomic operations while nobody waits,
// so signalling after every task stays cheap. A closed event makes every later wait fail.
class Event {
public:
    Event(bool manual_reset, bool initially_set)
        : manual_(manual_reset), signalled_(initially_set) {}

    void set() {
        signalled_.store(true);
        // A waiter registers before it checks the flag, so either it sees the flag or we see it.
        if (waiters_.load() > 0) {
            std::lock_guard lock(mutex_);
            if (manual_)
                cv_.notify_all();
            else
                cv_.notify_one();
        }
    }

    void reset() { signalled_.store(false); }

    // True when signalled within timeout_ms (negative: no limit); an auto-reset event is taken.
    bool wait(int timeout_ms = -1) {
        if (take())
            return true;
        if (timeout_ms == 0)
            return false;
        std::unique_lock lock(mutex_);
        waiters_.fetch_add(1);
        bool got = false;
        auto ready = [&] {
            got = take();
            return got || closed_;
        };
        if (timeout_ms < 0)
            cv_.wait(lock, ready);
        else
            cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready);
        waiters_.fetch_sub(1);
        return got;
    }

    void close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        cv_.notify_all();
    }

private:
    bool take() {
        if (manual_)
            return signalled_.load();
        bool expected = true;
        return signalled_.compare_exchange_strong(expected, false);
    }

    const bool manual_;
    std::atomic<bool> signalled_;
    std::atomic<int> waiters_{0};
    std::mutex mutex_;
    std::condition_variable cv_;
    bool closed_ = false; // guarded by mutex_
};

// One queue entry: a task with its arguments, or a stop packet (no task).
struct Packet {
    Task task;
    int first_arg = 0;
    int second_arg = 0;
};

// The FIFO the workers take their tasks from. A ring of packets that only grows while a run
// lasts, so posting allocates nothing in the steady state.
//
// Wake-ups: at most one sleeping worker is being woken at a time; a worker that takes a packet
// and leaves more behind wakes the next one. A burst of posts thus costs few system calls,
// and every waiting packet still gets a worker as fast as workers can wake.
class TaskQueue {
public:
    // False when the queue has been closed.
    bool push(Packet&& packet) {
        bool wake;
        {
            std::lock_guard lock(mutex_);
            if (closed_)
                return false;
            if (count_ == ring_.size())
                grow();
            ring_[(head_ + count_) & (ring_.size() - 1)] = std::move(packet);
            ++count_;
            wake = claim_wake_up();
        }
        if (wake)
            cv_.notify_one();
        return true;
    }

    // Takes the oldest packet, waiting at most timeout_ms (negative: no limit).
    // False when the wait ran out or the queue is closed.
    bool pop(Packet& out, int timeout_ms) {
        std::unique_lock lock(mutex_);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
        while (count_ == 0 && !closed_) {
            ++sleepers_;
            bool timed_out = false;
            if (timeout_ms < 0)
                cv_.wait(lock);
            else
                timed_out = cv_.wait_until(lock, deadline) == std::cv_status::timeout;
            --sleepers_;
            if (waking_ > 0)
                --waking_;
            if (timed_out)
                break;
        }
        if (closed_ || count_ == 0)
            return false;
        out = std::move(ring_[head_]);
        head_ = (head_ + 1) & (ring_.size() - 1);
        --count_;
        const bool wake = claim_wake_up();
        lock.unlock();
        if (wake)
            cv_.notify_one();
        return true;
    }

    // Drops every packet and fails every later push and pop; returns the tasks dropped.
    int close() {
        std::vector<Packet> dropped;
        int tasks = 0;
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
            for (std::size_t i = 0; i < count_; ++i)
                if (ring_[(head_ + i) & (ring_.size() - 1)].task)
                    ++tasks;
            dropped.swap(ring_);
            head_ = count_ = 0;
        }
        cv_.notify_all();
        return tasks; // the dropped callables are destroyed here, outside the lock
    }

private:
    // Called with the lock held: whether to wake a sleeper for the packets waiting.
    bool claim_wake_up() {
        if (count_ == 0 || sleepers_ == 0 || waking_ > 0)
            return false;
        ++waking_;
        return true;
    }

    void grow() {
        std::vector<Packet> bigger(std::max<std::size_t>(64, ring_.size() * 2));
        for (std::size_t i = 0; i < count_; ++i)
            bigger[i] = std::move(ring_[(head_ + i) & (ring_.size() - 1)]);
        ring_.swap(bigger);
        head_ = 0;
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Packet> ring_; // capacity is 0 or a power of two
    std::size_t head_ = 0;
    std::size_t count_ = 0;
    int sleepers_ = 0;
    int waking_ = 0; // notifications sent whose sleeper has not woken yet
    bool closed_ = false;
};

constexpr int consecutive_failure_limit = 5;

// Smallest stack actually given to a thread: the C++ runtime and a task's frames need more
// than the few pages that a small requested size names.
constexpr std::size_t minimum_thread_stack = 64 * 1024;

} // namespace

namespace detail {

// Everything one start-to-stop cycle uses. Workers and the monitor of a run keep it alive, so a
// late thread of an earlier run never touches the current one.
struct PoolRun {
    TaskQueue port;
    Event need_thread{false, false};   // wakes the monitor to consider growing
    Event thread_signal{false, false}; // a worker has started
    Event task_done{false, false};     // after every task
    Event gate{true, true};            // reset = paused
    Event monitor_done{true, false};
    Event wound_down{true, false};      // the last worker has torn the run down
    std::atomic<bool> accepting{true};  // false: workers leave at their next dequeue
    std::atomic<bool> live{true};       // false once a stop or a rollback began
    std::atomic<bool> abandoned{false}; // rolled back by start: the pool state is not ours
    std::atomic<int> thread_count{0};
    std::atomic<int> started_count{0}; // workers ever started in this run
    std::atomic<int> busy_count{0};
    std::atomic<int> queued_count{0};
};

struct PoolCore {
    std::atomic<int> state{ThreadPool::idle};
    std::atomic<int> max_threads{0};
    std::atomic<int> idle_timeout_ms{0};
    std::atomic<int> stack_size{0};
    ThreadLauncher launcher;
    // Replaced only by start on the controlling thread; the workers hold their own reference.
    std::shared_ptr<PoolRun> run;
};

} // namespace detail

namespace {

using detail::PoolCore;
using detail::PoolRun;

void grow_if_needed(PoolCore& core, PoolRun& run) {
    const int threads = run.thread_count.load();
    if (threads < core.max_threads.load() &&
        run.busy_count.load() + run.queued_count.load() > threads)
        run.need_thread.set();
}

// The last worker out closes the run and returns the pool to idle.
void tear_down(PoolCore& core, PoolRun& run) {
    run.queued_count.fetch_sub(run.port.close());
    run.live.store(false);
    run.task_done.close();
    run.gate.close();
    run.need_thread.close();
    if (!run.abandoned.load())
        core.state.store(ThreadPool::idle);
    run.thread_signal.set();
    run.wound_down.set();
}

void worker_loop(const std::shared_ptr<PoolCore>& core, const std::shared_ptr<PoolRun>& run,
                 bool added) {
    run->thread_count.fetch_add(1);
    run->started_count.fetch_add(1);
    if (core->state.load() != ThreadPool::stopping)
        run->thread_signal.set();

    Packet packet;
    for (;;) {
        // Workers added by growth retire after the idle timeout; the first ones wait for ever.
        const bool got = run->port.pop(packet, added ? core->idle_timeout_ms.load() : -1);
        run->gate.wait(); // a paused pool holds the worker here, task in hand
        const bool is_task = got && packet.task;
        if (!is_task || !run->accepting.load()) {
            if (is_task)
                run->queued_count.fetch_sub(1); // taken and dropped
            break;
        }
        // Busy goes up before queued goes down, so is_all_done never misses this task.
        run->busy_count.fetch_add(1);
        run->queued_count.fetch_sub(1);
        try {
            packet.task(packet.first_arg, packet.second_arg);
        } catch (...) {
            // A task's failure is its own; the pool keeps its counts and its worker.
        }
        packet.task = nullptr; // release what the task holds before it counts as done
        run->busy_count.fetch_sub(1);
        run->task_done.set();
    }
    packet.task = nullptr;

    if (run->thread_count.fetch_sub(1) == 1)
        tear_down(*core, *run);
}

void monitor_loop(const std::shared_ptr<PoolCore>& core, const std::shared_ptr<PoolRun>& run) {
    run->need_thread.wait();
    int failures = 0;
    while (run->live.load() && core->state.load() == ThreadPool::running) {
        const int threads = run->thread_count.load();
        if (threads < core->max_threads.load() &&
            run->busy_count.load() + run->queued_count.load() > threads) {
            const int started_before = run->started_count.load();
            const bool made = core->launcher([core, run] { worker_loop(core, run, true); },
                                             static_cast<std::size_t>(core->stack_size.load()));
            if (made) {
                failures = 0;
                // One thread at a time: wait until it has started, or the wait runs out. The
                // start count, not the signal alone, decides: a signal may be left over from
                // an earlier start.
                const std::int64_t deadline = now_ms() + threads * 2 + 1000;
                while (run->started_count.load() == started_before && run->live.load()) {
                    const std::int64_t left = deadline - now_ms();
                    if (left <= 0)
                        break;
                    run->thread_signal.wait(static_cast<int>(left));
                }
            } else if (++failures >= consecutive_failure_limit) {
                core->max_threads.store(run->thread_count.load());
                failures = 0;
            }
        } else {
            run->need_thread.wait();
        }
        run->gate.wait(); // no growth while paused
    }
    run->monitor_done.set();
}

int start_stack_size(std::optional<int> bytes) {
    if (!bytes || *bytes == 0)
        return 0;
    if (*bytes < 8192)
        return 8192;
    return *bytes - *bytes % 4096;
}

} // namespace

bool launch_thread(std::function<void()> body, std::size_t stack_size) {
    if (stack_size == 0) {
        try {
            std::thread(std::move(body)).detach();
            return true;
        } catch (const std::system_error&) {
            return false;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }

    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0)
        return false;
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    bool ok = pthread_attr_setstacksize(&attr, std::max(stack_size, minimum_thread_stack)) == 0;
    if (ok) {
        auto* heap_body = new std::function<void()>(std::move(body));
        pthread_t thread;
        auto entry = [](void* arg) -> void* {
            std::unique_ptr<std::function<void()>> run_body(
                static_cast<std::function<void()>*>(arg));
            (*run_body)();
            return nullptr;
        };
        ok = pthread_create(&thread, &attr, entry, heap_body) == 0;
        if (!ok)
            delete heap_body;
    }
    pthread_attr_destroy(&attr);
    return ok;
}

ThreadPool::ThreadPool(ThreadLauncher launcher) : core_(std::make_shared<PoolCore>()) {
    core_->launcher = launcher ? std::move(launcher) : ThreadLauncher(launch_thread);
    // A closed, empty run stands in until the first start, so the counters always have a home.
    core_->run = std::make_shared<PoolRun>();
    core_->run->live.store(false);
    core_->run->port.close();
}

ThreadPool::~ThreadPool() {
    destroy();
}

bool ThreadPool::start(std::optional<int> thread_count, std::optional<int> max_threads,
                       std::optional<int> idle_timeout_ms, const MessagePump& pump,
                       std::optional<int> stack_size) {
    PoolCore& core = *core_;
    int expected = idle;
    if (!core.state.compare_exchange_strong(expected, starting))
        return false;

    const int threads = thread_count ? std::max(*thread_count, 1) : 5;
    core.max_threads.store(std::max(max_threads.value_or(0), threads));
    core.idle_timeout_ms.store(idle_timeout_ms ? std::max(*idle_timeout_ms, 100) : 10000);
    core.stack_size.store(start_stack_size(stack_size));

    auto run = std::make_shared<PoolRun>();
    std::shared_ptr<PoolCore> shared_core = core_;
    if (!core.launcher([shared_core, run] { monitor_loop(shared_core, run); }, 0)) {
        core.state.store(idle);
        return false;
    }
    core.run = run;

    const auto stack = static_cast<std::size_t>(core.stack_size.load());
    int created = 0;
    int failures = 0;
    while (created < threads && failures < consecutive_failure_limit) {
        if (core.launcher([shared_core, run] { worker_loop(shared_core, run, false); }, stack)) {
            ++created;
            failures = 0;
        } else {
            ++failures;
        }
        if (pump)
            pump();
    }
    if (created > 0) {
        while (run->thread_count.load() < created) {
            if (!run->thread_signal.wait(created * 2 + 1000))
                break;
            if (pump)
                pump();
        }
    }
    if (run->thread_count.load() != 0) {
        core.state.store(running);
        return true;
    }

    // Nothing runs: wake the monitor so it ends, close the run and go back to idle. A worker
    // that starts late finds the queue closed and leaves without touching the pool state.
    run->abandoned.store(true);
    run->live.store(false);
    run->need_thread.set();
    for (int poll = 0; poll < 11; ++poll) {
        if (pump)
            pump();
        if (run->monitor_done.wait(20))
            break;
    }
    run->queued_count.fetch_sub(run->port.close());
    run->task_done.close();
    run->gate.close();
    run->need_thread.close();
    core.state.store(idle);
    return false;
}

bool ThreadPool::stop(int mode, int timeout_ms, const MessagePump& pump) {
    PoolCore& core = *core_;
    int expected = running;
    if (!core.state.compare_exchange_strong(expected, stopping))
        return expected == idle;
    if (mode < discard_and_wait || mode > finish_and_return)
        mode = discard_and_wait;

    std::shared_ptr<PoolRun> run = core.run;
    if (mode == discard_and_wait || mode == discard_and_return)
        run->accepting.store(false);
    run->live.store(false);
    // Release every waiter, wake the monitor so it ends, open a paused gate.
    run->task_done.set();
    run->thread_signal.set();
    run->need_thread.set();
    run->gate.set();

    for (int i = 0; i < 21; ++i) {
        if (run->monitor_done.wait(20))
            break;
        if (pump)
            pump();
    }
    run->thread_signal.reset();

    // Queued behind the tasks: finishing modes run them all before the workers leave.
    // One spare packet covers a worker the monitor was still adding.
    const int packets = run->thread_count.load() + 1;
    for (int i = 1; i <= packets; ++i) {
        run->port.push(Packet{});
        if (pump && i % 100 == 0)
            pump();
    }
    if (mode == discard_and_return || mode == finish_and_return)
        return true;

    const std::int64_t began = now_ms();
    while (!run->wound_down.wait(0)) {
        if (pump) {
            if (timeout_ms > 0 && now_ms() - began > timeout_ms)
                return false;
            run->wound_down.wait(20);
            pump();
        } else if (timeout_ms < 1) {
            run->wound_down.wait();
        } else if (!run->wound_down.wait(timeout_ms)) {
            return false;
        }
    }
    return true;
}

void ThreadPool::destroy() {
    stop(discard_and_return);
}

bool ThreadPool::pause() {
    if (state() != running)
        return false;
    core_->run->gate.reset();
    return true;
}

bool ThreadPool::resume() {
    if (state() != running)
        return false;
    core_->run->gate.set();
    return true;
}

bool ThreadPool::wait_resumed(int timeout_ms) {
    if (state() != running)
        return false;
    std::shared_ptr<PoolRun> run = core_->run;
    return run->gate.wait(timeout_ms);
}

bool ThreadPool::post_task(TaskRoutine routine, int first_arg, int second_arg) {
    if (routine == nullptr)
        return false;
    return post_packet(Task(routine), first_arg, second_arg);
}

bool ThreadPool::post_task(Task task, int first_arg, int second_arg) {
    return post_packet(std::move(task), first_arg, second_arg);
}

bool ThreadPool::post_task_address(std::uintptr_t routine, int first_arg, int second_arg) {
    return post_task(reinterpret_cast<TaskRoutine>(routine), first_arg, second_arg);
}

bool ThreadPool::post_packet(Task&& task, int first_arg, int second_arg) {
    PoolCore& core = *core_;
    if (core.state.load() != running || !task)
        return false;
    PoolRun& run = *core.run;
    // Counted before it is queued, so is_all_done never misses it.
    run.queued_count.fetch_add(1);
    if (!run.port.push(Packet{std::move(task), first_arg, second_arg})) {
        run.queued_count.fetch_sub(1);
        return false;
    }
    grow_if_needed(core, run);
    return true;
}

bool ThreadPool::wait_task_done(int timeout_ms, const MessagePump& pump) {
    if (state() != running)
        return false;
    std::shared_ptr<PoolRun> run = core_->run;
    if (!pump)
        return run->task_done.wait(timeout_ms);
    const bool timed = timeout_ms >= 0;
    const std::int64_t began = now_ms();
    for (;;) {
        pump();
        if (run->task_done.wait(20))
            return true;
        if (timed && now_ms() - began > timeout_ms)
            return false;
    }
}

bool ThreadPool::signal_task_done() {
    if (state() != running)
        return false;
    core_->run->task_done.set();
    return true;
}

int ThreadPool::idle_count() const {
    const PoolRun& run = *core_->run;
    return run.thread_count.load() - run.busy_count.load();
}

int ThreadPool::busy_count() const {
    return core_->run->busy_count.load();
}
int ThreadPool::queued_count() const {
    return core_->run->queued_count.load();
}
int ThreadPool::thread_count() const {
    return core_->run->thread_count.load();
}
int ThreadPool::max_threads() const {
    return core_->max_threads.load();
}
int ThreadPool::idle_timeout_ms() const {
    return core_->idle_timeout_ms.load();
}
int ThreadPool::stack_size() const {
    return core_->stack_size.load();
}
int ThreadPool::state() const {
    return core_->state.load();
}

bool ThreadPool::is_all_done() const {
    const PoolRun& run = *core_->run;
    // Queued first: a task leaving the queue is already busy, so it is seen in one of the two.
    if (run.queued_count.load() != 0)
        return false;
    return run.busy_count.load() == 0;
}

void ThreadPool::set_max_threads(int n) {
    if (state() != running)
        return;
    core_->max_threads.store(std::max(n, 1));
    grow_if_needed(*core_, *core_->run);
}

void ThreadPool::set_idle_timeout(int ms) {
    if (state() != running)
        return;
    core_->idle_timeout_ms.store(std::max(ms, 100));
}

void ThreadPool::set_stack_size(int bytes) {
    if (state() != running)
        return;
    core_->stack_size.store(bytes != 0 && bytes < 8192 ? 8192 : bytes - bytes % 8192);
}

} // namespace tovani
