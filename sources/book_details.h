#pragma once
// Book details: seven facts about a book read from its page on the site.

#include <optional>
#include <string>
#include <string_view>

#include "sources/book_source.h"
#include "sources/outcome.h"

namespace tovani {

struct BookDetails {
    std::string cover_url;
    std::string author;
    std::string title;
    std::string update_time;
    std::string status;
    std::string latest_chapter;
    std::string description;
    bool operator==(const BookDetails&) const = default;
};

struct DetailsOutcome {
    Outcome outcome;                    ///< ok, or why the book page could not be read
    std::optional<BookDetails> details; ///< set when the details window should open
    bool refused = false;               ///< the source shows no details ("暂不支持！")
};

/// Requests the details of the book in `hit` (a row of the result list). Every field is
/// replaced: a marker the page lacks gives an empty field, never another book's value.
DetailsOutcome request_book_details(const BookSource& source, const SearchHit& hit,
                                    const Fetchers& fetchers = network_fetchers());

/// Reads the details out of an already fetched book page.
DetailsOutcome parse_book_details(const SourceRule& rule, const SearchHit& hit,
                                  std::string_view body);

} // namespace tovani
