#include "sources/chapter_list.h"

#include "regex/regex_object.h"
#include "sources/page_text.h"
#include "sources/recipes.h"
#include "text/encoding.h"
#include "text/text_helpers.h"

namespace tovani {
namespace {

struct Markers {
    std::string heading = gbk("正文</dt>");
    std::string volume_heading = gbk("正文卷</dt>");
    std::string volume = gbk("正文卷");
    std::string latest = gbk("最新章节");
};

const Markers& markers() {
    static const Markers m;
    return m;
}

// Cuts the page down to the block that holds the chapter links.
std::optional<std::string> narrow(std::string page, ChapterNarrowing how) {
    const Markers& m = markers();
    switch (how) {
    case ChapterNarrowing::none:
        return page;
    case ChapterNarrowing::after_heading_before_div:
        return text_before(text_after(page, m.heading), "<div class=");
    case ChapterNarrowing::after_heading_before_dl:
        if (!contains_text(page, m.heading)) {
            return std::nullopt;
        }
        return text_before(text_after(page, m.heading), "</dl>");
    case ChapterNarrowing::volume_or_latest_block: {
        if (contains_text(page, m.volume_heading)) {
            return text_after(page, m.volume);
        }
        // Without volumes the site repeats its latest chapters above the full list.
        const std::string latest_block = text_between(page, m.latest, "<dt>");
        return latest_block.empty() ? page : replace_text(page, latest_block, "");
    }
    case ChapterNarrowing::zjlist:
        return text_between(page, "zjlist", "</dl>");
    }
    return page;
}

void add(std::vector<ChapterEntry>& out, std::string name, std::string link) {
    out.push_back({static_cast<int>(out.size()) + 1, std::move(name), std::move(link)});
}

} // namespace

ChapterListResult parse_chapter_list(const Sites& sites, int source, std::string_view book_link,
                                     std::string_view body) {
    if (!is_valid_source(source)) {
        return {ChapterListStatus::no_chapters, {}};
    }
    const ChapterRecipe& recipe = source_recipe(source).chapters;
    const std::string& root = sites.site_root(source);

    std::optional<std::string> block = narrow(page_text(body, recipe.decode), recipe.narrowing);
    if (!block) {
        return {ChapterListStatus::page_unsupported, {}};
    }
    RegexObject re;
    const bool strict = recipe.options == PatternOptions::strict;
    if (!re.create(recipe.pattern, *block, strict, strict, true, true)) {
        return {ChapterListStatus::pattern_failed, {}};
    }
    const int count = re.match_count();
    if (count == 0) {
        return {ChapterListStatus::no_chapters, {}};
    }

    ChapterListResult result{ChapterListStatus::ok, {}};
    auto& out = result.chapters;
    if (recipe.links == ChapterLinks::split_first_match) {
        // The site writes its whole chapter block on one line: the first match holds it all.
        for (const std::string& piece : split_text(re.submatch_text(1, 1), "</dd>")) {
            add(out, text_between(piece, "\">", "</a>"),
                root + text_between(piece, "<a href=\"", "\">"));
        }
        return result;
    }
    out.reserve(static_cast<std::size_t>(count));
    for (int i = 1; i <= count; ++i) {
        std::string group1 = re.submatch_text(i, 1);
        switch (recipe.links) {
        case ChapterLinks::repaired_root_plus_group:
            // Several entries on one line: the greedy group ran across them.
            if (contains_text(group1, "</dd>")) {
                group1 = text_before(group1, "\"");
            }
            add(out, re.submatch_text(i, 2), root + group1);
            break;
        case ChapterLinks::root_plus_group:
            add(out, re.submatch_text(i, 2), root + group1);
            break;
        case ChapterLinks::book_link_plus_group:
            add(out, re.submatch_text(i, 2), std::string(book_link) + group1);
            break;
        case ChapterLinks::cell_href:
            add(out, text_between(group1, "\">", "</a>"), text_between(group1, "href=\"", "\">"));
            break;
        case ChapterLinks::split_first_match:
            break;
        }
    }
    return result;
}

ChapterListResult list_chapters(const Sites& sites, int source, std::string_view book_link,
                                const Fetchers& fetchers) {
    if (!is_valid_source(source)) {
        return {ChapterListStatus::no_chapters, {}};
    }
    return parse_chapter_list(sites, source, book_link, fetchers.page(std::string(book_link)));
}

std::optional<ChapterListMessage> chapter_list_message(int source, ChapterListStatus status) {
    const SourceTexts& t = source_texts();
    switch (status) {
    case ChapterListStatus::ok:
        return std::nullopt;
    case ChapterListStatus::pattern_failed:
        return ChapterListMessage{{t.chapters_failed, MessageIcon::error, t.info_title}, false};
    case ChapterListStatus::no_chapters: {
        const MessageIcon icon = source <= 4 ? MessageIcon::information : MessageIcon::error;
        return ChapterListMessage{{t.chapters_failed, icon, t.info_title}, false};
    }
    case ChapterListStatus::page_unsupported:
        return ChapterListMessage{{t.page_unsupported, MessageIcon::information, t.system_title},
                                  true};
    }
    return std::nullopt;
}

} // namespace tovani
