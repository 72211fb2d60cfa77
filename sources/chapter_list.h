#pragma once
// Chapter lists: a book's table-of-contents page becomes its ordered chapters.

#include <string_view>
#include <vector>

#include "sources/book_source.h"
#include "sources/outcome.h"

namespace tovani {

enum class ChapterListStatus {
    ok,
    pattern_failed,   ///< the pattern could not be compiled or gave up on the page
    no_chapters,      ///< nothing was listed: the page did not come, or the pattern found nothing
    page_unsupported, ///< the page lacks the marker the rule requires
};

struct ChapterListResult {
    ChapterListStatus status = ChapterListStatus::no_chapters;
    /// ok with chapters; else why there are none (the site failed, or the page does not fit).
    Outcome outcome;
    std::vector<ChapterEntry> chapters; ///< numbered from 1, in page order; empty unless ok
    /// The book name the page's title carries ("书名_作者_站名" gives 书名); "" without a title.
    std::string book_title;
};

/// Fetches `book_link` and lists its chapters.
ChapterListResult list_chapters(const BookSource& source, std::string_view book_link,
                                const Fetchers& fetchers = network_fetchers());

/// Lists the chapters of an already fetched book page body.
ChapterListResult parse_chapter_list(const BookSource& source, std::string_view book_link,
                                     std::string_view body);

} // namespace tovani
