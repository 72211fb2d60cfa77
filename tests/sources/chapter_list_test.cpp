#include "sources/chapter_list.h"

#include <gtest/gtest.h>

#include "fixtures.h"

namespace tovani {
namespace {

using test::gbk_page;
using test::source;

ChapterEntry entry(int n, const char* name, std::string link) {
    return {n, gbk(name), std::move(link)};
}

ChapterListResult parse(int id, const std::string& book, const std::string& body) {
    return parse_chapter_list(source(id), book, body);
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
    const std::string page =
        gbk_page("<dt>正文</dt>\n<dd><a href=\"http://elsewhere.test/1.html\">第一章</a></dd>\n"
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
    const auto latest =
        parse(6, "http://s6.test/9/",
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

// A page that came but lists nothing does not fit the rule; a bot check is a refusal.
TEST(ChapterList, PagesWithoutChaptersAreToldApart) {
    for (int id = 1; id <= 8; ++id) {
        SCOPED_TRACE(id);
        const auto r = parse(id, "http://x.test/", "<html><body>nothing here</body></html>");
        EXPECT_EQ(r.status,
                  id == 4 ? ChapterListStatus::page_unsupported : ChapterListStatus::no_chapters);
        EXPECT_EQ(r.outcome.kind, OutcomeKind::layout_changed);
        EXPECT_TRUE(r.chapters.empty());

        const auto check = parse(id, "http://x.test/",
                                 gbk_page("<html><title>安全验证</title><div class=\"challenge\">"
                                          "请稍候，正在验证您的浏览器……</div></html>"));
        EXPECT_EQ(check.outcome.kind, OutcomeKind::blocked);
        EXPECT_TRUE(check.chapters.empty());
    }
}

// A pattern that gives up half-way through a long page must not pass off the chapters before
// that point as the whole book.
TEST(ChapterList, PatternThatGivesUpIsAFailureNotAShortList) {
    std::string page;
    auto entries = [&page](int from, int to) {
        for (int i = from; i < to; ++i) {
            const std::string n = std::to_string(i);
            page += "<dd><a href =\"/b/" + n + ".html\">" + n + "</a></dd>\n";
        }
    };
    entries(0, 2000);
    page += "<dd><a href =\"";
    for (int i = 0; i < 1500; ++i) {
        page += "\">x";
    }
    page += "\n";
    entries(2000, 4000);
    const auto r = parse(7, "http://s7.test/b/", page);
    EXPECT_EQ(r.status, ChapterListStatus::pattern_failed);
    EXPECT_EQ(r.outcome.kind, OutcomeKind::layout_changed);
    EXPECT_TRUE(r.chapters.empty());
}

TEST(ChapterList, FailedFetchesKeepTheirKind) {
    test::FakeWeb web;
    const auto missing = list_chapters(source(6), "http://s6.test/1/", web.fetchers());
    EXPECT_EQ(missing.status, ChapterListStatus::no_chapters);
    EXPECT_EQ(missing.outcome.kind, OutcomeKind::http_error);
    EXPECT_EQ(missing.outcome.http_status, 404);

    BookSource bad = source(6);
    bad.host_error = "invalid host";
    const auto unusable = list_chapters(bad, "http://s6.test/1/", web.fetchers());
    EXPECT_EQ(unusable.outcome.kind, OutcomeKind::unreachable);
    EXPECT_EQ(web.asked.size(), 1u) << "a source without a usable host is not asked";
}

} // namespace
} // namespace tovani
