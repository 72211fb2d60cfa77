#include "download/book_update.h"

#include <atomic>
#include <ctime>
#include <set>
#include <thread>

#include "download/file_io.h"
#include "download/thread_pool.h"
#include "sources/chapter_list.h"
#include "text/encoding.h"

namespace tovani {

UpdateReport update_book(Shelf& shelf, const SourceTable& sources, const ShelfBook& book,
                         HostGates& gates, const UpdateOptions& options) {
    UpdateReport report;
    report.book = book.id;
    report.name = book.name;
    report.author = book.author;
    const BookSource* source = sources.find(book.source);
    if (source == nullptr) {
        report.outcome = {OutcomeKind::unreachable, 0,
                          "book source " + std::to_string(book.source) + " is not loaded"};
        return report;
    }
    const ChapterListResult list = list_chapters(*source, book.link, *options.fetchers);
    if (list.status != ChapterListStatus::ok) {
        report.outcome = list.outcome;
        return report;
    }

    // Chapters are matched by link: a chapter the site renumbered keeps its text.
    std::set<std::string> have;
    for (const Shelf::Chapter& c : shelf.chapters(book.id)) {
        if (c.downloaded) {
            have.insert(c.entry.link);
        }
    }
    std::vector<ChapterEntry> missing;
    for (const ChapterEntry& c : list.chapters) {
        if (!have.contains(c.link)) {
            missing.push_back({static_cast<int>(missing.size()) + 1, c.name, c.link});
        }
    }
    // The new list first, in one transaction: texts stay with their links.
    if (shelf.save_book(book, list.chapters) == 0) {
        report.error = gbk("无法写入书架：") + utf8_to_text(shelf.last_error());
        return report;
    }
    shelf.set_checked(book.id, std::time(nullptr));

    if (!missing.empty()) {
        DownloadRequest request;
        request.source = *source;
        request.book_name = book.name;
        request.book_author = book.author;
        request.chapters = missing;
        request.thread_count = options.thread_count;
        request.base_folder = book.base_folder;
        request.retry = options.retry;
        request.gate = gates.gate(*source);
        ThreadPool pool;
        DownloadJob job(pool, std::move(request), options.chapter_fetch);
        if (job.start({}) != StartStatus::started) {
            report.error = gbk("无法写入：") + job.download_folder();
            return report;
        }
        while (!job.check_download_done()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const DownloadSummary summary = job.summary();
        report.failed_chapters = summary.total - summary.downloaded - summary.skipped;
        // The new texts go to the shelf in one transaction; then the files can go.
        const int stored = store_job_texts(shelf, book.id, job);
        if (stored < 0) {
            report.error = gbk("无法写入书架：") + utf8_to_text(shelf.last_error());
            return report;
        }
        job.remove_chapter_files();
        report.new_chapters = stored;
        if (summary.stopped_by_site) {
            report.outcome = {OutcomeKind::blocked, 0, summary.site_reason};
        }
        if (stored > 0) {
            shelf.set_updated(book.id, std::time(nullptr));
        }
    }

    // The book files again, in the formats the book was saved in, once there is anything new.
    const BookFormats formats = BookFormats::of(book);
    if (report.new_chapters > 0 && formats.any()) {
        ShelfChapters chapters(shelf, book.id);
        if (chapters.complete()) {
            BookInfo info{book.name, book.author, book_identifier(book.source, book.link),
                          book.cover, std::time(nullptr)};
            const BookFilesResult files =
                write_book_files(book.base_folder, info, chapters, formats);
            if (!files.ok) {
                report.error = files.error;
                return report;
            }
            report.files = files.files;
        }
    }
    return report;
}

std::vector<UpdateReport> update_books(Shelf& shelf, const SourceTable& sources,
                                       const std::vector<ShelfBook>& books, int parallel,
                                       const UpdateOptions& options) {
    std::vector<UpdateReport> reports(books.size());
    HostGates gates;
    std::atomic<std::size_t> next{0};
    {
        std::vector<std::jthread> workers;
        const std::size_t count =
            std::min<std::size_t>(books.size(), static_cast<std::size_t>(std::max(1, parallel)));
        for (std::size_t w = 0; w < count; ++w) {
            workers.emplace_back([&] {
                for (std::size_t i; (i = next.fetch_add(1)) < books.size();) {
                    reports[i] = update_book(shelf, sources, books[i], gates, options);
                }
            });
        }
    }
    return reports;
}

} // namespace tovani
