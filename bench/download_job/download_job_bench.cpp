// The download job end to end: a long book whose every page answers after a fixed latency
// (from a fake fetch, and from the demo sites over loopback), against the ideal of
// chapters x latency / workers; and the merge of 10,000 chapter files of 10 KB against `cat` of
// the same files into one file, timed in the same iteration.

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "demo/demo_sites.h"
#include "download/download_job.h"
#include "download/download_store.h"
#include "download/thread_pool.h"
#include "http/fetch.h"
#include "sources/source_table.h"
#include "text/encoding.h"

extern char** environ;

namespace {

// Built-in source `id` with its connection limit raised to the benchmark's 50 workers: these
// figures are the engine's overhead, not the politeness a real site gets.
tovani::BookSource unlimited_source(int id, const std::string& host = {}) {
    tovani::BookSource s =
        *tovani::builtin_source_table(host.empty() ? std::map<int, std::string>{}
                                                   : std::map<int, std::string>{{id, host}})
             .find(id);
    s.rule.politeness.max_connections = 50;
    return s;
}

using namespace tovani;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it at the end.
class TempFolder {
public:
    TempFolder() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tovani-bench-XXXXXX";
        if (::mkdtemp(pattern.data()))
            path_ = pattern + "/";
    }
    ~TempFolder() {
        if (!path_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; } ///< ASCII, so the same in GBK and UTF-8

private:
    std::string path_;
};

// A source 8 chapter page (GBK, no conversion) whose extracted text is exactly `text_bytes`.
std::string chapter_page(std::size_t text_bytes) {
    const std::string line = gbk("　　夜色渐深，城头的灯火一盏接一盏地亮了起来。") + "\r\n";
    std::string text;
    while (text.size() < text_bytes)
        text += line;
    text.resize(text_bytes - text_bytes % 2); // cut between two-byte characters
    while (text.size() < text_bytes)
        text += ' ';
    return "<html><body><div id=\"content\">" + text + "</div><div class=\"footer\"></div>" +
           "</body></html>";
}

std::vector<ChapterEntry> chapter_list(int count, const std::string& link_prefix) {
    std::vector<ChapterEntry> chapters;
    chapters.reserve(static_cast<std::size_t>(count));
    for (int n = 1; n <= count; ++n)
        chapters.push_back({n, gbk("第") + std::to_string(n) + gbk("章 风起云涌"),
                            link_prefix + std::to_string(n) + ".html"});
    return chapters;
}

// Runs the job to its end; false (and the benchmark skipped) unless every chapter was saved.
bool run_to_end(benchmark::State& state, DownloadJob& job) {
    if (job.start({}) != StartStatus::started) {
        state.SkipWithError("the download did not start");
        return false;
    }
    while (!job.check_download_done())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const DownloadSummary summary = job.summary();
    if (!summary.failed.empty() || summary.downloaded + summary.skipped != summary.total) {
        state.SkipWithError("chapters failed");
        return false;
    }
    return true;
}

// Runs /bin/cat with `files` as arguments and its output into `out`; true when cat succeeded.
bool cat_files(const std::vector<std::string>& files, const std::string& out) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    argv.reserve(files.size() + 2);
    argv.push_back(const_cast<char*>("cat"));
    for (const std::string& f : files)
        argv.push_back(const_cast<char*>(f.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, "/bin/cat", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return false;
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::uintmax_t file_size(const std::string& gbk_path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(to_utf8(gbk_path), ec);
    return ec ? 0 : size;
}

// 10,000 chapter files of 10 KB, written by a job with a fake fetch before each iteration,
// then joined by merge_chapters. `cat` joins the same files first, outside the measured time;
// both are timed by hand so the ratio comes from the same iteration.
void BM_MergeChapters(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const std::size_t text_bytes = static_cast<std::size_t>(state.range(1));
    TempFolder folder;
    if (folder.path().empty()) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string page = chapter_page(text_bytes);
    double cat_seconds = 0;
    double merge_seconds = 0;
    std::uintmax_t book_bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ThreadPool pool;
        DownloadRequest request;
        request.source = unlimited_source(8);
        request.book_name = gbk("万卷长河");
        request.book_author = gbk("造书匠");
        request.chapters = chapter_list(count, "https://127.0.0.1/book/900/");
        request.thread_count = 2;
        request.base_folder = folder.path();
        DownloadJob job(pool, std::move(request),
                        [&page](const std::string&, std::chrono::milliseconds) {
                            return FetchedPage{page, 200, {}, {}, {}};
                        });
        if (!run_to_end(state, job))
            return;
        std::vector<std::string> files;
        files.reserve(static_cast<std::size_t>(count));
        for (const ChapterEntry& c : job.request().chapters)
            files.push_back(to_utf8(chapter_file_path(folder.path(), c.number, c.name)));
        const std::string cat_out = folder.path() + "cat-book.txt";
        const auto cat_start = Clock::now();
        const bool cat_ok = cat_files(files, cat_out);
        cat_seconds += seconds_since(cat_start);
        if (!cat_ok) {
            state.SkipWithError("cat failed");
            return;
        }
        state.ResumeTiming();

        const auto merge_start = Clock::now();
        const MergeResult merged = job.merge_chapters();
        merge_seconds += seconds_since(merge_start);

        state.PauseTiming();
        book_bytes = file_size(merged.book_file);
        // The book holds every chapter: its text plus the name and the separators.
        if (!merged.ok || book_bytes < static_cast<std::uintmax_t>(count) * text_bytes) {
            state.SkipWithError("the merge did not write the whole book");
            return;
        }
        state.ResumeTiming();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["cat_ms"] = cat_seconds / n * 1e3;
    state.counters["merge_ms"] = merge_seconds / n * 1e3;
    state.counters["merge_vs_cat"] = merge_seconds / cat_seconds;
    state.counters["book_MB"] = static_cast<double>(book_bytes) / 1e6;
}

// Downloads `request` once per iteration, each time into a fresh folder with a fresh pool, and
// reports the mean time against the ideal: every chapter waits `latency`, spread over the
// workers. False when a run failed (the benchmark is then skipped).
bool time_against_ideal(benchmark::State& state, const DownloadRequest& request,
                        std::chrono::milliseconds latency,
                        const DownloadJob::ChapterFetch& fetch = {}) {
    double seconds = 0;
    for (auto _ : state) {
        TempFolder folder;
        ThreadPool pool;
        DownloadRequest run = request;
        run.base_folder = folder.path();
        DownloadJob job(pool, std::move(run), fetch);
        const auto start = Clock::now();
        if (!run_to_end(state, job))
            return false;
        seconds += seconds_since(start);
    }
    const double ideal = static_cast<double>(request.chapters.size()) *
                         std::chrono::duration<double>(latency).count() / request.thread_count;
    state.counters["ideal_s"] = ideal;
    state.counters["vs_ideal"] = seconds / static_cast<double>(state.iterations()) / ideal;
    return true;
}

// The job with a fetch that sleeps for the latency: the engine's own overhead over the ideal,
// with no HTTP in the way.
void BM_DownloadFakeLatency(benchmark::State& state) {
    const auto latency = std::chrono::milliseconds(state.range(2));
    const std::string page = chapter_page(20000);
    DownloadRequest request;
    request.source = unlimited_source(8);
    request.book_name = gbk("万卷长河");
    request.book_author = gbk("造书匠");
    request.chapters =
        chapter_list(static_cast<int>(state.range(0)), "https://127.0.0.1/book/900/");
    request.thread_count = static_cast<int>(state.range(1));
    time_against_ideal(state, request, latency,
                       [&page, latency](const std::string&, std::chrono::milliseconds) {
                           std::this_thread::sleep_for(latency);
                           return FetchedPage{page, 200, {}, {}, {}};
                       });
}

// The same against the demo sites over loopback, with the job's own fetch_page: adds the HTTP
// layer (and TLS for source 1) to the overhead.
void BM_DownloadFromDemoSites(benchmark::State& state) {
    const int source = static_cast<int>(state.range(0));
    const int count = 2000;
    const auto latency = std::chrono::milliseconds(50);
    demo::DemoOptions options;
    options.free_ports = true;
    options.library.scale_chapters = count;
    options.library.scale_chapter_bytes = 20000;
    options.latency = latency;
    const auto sites = demo::DemoSites::start(options);
    if (!sites) {
        state.SkipWithError("the demo sites did not start");
        return;
    }
    const demo::DemoLibrary& library = sites->library();
    const demo::DemoBook& book = library.scale_book();
    DownloadRequest request;
    request.source = unlimited_source(source, sites->host(source));
    request.book_name = book.title;
    request.book_author = book.author;
    for (int n = 1; n <= count; ++n)
        request.chapters.push_back(
            {n, library.chapter_name(book, n), sites->chapter_link(source, book.id, n)});
    request.thread_count = 50;
    if (time_against_ideal(state, request, latency))
        state.counters["peak_connections"] =
            static_cast<double>(sites->counts(source).peak_concurrent);
}

} // namespace

BENCHMARK(BM_MergeChapters)
    ->Args({10000, 10240})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_DownloadFakeLatency)
    ->Args({2000, 50, 50})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_DownloadFromDemoSites)
    ->Arg(7) // GBK over plain HTTP
    ->Arg(1) // UTF-8 over HTTPS
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
