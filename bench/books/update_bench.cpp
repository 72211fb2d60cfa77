// `update` of a shelf of 100 books where nothing changed, against the demo library with 50 ms
// latency on every page: one chapter-list request per book, books side by side, each site kept
// within its rule's limit of requests in flight.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "demo/demo_sites.h"
#include "download/book_update.h"
#include "download/thread_pool.h"
#include "sources/chapter_list.h"
#include "tests/support/demo_site_table.h"

namespace {

using namespace tovani;
namespace fs = std::filesystem;

void BM_UpdateUnchangedShelf(benchmark::State& state) {
    const int book_count = static_cast<int>(state.range(0));
    demo::DemoOptions options;
    options.free_ports = true;
    options.library.scale_chapters = 50;
    const auto sites = demo::DemoSites::start(options);
    if (!sites) {
        state.SkipWithError("the demo sites did not start");
        return;
    }
    const SourceTable table = tovani::test::demo_site_table(*sites);
    const fs::path dir =
        fs::temp_directory_path() / ("tovani-update-bench-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    auto shelf = Shelf::open((dir / "shelf.db").string());
    // The shelf: every book of the library on every built-in source, downloaded in full.
    int made = 0;
    for (int source = 1; source <= 8 && made < book_count; ++source) {
        for (const demo::DemoBook& b : sites->library().books()) {
            if (made == book_count) {
                break;
            }
            const BookSource& s = *table.find(source);
            const ChapterListResult list = list_chapters(s, sites->book_link(source, b.id));
            DownloadRequest request;
            request.source = s;
            request.book_name = b.title;
            request.book_author = b.author;
            request.chapters = list.chapters;
            request.base_folder = dir.string() + "/";
            ThreadPool pool;
            DownloadJob job(pool, request);
            job.start({});
            while (!job.check_download_done()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            ShelfBook settings;
            settings.link = sites->book_link(source, b.id);
            settings.base_folder = request.base_folder;
            settings.formats = "txt";
            record_download(*shelf, job, settings);
            job.remove_chapter_files();
            ++made;
        }
    }
    sites->set_latency(std::chrono::milliseconds(50));
    const std::vector<ShelfBook> books = shelf->books();
    for (auto _ : state) {
        sites->reset_counts();
        const std::vector<UpdateReport> reports = update_books(*shelf, table, books, 16);
        for (const UpdateReport& r : reports) {
            if (!r.checked() || r.new_chapters != 0) {
                state.SkipWithError("a book did not come back unchanged");
                return;
            }
        }
    }
    std::uint64_t peak = 0;
    std::uint64_t requests = 0;
    for (int source = 1; source <= 8; ++source) {
        peak = std::max(peak, sites->counts(source).peak_concurrent);
        requests += sites->counts(source).total;
    }
    state.counters["books"] = static_cast<double>(books.size());
    state.counters["requests"] = static_cast<double>(requests);
    state.counters["peak_per_site"] = static_cast<double>(peak);
    fs::remove_all(dir);
}

} // namespace

BENCHMARK(BM_UpdateUnchangedShelf)
    ->Arg(100)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
