#pragma once
// Book details: seven facts about a book read from its page on the site.

#include <optional>
#include <string>

#include "sources/book_source.h"
#include "sources/sites_config.h"

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
    std::optional<BookDetails> details; ///< set when the details window should open
    std::optional<Message> refusal;     ///< set when the source has no details ("暂不支持！")
};

/// Requests the details of the book in `hit` (a row of the result list) from `source`.
/// A failed fetch gives empty fields, never another book's values.
DetailsOutcome request_book_details(int source, const SearchHit& hit,
                                    const Fetchers& fetchers = network_fetchers());

/// Reads the details out of an already fetched book page.
DetailsOutcome parse_book_details(int source, const SearchHit& hit, std::string_view body);

} // namespace tovani
