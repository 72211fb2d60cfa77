#include "download/host_gate.h"

#include <algorithm>

namespace tovani {

HostGate::HostGate(const Politeness& politeness, BreakerPolicy policy)
    : max_connections_(std::max(1, politeness.max_connections)),
      min_interval_(std::max(std::chrono::milliseconds(0), politeness.min_interval)),
      policy_(policy), limit_(std::clamp(policy.first_limit, 1, max_connections_)) {}

bool HostGate::may_start(Clock::time_point now) const {
    return in_flight_ < limit_ && now >= next_start_ && now >= paused_until_;
}

std::optional<HostGate::Ticket> HostGate::enter(const std::function<bool()>& stop) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (tripped_ || (stop && stop())) {
            return std::nullopt;
        }
        const auto now = Clock::now();
        if (may_start(now)) {
            ++in_flight_;
            next_start_ = now + min_interval_;
            return Ticket{epoch_};
        }
        // Wake for the earliest moment a start may become possible, or to look at `stop` again.
        auto until = now + std::chrono::milliseconds(50);
        if (in_flight_ < limit_) {
            until = std::min(until, std::max(next_start_, paused_until_));
        }
        changed_.wait_until(lock, until);
    }
}

bool HostGate::leave(const Ticket& ticket, RequestVerdict verdict,
                     std::optional<std::chrono::seconds> retry_after) {
    bool failure = false;
    {
        std::lock_guard lock(mutex_);
        --in_flight_;
        const auto now = Clock::now();
        if (retry_after && retry_after->count() > 0) {
            paused_until_ =
                std::max(paused_until_, now + std::min(*retry_after, policy_.longest_pause));
        }
        switch (verdict) {
        case RequestVerdict::success:
            failures_in_row_ = 0;
            if (++successes_ >= limit_ && limit_ < max_connections_) {
                // After a whole limit's worth of successes: twice as many until the site first
                // refused, one more after that.
                limit_ = slow_start_ ? std::min(max_connections_, 2 * limit_) : limit_ + 1;
                successes_ = 0;
            }
            break;
        case RequestVerdict::throttled:
            slow_start_ = false;
            if (ticket.epoch == epoch_ && limit_ > 1) {
                // The first refusal of this generation lowers the limit; refusals of requests
                // that started under a higher limit have been answered already.
                limit_ = std::max(1, limit_ / 2);
                ++epoch_;
                successes_ = 0;
            } else if (ticket.epoch == epoch_) {
                failure = true; // refused although it was the only request in flight
            }
            break;
        case RequestVerdict::failed:
            failure = true;
            break;
        case RequestVerdict::neutral:
            break;
        }
        if (failure && ++failures_in_row_ >= policy_.failures_to_trip) {
            tripped_ = true;
        }
    }
    changed_.notify_all();
    return failure;
}

bool HostGate::tripped() const {
    std::lock_guard lock(mutex_);
    return tripped_;
}

std::string HostGate::trip_reason() const {
    std::lock_guard lock(mutex_);
    return tripped_ ? last_failure_ : std::string();
}

int HostGate::limit() const {
    std::lock_guard lock(mutex_);
    return limit_;
}

int HostGate::in_flight() const {
    std::lock_guard lock(mutex_);
    return in_flight_;
}

void HostGate::note_failure(std::string what) {
    std::lock_guard lock(mutex_);
    last_failure_ = std::move(what);
}

} // namespace tovani
