#pragma once
// Chapter lists: a book's table-of-contents page becomes its ordered chapters.

#include <optional>
#include <string_view>
#include <vector>

#include "sources/book_source.h"
#include "sources/sites_config.h"

namespace tovani {

enum class ChapterListStatus {
    ok,
    pattern_failed,   ///< the pattern could not be compiled or run
    no_chapters,      ///< the pattern matched nothing (also: the page could not be fetched)
    page_unsupported, ///< source 4 only: the page lacks the chapter-block heading
};

struct ChapterListResult {
    ChapterListStatus status = ChapterListStatus::no_chapters;
    std::vector<ChapterEntry> chapters; ///< numbered from 1, in page order; empty unless ok
};

/// Fetches `book_link` and lists its chapters for `source` (1..8).
ChapterListResult list_chapters(const Sites& sites, int source, std::string_view book_link,
                                const Fetchers& fetchers = network_fetchers());

/// Lists the chapters of an already fetched table-of-contents body.
ChapterListResult parse_chapter_list(const Sites& sites, int source, std::string_view book_link,
                                     std::string_view body);

/// The message box for an outcome other than ok; `closes_window` is set for page_unsupported.
struct ChapterListMessage {
    Message message;
    bool closes_window = false;
};
std::optional<ChapterListMessage> chapter_list_message(int source, ChapterListStatus status);

} // namespace tovani
