#include "sources/recipes.h"

#include <array>

#include "text/encoding.h"

namespace tovani {
namespace {

using D = PageDecode;
using O = PatternOptions;
using N = ChapterNarrowing;
using L = ChapterLinks;

constexpr const char* search_php = "/modules/article/search.php?searchkey=";
constexpr const char* dd_link_pattern = "<dd><a href =#引号(.*)#引号>(.*)</a></dd>";
constexpr const char* content_div = R"(<div id="content">)";

std::vector<std::pair<std::string, std::string>> to_gbk(
    std::initializer_list<std::pair<const char*, const char*>> pairs) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& [from, to] : pairs) {
        out.emplace_back(gbk(from), gbk(to));
    }
    return out;
}

std::vector<std::string> to_gbk(std::initializer_list<const char*> texts) {
    std::vector<std::string> out;
    for (const char* t : texts) {
        out.push_back(gbk(t));
    }
    return out;
}

// The two line-break replacement sets most sources share.
auto br_two() { return to_gbk({{"<br>", "\r\n"}, {"<br/>", "\r\n"}}); }
auto br_three() { return to_gbk({{"<br>", "\r\n"}, {"<br/>", "\r\n"}, {"<br />", "\r\n"}}); }

std::array<SourceRecipe, 8> make_recipes() {
    std::array<SourceRecipe, 8> r;

    // Source 1
    r[0].search = {"/s?q=", "", true, true, false, D::utf8_to_gbk, "", "", O::loose,
                   to_gbk({"#引号bookname#引号><a href=#引号(.*)#引号>(.*)</a></h4><div "
                           "class=#引号author#引号>(.*)</div><div class=#引号uptime#引号>"}),
                   true};
    r[0].chapters = {D::utf8_to_gbk, N::none, gbk(dd_link_pattern), O::loose,
                     L::repaired_root_plus_group};
    r[0].text = {D::utf8_to_gbk,
                 gbk(R"(<div id="chaptercontent" class="Readarea ReadAjax_content">)"),
                 gbk("\r\n\t\t<p class=\"readinline\">"), false, to_gbk({{"<br />", "\r\n"}})};
    r[0].details = {DetailsKind::meta_tags, D::utf8_to_gbk};

    // Source 2
    r[1].search = {search_php, "", true, true, false, D::utf8_to_gbk, "", "", O::loose,
                   to_gbk({"<td class=#引号odd#引号>(.*)</td>"}), true};
    r[1].chapters = {D::utf8_to_gbk, N::after_heading_before_div, gbk("<dd>(.*)</dd>"), O::loose,
                     L::split_first_match};
    r[1].text = {D::utf8_to_gbk, gbk(content_div), gbk("</div>"), true,
                 to_gbk({{"<br/>", "\r\n"}, {"<br>", ""}})};
    r[1].details = {DetailsKind::refused, D::as_is};

    // Source 3
    r[2].search = {search_php, "", true, true, false, D::as_is, "", "", O::loose,
                   to_gbk({R"(odd">(.*)</td>)"}), false};
    r[2].chapters = {D::as_is, N::after_heading_before_div, gbk("<dd>(.*)</dd>"), O::loose,
                     L::cell_href};
    r[2].text = {D::as_is, gbk(content_div), gbk("</div>"), false,
                 to_gbk({{"<p>", ""}, {"</p>", "\r\n"}})};
    r[2].details = {DetailsKind::meta_tags, D::utf8_to_gbk};

    // Source 4
    r[3].search = {"/searchbook.php?keyword=", "", true, true, false, D::utf8_to_gbk, "", "",
                   O::loose, to_gbk({"<a href=#引号(.*)</span>"}), false};
    r[3].chapters = {D::utf8_to_gbk, N::after_heading_before_dl,
                     gbk("href=#引号(.*)#引号>(.*)</a></dd>"), O::loose, L::root_plus_group};
    r[3].text = {D::utf8_to_gbk, gbk(content_div), gbk("</div>"), false,
                 to_gbk({{"<br />", "\r\n"}})};
    r[3].details = {DetailsKind::meta_tags, D::utf8_to_gbk};

    // Source 5 (paged search; its pager and results area are handled in search.cpp)
    r[4].search = {"/s/", "", true, true, false, D::as_is, "", "", O::strict,
                   to_gbk({"conter1#引号><a href *= *['#引号]*(\\S+)#引号>(.*)</a>",
                           "conter4#引号>(.*)</li>", "<a href=#引号(\\S+)#引号>"}),
                   false};
    r[4].chapters = {D::as_is, N::none,
                     gbk("<div class=#引号clc#引号>\\<a href=#引号(\\S+)#引号>(.[^\\<]*)?\\</a>"),
                     O::strict, L::root_plus_group};
    r[4].text = {D::as_is, gbk("cp_content\">"), gbk("<script"), false, br_two()};
    r[4].details = {DetailsKind::table, D::as_is};

    // Source 6
    r[5].search = {"/search.php?searchkey=", "", true, true, false, D::utf8_to_gbk, "", "",
                   O::strict,
                   to_gbk({"bookname#引号><a href=#引号(.*)#引号>(.*)</a>", "author#引号>(.*)<"}),
                   false};
    r[5].chapters = {D::utf8_to_gbk, N::volume_or_latest_block, gbk(dd_link_pattern), O::strict,
                     L::book_link_plus_group};
    r[5].text = {D::utf8_to_gbk, gbk("showtxt\">"), gbk("<script"), true, br_two()};
    // The site's book pages carry the same Open Graph tags as the others; reading them means
    // the details window never shows a previous book's facts for this source.
    r[5].details = {DetailsKind::meta_tags, D::utf8_to_gbk};

    // Source 7
    r[6].search = {"/shaopu.php?ie=gbk&q=", "", true, false, false, D::gbk_to_gbk, "", "",
                   O::strict,
                   to_gbk({"bookname#引号><a href=#引号(.*)#引号>(.*)</a>.*author#引号>(\\S+)</div>"}),
                   false};
    r[6].chapters = {D::as_is, N::none, gbk(dd_link_pattern), O::strict, L::root_plus_group};
    r[6].text = {D::as_is, gbk("showtxt\">"), gbk("<div class=\"page_chapter\">"), true,
                 br_three()};
    r[6].details = {DetailsKind::meta_tags, D::as_is};

    // Source 8
    r[7].search = {search_php, "&submit=%CB%D1%CB%F7", false, false, true, D::as_is, "<table",
                   "</table", O::strict,
                   to_gbk({"<a href=#引号(\\S+)#引号>(\\S+)</a>",
                           "class=#引号odd#引号 align=#引号center#引号>(\\S+)</td>"}),
                   false};
    r[7].chapters = {D::as_is, N::zjlist, gbk("<a href=#引号(\\S+)#引号>(\\S+)</a>"), O::strict,
                     L::book_link_plus_group};
    r[7].text = {D::as_is, gbk(content_div), gbk("</div>"), true, br_three()};
    r[7].details = {DetailsKind::meta_tags, D::as_is};

    return r;
}

} // namespace

const SourceRecipe& source_recipe(int source) {
    static const std::array<SourceRecipe, 8> recipes = make_recipes();
    return recipes[static_cast<std::size_t>(source - 1)];
}

const SourceTexts& source_texts() {
    static const SourceTexts texts{
        gbk("搜索不到！"),
        gbk("正则创建失败，请检查正则表达式语句是否有误！"),
        gbk("信息："),
        gbk("系统提示"),
        gbk("拉取章节失败！"),
        gbk("怎么说呢，部分小说本身会有乱码的出现，我就不处理了，所以干脆不显示，换个书源试试。"),
        gbk("暂不支持！"),
        gbk("可搜书名和作者，请您少字也别输错字。"),
    };
    return texts;
}

} // namespace tovani
