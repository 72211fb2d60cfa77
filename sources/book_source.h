#pragma once
// A book source (a rule and the host it lives at), the rows its adapters produce, and how they
// reach the sites. All texts are GBK unless a comment says otherwise.

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "http/fetch.h"
#include "sources/source_rule.h"

namespace tovani {

/// One book source: its rule and where it lives.
struct BookSource {
    SourceRule rule;
    std::string rule_origin; ///< "built-in 02.toml" or the rule file's path (UTF-8)
    std::string rule_text;   ///< the rule file exactly as loaded
    std::string host;        ///< "host" or "host:port"
    std::string host_origin; ///< e.g. "environment TOVANI_SITE_HOST_3" (UTF-8)
    std::string host_error;  ///< why the host cannot be used (UTF-8); empty when it can

    int id() const { return rule.id; }
    bool usable() const { return host_error.empty(); }
    bool is_builtin() const { return rule.id >= 1 && rule.id <= builtin_source_count; }
    /// Scheme and host without a trailing slash, e.g. "https://127.0.0.1:18441".
    std::string site_root() const;
};

/// One row of the main window's result list.
struct SearchHit {
    int number = 0;
    std::string name;
    std::string author;
    std::string link;
    bool operator==(const SearchHit&) const = default;
};

/// One row of the chapter window's list.
struct ChapterEntry {
    int number = 0;
    std::string name;
    std::string link;
    bool operator==(const ChapterEntry&) const = default;
};

/// A page as a fetcher brings it back.
struct FetchedPage {
    std::string body;
    int status = 0; ///< HTTP status of the final response; 0 when none arrived
    FetchFailure failure = FetchFailure::none;
    std::string reason; ///< the failure in the system's or libcurl's words (ASCII)
    std::optional<std::chrono::seconds> retry_after;
};

/// How the adapters reach the sites. Tests replace these with fixtures.
struct Fetchers {
    using Fetch =
        std::function<FetchedPage(const std::string& url, std::chrono::milliseconds timeout)>;
    /// GET with every default of fetch_page, bounded by `timeout` for the whole page.
    Fetch page;
    /// GET with fetch_page_winhttp; the raw body delivered in body_out.
    Fetch winhttp;
};

/// The fetchers that go to the network.
const Fetchers& network_fetchers();

} // namespace tovani
