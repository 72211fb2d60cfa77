#include "download/download_job.h"

#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <thread>

#include "download/download_store.h"
#include "download/thread_pool.h"
#include "http/fetch.h"
#include "sources/chapter_text.h"
#include "text/encoding.h"

namespace tovani {

struct DownloadJob::Shared {
    DownloadRequest request;
    ChapterFetch fetch;
    ProgressCallback on_progress;

    std::string base; ///< folder holding "小说下载", ending in "/" (or "" for relative)
    std::string folder;
    std::string progress_path;
    std::string book_path;
    ProgressFile progress; ///< what the progress file holds; read-only once tasks run
    std::vector<std::string> chapter_paths;

    float step = 0;
    std::atomic<float> percent{0};
    std::atomic<int> finished{0};
    std::atomic<int> downloaded{0};
    std::atomic<int> skipped{0};
    std::atomic<bool> cancelled{false};

    mutable std::mutex mutex; ///< guards failed and the back-off wait
    std::condition_variable wake;
    std::vector<ChapterEntry> failed;
    bool started = false;
    bool done = false;

    // Adds one chapter's step to the percentage as one atomic read-add-write.
    float add_step() {
        float old = percent.load();
        while (!percent.compare_exchange_weak(old, old + step)) {
        }
        return old + step;
    }

    // Waits before the next try; returns false when the job was cancelled meanwhile.
    bool back_off(std::chrono::milliseconds delay) {
        std::unique_lock lock(mutex);
        return !wake.wait_for(lock, delay, [this] { return cancelled.load(); });
    }

    // The file of chapter `n`, named as at the start of the download.
    std::string chapter_path(int n) const {
        return chapter_paths.empty() ? chapter_file_path(base, n, progress.entry_name(n))
                                     : chapter_paths[static_cast<std::size_t>(n - 1)];
    }

