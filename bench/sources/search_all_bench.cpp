// Searching every source at once against the demo library with the same latency on every
// site: the all-source search should cost about one site's search, not the sum of them.
// Reported per iteration: the slowest single-source search and the all-source search, both
// measured in the same run, and their ratio.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>

#include "demo/demo_sites.h"
#include "sources/search_all.h"
#include "tests/support/demo_site_table.h"
#include "text/encoding.h"

namespace {

using namespace tovani;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_SearchAllAgainstSlowestSingle(benchmark::State& state) {
    demo::DemoOptions options;
    options.free_ports = true;
    options.latency = std::chrono::milliseconds(state.range(0));
    const auto sites = demo::DemoSites::start(options);
    if (!sites) {
        state.SkipWithError("the demo sites did not start");
        return;
    }
    const SourceTable table = tovani::test::demo_site_table(*sites);
    std::vector<const BookSource*> sources;
    for (const BookSource& s : table.sources()) {
        sources.push_back(&s);
    }
    // An author with seven books: source 5 follows its pager over three result pages.
    const std::string keyword = gbk("青衫客");
    double slowest_total = 0;
    double all_total = 0;
    for (auto _ : state) {
        double slowest = 0;
        for (const BookSource* s : sources) {
            const auto start = Clock::now();
            const SearchOutcome one = search_source(*s, keyword);
            slowest = std::max(slowest, seconds_since(start));
            if (one.hits.empty()) {
                state.SkipWithError("a single-source search found nothing");
                return;
            }
        }
        const auto start = Clock::now();
        const AllSearchOutcome all = search_all_sources(sources, keyword);
        const double all_seconds = seconds_since(start);
        if (all.hits.size() != 8 * 7) {
            state.SkipWithError("the all-source search missed rows");
            return;
        }
        slowest_total += slowest;
        all_total += all_seconds;
        state.SetIterationTime(all_seconds);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["slowest_single_ms"] = slowest_total / n * 1e3;
    state.counters["all_sources_ms"] = all_total / n * 1e3;
    state.counters["all_vs_slowest"] = all_total / slowest_total;
}

} // namespace

BENCHMARK(BM_SearchAllAgainstSlowestSingle)
    ->Arg(300)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
