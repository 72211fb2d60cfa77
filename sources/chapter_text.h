#pragma once
// The readable text of a chapter page.

#include <optional>
#include <string>
#include <string_view>

#include "sources/book_source.h"
#include "sources/outcome.h"

namespace tovani {

/// Cuts the chapter out of `body` (the page as fetched) with the rule's markers, turns the
/// site's line-break tags into CR LF as the rule's replacements say and decodes HTML character
/// references ("&nbsp;" becomes a space). nullopt when the page lacks the markers: an error
/// page or a challenge rather than an empty chapter.
std::optional<std::string> try_extract_chapter_text(const TextRule& rule, std::string_view body);

/// The same, with "" when a marker is missing.
std::string extract_chapter_text(const TextRule& rule, std::string_view body);

struct ChapterTextResult {
    Outcome outcome; ///< ok, or why there is no text (the site failed, the page does not fit)
    std::string text;
};

/// Fetches the chapter page at `link` and extracts its text.
ChapterTextResult fetch_chapter_text(const BookSource& source, std::string_view link,
                                     const Fetchers& fetchers = network_fetchers());

/// The outcome of a fetched chapter page: the fetch's own failure, else whether the page
/// carries the rule's markers (a page without them is a challenge or a changed layout), with
/// the text when it does.
ChapterTextResult chapter_text_of(const BookSource& source, const FetchedPage& page);

} // namespace tovani
