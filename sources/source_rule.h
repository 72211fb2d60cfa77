#pragma once
// What one book source is, as data: how to build its URLs and which markers and patterns cut
// its pages apart. A rule is read from a TOML rule file (see rule_loader.h); the C++ holds the
// few strategies a rule names, never per-site code.
//
// Patterns, markers and replacements are GBK text (converted from the file's UTF-8 at load),
// because the pages are cut apart as GBK. `name` and `probe_keyword` stay UTF-8 for display.

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tovani {

/// How a fetched body becomes the GBK text the markers and patterns run on.
enum class PageDecode {
    as_is,       ///< "as-is": the site serves GBK; the bytes are taken unchanged
    gbk,         ///< "gbk": GBK passed through the converter, so stray bytes become "?"
    utf8_to_gbk, ///< "utf-8": the site serves UTF-8
};

/// The options a pattern runs with.
enum class PatternOptions {
    loose,  ///< "loose": letter case ignored, "$" only at the very end
    strict, ///< "strict": letter case counts, "^" and "$" at every line
};

/// What a link field is put behind.
enum class LinkBase {
    none,      ///< "none": the text is used as it stands (the page's own absolute link)
    site_root, ///< "site-root": scheme and host of the source
    book_link, ///< "book-link": the link of the book whose page is being read
};

/// How one field of a row (a name, an author, a link) is read out of a match or a page piece:
/// the text of `group`, then cut with the markers that are set (between, then before, then
/// after), then repaired, then put behind its base between `prefix` and `suffix`.
struct FieldRule {
    /// Capturing group of the match, from 1, where a pattern runs; 0 leaves the field empty
    /// (a fact the rule does not name).
    int group = 1;
    std::optional<std::pair<std::string, std::string>> between; ///< text_between these markers
    std::string before;              ///< text before the first occurrence, when set
    std::string after;               ///< text after the last occurrence, when set
    std::vector<std::string> remove; ///< every occurrence removed, in this order
    /// When the text holds `repair_when`, it is cut before the first `repair_before`: the greedy
    /// groups of a line with several entries ran across them.
    std::string repair_when;
    std::string repair_before;
    LinkBase base = LinkBase::none;
    std::string prefix;
    std::string suffix;

    bool operator==(const FieldRule&) const = default;
};

/// How the rows of a search page are formed from the matches.
enum class SearchShape {
    one_per_match,     ///< "one-per-match": each match of `pattern` is one book
    paired_matches,    ///< "paired-matches": matches 2k-1 and 2k are one book (the name cell,
                       ///< then the author cell); an unpaired last match is dropped
    names_and_authors, ///< "names-and-authors": names and links from `pattern`, authors from
                       ///< `author_pattern`
};

/// Following the search's result pages.
struct PagerRule {
    std::pair<std::string, std::string> area; ///< where the pager links stand on the first page
    std::string pattern;                      ///< group 1 of each match is a page's path
    /// The keyword as typed is replaced by its encoded form in every path.
    bool reencode_keyword = true;
    int max_pages = 100; ///< further pages followed at most

    bool operator==(const PagerRule&) const = default;
};

struct SearchRule {
    std::string path;            ///< after site_root, before the keyword
    std::string tail;            ///< after the keyword
    bool keyword_utf8 = true;    ///< encode the UTF-8 form of the keyword (else GBK)
    bool keep_unreserved = true; ///< letters, digits and "-_.~" stay as they are
    bool winhttp = false;        ///< fetched with the second fetcher, raw body
    PageDecode decode = PageDecode::as_is;
    /// The page is cut down to the text between these markers before matching.
    std::optional<std::pair<std::string, std::string>> area;
    PatternOptions options = PatternOptions::loose;
    SearchShape shape = SearchShape::one_per_match;
    std::string pattern;
    std::string author_pattern; ///< names-and-authors only
    int author_stride = 1;      ///< names-and-authors: book i takes author match (i-1)*stride+1
    bool require_equal_counts = false; ///< names-and-authors: differing counts find nothing
    /// A pattern that does not compile has a message of its own instead of "nothing found".
    bool report_pattern_errors = false;
    FieldRule name;
    FieldRule author;
    FieldRule link;
    std::optional<PagerRule> pager;

    bool operator==(const SearchRule&) const = default;
};

/// How a book page is cut down to its block of chapter links before matching.
enum class ChapterNarrowing {
    none,             ///< "none"
    after_before,     ///< "after-before": after the last `after`, before the first `before`
    between,          ///< "between": text_between `start` and `end`
    volume_or_latest, ///< "volume-or-latest": after the last `volume` when `volume_heading`
                      ///< occurs, else without the block between `latest_start` and
                      ///< `latest_end` (the latest chapters shown above the full list)
};

/// How the matches of a book page become chapters.
enum class ChapterRows {
    per_match,         ///< "per-match": one chapter per match
    split_first_match, ///< "split-first-match": group 1 of the first match holds the whole
                       ///< block; it is split at `split_at` and each piece is one chapter
};

struct ChapterRule {
    PageDecode decode = PageDecode::as_is;
    /// The page must hold this marker, else it is not a page this source can list.
    std::string required_marker;
    ChapterNarrowing narrowing = ChapterNarrowing::none;
    std::string after, before;          ///< after-before
    std::string start, end;             ///< between
    std::string volume_heading, volume; ///< volume-or-latest
    std::string latest_start, latest_end;
    std::string pattern;
    PatternOptions options = PatternOptions::loose;
    ChapterRows rows = ChapterRows::per_match;
    std::string split_at; ///< split-first-match
    FieldRule name;
    FieldRule link;

    bool operator==(const ChapterRule&) const = default;
};

struct TextRule {
    PageDecode decode = PageDecode::as_is;
    std::string start; ///< the chapter text follows the first occurrence
    std::string end;   ///< and ends at the first occurrence after it
    std::vector<std::pair<std::string, std::string>> replace; ///< in this order
    /// Every marker and replacement is ASCII: on a UTF-8 page they may be applied to the UTF-8
    /// bytes and only the chapter converted. Worked out at load.
    bool ascii_markers = false;

    bool operator==(const TextRule&) const = default;
};

enum class DetailsKind {
    meta_tags, ///< "meta-tags": each fact is the value of a meta tag property
    table,     ///< "table": facts cut out of one section of the page; title and author are
               ///< the search hit's
    refused,   ///< "refused": the source shows no details
};

struct DetailsRule {
    DetailsKind kind = DetailsKind::refused;
    PageDecode decode = PageDecode::as_is;
    /// meta-tags: the property of each fact; the value runs from `property" content="` to
    /// `value_end`. Order: cover_url, author, title, update_time, status, latest_chapter,
    /// description.
    std::vector<std::string> meta_properties;
    std::string value_end = "\"/>";
    /// table: the section the facts are cut from, then one field each (status stays empty).
    std::pair<std::string, std::string> section;
    FieldRule cover_url;
    FieldRule update_time;
    FieldRule latest_chapter;
    FieldRule description;

    bool operator==(const DetailsRule&) const = default;
};

/// How hard a download may press on the site.
struct Politeness {
    int max_connections = 8;                       ///< requests in flight to the site at most
    std::chrono::milliseconds min_interval{0};     ///< between the starts of two requests
    std::chrono::milliseconds page_timeout{60000}; ///< for the whole of one page

    bool operator==(const Politeness&) const = default;
};

struct SourceRule {
    int id = 0;                ///< 1..max_source_id
    std::string name;          ///< UTF-8
    bool https = false;        ///< the scheme of site_root
    std::string host;          ///< default "host" or "host:port"; configuration may replace it
    std::string probe_keyword; ///< UTF-8, searched by the health check
    /// Words of a bot check or challenge page, GBK: a small page with one of them and without
    /// the rule's markers is a refusal, not a changed layout.
    std::vector<std::string> challenge_markers;
    Politeness politeness;
    SearchRule search;
    ChapterRule chapters;
    TextRule text;
    DetailsRule details;

    bool operator==(const SourceRule&) const = default;
};

/// Ids run from 1 to this; the first eight are the built-in sources.
inline constexpr int max_source_id = 64;
inline constexpr int builtin_source_count = 8;

} // namespace tovani
