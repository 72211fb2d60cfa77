#include "sources/rule_loader.h"

// One translation unit holds the TOML parser; errors come back as values, not exceptions.
#define TOML_EXCEPTIONS 0
#include <toml++/impl/preprocessor.h>
// toml++ 3.3 asserts (debug builds) and tells the compiler to assume (clang release builds)
// conditions its parser does not make sure of: 100000 "[" reach its key parser on a "[". Its
// error paths handle such input, so the assumptions become no-ops: a bad rule file gets its
// error message instead of an abort or undefined behaviour.
#undef TOML_ASSUME
#define TOML_ASSUME(...) static_assert(true)
#undef TOML_ASSERT_ASSUME
#define TOML_ASSERT_ASSUME(...) static_assert(true)
#include <toml++/toml.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <set>
#include <utility>

#include "regex/regex_object.h"
#include "text/encoding.h"

namespace tovani {

std::string RuleProblem::text() const {
    std::string out = file;
    if (line > 0) {
        out += ":" + std::to_string(line);
    }
    if (!key.empty()) {
        out += (out.empty() ? "" : ": ") + key;
    }
    out += (out.empty() ? "" : ": ") + message;
    return out;
}

namespace {

using Problems = std::vector<RuleProblem>;

enum class Need { required, optional };

int line_of(const toml::source_region& region) {
    return static_cast<int>(region.begin.line);
}

// toml++ 3.3 reaches __builtin_unreachable (undefined behaviour) when it asks whether some
// characters are white space: U+00A1 to U+0499, U+2C4E to U+3047 (the CJK punctuation, 。、《》
// among them) and U+FB26 to U+FEFE fall into gaps of its generated tables, and any rule file can
// put one where it looks. Those characters are handed to it as private-use stand-ins, U+F0000
// up, which it treats like any other character, and put back in every string read from it.
struct UnsafeRange {
    char32_t first;
    char32_t last;
};
constexpr UnsafeRange unsafe_ranges[] = {
    {0x00A1, 0x0499}, {0x2C4E, 0x2FFF}, {0x3001, 0x3047}, {0xFB26, 0xFEFE}};
constexpr char32_t stand_in_first = 0xF0000;

// The stand-in of `c`, or 0 when `c` is safe.
char32_t stand_in_of(char32_t c) {
    char32_t index = 0;
    for (const UnsafeRange& range : unsafe_ranges) {
        if (c >= range.first && c <= range.last) {
            return stand_in_first + index + (c - range.first);
        }
        index += range.last - range.first + 1;
    }
    return 0;
}

// The character a stand-in stands for, or 0 when `c` is none.
char32_t original_of(char32_t c) {
    if (c < stand_in_first) {
        return 0;
    }
    char32_t index = c - stand_in_first;
    for (const UnsafeRange& range : unsafe_ranges) {
        const char32_t size = range.last - range.first + 1;
        if (index < size) {
            return range.first + index;
        }
        index -= size;
    }
    return 0;
}

// `text` with the unsafe characters replaced by their stand-ins; `stand_in_line` gets the line
// of a stand-in the file held already (0 when none), which could not be told apart.
std::string mask_unsafe_characters(std::string_view text, int& stand_in_line) {
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    stand_in_line = 0;
    int line = 1;
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            line += b == '\n' ? 1 : 0;
            out += text[i++];
            continue;
        }
        char32_t c = 0;
        const std::size_t length = read_utf8_char(text, i, c);
        if (const char32_t stand_in = stand_in_of(c); stand_in != 0) {
            append_utf8(out, stand_in);
        } else {
            if (original_of(c) != 0 && stand_in_line == 0) {
                stand_in_line = line;
            }
            out.append(text.substr(i, length));
        }
        i += length;
    }
    return out;
}

