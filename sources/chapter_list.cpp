#include "sources/chapter_list.h"

#include <optional>

#include "regex/regex_object.h"
#include "sources/page_text.h"
#include "sources/rule_match.h"
#include "text/encoding.h"
#include "text/html_entities.h"
#include "text/text_helpers.h"

namespace tovani {
namespace {

// Cuts the page down to the block that holds the chapter links; nullopt when the page lacks
// the marker the rule requires.
std::optional<std::string> narrow(std::string page, const ChapterRule& rule) {
    if (!rule.required_marker.empty() && !contains_text(page, rule.required_marker)) {
        return std::nullopt;
    }
    switch (rule.narrowing) {
    case ChapterNarrowing::none:
        return page;
    case ChapterNarrowing::after_before:
        return text_before(text_after(page, rule.after), rule.before);
    case ChapterNarrowing::between:
        return text_between(page, rule.start, rule.end);
    case ChapterNarrowing::volume_or_latest: {
        if (contains_text(page, rule.volume_heading)) {
            return text_after(page, rule.volume);
        }
        const std::string latest_block = text_between(page, rule.latest_start, rule.latest_end);
        return latest_block.empty() ? page : replace_text(page, latest_block, "");
    }
    }
    return page;
}

void add(std::vector<ChapterEntry>& out, const std::string& name, std::string link) {
    out.push_back({static_cast<int>(out.size()) + 1, decode_html_entities(name), std::move(link)});
}

// The book name of a page title: sites write "书名_作者_站名", "书名最新章节列表 - 站名" or
// "书名 - 站名".
std::string book_name_from_title(std::string_view page) {
    std::string title = trim_text(text_between(page, "<title>", "</title>"));
    // Sites write "书名_作者_站名", "书名最新章节列表 - 站名" or "书名 - 站名".
    for (const char* cut : {"_", " - ", "-", "|", "最新章节", "全文阅读", "章节目录"}) {
        const std::string marker = gbk(cut);
        const std::size_t at = find_text(title, marker);
        if (at != std::string::npos && at > 0) {
            title.resize(at);
        }
    }
    return decode_html_entities(trim_text(title));
}

ChapterListResult failure(ChapterListStatus status, Outcome outcome) {
    return {status, std::move(outcome), {}, {}};
}

} // namespace

ChapterListResult parse_chapter_list(const BookSource& source, std::string_view book_link,
                                     std::string_view body) {
    const ChapterRule& rule = source.rule.chapters;
    const std::string root = source.site_root();
    const LinkBases bases{root, book_link};

    const std::string page = page_text(body, rule.decode);
    std::optional<std::string> block = narrow(page, rule);
    if (!block) {
        return failure(ChapterListStatus::page_unsupported,
                       page_does_not_fit(source.rule, page,
                                         gbk("页面没有“") + rule.required_marker + gbk("”")));
    }
    RegexObject re;
    switch (run_pattern(re, rule.pattern, *block, rule.options)) {
    case PatternRun::matched:
        break;
    case PatternRun::compile_failed:
        return failure(ChapterListStatus::pattern_failed,
                       {OutcomeKind::layout_changed, 0, gbk("章节正则无法编译")});
    case PatternRun::limit_hit:
        // Half a list passed off as the whole book would make a download "succeed" with half
        // the chapters.
        return failure(ChapterListStatus::pattern_failed,
                       {OutcomeKind::layout_changed, 0, gbk("页面让章节正则无法完成匹配")});
    case PatternRun::no_match:
        return failure(ChapterListStatus::no_chapters,
                       page_does_not_fit(source.rule, page, gbk("页面上没有找到章节")));
    }

    ChapterListResult result{ChapterListStatus::ok, {}, {}, book_name_from_title(page)};
    auto& out = result.chapters;
    if (rule.rows == ChapterRows::split_first_match) {
        // The site writes its whole chapter block on one line: the first match holds it all.
        for (const std::string& piece : split_text(re.submatch_text(1, 1), rule.split_at)) {
            add(out, apply_field(rule.name, piece, bases), apply_field(rule.link, piece, bases));
        }
        return result;
    }
    const int count = re.match_count();
    out.reserve(static_cast<std::size_t>(count));
    for (int i = 1; i <= count; ++i) {
        add(out, read_field(rule.name, re, i, bases), read_field(rule.link, re, i, bases));
    }
    return result;
}

ChapterListResult list_chapters(const BookSource& source, std::string_view book_link,
                                const Fetchers& fetchers) {
    if (!source.usable()) {
        return failure(ChapterListStatus::no_chapters,
                       {OutcomeKind::unreachable, 0, source.host_error});
    }
    const FetchedPage fetched =
        fetchers.page(std::string(book_link), source.rule.politeness.page_timeout);
    if (Outcome o = fetch_outcome(fetched); !o.ok()) {
        return failure(ChapterListStatus::no_chapters, std::move(o));
    }
    return parse_chapter_list(source, book_link, fetched.body);
}

} // namespace tovani
