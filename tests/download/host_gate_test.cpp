#include "download/host_gate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace tovani {
namespace {

using Clock = std::chrono::steady_clock;

Politeness polite(int connections, int interval_ms = 0) {
    Politeness p;
    p.max_connections = connections;
    p.min_interval = std::chrono::milliseconds(interval_ms);
    return p;
}

TEST(HostGate, NeverMoreInFlightThanTheLimit) {
    HostGate gate(polite(3), BreakerPolicy{.first_limit = 3});
    std::atomic<int> now{0};
    std::atomic<int> most{0};
    std::vector<std::jthread> threads;
    for (int t = 0; t < 12; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20; ++i) {
                const auto ticket = gate.enter();
                ASSERT_TRUE(ticket);
                const int n = ++now;
                int seen = most.load();
                while (n > seen && !most.compare_exchange_weak(seen, n)) {
                }
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                --now;
                gate.leave(*ticket, RequestVerdict::success);
            }
        });
    }
    threads.clear();
    EXPECT_LE(most.load(), 3);
    EXPECT_EQ(gate.in_flight(), 0);
}

// The limit starts small and doubles with successes; refusals halve it once per generation;
// after a refusal, successes win it back one at a time.
TEST(HostGate, LimitGrowsFallsOnRefusalsAndClimbsBackOnSuccess) {
    HostGate gate(polite(16));
    EXPECT_EQ(gate.limit(), 2);
    for (int expected : {2, 4, 4, 4, 4, 8, 8, 8, 8, 8, 8, 8, 8, 16}) {
        gate.leave(*gate.enter(), RequestVerdict::success);
        EXPECT_EQ(gate.limit(), expected);
    }
    std::vector<HostGate::Ticket> burst;
    for (int i = 0; i < 16; ++i) {
        burst.push_back(*gate.enter());
    }
    // The whole generation is refused: only its first refusal lowers the limit.
    for (const auto& t : burst) {
        EXPECT_FALSE(gate.leave(t, RequestVerdict::throttled)) << "throttling, not failure";
    }
    EXPECT_EQ(gate.limit(), 8);

    // Each refusal of a newer generation halves again, down to one.
    for (int expected : {4, 2, 1}) {
        const auto t = gate.enter();
        EXPECT_FALSE(gate.leave(*t, RequestVerdict::throttled));
        EXPECT_EQ(gate.limit(), expected);
    }
    // At one request in flight a refusal is the site failing.
    EXPECT_TRUE(gate.leave(*gate.enter(), RequestVerdict::throttled));
    EXPECT_EQ(gate.limit(), 1);

    // Now a whole limit's worth of successes raises it by one.
    for (int expected : {2, 2, 3, 3, 3, 4}) {
        gate.leave(*gate.enter(), RequestVerdict::success);
        EXPECT_EQ(gate.limit(), expected);
    }
    EXPECT_FALSE(gate.tripped());
}

TEST(HostGate, BreakerTripsOnFailuresInARowOnly) {
    HostGate gate(polite(4), BreakerPolicy{.failures_to_trip = 5});
    for (int i = 0; i < 4; ++i) {
        gate.leave(*gate.enter(), RequestVerdict::failed);
    }
    gate.leave(*gate.enter(), RequestVerdict::success); // one success starts the count again
    for (int i = 0; i < 4; ++i) {
        gate.leave(*gate.enter(), RequestVerdict::failed);
        gate.leave(*gate.enter(), RequestVerdict::neutral); // a 404 says nothing either way
    }
    EXPECT_FALSE(gate.tripped());
    gate.note_failure("HTTP 502");
    gate.leave(*gate.enter(), RequestVerdict::failed);
    EXPECT_TRUE(gate.tripped());
    EXPECT_EQ(gate.trip_reason(), "HTTP 502");
    EXPECT_FALSE(gate.enter());
}

TEST(HostGate, WaitersLeaveWhenTheBreakerTripsOrTheyStop) {
    HostGate gate(polite(1), BreakerPolicy{.failures_to_trip = 1});
    const auto held = gate.enter();
    std::atomic<bool> stop{false};
    std::optional<HostGate::Ticket> stopped = HostGate::Ticket{};
    std::jthread waiter([&] { stopped = gate.enter([&] { return stop.load(); }); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop = true;
    waiter.join();
    EXPECT_FALSE(stopped);

    std::optional<HostGate::Ticket> refused = HostGate::Ticket{};
    std::jthread second([&] { refused = gate.enter(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    gate.leave(*held, RequestVerdict::failed);
    second.join();
    EXPECT_FALSE(refused);
}

// The site's own pause and the rule's gap between requests are kept (lower bounds only).
TEST(HostGate, RetryAfterAndMinimumIntervalAreKept) {
    HostGate spaced(polite(8, 60));
    const auto start = Clock::now();
    for (int i = 0; i < 4; ++i) {
        spaced.leave(*spaced.enter(), RequestVerdict::success);
    }
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(180));

    HostGate paused(polite(8));
    paused.leave(*paused.enter(), RequestVerdict::throttled, std::chrono::seconds(1));
    const auto before = Clock::now();
    paused.leave(*paused.enter(), RequestVerdict::success);
    EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(900));
}

} // namespace
} // namespace tovani
