#pragma once
// Searching every source at once: each source on a thread of its own, all bounded by one
// deadline, so a slow or failing site never holds up or hides the others.

#include <chrono>
#include <string_view>
#include <vector>

#include "sources/search.h"

namespace tovani {

/// One source's part of an all-source search.
struct SourceSearch {
    int source = 0;
    SearchOutcome result;
    std::chrono::milliseconds elapsed{0};
};

/// A row of the combined list: the hit (numbered 1.. in the combined order) and its source.
struct SourceHit {
    int source = 0;
    SearchHit hit;
    bool operator==(const SourceHit&) const = default;
};

struct AllSearchOutcome {
    std::vector<SourceHit> hits;          ///< ranked, numbered from 1
    std::vector<SourceSearch> per_source; ///< in the order the sources were given
    /// Any source answered with rows.
    bool any_rows() const { return !hits.empty(); }
};

/// Searches every usable source in `sources` for `keyword` (GBK) concurrently; every page
/// fetch ends by `time_limit` from now, so the call returns within about that long. Rows are
/// ranked: a title equal to the keyword first, then a title holding it, then an author holding
/// it, then the rest; within a rank in source order, each source's rows in its own order.
AllSearchOutcome search_all_sources(const std::vector<const BookSource*>& sources,
                                    std::string_view keyword,
                                    std::chrono::milliseconds time_limit = std::chrono::seconds(20),
                                    const Fetchers& fetchers = network_fetchers());

/// Fetchers that give every page at most what is left until `deadline`, and fail at once as
/// timed out once it has passed.
Fetchers fetchers_until(const Fetchers& fetchers, std::chrono::steady_clock::time_point deadline);

} // namespace tovani
