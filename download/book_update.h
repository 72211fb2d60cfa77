#pragma once
// Keeping a shelf book current: read its chapter list again, fetch only the chapters whose
// links have no text on the shelf yet, and write its book files again from the shelf.

#include <chrono>
#include <string>
#include <vector>

#include "download/book_output.h"
#include "download/shelf.h"
#include "sources/outcome.h"
#include "sources/source_table.h"

namespace tovani {

struct UpdateReport {
    std::int64_t book = 0;
    std::string name;   ///< GBK
    std::string author; ///< GBK
    /// ok, or why the book could not be checked (its site failed, its page changed).
    Outcome outcome;
    int new_chapters = 0;           ///< chapters new in the list and downloaded now
    int failed_chapters = 0;        ///< new chapters that could not be downloaded this time
    std::vector<std::string> files; ///< GBK book files written again
    std::string error;              ///< GBK: something on this machine failed
    bool checked() const { return outcome.ok() && error.empty(); }
};

struct UpdateOptions {
    /// Fetchers for the chapter list; the chapters themselves go through `chapter_fetch`.
    const Fetchers* fetchers = &network_fetchers();
    DownloadJob::ChapterFetch chapter_fetch;
    int thread_count = 8; ///< workers per book; the site's gate limits requests anyway
    RetryPolicy retry;
};

/// Updates one shelf book. `gates` keeps downloads from the same site polite together.
UpdateReport update_book(Shelf& shelf, const SourceTable& sources, const ShelfBook& book,
                         HostGates& gates, const UpdateOptions& options = {});

/// Updates `books` concurrently (at most `parallel` at once), in the order given.
std::vector<UpdateReport> update_books(Shelf& shelf, const SourceTable& sources,
                                       const std::vector<ShelfBook>& books, int parallel = 8,
                                       const UpdateOptions& options = {});

} // namespace tovani
