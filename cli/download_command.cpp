// `tovani download`: list the chapters, download them with a live progress display, report
// failures honestly and merge on request.

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iomanip>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "cli/cli.h"
#include "cli/commands.h"
#include "download/book_output.h"
#include "download/download_job.h"
#include "download/download_store.h"
#include "download/thread_pool.h"
#include "sources/book_details.h"
#include "sources/chapter_list.h"
#include "text/encoding.h"

namespace tovani::cli {
namespace {

using Clock = std::chrono::steady_clock;

// The latest progress, written by workers, read by the display loop.
class ProgressBox {
public:
    void set(const DownloadProgress& p) {
        std::lock_guard lock(mutex_);
        if (p.finished >= latest_.finished) {
            latest_ = p;
        }
    }
    DownloadProgress get() const {
        std::lock_guard lock(mutex_);
        return latest_;
    }

private:
    mutable std::mutex mutex_;
    DownloadProgress latest_;
};

// "[#####.....] 120/2000 chapters  35.2/s  0:53 left  2 failed". The rate and the time left
// count only chapters fetched in this run: ones an earlier run completed cost no time.
std::string progress_line(const DownloadProgress& p, double elapsed, bool bar) {
    std::ostringstream os;
    if (bar) {
        const int width = 30;
        const int filled = p.total ? p.finished * width / p.total : 0;
        os << "[" << std::string(static_cast<std::size_t>(filled), '#')
           << std::string(static_cast<std::size_t>(width - filled), '.') << "] ";
    }
    const DownloadPace pace = download_pace(p, elapsed);
    os << p.finished << "/" << p.total << " chapters  " << std::fixed << std::setprecision(1)
       << pace.rate << "/s";
    if (pace.seconds_left > 0) {
        os << "  " << duration_text(pace.seconds_left) << " left";
    }
    os << "  " << p.failed << " failed";
    return os.str();
}

// Ctrl-C asks the download to stop; the chapters already written stay.
std::atomic<bool> interrupted{false};

void on_interrupt(int) {
    interrupted = true;
}

// Catches SIGINT while it lives, so an interrupted download can end cleanly and say how to
// resume; the earlier handler comes back afterwards.
class InterruptGuard {
public:
    InterruptGuard() {
        interrupted = false;
        struct sigaction action {};
        action.sa_handler = on_interrupt;
        sigemptyset(&action.sa_mask);
        installed_ = ::sigaction(SIGINT, &action, &previous_) == 0;
    }
    ~InterruptGuard() {
        if (installed_) {
            ::sigaction(SIGINT, &previous_, nullptr);
        }
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    struct sigaction previous_ {};
    bool installed_ = false;
};

// The name and author for the files: as given, else the book's details, else the title of
// its chapter list page; and the cover's address when the details name one.
struct BookNames {
    std::string name;   ///< GBK
    std::string author; ///< GBK
    std::string cover_url;
};

BookNames book_names(const CommandOptions& o, const BookSource& source, const std::string& link,
                     const ChapterListResult& list, bool want_cover) {
    BookNames names{utf8_to_text(o.name), utf8_to_text(o.author), {}};
    if (!names.name.empty() && !names.author.empty() && !want_cover) {
        return names;
    }
    const DetailsOutcome details =
        request_book_details(source, {1, names.name, names.author, link});
    if (details.details) {
        if (names.name.empty()) {
            names.name = details.details->title;
        }
        if (names.author.empty()) {
            names.author = details.details->author;
        }
        names.cover_url = details.details->cover_url;
    }
    if (names.name.empty()) {
        names.name = list.book_title;
    }
    if (names.author.empty()) {
        names.author = gbk("佚名"); // the site names no author
    }
    return names;
}

BookFormats formats_of(const CommandOptions& o) {
    BookFormats f;
    f.txt = o.formats.empty() ||
            std::find(o.formats.begin(), o.formats.end(), "txt") != o.formats.end();
    f.epub = std::find(o.formats.begin(), o.formats.end(), "epub") != o.formats.end();
    f.encoding = encoding_named(o.encoding);
    f.convert = conversion_named(o.convert);
    return f;
}

} // namespace

int download_command(const CommandOptions& o, Io io) {
    const SourceTable table = load_sources(io);
    const BookSource* source = pick_source(table, o, io);
    if (!source) {
        return exit_usage;
    }
    const std::string book_link = utf8_to_text(o.link);
    ChapterListResult list = list_chapters(*source, book_link);
    if (list.status != ChapterListStatus::ok) {
        return report_failure(io, *source, list.outcome);
    }
    const BookFormats formats = formats_of(o);
    // An EPUB is a merge; either way a book file is asked for.
    const bool make_book = (o.merge || formats.epub) && !o.no_merge;
    const BookNames names = book_names(o, *source, book_link, list, make_book && formats.epub);
    if (names.name.empty()) {
        io.err << "tovani download: the book's name cannot be read from the site; give --name\n";
        return exit_usage;
    }

    DownloadRequest request;
    request.source = *source;
    request.book_name = names.name;
    request.book_author = names.author;
    request.chapters = std::move(list.chapters);
    request.thread_count = o.threads;
    if (!o.out.empty()) {
        request.base_folder = utf8_to_text(o.out);
        if (request.base_folder.back() != '/') {
            request.base_folder += '/';
        }
    }

    InterruptGuard interrupt;
    ThreadPool pool;
    DownloadJob job(pool, std::move(request));
    ProgressBox box;
    const auto started = Clock::now();
    switch (job.start([&box](const DownloadProgress& p) { box.set(p); })) {
    case StartStatus::started:
        break;
    case StartStatus::no_chapters:
        io.err << "未找到章节信息！\n";
        return exit_no_match;
    case StartStatus::pool_busy:
        io.err << "tovani: the worker pool could not start\n";
        return exit_no_match;
    case StartStatus::write_failed:
        io.err << "tovani: cannot write to " << to_utf8(job.download_folder()) << "\n";
        return exit_no_match;
    }
    io.err << "downloading " << to_utf8(names.name) << "  " << to_utf8(names.author) << " into "
           << to_utf8(job.download_folder()) << "\n";

    const bool live = isatty(STDERR_FILENO) == 1;
    auto last_line = Clock::now();
    int last_finished = -1;
    auto last_draw = Clock::now();
    while (!job.check_download_done()) {
        if (interrupted) {
            job.cancel();
            break;
        }
        // A short poll so the end of the download is noticed at once; the display is redrawn
        // ten times a second.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (Clock::now() - last_draw < std::chrono::milliseconds(100)) {
            continue;
        }
        last_draw = Clock::now();
        const DownloadProgress p = box.get();
        const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
        if (live) {
            io.err << "\r" << progress_line(p, elapsed, true) << "\033[K" << std::flush;
        } else if (p.finished != last_finished &&
                   Clock::now() - last_line >= std::chrono::seconds(1)) {
            io.err << progress_line(p, elapsed, false) << "\n";
            last_line = Clock::now();
            last_finished = p.finished;
        }
    }
    const DownloadSummary summary = job.summary();
    const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
    DownloadProgress done = box.get();
    done.total = summary.total;
    done.finished = summary.downloaded + summary.skipped + static_cast<int>(summary.failed.size());
    done.failed = static_cast<int>(summary.failed.size());
    done.skipped = summary.skipped;
    io.err << (live ? "\r" : "") << progress_line(done, elapsed, live)
           << (live ? "\033[K\n" : "\n");
    io.err << "downloaded " << summary.downloaded << ", already complete " << summary.skipped
           << ", failed " << summary.failed.size() << " of " << summary.total << " chapters in "
           << std::fixed << std::setprecision(1) << elapsed << " s\n";

