#include "sources/chapter_list.h"

#include <gtest/gtest.h>

#include "fixtures.h"

namespace tovani {
namespace {

using test::fake_sites;
using test::gbk_page;

ChapterEntry entry(int n, const char* name, std::string link) {
    return {n, gbk(name), std::move(link)};
}

ChapterListResult parse(int source, const std::string& book, const std::string& body) {
    return parse_chapter_list(fake_sites(), source, book, body);
}

TEST(ChapterList, Source1RepairsALineHoldingTwoEntries) {
    const auto r = parse(1, "https://s1.test/b/",
                         "<dd><a href =\"/1.html\">A</a></dd><dd><a href =\"/2.html\">B</a></dd>\n"
                         "<dd><a href =\"/3.html\">C</a></dd>\n");
    ASSERT_EQ(r.status, ChapterListStatus::ok);
    EXPECT_EQ(r.chapters, (std::vector<ChapterEntry>{entry(1, "B", "https://s1.test/1.html"),
                                                     entry(2, "C", "https://s1.test/3.html")}));
}

TEST(ChapterList, Source2ListsOnlyTheFirstMatchingLine) {
    const std::string page =
        "<dt>最新章节</dt><dd><a href=\"/9.html\">新</a></dd>\n<dt>正文</dt>"
        "<dd><a href=\"/1.html\">A</a></dd><dd><a href=\"/2.html\">B</a></dd>\n"
        "<dd><a href=\"/3.html\">C</a></dd>\n<div class=\"footer\"></div>";
    const auto r = parse(2, "http://s2.test/biquge_1/", page);
    ASSERT_EQ(r.status, ChapterListStatus::ok);
    EXPECT_EQ(r.chapters, (std::vector<ChapterEntry>{entry(1, "A", "http://s2.test/1.html"),
                                                     entry(2, "B", "http://s2.test/2.html")}));
}

TEST(ChapterList, Source3UsesTheLinkAsWritten) {
    const std::string page = gbk_page(
        "<dt>正文</dt>\n<dd><a href=\"http://elsewhere.test/1.html\">第一章</a></dd>\n"
        "<dd><a href=\"http://elsewhere.test/1.html\">第一章</a></dd>\n<div class=\"x\">");
    const auto r = parse(3, "http://s3.test/b/", page);
    ASSERT_EQ(r.status, ChapterListStatus::ok);
    // A chapter that occurs twice is listed twice.
    EXPECT_EQ(r.chapters,
              (std::vector<ChapterEntry>{entry(1, "第一章", "http://elsewhere.test/1.html"),
                                         entry(2, "第一章", "http://elsewhere.test/1.html")}));
}

TEST(ChapterList, Source4NeedsTheChapterHeading) {
    EXPECT_EQ(parse(4, "https://s4.test/b/", "<dd><a href=\"/1.html\">A</a></dd>").status,
              ChapterListStatus::page_unsupported);
    EXPECT_EQ(parse(4, "https://s4.test/b/", "").status, ChapterListStatus::page_unsupported);
    const auto r = parse(4, "https://s4.test/b/",
                         "<dt>正文</dt>\n<dd><a href=\"/1.html\">A</a></dd>\n</dl>"
                         "<dd><a href=\"/x.html\">X</a></dd>");
    EXPECT_EQ(r.chapters, (std::vector<ChapterEntry>{entry(1, "A", "https://s4.test/1.html")}));
}

TEST(ChapterList, Source5OptionalNameGroup) {
    const std::string page = gbk_page("<div class=\"clc\"><a href=\"/b/1.html\">第一章</a>\n"
                                      "<div class=\"clc\"><a href=\"/b/2.html\"></a>\n");
    const auto r = parse(5, "http://s5.test/b/", page);
    EXPECT_EQ(r.chapters, (std::vector<ChapterEntry>{entry(1, "第一章", "http://s5.test/b/1.html"),
                                                     entry(2, "", "http://s5.test/b/2.html")}));
}

TEST(ChapterList, Source6Narrowing) {
    // With volumes: only what follows the last volume heading.
    const auto volumes = parse(6, "http://s6.test/12345/",
                               "<dt>作品相关正文卷</dt><dd><a href =\"1.html\">前言</a></dd>\n"
                               "<dt>正文卷</dt>\n<dd><a href =\"678.html\">第一章</a></dd>\n");
    EXPECT_EQ(volumes.chapters,
              (std::vector<ChapterEntry>{entry(1, "第一章", "http://s6.test/12345/678.html")}));
    // Without volumes: the latest-chapters block above the list is removed.
    const auto latest = parse(6, "http://s6.test/9/",
                              "<dt>最新章节</dt>\n<dd><a href =\"3.html\">三</a></dd>\n<dt>全部</dt>\n"
                              "<dd><a href =\"1.html\">一</a></dd>\n");
    EXPECT_EQ(latest.chapters,
              (std::vector<ChapterEntry>{entry(1, "一", "http://s6.test/9/1.html")}));
}

TEST(ChapterList, Source8BetweenZjlistAndDl) {
    const auto r = parse(8, "https://s8.test/12345/",
                         gbk_page("<a href=\"0.html\">外</a><dl class=\"zjlist\">"
                                  "<dd><a href=\"678.html\">第一章</a></dd></dl>"
                                  "<a href=\"9.html\">后</a>"));
    EXPECT_EQ(r.chapters,
              (std::vector<ChapterEntry>{entry(1, "第一章", "https://s8.test/12345/678.html")}));
}

TEST(ChapterList, OutcomesAndTheirMessages) {
    for (int source = 1; source <= 8; ++source) {
        const auto r = parse(source, "http://x.test/", "");
        const auto expected = source == 4 ? ChapterListStatus::page_unsupported
                                          : ChapterListStatus::no_chapters;
        EXPECT_EQ(r.status, expected) << "source " << source;
        const auto m = chapter_list_message(source, r.status);
        ASSERT_TRUE(m);
        if (source == 4) {
            EXPECT_TRUE(m->closes_window);
            EXPECT_EQ(m->message.title, gbk("系统提示"));
            EXPECT_EQ(m->message.icon, MessageIcon::information);
        } else {
            EXPECT_FALSE(m->closes_window);
            EXPECT_EQ(m->message.text, gbk("拉取章节失败！"));
            EXPECT_EQ(m->message.icon,
                      source <= 4 ? MessageIcon::information : MessageIcon::error);
        }
    }
    EXPECT_FALSE(chapter_list_message(1, ChapterListStatus::ok));
    EXPECT_EQ(chapter_list_message(7, ChapterListStatus::pattern_failed)->message.icon,
              MessageIcon::error);
}

} // namespace
} // namespace tovani