// The stand-ins in a string read from the parsed file put back.
std::string unmask(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = 0;
        const std::size_t length = read_utf8_char(text, i, c);
        if (const char32_t original = original_of(c); original != 0) {
            append_utf8(out, original);
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    return out;
}

// Words a page shows when it is a bot check rather than the page asked for (UTF-8).
const std::initializer_list<const char*> default_challenge_markers{
    "安全验证",  "人机验证",      "验证您的浏览器", "正在验证",          "captcha",
    "challenge", "Just a moment", "cf-chl",         "Attention Required"};

// Reads the keys of one table, remembering which were asked for, so that the rest can be
// reported as unknown (a typo) once the table has been read.
class Reader {
public:
    Reader(const toml::table& table, std::string prefix, const std::string& file,
           Problems& problems)
        : table_(table), prefix_(std::move(prefix)), file_(file), problems_(problems) {}

    std::string path(std::string_view key) const {
        return prefix_.empty() ? std::string(key) : prefix_ + "." + std::string(key);
    }

    void problem(int line, std::string_view key, std::string message) {
        problems_.push_back({file_, line, unmask(path(key)), std::move(message)});
    }

    void problem_at(const toml::node& node, std::string_view key, std::string message) {
        problem(line_of(node.source()), key, std::move(message));
    }

    // The node of `key`, marked as known; a missing required key is reported.
    const toml::node* take(std::string_view key, Need need) {
        known_.insert(std::string(key));
        const toml::node* node = table_.get(key);
        if (!node && need == Need::required) {
            problem(line_of(table_.source()), key, "missing");
        }
        return node;
    }

    bool has(std::string_view key) const { return table_.get(key) != nullptr; }

    std::optional<std::string> utf8(std::string_view key, Need need) {
        const toml::node* node = take(key, need);
        if (!node) {
            return std::nullopt;
        }
        if (!node->is_string()) {
            problem_at(*node, key, "must be a string");
            return std::nullopt;
        }
        return unmask(node->as_string()->get());
    }

    // A string the pages are cut with: converted to GBK, which must hold every character.
    std::optional<std::string> gbk_text(std::string_view key, Need need) {
        const toml::node* node = table_.get(key);
        auto value = utf8(key, need);
        if (!value) {
            return std::nullopt;
        }
        return to_gbk(*node, key, *value);
    }

    std::optional<std::string> to_gbk(const toml::node& at, std::string_view key,
                                      const std::string& value) {
        std::string text = utf8_to_text(value);
        if (to_utf8(text) != value) {
            problem_at(at, key, "holds characters that GBK pages cannot contain");
            return std::nullopt;
        }
        return text;
    }

    std::optional<std::int64_t> integer(std::string_view key, Need need, std::int64_t min,
                                        std::int64_t max) {
        const toml::node* node = take(key, need);
        if (!node) {
            return std::nullopt;
        }
        const auto value = node->value_exact<std::int64_t>();
        if (!value) {
            problem_at(*node, key, "must be an integer");
            return std::nullopt;
        }
        if (*value < min || *value > max) {
            problem_at(*node, key,
                       "must be from " + std::to_string(min) + " to " + std::to_string(max) +
                           ", not " + std::to_string(*value));
            return std::nullopt;
        }
        return value;
    }

    std::optional<bool> boolean(std::string_view key, Need need) {
        const toml::node* node = take(key, need);
        if (!node) {
            return std::nullopt;
        }
        const auto value = node->value_exact<bool>();
        if (!value) {
            problem_at(*node, key, "must be true or false");
        }
        return value;
    }

    template <typename E>
    std::optional<E> choice(std::string_view key, Need need,
                            std::initializer_list<std::pair<const char*, E>> allowed) {
        const toml::node* node = table_.get(key);
        const auto value = utf8(key, need);
        if (!value) {
            return std::nullopt;
        }
        std::string names;
        for (const auto& [name, e] : allowed) {
            if (*value == name) {
                return e;
            }
            names += std::string(names.empty() ? "" : ", ") + "\"" + name + "\"";
        }
        problem_at(*node, key, "unknown value \"" + *value + "\" (allowed: " + names + ")");
        return std::nullopt;
    }

    // A list of strings converted to GBK.
    std::optional<std::vector<std::string>> gbk_list(std::string_view key, Need need) {
        const toml::node* node = take(key, need);
        if (!node) {
            return std::nullopt;
        }
        const toml::array* array = node->as_array();
        if (!array) {
            problem_at(*node, key, "must be a list of strings");
            return std::nullopt;
        }
        std::vector<std::string> out;
        for (const toml::node& item : *array) {
            if (!item.is_string()) {
                problem_at(item, key, "must be a list of strings");
                return std::nullopt;
            }
            auto text = to_gbk(item, key, unmask(item.as_string()->get()));
            if (!text) {
                return std::nullopt;
            }
            out.push_back(std::move(*text));
        }
        return out;
    }

    // Two strings: a start and an end marker.
    std::optional<std::pair<std::string, std::string>> markers(std::string_view key, Need need) {
        const toml::node* node = table_.get(key);
        auto list = gbk_list(key, need);
        if (!list) {
            return std::nullopt;
        }
        if (list->size() != 2) {
            problem_at(*node, key, "must be two strings: a start and an end marker");
            return std::nullopt;
        }
        if ((*list)[0].empty()) {
            problem_at(*node, key, "the start marker must not be empty");
            return std::nullopt;
        }
        return std::pair{std::move((*list)[0]), std::move((*list)[1])};
    }

    // Pairs of strings: what is replaced and by what.
    std::optional<std::vector<std::pair<std::string, std::string>>>
    replacements(std::string_view key) {
        const toml::node* node = take(key, Need::optional);
        if (!node) {
            return std::vector<std::pair<std::string, std::string>>{};
        }
        const toml::array* array = node->as_array();
        std::vector<std::pair<std::string, std::string>> out;
        for (std::size_t i = 0; array && i < array->size(); ++i) {
            const toml::array* pair = (*array)[i].as_array();
            if (!pair || pair->size() != 2 || !(*pair)[0].is_string() || !(*pair)[1].is_string()) {
                array = nullptr;
                break;
            }
            auto from = to_gbk((*pair)[0], key, unmask((*pair)[0].as_string()->get()));
            auto to = to_gbk((*pair)[1], key, unmask((*pair)[1].as_string()->get()));
            if (!from || !to) {
                return std::nullopt;
            }
            if (from->empty()) {
                problem_at((*pair)[0], key, "nothing to replace: the first string is empty");
                return std::nullopt;
            }
            out.emplace_back(std::move(*from), std::move(*to));
        }
        if (!array) {
            problem_at(*node, key, "must be a list of [\"from\", \"to\"] pairs of strings");
            return std::nullopt;
        }
        return out;
    }

    // A pattern that must compile.
    std::optional<std::string> pattern(std::string_view key, Need need) {
        const toml::node* node = table_.get(key);
        auto text = gbk_text(key, need);
        if (!text) {
            return std::nullopt;
        }
        if (text->empty()) {
            problem_at(*node, key, "the pattern is empty");
            return std::nullopt;
        }
        if (const auto error = RegexObject::compile_error(*text)) {
            problem_at(*node, key,
                       "the pattern does not compile: " + error->message + " (at byte " +
                           std::to_string(error->offset) + ")");
            return std::nullopt;
        }
        return text;
    }

    const toml::table* table(std::string_view key, Need need) {
        const toml::node* node = take(key, need);
        if (!node) {
            return nullptr;
        }
        if (!node->is_table()) {
            problem_at(*node, key, "must be a table");
            return nullptr;
        }
        return node->as_table();
    }

    Reader sub(const toml::table& table, std::string_view key) const {
        return Reader(table, path(key), file_, problems_);
    }

    // Reports every key that was never asked for.
    void finish() {
        for (const auto& [key, node] : table_) {
            if (!known_.contains(std::string(key.str()))) {
                problem(line_of(key.source()), key.str(), "unknown key");
            }
        }
    }

private:
    const toml::table& table_;
    std::string prefix_;
    const std::string& file_;
    Problems& problems_;
    std::set<std::string, std::less<>> known_;
};

PageDecode decode_of(Reader& r) {
    return r
        .choice<PageDecode>("decode", Need::optional,
                            {{"as-is", PageDecode::as_is},
                             {"gbk", PageDecode::gbk},
                             {"utf-8", PageDecode::utf8_to_gbk}})
        .value_or(PageDecode::as_is);
}

PatternOptions options_of(Reader& r) {
    return r
        .choice<PatternOptions>(
            "options", Need::optional,
            {{"loose", PatternOptions::loose}, {"strict", PatternOptions::strict}})
        .value_or(PatternOptions::loose);
}

// A field: an inline table such as { group = 1, between = ["a", "b"], base = "site-root" }.
std::optional<FieldRule> field(Reader& parent, std::string_view key, Need need) {
    const toml::table* table = parent.table(key, need);
    if (!table) {
        return std::nullopt;
    }
    Reader r = parent.sub(*table, key);
    FieldRule f;
    f.group = static_cast<int>(r.integer("group", Need::optional, 1, 99).value_or(1));
    f.between = r.markers("between", Need::optional);
    f.before = r.gbk_text("before", Need::optional).value_or("");
    f.after = r.gbk_text("after", Need::optional).value_or("");
    f.remove = r.gbk_list("remove", Need::optional).value_or(std::vector<std::string>{});
    f.repair_when = r.gbk_text("repair_when", Need::optional).value_or("");
    f.repair_before = r.gbk_text("repair_before", Need::optional).value_or("");
    if (f.repair_when.empty() != f.repair_before.empty()) {
        r.problem(line_of(table->source()), "repair_when",
                  "repair_when and repair_before go together");
    }
    f.base = r.choice<LinkBase>("base", Need::optional,
                                {{"none", LinkBase::none},
                                 {"site-root", LinkBase::site_root},
                                 {"book-link", LinkBase::book_link}})
                 .value_or(LinkBase::none);
    f.prefix = r.gbk_text("prefix", Need::optional).value_or("");
    f.suffix = r.gbk_text("suffix", Need::optional).value_or("");
    r.finish();
    return f;
}

PagerRule read_pager(Reader& r) {
    PagerRule p;
    if (auto area = r.markers("area", Need::required)) {
        p.area = std::move(*area);
    }
    p.pattern = r.pattern("pattern", Need::required).value_or("");
    p.reencode_keyword = r.boolean("reencode_keyword", Need::optional).value_or(true);
    p.max_pages = static_cast<int>(r.integer("max_pages", Need::optional, 0, 10000).value_or(100));
    r.finish();
    return p;
}

SearchRule read_search(Reader& r) {
    SearchRule s;
    s.path = r.gbk_text("path", Need::required).value_or("");
    s.tail = r.gbk_text("tail", Need::optional).value_or("");
    s.keyword_utf8 =
        r.choice<bool>("keyword_charset", Need::optional, {{"utf-8", true}, {"gbk", false}})
            .value_or(true);
    s.keep_unreserved = r.boolean("keep_unreserved", Need::optional).value_or(true);
    s.winhttp = r.choice<bool>("fetcher", Need::optional, {{"page", false}, {"winhttp", true}})
                    .value_or(false);
    s.decode = decode_of(r);
    s.area = r.markers("area", Need::optional);
    s.options = options_of(r);
    s.shape = r.choice<SearchShape>("shape", Need::required,
                                    {{"one-per-match", SearchShape::one_per_match},
                                     {"paired-matches", SearchShape::paired_matches},
                                     {"names-and-authors", SearchShape::names_and_authors}})
                  .value_or(SearchShape::one_per_match);
    s.pattern = r.pattern("pattern", Need::required).value_or("");
    const bool two_patterns = s.shape == SearchShape::names_and_authors;
    const Need only_two = two_patterns ? Need::required : Need::optional;
    for (const char* key : {"author_pattern", "author_stride", "require_equal_counts"}) {
        if (!two_patterns && r.has(key)) {
            r.problem_at(*r.take(key, Need::optional), key,
                         "only a names-and-authors search has this key");
        }
    }
    if (two_patterns) {
        s.author_pattern = r.pattern("author_pattern", only_two).value_or("");
        s.author_stride =
            static_cast<int>(r.integer("author_stride", Need::optional, 1, 100).value_or(1));
        s.require_equal_counts = r.boolean("require_equal_counts", Need::optional).value_or(false);
    }
    s.report_pattern_errors = r.boolean("report_pattern_errors", Need::optional).value_or(false);
    s.name = field(r, "name", Need::required).value_or(FieldRule{});
    s.link = field(r, "link", Need::required).value_or(FieldRule{});
    // A site that lists no authors leaves them empty.
    if (auto author = field(r, "author", Need::optional)) {
        s.author = std::move(*author);
    } else {
        s.author.group = 0;
    }
    if (const toml::table* pager = r.table("pager", Need::optional)) {
        Reader p = r.sub(*pager, "pager");
        s.pager = read_pager(p);
    }
    r.finish();
    return s;
}

void read_narrowing(Reader& parent, ChapterRule& c) {
    const toml::table* table = parent.table("narrowing", Need::optional);
    if (!table) {
        return;
    }
    Reader r = parent.sub(*table, "narrowing");
    c.narrowing =
        r.choice<ChapterNarrowing>("kind", Need::required,
                                   {{"none", ChapterNarrowing::none},
                                    {"after-before", ChapterNarrowing::after_before},
                                    {"between", ChapterNarrowing::between},
                                    {"volume-or-latest", ChapterNarrowing::volume_or_latest}})
            .value_or(ChapterNarrowing::none);
    switch (c.narrowing) {
    case ChapterNarrowing::none:
        break;
    case ChapterNarrowing::after_before:
        c.after = r.gbk_text("after", Need::required).value_or("");
        c.before = r.gbk_text("before", Need::required).value_or("");
        break;
    case ChapterNarrowing::between:
        c.start = r.gbk_text("start", Need::required).value_or("");
        c.end = r.gbk_text("end", Need::required).value_or("");
        break;
    case ChapterNarrowing::volume_or_latest:
        c.volume_heading = r.gbk_text("volume_heading", Need::required).value_or("");
        c.volume = r.gbk_text("volume", Need::required).value_or("");
        c.latest_start = r.gbk_text("latest_start", Need::required).value_or("");
        c.latest_end = r.gbk_text("latest_end", Need::required).value_or("");
        break;
    }
    r.finish();
}

ChapterRule read_chapters(Reader& r) {
    ChapterRule c;
    c.decode = decode_of(r);
    c.required_marker = r.gbk_text("required_marker", Need::optional).value_or("");
    read_narrowing(r, c);
    c.pattern = r.pattern("pattern", Need::required).value_or("");
    c.options = options_of(r);
    c.rows = r.choice<ChapterRows>("rows", Need::optional,
                                   {{"per-match", ChapterRows::per_match},
                                    {"split-first-match", ChapterRows::split_first_match}})
                 .value_or(ChapterRows::per_match);
    if (c.rows == ChapterRows::split_first_match) {
        c.split_at = r.gbk_text("split_at", Need::required).value_or("");
    }
    c.name = field(r, "name", Need::required).value_or(FieldRule{});
    c.link = field(r, "link", Need::required).value_or(FieldRule{});
    r.finish();
    return c;
}

bool is_ascii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char ch) { return static_cast<unsigned char>(ch) < 0x80; });
}

