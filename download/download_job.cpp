#include "download/download_job.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <thread>

#include "download/download_store.h"
#include "download/thread_pool.h"
#include "sources/chapter_text.h"
#include "text/encoding.h"

namespace tovani {

struct DownloadJob::Shared {
    DownloadRequest request;
    ChapterFetch fetch;
    ProgressCallback on_progress;
    std::shared_ptr<HostGate> gate;

    std::string base; ///< folder holding "小说下载", ending in "/" (or "" for relative)
    std::string folder;
    std::string progress_path;
    std::string book_path;
    ProgressFile progress; ///< what the progress file holds; read-only once tasks run
    std::vector<std::string> chapter_paths;
    std::vector<char> reusable; ///< per chapter: its file from an earlier run is complete

    float step = 0;
    std::atomic<float> percent{0};
    std::atomic<int> finished{0};
    std::atomic<int> downloaded{0};
    std::atomic<int> skipped{0};
    std::atomic<int> not_tried{0};
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

    enum class Ending { written, failed, not_tried };
    void run_chapter(int number);
    void report(Ending ending, int number);
};

namespace {

// A chapter file of an earlier run is reused only when that run's progress file listed the
// same chapter under the same number: a site that inserts or renumbers chapters never gets
// one chapter's text saved under another.
bool same_entry(const ProgressFile& earlier, int number, const std::string& name,
                const std::string& link) {
    return earlier.entry_link(number) == link && earlier.entry_name(number) == name;
}

} // namespace

RequestVerdict verdict_of(const FetchedPage& page, const Outcome& outcome) {
    if (outcome.ok()) {
        return RequestVerdict::success;
    }
    if (page.status == 429 || page.status == 503) {
        return RequestVerdict::throttled;
    }
    if (outcome.kind == OutcomeKind::unreachable ||
        (outcome.kind == OutcomeKind::http_error && page.status >= 500)) {
        return RequestVerdict::failed;
    }
    return RequestVerdict::neutral;
}

std::string progress_text(float percent) {
    static const std::string prefix = gbk("当前进度：");
    char number[32];
    std::snprintf(number, sizeof number, "%.6g", static_cast<double>(percent));
    return prefix + number + "%";
}

DownloadPace download_pace(const DownloadProgress& progress, double elapsed_s) {
    DownloadPace pace;
    const int fetched = progress.finished - progress.skipped;
    if (elapsed_s > 0 && fetched > 0) {
        pace.rate = fetched / elapsed_s;
        pace.seconds_left = (progress.total - progress.finished) / pace.rate;
    }
    return pace;
}

std::string duration_text(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

void DownloadJob::Shared::report(Ending ending, int number) {
    if (ending == Ending::failed) {
        std::lock_guard lock(mutex);
        const ChapterEntry& c = request.chapters[static_cast<std::size_t>(number - 1)];
        failed.push_back({number, progress.entry_name(number), c.link});
    } else if (ending == Ending::not_tried) {
        not_tried.fetch_add(1);
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
        p.skipped = skipped.load();
        p.percent = sum;
        p.text = progress_text(sum);
        on_progress(p);
    }
}

void DownloadJob::Shared::run_chapter(int number) {
    const auto index = static_cast<std::size_t>(number - 1);
    const std::string& path = chapter_paths[index];
    if (reusable[index]) {
        skipped.fetch_add(1);
        report(Ending::written, number);
        return;
    }
    const std::string link = progress.entry_link(number);
    const RetryPolicy& retry = request.retry;
    const auto timeout = request.source.rule.politeness.page_timeout;
    auto delay = retry.backoff;
    int failures = 0;
    int refusals = 0;
    const auto stop = [this] { return cancelled.load(); };
    while (failures < std::max(1, retry.attempts) && refusals <= retry.throttled_tries) {
        const std::optional<HostGate::Ticket> ticket = gate->enter(stop);
        if (!ticket) {
            // The site refused once too often, or the download was cancelled: not tried.
            report(Ending::not_tried, number);
            return;
        }
        const FetchedPage page = fetch(link, timeout);
        const ChapterTextResult chapter = chapter_text_of(request.source, page);
        const RequestVerdict verdict = verdict_of(page, chapter.outcome);
        if (verdict == RequestVerdict::throttled || verdict == RequestVerdict::failed) {
            gate->note_failure(chapter.outcome.reason);
        }
        const bool site_failing = gate->leave(*ticket, verdict, page.retry_after);
        if (chapter.outcome.ok()) {
            if (write_file(path, chapter.text)) {
                downloaded.fetch_add(1);
                report(Ending::written, number);
                return;
            }
            break; // a file that cannot be written will not be written by trying again
        }
        // A refusal while the site's limit is being lowered is the site asking for patience,
        // not a failure of this chapter: the gate paces the next try.
        if (verdict == RequestVerdict::throttled && !site_failing) {
            ++refusals;
            continue;
        }
        if (++failures >= retry.attempts) {
            break;
        }
        if (!back_off(delay)) {
            break;
        }
        delay *= 2;
    }
    report(gate->tripped() || cancelled.load() ? Ending::not_tried : Ending::failed, number);
}

DownloadJob::DownloadJob(ThreadPool& pool, DownloadRequest request, ChapterFetch fetch)
    : pool_(pool), shared_(std::make_shared<Shared>()) {
    Shared& s = *shared_;
    s.request = std::move(request);
    s.fetch = fetch ? std::move(fetch) : network_fetchers().page;
    s.gate = s.request.gate ? s.request.gate
                            : std::make_shared<HostGate>(s.request.source.rule.politeness);
    s.base = chosen_or_desktop(s.request.base_folder);
    s.folder = book_folder(s.base, s.request.book_name, s.request.book_author);
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
    // What an earlier run of this book recorded; a file that is there but unreadable is never
    // overwritten.
    ProgressFile earlier;
    if (!earlier.load(s.progress_path)) {
        return StartStatus::write_failed;
    }
    s.progress = earlier; // this run's entries go over the earlier ones
    s.chapter_paths.reserve(static_cast<std::size_t>(total));
    s.reusable.assign(static_cast<std::size_t>(total), 0);
    for (const ChapterEntry& c : s.request.chapters) {
        const int number = static_cast<int>(s.chapter_paths.size()) + 1;
        s.progress.set_entry(number, c.name, c.link);
        // Files are named after the name as the progress file gives it back.
        const std::string name = s.progress.entry_name(number);
        const std::string path = chapter_file_path(s.folder, number, name);
        const std::string earlier_name = earlier.entry_name(number);
        const bool same = same_entry(earlier, number, name, c.link);
        if (!earlier_name.empty() && !same) {
            // The chapter under this number has changed: its old file is another chapter's.
            delete_file(chapter_file_path(s.folder, number, earlier_name));
        }
        s.reusable[static_cast<std::size_t>(number - 1)] =
            s.request.resume && same && file_exists(path);
        s.chapter_paths.push_back(path);
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
    out.cancelled = s.cancelled.load();
    out.stopped_by_site = s.gate->tripped();
    out.site_reason = s.gate->trip_reason();
    // Chapters a cancel dropped before they began never reported; count them as not tried.
    out.not_tried = out.total - out.downloaded - out.skipped - static_cast<int>(out.failed.size());
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
        chapter.clear();
        if (!read_file(chapter_file(n), chapter)) {
            result.error = gbk("无法读取章节文件：") + chapter_file(n);
            return result;
        }
        book.append(s.progress.entry_name(n));
        book.append("\r\n");
        book.append(chapter);
        book.append("\r\n\r\n");
    }
    if (!book.commit()) {
        result.error = gbk("无法写入整本书文件：") + s.book_path;
        return result;
    }
    // Only a complete book file lets this book's chapter files and progress file go.
    remove_chapter_files();
    result.ok = true;
    return result;
}

void DownloadJob::remove_chapter_files() {
    Shared& s = *shared_;
    for (int n = 1; n <= static_cast<int>(s.request.chapters.size()); ++n) {
        delete_file(chapter_file(n));
    }
    delete_file(s.progress_path);
    remove_empty_folder(s.folder);
}

std::string DownloadJob::chapter_file(int number) const {
    const Shared& s = *shared_;
    if (number < 1 || number > static_cast<int>(s.request.chapters.size())) {
        return {};
    }
    return s.chapter_paths.empty()
               ? chapter_file_path(s.folder, number, s.progress.entry_name(number))
               : s.chapter_paths[static_cast<std::size_t>(number - 1)];
}

const DownloadRequest& DownloadJob::request() const {
    return shared_->request;
}
std::string DownloadJob::download_folder() const {
    return shared_->folder;
}
std::string DownloadJob::book_file() const {
    return shared_->book_path;
}

} // namespace tovani
