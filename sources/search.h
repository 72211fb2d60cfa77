#pragma once
// Book search: a keyword becomes the hits of one source, or the message to show instead.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sources/book_source.h"
#include "sources/sites_config.h"

namespace tovani {

struct SearchOutcome {
    std::vector<SearchHit> hits; ///< in the order the site lists them, numbered from 1
    std::optional<Message> message; ///< set when the search ended with a message box
};

/// The search box's grey hint (GBK).
const std::string& search_placeholder();

/// The keyword checks of a search: false for a text of ASCII and full-width spaces only and for
/// the placeholder itself. A search that fails them fetches nothing and shows nothing.
bool is_searchable_keyword(std::string_view box_text);

/// Searches `source` (1..8) for `keyword` (GBK, exactly as typed). Never throws; a site that
/// cannot be reached ends with "搜索不到！".
SearchOutcome search_source(const Sites& sites, int source, std::string_view keyword,
                            const Fetchers& fetchers = network_fetchers());

} // namespace tovani
