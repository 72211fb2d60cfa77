#pragma once
// The per-source recipes: what differs between the eight sites as data, side by side.
// Every text here is GBK (converted once from the literals in recipes.cpp).

#include <string>
#include <utility>
#include <vector>

namespace tovani {

/// How a fetched body becomes text.
enum class PageDecode {
    as_is,       ///< the site serves GBK
    utf8_to_gbk, ///< convert_charset with its defaults
    gbk_to_gbk,  ///< convert_charset from "GBK" (cleans invalid sequences)
};

/// Options of RegexObject::create the adapters use.
enum class PatternOptions {
    loose,  ///< case ignored, multiline off, global, quote token expanded
    strict, ///< case-sensitive, multiline, global, quote token expanded
};

struct SearchRecipe {
    std::string path; ///< after site_root, before the keyword
    std::string tail; ///< after the keyword
    bool keep_unreserved = true;
    bool utf8 = true;
    bool winhttp = false; ///< fetched with fetch_page_winhttp (body_out)
    PageDecode decode = PageDecode::as_is;
    std::string cut_start, cut_end; ///< narrowing with text_between when not empty
    PatternOptions options = PatternOptions::loose;
    std::vector<std::string> patterns;
    /// Whether a pattern that does not compile has its own message (else "搜索不到！").
    bool reports_pattern_failure = false;
};

enum class ChapterNarrowing {
    none,
    after_heading_before_div, ///< after the last "正文</dt>", before the first "<div class="
    after_heading_before_dl,  ///< "正文</dt>" required; after its last one, before "</dl>"
    volume_or_latest_block,   ///< after the last "正文卷", or without the latest-chapters block
    zjlist,                   ///< between "zjlist" and "</dl>"
};

enum class ChapterLinks {
    root_plus_group,      ///< site_root + group 1 (name group 2)
    repaired_root_plus_group, ///< as above, group 1 cut at its first quote when it holds "</dd>"
    book_link_plus_group, ///< book_link + group 1 (name group 2)
    cell_href,            ///< link and name cut out of group 1; the link used unchanged
    split_first_match,    ///< group 1 of match 1 split at "</dd>"; site_root + each href
};

struct ChapterRecipe {
    PageDecode decode = PageDecode::as_is;
    ChapterNarrowing narrowing = ChapterNarrowing::none;
    std::string pattern;
    PatternOptions options = PatternOptions::loose;
    ChapterLinks links = ChapterLinks::root_plus_group;
};

struct TextRecipe {
    PageDecode decode = PageDecode::as_is;
    std::string start_marker, end_marker;
    bool nbsp_always = false; ///< "&nbsp;" becomes a space even when the caller does not ask
    std::vector<std::pair<std::string, std::string>> replacements; ///< in this order
};

enum class DetailsKind { meta_tags, table, refused };

struct DetailsRecipe {
    DetailsKind kind = DetailsKind::refused;
    PageDecode decode = PageDecode::as_is;
};

struct SourceRecipe {
    SearchRecipe search;
    ChapterRecipe chapters;
    TextRecipe text;
    DetailsRecipe details;
};

/// The recipe of `source` (1..8). Behaviour is undefined for other values; check first.
const SourceRecipe& source_recipe(int source);

/// The texts shown by the adapters (GBK).
struct SourceTexts {
    std::string not_found;        ///< "搜索不到！"
    std::string pattern_failed;   ///< "正则创建失败，请检查正则表达式语句是否有误！"
    std::string info_title;       ///< "信息："
    std::string system_title;     ///< "系统提示"
    std::string chapters_failed;  ///< "拉取章节失败！"
    std::string page_unsupported; ///< the long source 4 message
    std::string not_supported;    ///< "暂不支持！"
    std::string placeholder;      ///< the search box hint
};
const SourceTexts& source_texts();

} // namespace tovani
