#pragma once
// The worker pool that runs the chapter downloads: a FIFO of tasks, worker threads that take
// them in posting order, and a monitor thread that adds workers one at a time under load.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

namespace tovani {

namespace detail {
struct PoolCore;
}

/// A task routine: called on a worker thread with the two arguments given when it was posted.
using TaskRoutine = void (*)(int first_arg, int second_arg);
using Task = std::function<void(int first_arg, int second_arg)>;

/// Called while the pool waits on the calling thread, so a GUI can process its pending
/// messages; an empty pump means the caller's message processing is blocked during the wait.
using MessagePump = std::function<void()>;

/// Starts `body` on a new detached thread with a stack of `stack_size` bytes (0 = the system
/// default). Returns false when no thread could be made. Tests replace it to simulate failures.
using ThreadLauncher = std::function<bool(std::function<void()> body, std::size_t stack_size)>;

/// The default launcher: std::thread, or POSIX threads when a stack size is given.
bool launch_thread(std::function<void()> body, std::size_t stack_size);

/// A pool of worker threads fed by one FIFO of tasks.
///
/// States: idle (0) -> starting (2) -> running (1) -> stopping (3) -> idle (0). A pool can be
/// started again once a stop has completed. The control operations (start, stop, destroy, pause,
/// resume and the setters) are called from one thread; tasks may post further tasks and read
/// the counters.
///
/// Counting: a task is in `queued_count` from before it is posted until a worker is about to run
/// it, and in `busy_count` from before it leaves the queue count until it has returned, so
/// `is_all_done` never sees a task that is between the two.
///
/// Lifetime: workers and the monitor share the pool's state with the object, so destroying a
/// pool whose tasks are still running is safe; they finish and leave on their own.
///
/// Waiting: `stop` in modes 0 and 1 without a time limit waits for the running tasks. A task
/// must never wait for the thread that calls `stop` (for example by a blocking call into the
/// GUI thread), or the two wait for each other for ever.
class ThreadPool {
public:
    enum State : int { idle = 0, running = 1, starting = 2, stopping = 3 };

    /// Stop modes; any other value counts as `discard_and_wait`.
    enum StopMode : int {
        discard_and_wait = 0,   // drop the queued tasks, wait for the running ones
        finish_and_wait = 1,    // run every queued task, then wait
        discard_and_return = 2, // drop the queued tasks, return at once
        finish_and_return = 3,  // run every queued task in the background, return at once
    };

    static constexpr int no_limit = -1;

    explicit ThreadPool(ThreadLauncher launcher = {});
    /// Calls destroy(): stops without waiting.
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    /// Starts `thread_count` workers (omitted: 5; below 1: 1) and the monitor. `max_threads`
    /// below the thread count (or omitted) is raised to it, so such a pool never grows.
    /// `idle_timeout_ms` (omitted: 10000, below 100: 100) is how long an added worker waits for
    /// a task before it retires. `stack_size` in bytes: 0 or omitted is the system default,
    /// below 8192 gives 8192, above is cut to a multiple of 4096.
    /// Returns true when at least one worker runs; false when the pool was not idle (nothing
    /// changes) or nothing could be started (the pool stays idle). Up to 5 thread-creation
    /// failures in a row are tolerated.
    bool start(std::optional<int> thread_count = std::nullopt,
               std::optional<int> max_threads = std::nullopt,
               std::optional<int> idle_timeout_ms = std::nullopt, const MessagePump& pump = {},
               std::optional<int> stack_size = std::nullopt);

    /// Stops a running pool (see StopMode). Returns true at once on an idle pool; false while
    /// starting or already stopping, and false when `timeout_ms` (0 = no limit) ran out before
    /// the workers left; the pool then winds down by itself.
    bool stop(int mode = discard_and_wait, int timeout_ms = 0, const MessagePump& pump = {});

    /// Stops without waiting (discard_and_return). Safe while tasks still run.
    void destroy();

    /// Holds every worker after it has taken its next task; running tasks finish. Running only.
    bool pause();
    /// Lets the workers go on. Running only.
    bool resume();
    /// Waits until the pool is not paused; false when not running or the time ran out.
    bool wait_resumed(int timeout_ms = no_limit);

    /// Queues a task. False, with nothing counted, when the pool is not running or the routine
    /// is null.
    bool post_task(TaskRoutine routine, int first_arg = 0, int second_arg = 0);
    bool post_task(Task task, int first_arg = 0, int second_arg = 0);
    template <class F>
    requires std::is_invocable_v<F&, int, int>
    bool post_task(F&& task, int first_arg = 0, int second_arg = 0) {
        return post_task(Task(std::forward<F>(task)), first_arg, second_arg);
    }
    /// The same with the routine given as an address (0 is refused).
    bool post_task_address(std::uintptr_t routine, int first_arg = 0, int second_arg = 0);

    /// Waits until some task finishes (or signal_task_done is called). Running only; false when
    /// the time ran out.
    bool wait_task_done(int timeout_ms = no_limit, const MessagePump& pump = {});
    /// Wakes a wait_task_done as if a task had finished. Running only.
    bool signal_task_done();

    int idle_count() const;
    int busy_count() const;
    int queued_count() const;
    int thread_count() const;
    int max_threads() const;
    int idle_timeout_ms() const;
    int stack_size() const;
    /// True when no task is queued or running; any state.
    bool is_all_done() const;
    int state() const;

    /// Running only. Below 1 gives 1; may let the pool grow at once.
    void set_max_threads(int n);
    /// Running only. Below 100 gives 100; read by added workers before every wait.
    void set_idle_timeout(int ms);
    /// Running only. Non-zero below 8192 gives 8192, else cut to a multiple of 8192;
    /// applies to workers created afterwards.
    void set_stack_size(int bytes = 0);

private:
    bool post_packet(Task&& task, int first_arg, int second_arg);

    // Shared with every worker and the monitor, so it outlives the object while they run.
    std::shared_ptr<detail::PoolCore> core_;
};

} // namespace tovani
