// The download job against the demo library over real loopback HTTP(S): whole books, faults
// that pass and faults that do not, resumed runs, hostile names and the merge.

#include "download/download_job.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "demo/demo_sites.h"
#include "download/download_store.h"
#include "download/thread_pool.h"
#include "sources/chapter_list.h"
#include "tests/support/demo_site_table.h"
#include "text/encoding.h"

namespace tovani {
namespace {

namespace fs = std::filesystem;
using demo::DemoSites;
using demo::Fault;

class DownloadJobTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        demo::DemoOptions options;
        options.free_ports = true;
        options.library.scale_chapters = 300;
        std::string error;
        sites_ = DemoSites::start(options, &error).release();
        ASSERT_NE(sites_, nullptr) << error;
    }
    static void TearDownTestSuite() {
        delete sites_;
        sites_ = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(sites_, nullptr);
        sites_->clear_faults();
        sites_->reset_counts();
        base_ = fs::temp_directory_path() /
                ("tovani-job-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(base_);
        fs::create_directories(base_);
    }
    void TearDown() override { fs::remove_all(base_); }

    // The folder of `book`'s chapter files under this test's base folder.
    std::string folder_of(const demo::DemoBook& book) const {
        return book_folder(base_.string(), book.title, book.author);
    }

    BookSource source(int id) const { return *tovani::test::demo_site_table(*sites_).find(id); }
    // Built-in source `id` where no site is asked (the test gives its own fetch).
    static BookSource offline(int id) { return *builtin_source_table().find(id); }

    // A request for a demo book, its chapters listed through the real adapter.
    DownloadRequest request_for(int source, const demo::DemoBook& book, int threads = 8) {
        const auto list = list_chapters(this->source(source), sites_->book_link(source, book.id));
        EXPECT_EQ(list.status, ChapterListStatus::ok);
        DownloadRequest r;
        r.source = this->source(source);
        r.book_name = book.title;
        r.book_author = book.author;
        r.chapters = list.chapters;
        r.thread_count = threads;
        r.base_folder = base_.string() + "/";
        r.retry.attempts = 5;
        r.retry.backoff = std::chrono::milliseconds(1);
        return r;
    }

    // Runs a job to its end the way the window's timer does.
    static DownloadSummary run(DownloadJob& job, std::vector<DownloadProgress>* seen = nullptr) {
        std::mutex m;
        const auto status = job.start([&](const DownloadProgress& p) {
            if (seen) {
                std::lock_guard lock(m);
                seen->push_back(p);
            }
        });
        EXPECT_EQ(status, StartStatus::started);
        while (!job.check_download_done()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return job.summary();
    }

    std::string file(const std::string& gbk_path) {
        std::string bytes;
        EXPECT_TRUE(read_file(gbk_path, bytes));
        return bytes;
    }

    std::size_t files_in_download_folder() const {
        std::size_t n = 0;
        for ([[maybe_unused]] const auto& e : fs::recursive_directory_iterator(base_)) {
            ++n;
        }
        return n;
    }

    static DemoSites* sites_;
    fs::path base_;
};

DemoSites* DownloadJobTest::sites_ = nullptr;

// Every source: each chapter file holds exactly the served chapter text, and the merge joins
// them in order before it removes them.
TEST_F(DownloadJobTest, WholeBookOnEverySourceThenMerge) {
    const demo::DemoLibrary& lib = sites_->library();
    const demo::DemoBook& book = lib.books()[1];
    for (int source = 1; source <= 8; ++source) {
        SCOPED_TRACE("source " + std::to_string(source));
        ThreadPool pool;
        DownloadJob job(pool, request_for(source, book));
        std::vector<DownloadProgress> seen;
        const DownloadSummary summary = run(job, &seen);
        EXPECT_EQ(summary.total, book.chapter_count);
        EXPECT_EQ(summary.downloaded, book.chapter_count);
        EXPECT_TRUE(summary.failed.empty());
        ASSERT_EQ(seen.size(), static_cast<std::size_t>(book.chapter_count));

        std::string expected_book;
        for (int n = 1; n <= book.chapter_count; ++n) {
            const std::string name = lib.chapter_name(book, n);
            const std::string text = lib.expected_chapter_text(source, book, n);
            EXPECT_EQ(file(job.chapter_file(n)), text) << n;
            expected_book += name + "\r\n" + text + "\r\n\r\n";
        }
        const MergeResult merged = job.merge_chapters();
        ASSERT_TRUE(merged.ok) << to_utf8(merged.error);
        EXPECT_EQ(merged.book_file, book_file_path(base_.string(), book.title, book.author));
        EXPECT_EQ(file(merged.book_file), expected_book);
        // Only the book file is left in the download folder.
        EXPECT_EQ(files_in_download_folder(), 2u); // the folder and the book file
        fs::remove_all(base_ / to_utf8(gbk("小说下载")));
    }
}

TEST_F(DownloadJobTest, ProgressTextsFollowSinglePrecisionSums) {
    EXPECT_EQ(progress_text(100.0f / 3), gbk("当前进度：33.3333%"));
    EXPECT_EQ(progress_text(200.0f / 3), gbk("当前进度：66.6667%"));
    EXPECT_EQ(progress_text(100.0f), gbk("当前进度：100%"));

    // The job's sums: 1000 steps end at 99.999, 2500 at 100.002.
    for (const auto& [chapters, last] : std::vector<std::pair<int, std::string>>{
             {3, "100"}, {1000, "99.999"}, {2500, "100.002"}}) {
        DownloadRequest r;
        r.source = offline(8);
        r.book_name = "b";
        r.book_author = "a";
        for (int i = 1; i <= chapters; ++i) {
            r.chapters.push_back({i, "c" + std::to_string(i), "x://" + std::to_string(i)});
        }
        r.thread_count = 4;
        r.base_folder = base_.string() + "/";
        r.retry.attempts = 1;
        ThreadPool pool;
        DownloadJob job(pool, r, [](const std::string&, std::chrono::milliseconds) {
            return FetchedPage{"<div id=\"content\">x</div>", 200, {}, {}, {}};
        });
        std::vector<DownloadProgress> seen;
        run(job, &seen);
        ASSERT_EQ(seen.size(), static_cast<std::size_t>(chapters));
        float highest = 0;
        for (const auto& p : seen) {
            highest = std::max(highest, p.percent);
        }
        EXPECT_EQ(progress_text(highest), gbk("当前进度：") + last + "%") << chapters;
    }
}

// Faults that pass are retried until the chapter arrives: nothing is lost.
TEST_F(DownloadJobTest, TransientFaultsLoseNothing) {
    const demo::DemoBook& book = sites_->library().books()[0];
    const int source = 2;
    const std::vector<Fault> faults{Fault::http_500, Fault::http_429, Fault::http_503,
                                    Fault::reset,    Fault::truncate, Fault::challenge};
    for (std::size_t i = 0; i < faults.size(); ++i) {
        sites_->fail_chapter(book.id, static_cast<int>(i) + 1, 2, faults[i], source);
    }
    ThreadPool pool;
    DownloadJob job(pool, request_for(source, book));
    const DownloadSummary summary = run(job);
    EXPECT_TRUE(summary.failed.empty());
    EXPECT_EQ(summary.downloaded, book.chapter_count);
    for (std::size_t i = 0; i < faults.size(); ++i) {
        const int n = static_cast<int>(i) + 1;
        EXPECT_EQ(
            file(chapter_file_path(folder_of(book), n, sites_->library().chapter_name(book, n))),
            sites_->library().expected_chapter_text(source, book, n))
            << demo::fault_name(faults[i]);
    }
}

// A chapter that keeps failing is reported, not written as an empty file; the next run of the
// same download fetches only what is missing.
TEST_F(DownloadJobTest, PermanentFailureIsReportedAndResumedLater) {
    const demo::DemoLibrary& lib = sites_->library();
    const demo::DemoBook& book = lib.books()[2];
    const int source = 6;
    sites_->fail_chapter(book.id, 5, -1, Fault::http_503, source);
    sites_->fail_chapter(book.id, 9, -1, Fault::challenge, source);
    {
        ThreadPool pool;
        DownloadJob job(pool, request_for(source, book));
        std::vector<DownloadProgress> seen;
        const DownloadSummary summary = run(job, &seen);
        ASSERT_EQ(summary.failed.size(), 2u);
        EXPECT_EQ(summary.failed[0].number, 5);
        EXPECT_EQ(summary.failed[0].name, lib.chapter_name(book, 5));
        EXPECT_EQ(summary.failed[1].number, 9);
        EXPECT_EQ(summary.downloaded, book.chapter_count - 2);
        // Progress still advanced once per chapter.
        EXPECT_EQ(seen.size(), static_cast<std::size_t>(book.chapter_count));
        EXPECT_FALSE(
            fs::exists(to_utf8(chapter_file_path(folder_of(book), 5, lib.chapter_name(book, 5)))));
    }
    sites_->clear_faults();
    sites_->reset_counts();
    ThreadPool pool;
    DownloadJob again(pool, request_for(source, book));
    const DownloadSummary summary = run(again);
    EXPECT_TRUE(summary.failed.empty());
    EXPECT_EQ(summary.downloaded, 2);
    EXPECT_EQ(summary.skipped, book.chapter_count - 2);
    EXPECT_EQ(sites_->counts(source).of(demo::PageKind::chapter), 2u);
    EXPECT_EQ(file(chapter_file_path(folder_of(book), 9, lib.chapter_name(book, 9))),
              lib.expected_chapter_text(source, book, 9));
}

// Names come from web sites: none may put a file outside the download folder.
TEST_F(DownloadJobTest, HostileNamesStayInsideTheDownloadFolder) {
    DownloadRequest r;
    r.source = offline(8);
    r.book_name = "../../escaped";
    r.book_author = "/etc";
    r.chapters = {{1, "../../../outside", "x://1"},
                  {2, "a/b\\c", "x://2"},
                  {3, "\x01\x1f", "x://3"},
                  {4, "..", "x://4"},
                  {5, std::string(400, 'n'), "x://5"}};
    r.thread_count = 2;
    r.base_folder = base_.string() + "/inner/";
    ThreadPool pool;
    DownloadJob job(pool, r, [](const std::string& url, std::chrono::milliseconds) {
        return FetchedPage{"<div id=\"content\">" + url + "</div>", 200, {}, {}, {}};
    });
    const DownloadSummary summary = run(job);
    EXPECT_TRUE(summary.failed.empty());
    EXPECT_EQ(summary.downloaded, 5);
    ASSERT_TRUE(job.merge_chapters().ok);

    const fs::path folder = base_ / "inner" / to_utf8(gbk("小说下载"));
    std::set<fs::path> found;
    for (const auto& e : fs::recursive_directory_iterator(base_)) {
        found.insert(e.path());
        EXPECT_EQ(e.path().lexically_normal().string().rfind((base_ / "inner").string(), 0), 0u)
            << e.path();
    }
    // Exactly the folder and the book file remain; the book holds every chapter in order.
    // inner, its download folder, the book file: the book's folder went with its chapters.
    ASSERT_EQ(found.size(), 3u);
    std::string book;
    ASSERT_TRUE(read_file(job.book_file(), book));
    for (int n = 1; n <= 5; ++n) {
        EXPECT_NE(book.find("x://" + std::to_string(n)), std::string::npos) << n;
    }
}

TEST_F(DownloadJobTest, EmptyListWritesNothing) {
    DownloadRequest r;
    r.source = offline(1);
    r.book_name = "b";
    r.book_author = "a";
    r.base_folder = base_.string() + "/";
    ThreadPool pool;
    DownloadJob job(pool, r);
    EXPECT_EQ(job.start({}), StartStatus::no_chapters);
    EXPECT_FALSE(job.check_download_done());
    EXPECT_FALSE(fs::exists(to_utf8(progress_file_path(r.base_folder, "b", "a"))));
    EXPECT_EQ(pool.state(), ThreadPool::idle);
}

// A book file that cannot be written leaves every chapter file and the progress file.
TEST_F(DownloadJobTest, FailedMergeDeletesNothing) {
    DownloadRequest r;
    r.source = offline(8);
    r.book_name = "b";
    r.book_author = "a";
    r.chapters = {{1, "one", "x://1"}, {2, "two", "x://2"}};
    r.base_folder = base_.string() + "/";
    ThreadPool pool;
    DownloadJob job(pool, r, [](const std::string&, std::chrono::milliseconds) {
        return FetchedPage{"<div id=\"content\">t</div>", 200, {}, {}, {}};
    });
    run(job);
    // A folder where the book file should go makes its write fail.
    fs::create_directories(to_utf8(job.book_file()) + "/blocker");
    const MergeResult merged = job.merge_chapters();
    EXPECT_FALSE(merged.ok);
    EXPECT_FALSE(merged.error.empty());
    EXPECT_TRUE(fs::exists(to_utf8(job.chapter_file(1))));
    EXPECT_TRUE(fs::exists(to_utf8(job.chapter_file(2))));
    EXPECT_TRUE(fs::exists(to_utf8(progress_file_path(r.base_folder, "b", "a"))));
}

// The job owns its copy of the book: the caller's request may change or go away.
TEST_F(DownloadJobTest, JobKeepsItsOwnCopyOfTheBook) {
    auto r = std::make_unique<DownloadRequest>();
    r->source = offline(8);
    r->book_name = "own";
    r->book_author = "copy";
    r->chapters = {{1, "one", "x://1"}};
    r->base_folder = base_.string() + "/";
    ThreadPool pool;
    DownloadJob job(pool, *r, [](const std::string&, std::chrono::milliseconds) {
        return FetchedPage{"<div id=\"content\">t</div>", 200, {}, {}, {}};
    });
    r->source = offline(1);
    r->book_name = "other";
    r.reset();
    run(job);
    ASSERT_TRUE(job.merge_chapters().ok);
    EXPECT_EQ(job.book_file(), book_file_path(base_.string() + "/", "own", "copy"));
    std::string book;
    ASSERT_TRUE(read_file(job.book_file(), book));
    EXPECT_EQ(book, "one\r\nt\r\n\r\n");
}

// Cancelling discards what has not begun and leaves no half-written chapter behind.
TEST_F(DownloadJobTest, CancelLeavesOnlyWholeChapters) {
    const demo::DemoLibrary& lib = sites_->library();
    const demo::DemoBook& book = lib.scale_book();
    sites_->set_latency(std::chrono::milliseconds(20));
    ThreadPool pool;
    DownloadJob job(pool, request_for(7, book, 4));
    ASSERT_EQ(job.start({}), StartStatus::started);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    job.cancel();
    sites_->set_latency(std::chrono::milliseconds(0));
    EXPECT_TRUE(job.check_download_done());
    int whole = 0;
    for (int n = 1; n <= book.chapter_count; ++n) {
        const std::string path = job.chapter_file(n);
        if (fs::exists(to_utf8(path))) {
            EXPECT_EQ(file(path), lib.expected_chapter_text(7, book, n)) << n;
            ++whole;
        }
    }
    EXPECT_GT(whole, 0);
    EXPECT_LT(whole, book.chapter_count);
    for (const auto& e : fs::recursive_directory_iterator(base_)) {
        const std::string name = e.path().filename().string();
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
    }
}

// ---- politeness ----

// A site that answers 503 to every chapter: the download stops early, keeps what it has, and
// costs the site a small number of requests rather than four tries of every chapter.
TEST_F(DownloadJobTest, ASiteThatRefusesEverythingStopsTheDownloadEarly) {
    const demo::DemoBook& book = sites_->library().scale_book();
    sites_->set_fault_rates({.http_503 = 1.0});
    ThreadPool pool;
    DownloadRequest r = request_for(6, book, 50);
    const DownloadSummary summary = run(*std::make_unique<DownloadJob>(pool, r));
    EXPECT_TRUE(summary.stopped_by_site);
    EXPECT_EQ(summary.site_reason, "HTTP 503");
    EXPECT_EQ(summary.downloaded, 0);
    EXPECT_EQ(summary.not_tried + static_cast<int>(summary.failed.size()), book.chapter_count);
    const auto requests = sites_->counts(6).of(demo::PageKind::chapter);
    EXPECT_LE(requests, 100u) << "requests made to a site that refused every one";
    RecordProperty("chapter_requests", static_cast<int>(requests));
}

// A site that serves at most 8 requests at once and refuses the rest with 429: the download
// of 50 workers settles below the site's limit and completes, never taking the refusals for
// a failing site.
TEST_F(DownloadJobTest, ASiteThatLimitsConnectionsIsServedPolitely) {
    const demo::DemoLibrary& lib = sites_->library();
    const demo::DemoBook& book = lib.scale_book();
    sites_->set_latency(std::chrono::milliseconds(10));
    sites_->set_refuse_above_in_flight(8);
    ThreadPool pool;
    DownloadRequest r = request_for(7, book, 50);
    r.source.rule.politeness.max_connections = 50; // the rule allows more than the site takes
    DownloadJob job(pool, r);
    const DownloadSummary summary = run(job);
    sites_->set_latency(std::chrono::milliseconds(0));
    EXPECT_FALSE(summary.stopped_by_site);
    EXPECT_TRUE(summary.failed.empty());
    EXPECT_EQ(summary.downloaded, book.chapter_count);
    const demo::RequestCounts counts = sites_->counts(7);
    EXPECT_LT(counts.refused_in_flight, 60u) << "refusals piled up";
    EXPECT_EQ(file(job.chapter_file(book.chapter_count)),
              lib.expected_chapter_text(7, book, book.chapter_count));
}

// The rule's connection limit holds whatever the worker count says.
TEST_F(DownloadJobTest, TheRulesConnectionLimitHoldsWhateverTheWorkers) {
    const demo::DemoBook& book = sites_->library().scale_book();
    sites_->set_latency(std::chrono::milliseconds(5));
    ThreadPool pool;
    DownloadRequest r = request_for(2, book, 40);
    r.source.rule.politeness.max_connections = 4;
    sites_->reset_counts();
    const DownloadSummary summary = run(*std::make_unique<DownloadJob>(pool, r));
    sites_->set_latency(std::chrono::milliseconds(0));
    EXPECT_EQ(summary.downloaded, book.chapter_count);
    EXPECT_LE(sites_->counts(2).peak_concurrent, 4u);
}

// ---- one folder per book ----

// Two books with chapters of the same names: each keeps its own files, the merge of one takes
// nothing of the other and deletes nothing of it.
TEST_F(DownloadJobTest, BooksWithTheSameChapterNamesNeverMix) {
    const demo::DemoLibrary& lib = sites_->library();
    const demo::DemoBook& first = *lib.find(102);
    const demo::DemoBook& second = *lib.find(112);
    ASSERT_EQ(lib.chapter_name(first, 3), lib.chapter_name(second, 3));
    {
        ThreadPool pool;
        DownloadJob job(pool, request_for(2, first));
        EXPECT_TRUE(run(job).complete());
    }
    ThreadPool pool;
    DownloadJob job(pool, request_for(2, second));
    const DownloadSummary summary = run(job);
    EXPECT_EQ(summary.downloaded, second.chapter_count) << "nothing taken from the other book";
    EXPECT_EQ(summary.skipped, 0);
    ASSERT_TRUE(job.merge_chapters().ok);
    std::string expected;
    for (int n = 1; n <= second.chapter_count; ++n) {
        expected += lib.chapter_name(second, n) + "\r\n" + lib.expected_chapter_text(2, second, n) +
                    "\r\n\r\n";
    }
    EXPECT_EQ(file(job.book_file()), expected);
    EXPECT_FALSE(fs::exists(to_utf8(folder_of(second)))) << "the merged book's folder is gone";
    for (int n = 1; n <= first.chapter_count; ++n) {
        EXPECT_EQ(file(chapter_file_path(folder_of(first), n, lib.chapter_name(first, n))),
                  lib.expected_chapter_text(2, first, n))
            << n;
    }
}

TEST_F(DownloadJobTest, TwoBooksDownloadAtOnce) {
    const demo::DemoLibrary& lib = sites_->library();
    const demo::DemoBook& a = *lib.find(103);
    const demo::DemoBook& b = *lib.find(110);
    ThreadPool pool_a, pool_b;
    DownloadJob job_a(pool_a, request_for(4, a));
    DownloadJob job_b(pool_b, request_for(4, b));
    ASSERT_EQ(job_a.start({}), StartStatus::started);
    ASSERT_EQ(job_b.start({}), StartStatus::started);
    while (!job_a.check_download_done() || !job_b.check_download_done()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(job_a.merge_chapters().ok);
    ASSERT_TRUE(job_b.merge_chapters().ok);
    for (const auto& [job, book] : {std::pair{&job_a, &a}, std::pair{&job_b, &b}}) {
        const std::string text = file(job->book_file());
        for (int n = 1; n <= book->chapter_count; ++n) {
            EXPECT_NE(text.find(lib.expected_chapter_text(4, *book, n)), std::string::npos) << n;
        }
    }
}

// Files of the old layout, straight in 小说下载, are neither reused nor deleted; a chapter the
// site renumbered is fetched again, not taken from the file its number used to have.
TEST_F(DownloadJobTest, ResumeTrustsOnlyTheBooksOwnRecords) {
    const std::string base = base_.string() + "/";
    const std::string flat = chapter_file_path(download_folder(base), 1, "one");
    ASSERT_TRUE(create_directory(download_folder(base)));
    ASSERT_TRUE(write_file(flat, "old layout"));
    std::map<std::string, std::string> pages{{"x://a", "<div id=\"content\">A</div>"},
                                             {"x://b", "<div id=\"content\">B</div>"},
                                             {"x://c", "<div id=\"content\">C</div>"}};
    std::atomic<int> fetched{0};
    auto fetch = [&](const std::string& url, std::chrono::milliseconds) {
        ++fetched;
        return FetchedPage{pages[url], 200, {}, {}, {}};
    };
    DownloadRequest r;
    r.source = offline(8);
    r.book_name = "b";
    r.book_author = "a";
    r.base_folder = base;
    r.chapters = {{1, "one", "x://a"}, {2, "two", "x://b"}};
    {
        ThreadPool pool;
        DownloadJob job(pool, r, fetch);
        EXPECT_EQ(run(job).downloaded, 2);
    }
    // The site put a new chapter in front: "one" is now the second, "two" the third.
    r.chapters = {{1, "zero", "x://c"}, {2, "one", "x://a"}, {3, "two", "x://b"}};
    fetched = 0;
    ThreadPool pool;
    DownloadJob job(pool, r, fetch);
    const DownloadSummary summary = run(job);
    EXPECT_EQ(summary.downloaded, 3);
    EXPECT_EQ(summary.skipped, 0);
    EXPECT_EQ(fetched.load(), 3);
    EXPECT_EQ(file(job.chapter_file(1)), "C");
    EXPECT_EQ(file(job.chapter_file(2)), "A");
    EXPECT_EQ(file(job.chapter_file(3)), "B");
    ASSERT_TRUE(job.merge_chapters().ok);
    EXPECT_EQ(file(job.book_file()), "zero\r\nC\r\n\r\none\r\nA\r\n\r\ntwo\r\nB\r\n\r\n");
    EXPECT_EQ(file(flat), "old layout") << "the old layout's file is left alone";
}

} // namespace
} // namespace tovani
