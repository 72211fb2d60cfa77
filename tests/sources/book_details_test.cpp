#include "sources/book_details.h"

#include <gtest/gtest.h>

#include "fixtures.h"

namespace tovani {
namespace {

using test::FakeWeb;
using test::gbk_page;

const std::string meta_page =
    "<meta property=\"og:image\" content=\"http://x.test/c.jpg\"/>\n"
    "<meta property=\"og:novel:author\" content=\"某甲\"/>\n"
    "<meta property=\"og:title\" content=\"甲书\"/>\n"
    "<meta property=\"og:novel:update_time\" content=\"2026-12-01 08:00\"/>\n"
    "<meta property=\"og:novel:status\" content=\"连载中\"/>\n"
    "<meta property=\"og:description\" content=\"简介&amp;<b>说明</b>\"/>\n";

TEST(BookDetails, MetaTagsWithAMissingLatestChapter) {
    const SearchHit hit{1, "", "", "http://x.test/b/"};
    for (int source : {1, 3, 4, 6, 7, 8}) {
        const bool utf8 = source == 1 || source == 3 || source == 4 || source == 6;
        const auto out = parse_book_details(source, hit, utf8 ? meta_page : gbk_page(meta_page));
        ASSERT_TRUE(out.details) << source;
        const BookDetails& d = *out.details;
        EXPECT_EQ(d.cover_url, "http://x.test/c.jpg");
        EXPECT_EQ(d.author, gbk("某甲"));
        EXPECT_EQ(d.title, gbk("甲书"));
        EXPECT_EQ(d.update_time, "2026-12-01 08:00");
        EXPECT_EQ(d.status, gbk("连载中"));
        EXPECT_EQ(d.latest_chapter, "");
        EXPECT_EQ(d.description, gbk("简介&amp;<b>说明</b>")); // nothing decoded
    }
}

TEST(BookDetails, ATagClosedWithASpaceRunsOnToTheNextEndMarker) {
    const std::string page = "<meta property=\"og:title\" content=\"甲\" />\n"
                             "<meta property=\"og:novel:status\" content=\"完结\"/>";
    const auto out = parse_book_details(1, {}, page);
    EXPECT_EQ(out.details->title,
              gbk("甲\" />\n<meta property=\"og:novel:status\" content=\"完结"));
    EXPECT_EQ(parse_book_details(1, {}, "<meta property=\"og:title\" content=\"甲\" />")
                  .details->title,
              "");
}

TEST(BookDetails, Source5ReadsItsTableAndTheSearchHit) {
    const std::string page = gbk_page(
        "<table class=\"ffw\"><tr><td><img src=\"http://s5.test/c.png\" /></td>"
        "<td>更新时间：</td><td class=\"tc\">2026-11-30</td>"
        "<td>最新章节<a href=\"/b/9.html\">第九章 终</a></td>"
        "<td><h4>【内容简介】</h4><br />第一行<br>第二行<br/>第三行<br />第四行</td></tr></table>");
    const SearchHit hit{3, gbk("行书"), gbk("某乙"), "http://s5.test/b/"};
    const auto out = parse_book_details(5, hit, page);
    ASSERT_TRUE(out.details);
    EXPECT_EQ(*out.details, (BookDetails{"http://s5.test/c.png", gbk("某乙"), gbk("行书"),
                                         "2026-11-30", "", gbk("第九章 终"),
                                         gbk("第一行第二行第三行<br />第四行")}));
}

TEST(BookDetails, Source2IsRefusedWithoutAFetch) {
    FakeWeb web;
    const auto out = request_book_details(2, {1, "a", "b", "http://s2.test/b/"}, web.fetchers());
    EXPECT_FALSE(out.details);
    ASSERT_TRUE(out.refusal);
    EXPECT_EQ(out.refusal->text, gbk("暂不支持！"));
    EXPECT_EQ(out.refusal->icon, MessageIcon::information);
    EXPECT_EQ(out.refusal->title, gbk("系统提示"));
    EXPECT_TRUE(web.asked.empty());
}

// Every request gives all seven fields anew: a failed fetch never shows an earlier book.
TEST(BookDetails, FailedFetchGivesEmptyFieldsForEverySourceWithARecipe) {
    FakeWeb web;
    const SearchHit hit{1, gbk("书"), gbk("人"), "http://unreachable.test/b/"};
    for (int source : {1, 3, 4, 5, 6, 7, 8}) {
        const auto out = request_book_details(source, hit, web.fetchers());
        ASSERT_TRUE(out.details) << source;
        BookDetails expected;
        if (source == 5) {
            expected.title = hit.name;
            expected.author = hit.author;
        }
        EXPECT_EQ(*out.details, expected) << source;
    }
}

} // namespace
} // namespace tovani
