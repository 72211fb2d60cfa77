#pragma once
// One download of a whole book: every chapter fetched by the pool's workers into its own file
// in the book's own folder, progress reported as chapters finish, failures counted, the site
// treated politely, and the chapter files joined into one book file on request.
//
// The job keeps its own copy of source, book name, author, chapters and folder: a search or
// another book opened while it runs changes nothing here.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "download/host_gate.h"
#include "sources/book_source.h"
#include "sources/outcome.h"

namespace tovani {

class ThreadPool;

/// How a chapter whose fetch fails is tried again.
struct RetryPolicy {
    int attempts = 4; ///< tries in all, the first included, of fetches that failed
    std::chrono::milliseconds backoff{500}; ///< doubled after each failed try
    /// Refusals (429, 503) while the site's limit is still being lowered cost no attempt; this
    /// many of them at most per chapter.
    int throttled_tries = 30;
};

struct DownloadRequest {
    BookSource source;       ///< the rule the chapters are read with, and where the site is
    std::string book_name;   ///< GBK
    std::string book_author; ///< GBK
    std::vector<ChapterEntry> chapters;
    int thread_count = 15; ///< workers; the site's limit of requests in flight applies too
    /// Folder that holds "小说下载" (GBK path ending in "/"); empty means the desktop folder.
    std::string base_folder;
    RetryPolicy retry;
    /// Chapters whose file is already complete are not fetched again.
    bool resume = true;
    /// The site's politeness, shared with other downloads from the same site; made from the
    /// source's rule when not given.
    std::shared_ptr<HostGate> gate;
};

/// Progress after one more chapter has finished (successfully or not).
struct DownloadProgress {
    int finished = 0; ///< chapters finished, skipped ones included
    int total = 0;
    int failed = 0;
    int skipped = 0;   ///< complete from an earlier run: not fetched in this one
    float percent = 0; ///< single-precision sum of the per-chapter step
    std::string text;  ///< GBK: "当前进度：" + percent as %.6g + "%"
};

struct DownloadSummary {
    int total = 0;
    int downloaded = 0;
    int skipped = 0;                  ///< already complete from an earlier run
    std::vector<ChapterEntry> failed; ///< tried and failed, in chapter order
    /// The site kept refusing and the download stopped early; these chapters were not tried.
    bool stopped_by_site = false;
    std::string site_reason; ///< what the site last answered, e.g. "HTTP 503"
    int not_tried = 0;
    bool cancelled = false;
    std::string download_folder; ///< GBK: the book's own folder
    std::string progress_file;   ///< GBK
    /// Every chapter has its file.
    bool complete() const { return downloaded + skipped == total; }
};

enum class StartStatus {
    started,
    no_chapters,  ///< "未找到章节信息！": nothing was written or posted
    pool_busy,    ///< the pool did not start (another download is running)
    write_failed, ///< the book's folder or progress file could not be written
};

struct MergeResult {
    bool ok = false;
    std::string book_file; ///< GBK path of the book file
    std::string error;     ///< GBK, when not ok; nothing was deleted then
};

/// Receives progress on a worker thread; must return at once (post, never wait).
using ProgressCallback = std::function<void(const DownloadProgress&)>;

class DownloadJob {
public:
    /// `fetch` GETs a chapter page within the time limit; by default fetch_page.
    using ChapterFetch = Fetchers::Fetch;

    DownloadJob(ThreadPool& pool, DownloadRequest request, ChapterFetch fetch = {});
    ~DownloadJob();
    DownloadJob(const DownloadJob&) = delete;
    DownloadJob& operator=(const DownloadJob&) = delete;

    /// Writes the progress file, starts the pool with the thread count and posts one task per
    /// chapter. Called on the thread that owns the pool.
    StartStatus start(ProgressCallback on_progress);

    /// The timer's check: when every task has finished, stops the pool and returns true.
    bool check_download_done();

    /// Stops the download: chapters not yet begun are dropped, running ones end at their next
    /// step; only whole chapter files stay, and running the download again resumes it.
    void cancel();

    /// What happened, once check_download_done() has returned true.
    DownloadSummary summary() const;

    /// Joins the chapter files in chapter order into the book file (written whole under a
    /// temporary name, then renamed), and only then deletes this book's chapter files, its
    /// progress file and its folder once empty. A failed write deletes nothing.
    MergeResult merge_chapters();
    /// Deletes this book's chapter files, progress file and folder (once the book files that
    /// need them are written).
    void remove_chapter_files();

    const DownloadRequest& request() const;
    /// The book's own folder (GBK), where the chapter files are.
    std::string download_folder() const;
    std::string book_file() const;
    /// The file of chapter `number` (1-based), as named for this download.
    std::string chapter_file(int number) const;

private:
    struct Shared;
    ThreadPool& pool_;
    std::shared_ptr<Shared> shared_;
};

/// The question asked once a download has ended; the GUI answers with a message box, the
/// command line with a flag, tests with a scripted answer.
class MergeQuestion {
public:
    virtual ~MergeQuestion() = default;
    /// True to join the chapters. `summary` tells which chapters failed.
    virtual bool ask_merge(const DownloadSummary& summary) = 0;
};

/// "当前进度：" + `percent` written like %.6g + "%" (GBK).
std::string progress_text(float percent);

/// How fast a download goes `elapsed_s` seconds into this run. Only chapters fetched in this run
/// count: ones an earlier run completed cost no time.
struct DownloadPace {
    double rate = 0;         ///< chapters a second; 0 while none was fetched
    double seconds_left = 0; ///< 0 when unknown (rate 0) or when nothing is left
};
DownloadPace download_pace(const DownloadProgress& progress, double elapsed_s);

/// `seconds` as "m:ss", rounded to the second.
std::string duration_text(double seconds);

/// What a fetched chapter page says about the site's health.
RequestVerdict verdict_of(const FetchedPage& page, const Outcome& outcome);

} // namespace tovani
