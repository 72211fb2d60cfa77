#include "sources/chapter_text.h"

#include <gtest/gtest.h>

#include "fixtures.h"
#include "text/text_helpers.h"

namespace tovani {
namespace {

using test::gbk_page;
using test::source;

const TextRule& text_rule(int id) {
    return source(id).rule.text;
}

// Pages as each site serves them: UTF-8 for sources 1, 2, 4 and 6, GBK for the others.
std::string served(int source, const std::string& utf8) {
    return (source == 1 || source == 2 || source == 4 || source == 6) ? utf8 : gbk_page(utf8);
}

struct TextCase {
    int source;
    bool nbsp_always;
    std::string page;     // UTF-8
    std::string expected; // UTF-8
};

TEST(ChapterText, MarkersAndReplacementsPerSource) {
    const std::string s1_start = "<div id=\"chaptercontent\" class=\"Readarea ReadAjax_content\">";
    const std::string s1_end = "\r\n\t\t<p class=\"readinline\">";
    const std::vector<TextCase> cases{
        // Every "&nbsp;" is a space now, whether or not the caller asks for it.
        {1, false, "x" + s1_start + "&nbsp;&nbsp;甲<br />乙" + s1_end + "y", "  甲\r\n乙"},
        {1, true, s1_start + "&nbsp;&nbsp;甲<br />乙" + s1_end, "  甲\r\n乙"},
        // A line break followed by other white space does not end source 1's block.
        {1, false, s1_start + "甲\r\n\t<p>乙" + s1_end, "甲\r\n\t<p>乙"},
        {2, false, "<div id=\"content\">甲<br/><br>乙&nbsp;丙</div>", "甲\r\n乙 丙"},
        {3, false, "<div id=\"content\"><p>甲</p><p>乙</p></div>", "甲\r\n乙\r\n"},
        {3, false, "<div id=\"content\">&nbsp;甲</div>", " 甲"},
        // HTML references of every kind; a character GBK lacks becomes "?".
        {3, false,
         "<div id=\"content\">&ldquo;甲&rdquo;&amp;&lt;&#x3000;&#20057;&#x1F600;&hellip;</div>",
         "“甲”&<　乙?…"},
        {6, false,
         "<div id=\"showtxt\">&ldquo;甲&rdquo;&amp;amp;&#x3000;&#x1F600;&unknown;<script>",
         "“甲”&amp;　?&unknown;"},
        {4, false, "<div id=\"content\">甲<br />乙<br>丙</div>", "甲\r\n乙<br>丙"},
        {5, false, "<div id=\"cp_content\">甲<br>乙<br/>丙<script>x</script>", "甲\r\n乙\r\n丙"},
        {6, false, "<div id=\"showtxt\">&nbsp;甲<br>乙<script>", " 甲\r\n乙"},
        {7, false, "<div id=\"showtxt\">甲<br>乙<br/>丙<br />丁<div class=\"page_chapter\">",
         "甲\r\n乙\r\n丙\r\n丁"},
        {8, false, "<div id=\"content\">&nbsp;甲<br>乙<br/>丙<br />丁</div>",
         " 甲\r\n乙\r\n丙\r\n丁"},
    };
    for (const TextCase& c : cases) {
        EXPECT_EQ(extract_chapter_text(text_rule(c.source), served(c.source, c.page)),
                  gbk(c.expected))
            << "source " << c.source << " page " << c.page;
        EXPECT_EQ(try_extract_chapter_text(text_rule(c.source), served(c.source, c.page)),
                  gbk(c.expected));
    }
}

TEST(ChapterText, MissingMarkersAndEmptyBodiesGiveNoText) {
    for (int id = 1; id <= 8; ++id) {
        EXPECT_EQ(extract_chapter_text(text_rule(id), ""), "") << id;
        EXPECT_EQ(extract_chapter_text(text_rule(id), served(id, "<html>挑战页</html>")), "");
        EXPECT_EQ(try_extract_chapter_text(text_rule(id), ""), std::nullopt);
        EXPECT_EQ(try_extract_chapter_text(text_rule(id), served(id, "<html>挑战页</html>")),
                  std::nullopt);
    }
    // The end marker only before the start marker.
    EXPECT_EQ(try_extract_chapter_text(text_rule(8), "</div><div id=\"content\">text"),
              std::nullopt);
}

// What a fetched chapter page is: text, a site failure, a bot check or another layout.
TEST(ChapterText, FetchedPagesAreToldApart) {
    const BookSource& s8 = source(8);
    const auto text = chapter_text_of(s8, {"<div id=\"content\">a<br>b</div>", 200, {}, {}, {}});
    EXPECT_TRUE(text.outcome.ok());
    EXPECT_EQ(text.text, "a\r\nb");

    const auto refused = chapter_text_of(s8, {"busy", 503, {}, {}, {}});
    EXPECT_EQ(refused.outcome.kind, OutcomeKind::blocked);
    const auto missing = chapter_text_of(s8, {"gone", 404, {}, {}, {}});
    EXPECT_EQ(missing.outcome.kind, OutcomeKind::http_error);
    const auto down =
        chapter_text_of(s8, {"", 0, FetchFailure::unreachable, "Connection refused", {}});
    EXPECT_EQ(down.outcome.kind, OutcomeKind::unreachable);
    EXPECT_EQ(down.outcome.reason, "Connection refused");
    const auto check = chapter_text_of(
        s8, {gbk_page("<title>安全验证</title><div>请稍候，正在验证您的浏览器……</div>"),
             200,
             {},
             {},
             {}});
    EXPECT_EQ(check.outcome.kind, OutcomeKind::blocked);
    const auto other =
        chapter_text_of(s8, {"<html><p>a page of another layout</p></html>", 200, {}, {}, {}});
    EXPECT_EQ(other.outcome.kind, OutcomeKind::layout_changed);
}

// GBK characters whose second byte is "<" (0x3C) or "\" (0x5C) must not end the block early.
TEST(ChapterText, TrailBytesThatLookLikeMarkupAreKept) {
    const std::string tricky = "\xb5\x3c\xc4\x5c"; // two GBK characters with ASCII trail bytes
    const std::string page = "<div id=\"content\">" + tricky + "/div>" + "</div>";
    EXPECT_EQ(extract_chapter_text(text_rule(8), page), tricky + "/div>");
}

// UTF-8 pages are cut before they are converted; the text must be what cutting the converted
// page gives, also with bytes that are no UTF-8 and characters GBK does not have.
TEST(ChapterText, CuttingUtf8PagesMatchesConvertingFirst) {
    const std::vector<std::string> blocks{
        "甲&nbsp;乙<br/><br>丙",
        "bad \xff\xfe bytes<br/>and \xe4\xb8 a cut character",
        "no GBK: \xf0\x9f\x98\x80 emoji<br/>\xe2\x82\xac euro",
        std::string("zero \x00 after", 12),
    };
    for (const std::string& block : blocks) {
        const std::string page = "<html><div id=\"content\">" + block + "</div></html>";
        std::string reference = text_between(std::string(until_zero(convert_charset(page))),
                                             "<div id=\"content\">", "</div>");
        reference = replace_text(replace_text(replace_text(reference, "<br/>", "\r\n"), "<br>", ""),
                                 "&nbsp;", " ");
        if (page.find('\0') != std::string::npos) {
            reference.clear(); // the zero byte ends the page before the end marker
        }
        EXPECT_EQ(extract_chapter_text(text_rule(2), page), reference) << block;
    }
}

} // namespace
} // namespace tovani