    const std::string folder = to_utf8(job.download_folder());
    if (summary.cancelled && interrupted) {
        io.err << "interrupted: the " << summary.downloaded + summary.skipped
               << " chapters saved so far stay in " << folder
               << "; run the same command again to fetch the rest\n";
        return 130;
    }
    if (summary.stopped_by_site) {
        io.err << "tovani: the site refuses to serve the book ("
               << (summary.site_reason.empty() ? "no answer" : to_utf8(summary.site_reason))
               << "); stopped early so as not to hammer it. The "
               << summary.downloaded + summary.skipped << " chapters saved so far stay in "
               << folder << "; run the same command again later to fetch the other "
               << summary.not_tried << "\n";
        return exit_site_failed;
    }
    if (!summary.failed.empty()) {
        io.err << "these chapters failed:\n";
        for (const ChapterEntry& c : summary.failed) {
            io.err << "  " << c.number << "  " << to_utf8(c.name) << "  " << to_utf8(c.link)
                   << "\n";
        }
        io.err << "run the same command again to fetch them; the chapters already saved are kept"
               << " in " << folder << "\n";
        if (o.merge) {
            io.err << "not merging while chapters are missing\n";
        }
        return exit_site_failed;
    }

    // The shelf keeps the book, its chapters and their texts, for `tovani update`.
    const std::string cover =
        make_book && formats.epub ? fetch_cover(*source, names.cover_url) : std::string();
    const DownloadEnd end = finish_download(job, book_link, formats, make_book, cover);
    if (!end.shelf_error.empty()) {
        io.err << "tovani: the book is not on the shelf: " << end.shelf_error << "\n";
    }
    if (!make_book) {
        io.out << folder << "\n";
        return exit_ok;
    }
    const BookFilesResult& written = end.files;
    if (!written.ok) {
        io.err << "tovani: " << to_utf8(written.error) << "; the chapter files are kept in "
               << folder << "\n";
        return exit_no_match;
    }
    for (const std::string& file : written.files) {
        io.out << to_utf8(file) << "\n";
    }
    return exit_ok;
}

} // namespace tovani::cli