TextRule read_text(Reader& r) {
    TextRule t;
    t.decode = decode_of(r);
    t.start = r.gbk_text("start", Need::required).value_or("");
    t.end = r.gbk_text("end", Need::required).value_or("");
    t.replace =
        r.replacements("replace").value_or(std::vector<std::pair<std::string, std::string>>{});
    t.ascii_markers = is_ascii(t.start) && is_ascii(t.end);
    for (const auto& [from, to] : t.replace) {
        t.ascii_markers = t.ascii_markers && is_ascii(from) && is_ascii(to);
    }
    r.finish();
    return t;
}

DetailsRule read_details(Reader& r) {
    DetailsRule d;
    d.kind = r.choice<DetailsKind>("kind", Need::required,
                                   {{"meta-tags", DetailsKind::meta_tags},
                                    {"table", DetailsKind::table},
                                    {"refused", DetailsKind::refused}})
                 .value_or(DetailsKind::refused);
    d.decode = decode_of(r);
    if (d.kind == DetailsKind::meta_tags) {
        static const std::pair<const char*, const char*> facts[] = {
            {"cover_url", "og:image"},
            {"author", "og:novel:author"},
            {"title", "og:title"},
            {"update_time", "og:novel:update_time"},
            {"status", "og:novel:status"},
            {"latest_chapter", "og:novel:latest_chapter_name"},
            {"description", "og:description"},
        };
        d.value_end = r.gbk_text("value_end", Need::optional).value_or("\"/>");
        const toml::table* meta = r.table("meta", Need::optional);
        std::optional<Reader> m;
        if (meta) {
            m.emplace(r.sub(*meta, "meta"));
        }
        for (const auto& [fact, property] : facts) {
            d.meta_properties.push_back(m ? m->gbk_text(fact, Need::optional).value_or(property)
                                          : property);
        }
        if (m) {
            m->finish();
        }
    } else if (d.kind == DetailsKind::table) {
        if (auto section = r.markers("section", Need::required)) {
            d.section = std::move(*section);
        }
        // A fact the rule does not name stays empty.
        FieldRule none;
        none.group = 0;
        d.cover_url = field(r, "cover_url", Need::optional).value_or(none);
        d.update_time = field(r, "update_time", Need::optional).value_or(none);
        d.latest_chapter = field(r, "latest_chapter", Need::optional).value_or(none);
        d.description = field(r, "description", Need::optional).value_or(none);
    }
    r.finish();
    return d;
}

