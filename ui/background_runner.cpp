#include "ui/background_runner.h"

#include <atomic>
#include <system_error>
#include <thread>

namespace tovani::ui {
namespace {

std::atomic<int> running_threads{0};

} // namespace

int background_threads_running() {
    return running_threads.load();
}

void start_background_thread(std::function<void()> body) {
    running_threads.fetch_add(1);
    auto counted = [body = std::move(body)] {
        body();
        running_threads.fetch_sub(1);
    };
    try {
        std::thread(counted).detach();
    } catch (const std::system_error&) {
        counted(); // no thread to be had: do the work here rather than lose it
    }
}

BackgroundRunner::BackgroundRunner(QObject* receiver) : link_(std::make_shared<Link>()) {
    link_->receiver = receiver;
}

BackgroundRunner::~BackgroundRunner() {
    std::lock_guard lock(link_->mutex);
    link_->receiver = nullptr;
}

} // namespace tovani::ui
