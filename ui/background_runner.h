#pragma once
// Runs a blocking call (a page fetch, a search) on a thread of its own and hands the result
// back to the receiver's thread through a queued call, so the windows keep painting while a
// site answers. When the receiver is gone the result is dropped.

#include <QMetaObject>
#include <QObject>

#include <functional>
#include <memory>
#include <mutex>
#include <utility>

namespace tovani::ui {

/// Threads started by any BackgroundRunner that have not returned yet.
int background_threads_running();

/// Starts `body` on a detached thread, counted by background_threads_running(). Runs it on the
/// calling thread when no thread can be made.
void start_background_thread(std::function<void()> body);

class BackgroundRunner {
public:
    /// `receiver` lives on the thread that gets the results (a window).
    explicit BackgroundRunner(QObject* receiver);
    /// Results still on their way are dropped from here on.
    ~BackgroundRunner();
    BackgroundRunner(const BackgroundRunner&) = delete;
    BackgroundRunner& operator=(const BackgroundRunner&) = delete;

    /// Calls `work()` on a new thread, then `done(result)` on the receiver's thread, unless the
    /// runner has been destroyed meanwhile.
    template <class Work, class Done> void run(Work work, Done done) {
        auto link = link_;
        auto on_done = std::make_shared<Done>(std::move(done));
        start_background_thread([link, on_done, work = std::move(work)]() mutable {
            auto result = std::make_shared<decltype(work())>(work());
            std::lock_guard lock(link->mutex);
            if (link->receiver != nullptr) {
                QMetaObject::invokeMethod(
                    link->receiver, [on_done, result] { (*on_done)(*result); },
                    Qt::QueuedConnection);
            }
        });
    }

private:
    // The receiver is cleared under the mutex before it is destroyed, so a worker never posts
    // to a freed object.
    struct Link {
        std::mutex mutex;
        QObject* receiver = nullptr;
    };
    std::shared_ptr<Link> link_;
};

} // namespace tovani::ui
