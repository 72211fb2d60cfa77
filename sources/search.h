#pragma once
// Book search: a keyword becomes the hits of one source, or the outcome that says why not.

#include <string>
#include <string_view>
#include <vector>

#include "sources/book_source.h"
#include "sources/outcome.h"

namespace tovani {

struct SearchOutcome {
    std::vector<SearchHit> hits; ///< in the order the site lists them, numbered from 1
    /// ok with hits; no match when the site answered without any; else why the site failed.
    Outcome outcome;
    /// A pattern did not compile and the rule reports that apart from "nothing found".
    bool pattern_error = false;
    /// The pager listed more pages than the rule follows; the rows stop there.
    bool pages_capped = false;
};

/// The keyword checks of a search: false for a text of ASCII and full-width spaces only and for
/// `placeholder` (the search box's hint) itself. A search that fails them fetches nothing.
bool is_searchable_keyword(std::string_view box_text, std::string_view placeholder = {});

/// Searches `source` for `keyword` (GBK, exactly as typed). Never throws.
SearchOutcome search_source(const BookSource& source, std::string_view keyword,
                            const Fetchers& fetchers = network_fetchers());

} // namespace tovani