Politeness read_limits(Reader& r) {
    Politeness p;
    p.max_connections =
        static_cast<int>(r.integer("max_connections", Need::optional, 1, 256).value_or(8));
    p.min_interval = std::chrono::milliseconds(
        r.integer("min_interval_ms", Need::optional, 0, 600000).value_or(0));
    p.page_timeout =
        std::chrono::seconds(r.integer("page_timeout_s", Need::optional, 1, 3600).value_or(60));
    r.finish();
    return p;
}

} // namespace

RuleParse parse_rule(std::string_view toml_text, std::string_view origin) {
    RuleParse out;
    const std::string file(origin);
    int stand_in_line = 0;
    const std::string masked = mask_unsafe_characters(toml_text, stand_in_line);
    if (stand_in_line > 0) {
        out.problems.push_back({file, stand_in_line, "",
                                "holds a private-use character of plane 15 that rule files may "
                                "not contain"});
        return out;
    }
    toml::parse_result parsed = toml::parse(masked, origin);
    if (!parsed) {
        const toml::parse_error& error = parsed.error();
        out.problems.push_back(
            {file, line_of(error.source()), "", "TOML syntax: " + unmask(error.description())});
        return out;
    }
    const toml::table& root = parsed.table();
    Reader r(root, "", file, out.problems);

    SourceRule rule;
    rule.id = static_cast<int>(r.integer("id", Need::required, 1, max_source_id).value_or(0));
    rule.name = r.utf8("name", Need::required).value_or("");
    if (r.has("name") && rule.name.empty()) {
        r.problem_at(*r.take("name", Need::required), "name", "must not be empty");
    }
    rule.https = r.choice<bool>("scheme", Need::required, {{"http", false}, {"https", true}})
                     .value_or(false);
    rule.host = r.utf8("host", Need::optional).value_or("");
    rule.probe_keyword = r.utf8("probe_keyword", Need::optional).value_or("");
    if (auto markers = r.gbk_list("challenge_markers", Need::optional)) {
        rule.challenge_markers = std::move(*markers);
    } else {
        for (const char* marker : default_challenge_markers) {
            rule.challenge_markers.push_back(gbk(marker));
        }
    }
    if (const toml::table* limits = r.table("limits", Need::optional)) {
        Reader l = r.sub(*limits, "limits");
        rule.politeness = read_limits(l);
    }
    if (const toml::table* search = r.table("search", Need::required)) {
        Reader s = r.sub(*search, "search");
        rule.search = read_search(s);
    }
    if (const toml::table* chapters = r.table("chapters", Need::required)) {
        Reader c = r.sub(*chapters, "chapters");
        rule.chapters = read_chapters(c);
    }
    if (const toml::table* text = r.table("text", Need::required)) {
        Reader t = r.sub(*text, "text");
        rule.text = read_text(t);
    }
    if (const toml::table* details = r.table("details", Need::required)) {
        Reader d = r.sub(*details, "details");
        rule.details = read_details(d);
    }
    r.finish();
    if (out.problems.empty()) {
        out.rule = std::move(rule);
    }
    return out;
}

} // namespace tovani
