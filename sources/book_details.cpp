#include "sources/book_details.h"

#include "sources/page_text.h"
#include "sources/recipes.h"
#include "text/encoding.h"
#include "text/text_helpers.h"

namespace tovani {
namespace {

BookDetails from_meta_tags(std::string_view page) {
    auto meta = [&](const char* property) {
        return text_between(page, std::string(property) + "\" content=\"", "\"/>");
    };
    BookDetails d;
    d.cover_url = meta("og:image");
    d.author = meta("og:novel:author");
    d.title = meta("og:title");
    d.update_time = meta("og:novel:update_time");
    d.status = meta("og:novel:status");
    d.latest_chapter = meta("og:novel:latest_chapter_name");
    d.description = meta("og:description");
    return d;
}

// Source 5 shows its facts in a table; title and author come from the search hit.
BookDetails from_table(std::string_view page, const SearchHit& hit) {
    static const std::string updated = gbk("更新时间：</td><td class=\"tc\">");
    static const std::string latest = gbk("最新章节");
    static const std::string intro = gbk("内容简介】</h4><br />");
    const std::string section = text_between(page, "ffw\">", "</table>");
    BookDetails d;
    d.author = hit.author;
    d.title = hit.name;
    d.cover_url = text_between(section, "src=\"", "\"");
    d.update_time = text_between(section, updated, "</td>");
    d.latest_chapter = text_after(text_between(section, latest, "</a>"), ">");
    d.description = replace_text(replace_text(text_between(section, intro, "</td>"), "<br>", ""),
                                 "<br/>", "");
    return d;
}

Message refusal() {
    return {source_texts().not_supported, MessageIcon::information, source_texts().system_title};
}

} // namespace

DetailsOutcome parse_book_details(int source, const SearchHit& hit, std::string_view body) {
    if (!is_valid_source(source)) {
        return {std::nullopt, refusal()};
    }
    const DetailsRecipe& recipe = source_recipe(source).details;
    switch (recipe.kind) {
    case DetailsKind::refused:
        return {std::nullopt, refusal()};
    case DetailsKind::table:
        return {from_table(page_text(body, recipe.decode), hit), std::nullopt};
    case DetailsKind::meta_tags:
        break;
    }
    return {from_meta_tags(page_text(body, recipe.decode)), std::nullopt};
}

DetailsOutcome request_book_details(int source, const SearchHit& hit, const Fetchers& fetchers) {
    if (!is_valid_source(source) || source_recipe(source).details.kind == DetailsKind::refused) {
        return {std::nullopt, refusal()};
    }
    return parse_book_details(source, hit, fetchers.page(hit.link));
}

} // namespace tovani
