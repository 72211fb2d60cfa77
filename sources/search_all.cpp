#include "sources/search_all.h"

#include <algorithm>
#include <thread>

#include "text/text_helpers.h"

namespace tovani {
namespace {

using Clock = std::chrono::steady_clock;

// 0 exact title, 1 title holds the keyword, 2 author holds it, 3 anything else.
int rank(const SearchHit& hit, std::string_view keyword) {
    if (to_lower_text(trim_text(hit.name)) == keyword) {
        return 0;
    }
    if (contains_text(hit.name, keyword, true)) {
        return 1;
    }
    if (contains_text(hit.author, keyword, true)) {
        return 2;
    }
    return 3;
}

Fetchers::Fetch bounded(Fetchers::Fetch fetch, Clock::time_point deadline) {
    return [fetch = std::move(fetch), deadline](const std::string& url,
                                                std::chrono::milliseconds timeout) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return FetchedPage{
                {}, 0, FetchFailure::timed_out, "the search's time limit passed", {}};
        }
        return fetch(url, timeout.count() > 0 ? std::min(timeout, left) : left);
    };
}

} // namespace

Fetchers fetchers_until(const Fetchers& fetchers, Clock::time_point deadline) {
    return {bounded(fetchers.page, deadline), bounded(fetchers.winhttp, deadline)};
}

AllSearchOutcome search_all_sources(const std::vector<const BookSource*>& sources,
                                    std::string_view keyword, std::chrono::milliseconds time_limit,
                                    const Fetchers& fetchers) {
    AllSearchOutcome out;
    out.per_source.resize(sources.size());
    const Fetchers limited = fetchers_until(fetchers, Clock::now() + time_limit);
    {
        std::vector<std::jthread> threads;
        threads.reserve(sources.size());
        for (std::size_t i = 0; i < sources.size(); ++i) {
            // Each thread writes only its own slot; the joins publish them.
            threads.emplace_back([&, i] {
                const auto started = Clock::now();
                SourceSearch& slot = out.per_source[i];
                slot.source = sources[i]->id();
                slot.result = search_source(*sources[i], keyword, limited);
                slot.elapsed =
                    std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
            });
        }
    }
    const std::string folded = to_lower_text(trim_text(keyword));
    for (int r = 0; r <= 3; ++r) {
        for (const SourceSearch& s : out.per_source) {
            for (const SearchHit& hit : s.result.hits) {
                if (rank(hit, folded) == r) {
                    out.hits.push_back({s.source, hit});
                    out.hits.back().hit.number = static_cast<int>(out.hits.size());
                }
            }
        }
    }
    return out;
}

} // namespace tovani
