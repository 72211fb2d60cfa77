// The sources' two heavy operations against the demo sites' scale book over loopback:
// listing a 5000-chapter table of contents (end to end, the fetch alone, and the parse alone)
// and cutting the text out of a 20 KB chapter page.

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "demo/demo_sites.h"
#include "http/fetch.h"
#include "sources/chapter_list.h"
#include "sources/chapter_text.h"
#include "sources/source_table.h"
#include "tests/support/demo_site_table.h"

namespace {

using namespace tovani;

constexpr int scale_chapters = 5000;
constexpr std::size_t chapter_bytes = 20000; // a realistic chapter text, in GBK bytes
constexpr int book_id = demo::DemoLibrary::scale_book_id;

struct Demo {
    std::unique_ptr<demo::DemoSites> sites;
    std::unique_ptr<SourceTable> config;
};

// Started once for the whole run; null when the listeners could not be started.
const Demo& demo_sites() {
    static const Demo demo = [] {
        Demo d;
        demo::DemoOptions options;
        options.free_ports = true;
        options.library.scale_chapters = scale_chapters;
        options.library.scale_chapter_bytes = chapter_bytes;
        d.sites = demo::DemoSites::start(options);
        if (d.sites) {
            d.config = std::make_unique<SourceTable>(tovani::test::demo_site_table(*d.sites));
        }
        return d;
    }();
    return demo;
}

// Skips the benchmark with a reason when the sites are not there.
const Demo* demo_or_skip(benchmark::State& state) {
    const Demo& d = demo_sites();
    if (!d.sites) {
        state.SkipWithError("the demo sites did not start");
        return nullptr;
    }
    return &d;
}

// A list that is not the whole scale book means the figure would measure a failure.
bool whole_book(benchmark::State& state, const ChapterListResult& list) {
    if (list.status != ChapterListStatus::ok ||
        list.chapters.size() != static_cast<std::size_t>(scale_chapters)) {
        state.SkipWithError("the chapter list is not the whole scale book");
        return false;
    }
    return true;
}

void BM_ListChaptersEndToEnd(benchmark::State& state) {
    const int source = static_cast<int>(state.range(0));
    const Demo* d = demo_or_skip(state);
    if (!d)
        return;
    const std::string link = d->sites->book_link(source, book_id);
    for (auto _ : state) {
        ChapterListResult list = list_chapters(*d->config->find(source), link);
        if (!whole_book(state, list))
            return;
        benchmark::DoNotOptimize(list);
    }
    state.SetItemsProcessed(state.iterations() * scale_chapters);
}

// The fetch that list_chapters makes, alone: the difference to the end-to-end figure is the
// adapter's own work.
void BM_FetchTableOfContents(benchmark::State& state) {
    const int source = static_cast<int>(state.range(0));
    const Demo* d = demo_or_skip(state);
    if (!d)
        return;
    const std::string link = d->sites->book_link(source, book_id);
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::string body = fetch_page(link);
        if (body.empty()) {
            state.SkipWithError("the table of contents could not be fetched");
            return;
        }
        bytes = body.size();
        benchmark::DoNotOptimize(body);
    }
    state.counters["page_bytes"] = static_cast<double>(bytes);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}

void BM_ParseChapterList(benchmark::State& state) {
    const int source = static_cast<int>(state.range(0));
    const Demo* d = demo_or_skip(state);
    if (!d)
        return;
    const std::string link = d->sites->book_link(source, book_id);
    const std::string body = fetch_page(link);
    for (auto _ : state) {
        ChapterListResult list = parse_chapter_list(*d->config->find(source), link, body);
        if (!whole_book(state, list))
            return;
        benchmark::DoNotOptimize(list);
    }
    state.counters["page_bytes"] = static_cast<double>(body.size());
    state.SetItemsProcessed(state.iterations() * scale_chapters);
}

// Extraction alone, on one chapter page fetched before timing; the result is checked against
// the text the demo library says the page holds.
void BM_ExtractChapterText(benchmark::State& state) {
    const int source = static_cast<int>(state.range(0));
    const Demo* d = demo_or_skip(state);
    if (!d)
        return;
    const int number = 1234;
    const std::string body = fetch_page(d->sites->chapter_link(source, book_id, number));
    const demo::DemoLibrary& library = d->sites->library();
    const std::string expected =
        library.expected_chapter_text(source, library.scale_book(), number);
    const TextRule& rule = d->config->find(source)->rule.text;
    if (body.empty() || extract_chapter_text(rule, body) != expected) {
        state.SkipWithError("the chapter page does not give the expected text");
        return;
    }
    for (auto _ : state) {
        std::string text = extract_chapter_text(rule, body);
        benchmark::DoNotOptimize(text);
    }
    state.counters["page_bytes"] = static_cast<double>(body.size());
    state.counters["text_bytes"] = static_cast<double>(expected.size());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(body.size()));
}

} // namespace

BENCHMARK(BM_ListChaptersEndToEnd)->DenseRange(1, 8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FetchTableOfContents)->DenseRange(1, 8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ParseChapterList)->DenseRange(1, 8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExtractChapterText)->DenseRange(1, 8)->Unit(benchmark::kMicrosecond);