    void run_chapter(int number);
    void report(bool ok, int number);
};

namespace {

bool file_exists(const std::string& gbk_path) {
    struct stat st {};
    return ::stat(to_utf8(gbk_path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool is_throttled(int status) { return status == 429 || status == 503; }

} // namespace

std::string progress_text(float percent) {
    static const std::string prefix = gbk("当前进度：");
    char number[32];
    std::snprintf(number, sizeof number, "%.6g", static_cast<double>(percent));
    return prefix + number + "%";
}

void DownloadJob::Shared::report(bool ok, int number) {
    if (!ok) {
        std::lock_guard lock(mutex);
        const ChapterEntry& c = request.chapters[static_cast<std::size_t>(number - 1)];
        failed.push_back({number, progress.entry_name(number), c.link});
    }
    const float sum = add_step();
    const int count = finished.fetch_add(1) + 1;
    if (on_progress) {
        DownloadProgress p;
        p.finished = count;
        p.total = static_cast<int>(request.chapters.size());
        {
            std::lock_guard lock(mutex);
            p.failed = static_cast<int>(failed.size());
        }
        p.percent = sum;
        p.text = progress_text(sum);
        on_progress(p);
    }
}

void DownloadJob::Shared::run_chapter(int number) {
    const std::string& path = chapter_paths[static_cast<std::size_t>(number - 1)];
    // Chapter files are written whole under a temporary name and renamed, so one that exists
    // is complete.
    if (request.resume && file_exists(path)) {
        skipped.fetch_add(1);
        report(true, number);
        return;
    }
    const std::string link = progress.entry_link(number);
    const RetryPolicy& retry = request.retry;
    auto delay = retry.backoff;
    auto throttled_delay = retry.throttled_backoff;
    for (int attempt = 1; attempt <= std::max(1, retry.attempts); ++attempt) {
        if (cancelled.load()) {
            break;
        }
        const FetchedPage page = fetch(link, request.source.rule.politeness.page_timeout);
        const ChapterTextResult chapter = chapter_text_of(request.source, page);
        if (chapter.outcome.ok()) {
            if (write_file(path, chapter.text)) {
                downloaded.fetch_add(1);
                report(true, number);
                return;
            }
            break; // a file that cannot be written will not be written by trying again
        }
        if (attempt == retry.attempts) {
            break;
        }
        const auto wait = is_throttled(page.status) ? throttled_delay : delay;
        if (!back_off(wait)) {
            break;
        }
        delay *= 2;
        throttled_delay *= 2;
    }
    report(false, number);
}

DownloadJob::DownloadJob(ThreadPool& pool, DownloadRequest request, ChapterFetch fetch)
    : pool_(pool), shared_(std::make_shared<Shared>()) {
    Shared& s = *shared_;
    s.request = std::move(request);
    s.fetch = fetch ? std::move(fetch) : network_fetchers().page;
    s.base = s.request.base_folder.empty() ? desktop_folder() : s.request.base_folder;
    s.folder = tovani::download_folder(s.base);
    s.progress_path = progress_file_path(s.base, s.request.book_name, s.request.book_author);
    s.book_path = book_file_path(s.base, s.request.book_name, s.request.book_author);
}

DownloadJob::~DownloadJob() {
    // Workers still inside a chapter keep the shared state alive; they only need to hurry.
    shared_->cancelled = true;
    shared_->wake.notify_all();
}

StartStatus DownloadJob::start(ProgressCallback on_progress) {
    Shared& s = *shared_;
    if (s.started) {
        return StartStatus::pool_busy;
    }
    const int total = static_cast<int>(s.request.chapters.size());
    if (total < 1) {
        return StartStatus::no_chapters;
    }
    if (!create_directory(s.folder)) {
        return StartStatus::write_failed;
    }
    // A run that was killed may have left half-written temporaries; they are never renamed.
    remove_stale_temporary_files(s.folder);
    // An earlier progress file of the same book keeps its other keys.
    if (!s.progress.load(s.progress_path)) {
        return StartStatus::write_failed;
    }
    s.chapter_paths.reserve(static_cast<std::size_t>(total));
    for (const ChapterEntry& c : s.request.chapters) {
        const int number = static_cast<int>(s.chapter_paths.size()) + 1;
        s.progress.set_entry(number, c.name, c.link);
        // Files are named after the name as the progress file gives it back.
        s.chapter_paths.push_back(chapter_file_path(s.base, number, s.progress.entry_name(number)));
    }
    if (!s.progress.save(s.progress_path)) {
        return StartStatus::write_failed;
    }
    if (!pool_.start(std::max(1, s.request.thread_count))) {
        return StartStatus::pool_busy;
    }
    pool_.set_idle_timeout(2000);
    s.on_progress = std::move(on_progress);
    s.step = static_cast<float>(100.0 / total);
    s.percent = 0;
    s.started = true;
    for (int i = 1; i <= total; ++i) {
        // Each task holds the state it works on, so a job destroyed early is still safe.
        pool_.post_task([keep = shared_](int number, int) { keep->run_chapter(number); }, i);
    }
    return StartStatus::started;
}

bool DownloadJob::check_download_done() {
    Shared& s = *shared_;
    if (s.done) {
        return true;
    }
    if (!s.started || !pool_.is_all_done()) {
        return false;
    }
    pool_.stop();
    s.done = true;
    return true;
}

void DownloadJob::cancel() {
    shared_->cancelled = true;
    shared_->wake.notify_all();
    pool_.stop();
    shared_->done = true;
}

DownloadSummary DownloadJob::summary() const {
    const Shared& s = *shared_;
    DownloadSummary out;
    out.total = static_cast<int>(s.request.chapters.size());
    out.downloaded = s.downloaded.load();
    out.skipped = s.skipped.load();
    {
        std::lock_guard lock(s.mutex);
        out.failed = s.failed;
    }
    std::sort(out.failed.begin(), out.failed.end(),
              [](const ChapterEntry& a, const ChapterEntry& b) { return a.number < b.number; });
    out.download_folder = s.folder;
    out.progress_file = s.progress_path;
    return out;
}

MergeResult DownloadJob::merge_chapters() {
    Shared& s = *shared_;
    const int total = static_cast<int>(s.request.chapters.size());
    MergeResult result;
    result.book_file = s.book_path;
    if (total < 1) {
        result.error = gbk("章节整合错误！");
        return result;
    }
    // The book is written chapter by chapter into a temporary file that replaces the book file
    // only when it is whole.
    AtomicFileWriter book(s.book_path);
    std::string chapter;
    for (int n = 1; n <= total; ++n) {
        const std::string name = s.progress.entry_name(n);
        chapter.clear();
        if (!read_file(s.chapter_path(n), chapter)) {
            result.error = gbk("无法读取章节文件：") + s.chapter_path(n);
            return result;
        }
        book.append(name);
        book.append("\r\n");
        book.append(chapter);
        book.append("\r\n\r\n");
    }
    if (!book.commit()) {
        result.error = gbk("无法写入整本书文件：") + s.book_path;
        return result;
    }
    // Only a complete book file lets the chapter files and the progress file go.
    for (int n = 1; n <= total; ++n) {
        delete_file(s.chapter_path(n));
    }
    delete_file(s.progress_path);
    result.ok = true;
    return result;
}

const DownloadRequest& DownloadJob::request() const { return shared_->request; }
std::string DownloadJob::download_folder() const { return shared_->folder; }
std::string DownloadJob::book_file() const { return shared_->book_path; }

} // namespace tovani
