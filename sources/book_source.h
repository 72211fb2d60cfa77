#pragma once
// The eight book sources and the value types their adapters produce.
// All texts are GBK.

#include <functional>
#include <optional>
#include <string>

namespace tovani {

inline constexpr int source_count = 8;

/// Whether `source` is 1..8.
inline bool is_valid_source(int source) { return source >= 1 && source <= source_count; }

/// Sources 1, 4 and 8 are served over https, the others over http.
bool is_https_source(int source);

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

enum class MessageIcon { error, information, question };

/// A message box the front end shows: text, icon and title (GBK).
struct Message {
    std::string text;
    MessageIcon icon = MessageIcon::error;
    std::string title;
    bool operator==(const Message&) const = default;
};

/// How the adapters reach the sites. Tests replace these with fixtures.
struct Fetchers {
    /// GET with every default of fetch_page; the body, empty on failure.
    std::function<std::string(const std::string& url)> page;
    /// GET with fetch_page_winhttp; the raw body delivered in body_out.
    std::function<std::string(const std::string& url)> winhttp_body;
};

/// The fetchers that go to the network.
const Fetchers& network_fetchers();

} // namespace tovani
