#include "sources/search.h"

#include <gtest/gtest.h>

#include "fixtures.h"

namespace tovani {
namespace {

using test::FakeWeb;
using test::gbk_page;
using test::source;

SearchHit hit(int n, const char* name, const char* author, std::string link) {
    return {n, gbk(name), gbk(author), std::move(link)};
}

TEST(KeywordChecks, BlankAndPlaceholderAreNotSearched) {
    EXPECT_FALSE(is_searchable_keyword(""));
    EXPECT_FALSE(is_searchable_keyword("   "));
    EXPECT_FALSE(is_searchable_keyword(gbk("　 　")));
    const std::string hint = gbk("可搜书名和作者，请您少字也别输错字。");
    EXPECT_FALSE(is_searchable_keyword(hint, hint));
    EXPECT_TRUE(is_searchable_keyword(gbk(" 星 海 "), hint));
    EXPECT_TRUE(is_searchable_keyword(hint + " ", hint));
}

// The URL each source asks for, and how it encodes the keyword "a 中".
TEST(Search, UrlAndKeywordEncodingPerSource) {
    const std::vector<std::string> expected{
        "https://s1.test/s?q=a+%E4%B8%AD",
        "http://s2.test/modules/article/search.php?searchkey=a+%E4%B8%AD",
        "http://s3.test/modules/article/search.php?searchkey=a+%E4%B8%AD",
        "https://s4.test/searchbook.php?keyword=a+%E4%B8%AD",
        "http://s5.test/s/a+%E4%B8%AD",
        "http://s6.test/search.php?searchkey=a+%E4%B8%AD",
        "http://s7.test/shaopu.php?ie=gbk&q=a+%D6%D0",
        "https://s8.test/modules/article/search.php?searchkey=%61+%D6%D0&submit=%CB%D1%CB%F7",
    };
    for (int id = 1; id <= 8; ++id) {
        FakeWeb web;
        const SearchOutcome out = search_source(source(id), gbk("a 中"), web.fetchers());
        ASSERT_EQ(web.asked.size(), 1u) << "source " << id;
        EXPECT_EQ(web.asked[0], expected[static_cast<std::size_t>(id - 1)]);
        // A missing page is the site's error, not "nothing found".
        EXPECT_TRUE(out.hits.empty());
        EXPECT_EQ(out.outcome.kind, OutcomeKind::http_error);
        EXPECT_EQ(out.outcome.http_status, 404);
    }
}

TEST(Search, Source1RowsFromOneMatchEach) {
    FakeWeb web;
    web.pages["https://s1.test/s?q=x"] =
        "<h4 class=\"bookname\"><a href=\"/b/1/\">甲书</a></h4><div class=\"author\">某甲</div>"
        "<div class=\"uptime\">1</div>\n"
        "<h4 class=\"bookname\"><a href=\"/b/2/\">乙书</a></h4><div class=\"author\">某乙</div>"
        "<div class=\"uptime\">2</div>\n";
    const SearchOutcome out = search_source(source(1), "x", web.fetchers());
    ASSERT_TRUE(out.outcome.ok());
    EXPECT_EQ(out.hits, (std::vector<SearchHit>{hit(1, "甲书", "某甲", "https://s1.test/b/1/"),
                                                hit(2, "乙书", "某乙", "https://s1.test/b/2/")}));
}

// Sources 2 and 3 pair consecutive cells; an unpaired last cell is dropped.
TEST(Search, PairedCellsDropTheUnpairedLastMatch) {
    FakeWeb web;
    web.pages["http://s2.test/modules/article/search.php?searchkey=x"] =
        "<td class=\"odd\"><a href=\"http://s2.test/txt/11.html\">甲书</a></td>\n"
        "<td class=\"odd\">某甲</td>\n"
        "<td class=\"odd\"><a href=\"http://s2.test/txt/22.html\">乙书</a></td>\n"
        "<td class=\"odd\">某乙</td>\n"
        "<td class=\"odd\"><a href=\"http://s2.test/txt/33.html\">丙书</a></td>\n";
    web.pages["http://s3.test/modules/article/search.php?searchkey=x"] =
        gbk_page("<td class=\"odd\"><a href=\"http://s3.test/book/7\">丁书</a></td>\n"
                 "<td class=\"odd\">某丁</td>\n"
                 "<td class=\"odd\"><a href=\"http://s3.test/book/8\">戊书</a></td>\n");
    auto two = search_source(source(2), "x", web.fetchers());
    EXPECT_EQ(two.hits,
              (std::vector<SearchHit>{hit(1, "甲书", "某甲", "http://s2.test/biquge_11/"),
                                      hit(2, "乙书", "某乙", "http://s2.test/biquge_22/")}));
    auto three = search_source(source(3), "x", web.fetchers());
    EXPECT_EQ(three.hits,
              (std::vector<SearchHit>{hit(1, "丁书", "某丁", "http://s3.test/book/7/")}));

    // One match alone makes no row: nothing found, never "ok" without rows.
    web.pages["http://s3.test/modules/article/search.php?searchkey=y"] =
        gbk_page("<td class=\"odd\"><a href=\"http://s3.test/book/7\">丁书</a></td>\n");
    auto lone = search_source(source(3), "y", web.fetchers());
    EXPECT_TRUE(lone.hits.empty());
    EXPECT_EQ(lone.outcome.kind, OutcomeKind::no_match);
}

TEST(Search, Source4CutsLinkNameAndAuthorOutOfOneGroup) {
    FakeWeb web;
    web.pages["https://s4.test/searchbook.php?keyword=x"] =
        "<span class=\"s2\"><a href=\"/book/5/\" target=\"_blank\">甲书</a></span>"
        "<span class=\"s4\">某甲</span>\n";
    auto out = search_source(source(4), "x", web.fetchers());
    EXPECT_EQ(out.hits,
              (std::vector<SearchHit>{hit(1, "甲书", "某甲", "https://s4.test/book/5/")}));
}

std::string source5_page(int first, int count, const std::string& pager) {
    std::string rows;
    for (int i = first; i < first + count; ++i) {
        const std::string n = std::to_string(i);
        rows += "<li><span class=\"conter1\"><a href=\"b" + n + "/\">书" + n +
                "</a></span><span class=\"conter4\">作者" + n + "</li>\r\n";
    }
    return gbk_page("<html><div class=\"conter\">\r\n\t<ul>" + rows +
                    "</ul>\t<div class=\"clear\"></div>\r\n\t<div id=\"pagebav\">" + pager +
                    "</div></html>");
}

TEST(Search, Source5FollowsThePagerAndNumbersOn) {
    FakeWeb web;
    const std::string pager =
        "<a class=\"c\">1</a><a href=\"/s/x/2\">2</a><a href=\"/s/x/3\">3</a></div>";
    web.pages["http://s5.test/s/x"] = source5_page(1, 20, pager);
    web.pages["http://s5.test/s/x/2"] = source5_page(21, 20, "");
    web.pages["http://s5.test/s/x/3"] = source5_page(41, 20, "");
    auto out = search_source(source(5), "x", web.fetchers());
    ASSERT_TRUE(out.outcome.ok());
    ASSERT_EQ(out.hits.size(), 60u);
    for (int i = 1; i <= 60; ++i) {
        const auto& h = out.hits[static_cast<std::size_t>(i - 1)];
        EXPECT_EQ(h.number, i);
        EXPECT_EQ(h.name, gbk("书" + std::to_string(i)));
        EXPECT_EQ(h.author, gbk("作者" + std::to_string(i)));
        EXPECT_EQ(h.link, "http://s5.test/b" + std::to_string(i) + "/");
    }

    // A later page that yields nothing ends the search quietly with the rows so far.
    web.pages.erase("http://s5.test/s/x/3");
    out = search_source(source(5), "x", web.fetchers());
    EXPECT_TRUE(out.outcome.ok());
    EXPECT_EQ(out.hits.size(), 40u);
}

TEST(Search, Source5PagerHrefsGetTheKeywordEncoded) {
    FakeWeb web;
    const std::string keyword_page = "http://s5.test/s/%E4%B8%AD";
    web.pages[keyword_page] =
        source5_page(1, 1, "<a class=\"c\">1</a><a href=\"/s/中/2\">2</a></div>");
    web.pages["http://s5.test/s/%E4%B8%AD/2"] = source5_page(2, 1, "");
    auto out = search_source(source(5), gbk("中"), web.fetchers());
    EXPECT_EQ(out.hits.size(), 2u);
    EXPECT_EQ(web.asked.back(), "http://s5.test/s/%E4%B8%AD/2");
}

// A pager that lists thousands of pages is followed up to the rule's cap, and the search says
// that it stopped there.
TEST(Search, Source5FollowsAtMostTheRulesNumberOfPages) {
    FakeWeb web;
    std::string pager = "<a class=\"c\">1</a>";
    for (int p = 2; p <= 2000; ++p) {
        const std::string n = std::to_string(p);
        pager += "<a href=\"/s/x/" + n + "\">" + n + "</a>";
        web.pages["http://s5.test/s/x/" + n] = source5_page(p, 1, "");
    }
    web.pages["http://s5.test/s/x"] = source5_page(1, 1, pager + "</div>");
    const SearchOutcome out = search_source(source(5), "x", web.fetchers());
    EXPECT_TRUE(out.outcome.ok());
    EXPECT_TRUE(out.pages_capped);
    EXPECT_EQ(out.hits.size(), 101u);
    EXPECT_EQ(web.asked.size(), 101u);
    EXPECT_EQ(web.asked.back(), "http://s5.test/s/x/101");

    // A pager within the cap is followed to its end and nothing is said.
    BookSource wide = source(5);
    wide.rule.search.pager->max_pages = 5000;
    web.asked.clear();
    const SearchOutcome all = search_source(wide, "x", web.fetchers());
    EXPECT_FALSE(all.pages_capped);
    EXPECT_EQ(all.hits.size(), 2000u);
}

TEST(Search, Source6RefusesNameAndAuthorCountsThatDiffer) {
    std::string page;
    for (int i = 0; i < 10; ++i) {
        page += "<span class=\"bookname\"><a href=\"b" + std::to_string(i) + "/\">书</a></span>\n";
        if (i < 9) {
            page += "<span class=\"author\">某</span>\n";
        }
    }
    FakeWeb web;
    web.pages["http://s6.test/search.php?searchkey=x"] = page;
    auto out = search_source(source(6), "x", web.fetchers());
    EXPECT_TRUE(out.hits.empty());
    EXPECT_EQ(out.outcome.kind, OutcomeKind::no_match);

    page += "<span class=\"author\">某</span>\n";
    web.pages["http://s6.test/search.php?searchkey=x"] = page;
    out = search_source(source(6), "x", web.fetchers());
    EXPECT_EQ(out.hits.size(), 10u);
    EXPECT_EQ(out.hits[3].link, "http://s6.test/b3/");
}

TEST(Search, Source7NeedsNameLinkAndAuthorOnOneLine) {
    FakeWeb web;
    web.pages["http://s7.test/shaopu.php?ie=gbk&q=x"] = gbk_page(
        "<div class=\"bookname\"><a href=\"/7/\">甲书</a></div><div class=\"author\">某甲</div>\n"
        "<div class=\"bookname\"><a href=\"/8/\">乙书</a></div>\n<div "
        "class=\"author\">某乙</div>\n");
    auto out = search_source(source(7), "x", web.fetchers());
    EXPECT_EQ(out.hits, (std::vector<SearchHit>{hit(1, "甲书", "某甲", "http://s7.test/7/")}));
}

TEST(Search, Source8ReadsTheFirstTableAndEveryOtherAuthorCell) {
    std::string table = "<table>";
    for (int i = 1; i <= 3; ++i) {
        const std::string n = std::to_string(i);
        table += "<tr><td class=\"odd\"><a href=\"https://s8.test/b/" + n + "/\">书" + n +
                 "</a></td><td class=\"odd\" align=\"center\">作者" + n +
                 "</td><td class=\"odd\" align=\"center\">连载</td></tr>\n";
    }
    table += "</table><table><tr><td class=\"odd\" align=\"center\">外</td></tr></table>";
    FakeWeb web;
    web.pages["https://s8.test/modules/article/search.php?searchkey=x&submit=%CB%D1%CB%F7"] =
        gbk_page(table);
    // The keyword "x" is percent-encoded in full on this source.
    web.pages["https://s8.test/modules/article/search.php?searchkey=%78&submit=%CB%D1%CB%F7"] =
        gbk_page(table);
    auto out = search_source(source(8), "x", web.fetchers());
    ASSERT_EQ(out.hits.size(), 3u);
    for (int i = 1; i <= 3; ++i) {
        const auto& h = out.hits[static_cast<std::size_t>(i - 1)];
        EXPECT_EQ(h.author, gbk("作者" + std::to_string(i)));
        EXPECT_EQ(h.link, "https://s8.test/b/" + std::to_string(i) + "/");
    }
}

} // namespace
} // namespace tovani
