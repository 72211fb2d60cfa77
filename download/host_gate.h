#pragma once
// Politeness towards one site: how many requests may be in flight to it, how far apart they
// start, how long to wait when it asks for a pause, and when to give up on it.
//
// The limit adapts. It starts small and doubles after each run of as many successes as the
// limit, up to the site's maximum, until the site first refuses; a 429 or 503 halves it (at
// least 1), and from then on successes raise it by one after each such run. A 429 or 503 answered
// while the limit can still be lowered is throttling, not failure. A site that keeps failing -
// no answer, a server error, or 429/503 although only one request at a time is in flight - with
// no success between trips the breaker: every waiting and later request is refused, so a
// download stops early instead of hammering a site that has said no.
//
// One gate serves every download from the same site at once. Thread-safe.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "sources/source_rule.h"

namespace tovani {

/// What one request to the site came to, as far as politeness is concerned.
enum class RequestVerdict {
    success,   ///< the page came
    throttled, ///< 429 or 503: the site wants fewer requests
    failed,    ///< no answer at all, or a server error
    neutral,   ///< an answer that says nothing about the site's health (404, another layout)
};

struct BreakerPolicy {
    int first_limit = 2;       ///< requests in flight at the start, before the limit grows
    int failures_to_trip = 20; ///< failures in a row, with no success between
    std::chrono::seconds longest_pause{120}; ///< a longer Retry-After is cut to this
};

class HostGate {
public:
    explicit HostGate(const Politeness& politeness, BreakerPolicy policy = {});
    HostGate(const HostGate&) = delete;
    HostGate& operator=(const HostGate&) = delete;

    /// A request admitted by `enter`; hand it back to `leave`.
    struct Ticket {
        std::uint64_t epoch = 0; ///< the limit's generation when the request started
    };

    /// Waits until a request may start. nullopt when the breaker has tripped or `stop()` says
    /// the caller gives up (it is asked at least every 50 ms).
    std::optional<Ticket> enter(const std::function<bool()>& stop = {});

    /// Ends a request. `retry_after` is the site's own pause (Retry-After), if it named one.
    /// True when the request counted as a failure of the site (towards the breaker); a
    /// refusal while the limit could still be lowered does not.
    bool leave(const Ticket& ticket, RequestVerdict verdict,
               std::optional<std::chrono::seconds> retry_after = std::nullopt);

    bool tripped() const;
    /// Why the breaker tripped, e.g. "HTTP 503" (empty while it has not).
    std::string trip_reason() const;
    /// Requests allowed in flight now.
    int limit() const;
    int in_flight() const;

    /// Records what the last failure was, for trip_reason.
    void note_failure(std::string what);

private:
    using Clock = std::chrono::steady_clock;
    bool may_start(Clock::time_point now) const;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    const int max_connections_;
    const std::chrono::milliseconds min_interval_;
    const BreakerPolicy policy_;
    int limit_;
    bool slow_start_ = true; ///< doubling until the first refusal
    int in_flight_ = 0;
    int successes_ = 0;       ///< since the limit last changed
    int failures_in_row_ = 0; ///< failures with no success between
    std::uint64_t epoch_ = 0; ///< raised each time the limit is lowered
    Clock::time_point next_start_{};
    Clock::time_point paused_until_{};
    bool tripped_ = false;
    std::string last_failure_;
};

} // namespace tovani
