#pragma once
// Checking that sources still work: search the probe keyword, open the first hit's chapter
// list, read its first chapter. Each step after a failed one is skipped.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "sources/book_source.h"
#include "sources/outcome.h"

namespace tovani {

enum class StepState { passed, failed, skipped };

struct HealthStep {
    StepState state = StepState::skipped;
    Outcome outcome; ///< why it failed
    std::chrono::milliseconds elapsed{0};
};

struct HealthReport {
    int source = 0;
    std::string keyword; ///< UTF-8, as searched; empty when there was none to search
    HealthStep search, chapters, text;
    std::chrono::milliseconds elapsed{0};

    bool passed() const {
        return search.state == StepState::passed && chapters.state == StepState::passed &&
               text.state == StepState::passed;
    }
};

/// Runs the three steps on `source` with `keyword` (UTF-8), or the rule's probe keyword when
/// none is given.
HealthReport check_source_health(const BookSource& source, const std::string& keyword = {},
                                 const Fetchers& fetchers = network_fetchers());

/// The same for every source, concurrently, in the order given.
std::vector<HealthReport> check_sources_health(const std::vector<const BookSource*>& sources,
                                               const std::string& keyword = {},
                                               const Fetchers& fetchers = network_fetchers());

/// "ok", "skipped" or what went wrong ("unreachable: Connection refused"), UTF-8.
std::string step_text(const HealthStep& step);

} // namespace tovani
