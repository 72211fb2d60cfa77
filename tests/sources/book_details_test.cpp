#include "sources/book_details.h"

#include <gtest/gtest.h>

#include "fixtures.h"

namespace tovani {
namespace {

using test::FakeWeb;
using test::gbk_page;
using test::source;

DetailsOutcome parse(int id, const SearchHit& hit, const std::string& body) {
    return parse_book_details(source(id).rule, hit, body);
}

const std::string meta_page =
    "<meta property=\"og:image\" content=\"http://x.test/c.jpg\"/>\n"
    "<meta property=\"og:novel:author\" content=\"某甲\"/>\n"
    "<meta property=\"og:title\" content=\"甲书\"/>\n"
    "<meta property=\"og:novel:update_time\" content=\"2026-12-01 08:00\"/>\n"
    "<meta property=\"og:novel:status\" content=\"连载中\"/>\n"
    "<meta property=\"og:description\" content=\"&ldquo;简介&rdquo;&amp;<b>说明</b>\"/>\n";

TEST(BookDetails, MetaTagsWithAMissingLatestChapter) {
    const SearchHit hit{1, "", "", "http://x.test/b/"};
    for (int source : {1, 3, 4, 6, 7, 8}) {
        const bool utf8 = source == 1 || source == 3 || source == 4 || source == 6;
        const auto out = parse(source, hit, utf8 ? meta_page : gbk_page(meta_page));
        ASSERT_TRUE(out.details) << source;
        const BookDetails& d = *out.details;
        EXPECT_EQ(d.cover_url, "http://x.test/c.jpg");
        EXPECT_EQ(d.author, gbk("某甲"));
        EXPECT_EQ(d.title, gbk("甲书"));
        EXPECT_EQ(d.update_time, "2026-12-01 08:00");
        EXPECT_EQ(d.status, gbk("连载中"));
        EXPECT_EQ(d.latest_chapter, "");
        // References are decoded; tags are the site's and stay.
        EXPECT_EQ(d.description, gbk("“简介”&<b>说明</b>"));
    }
}

TEST(BookDetails, ATagClosedWithASpaceRunsOnToTheNextEndMarker) {
    const std::string page = "<meta property=\"og:title\" content=\"甲\" />\n"
                             "<meta property=\"og:novel:status\" content=\"完结\"/>";
    const auto out = parse(1, {}, page);
    EXPECT_EQ(out.details->title,
              gbk("甲\" />\n<meta property=\"og:novel:status\" content=\"完结"));
    EXPECT_EQ(parse(1, {}, "<meta property=\"og:title\" content=\"甲\" />").details->title, "");
}

TEST(BookDetails, Source5ReadsItsTableAndTheSearchHit) {
    const std::string page = gbk_page(
        "<table class=\"ffw\"><tr><td><img src=\"http://s5.test/c.png\" /></td>"
        "<td>更新时间：</td><td class=\"tc\">2026-11-30</td>"
        "<td>最新章节<a href=\"/b/9.html\">第九章 终</a></td>"
        "<td><h4>【内容简介】</h4><br />第一行<br>第二行<br/>第三行<br />第四行</td></tr></table>");
    const SearchHit hit{3, gbk("行书"), gbk("某乙"), "http://s5.test/b/"};
    const auto out = parse(5, hit, page);
    ASSERT_TRUE(out.details);
    EXPECT_EQ(*out.details,
              (BookDetails{"http://s5.test/c.png", gbk("某乙"), gbk("行书"), "2026-11-30", "",
                           gbk("第九章 终"), gbk("第一行第二行第三行<br />第四行")}));
}

TEST(BookDetails, Source2IsRefusedWithoutAFetch) {
    FakeWeb web;
    const auto out =
        request_book_details(source(2), {1, "a", "b", "http://s2.test/b/"}, web.fetchers());
    EXPECT_FALSE(out.details);
    EXPECT_TRUE(out.refused);
    EXPECT_TRUE(web.asked.empty());
}

// A failed fetch says why instead of opening an empty window; a page without the facts still
// opens one, with every field replaced, never showing an earlier book.
TEST(BookDetails, FailedFetchesAndEmptyPages) {
    FakeWeb web;
    const SearchHit hit{1, gbk("书"), gbk("人"), "http://unreachable.test/b/"};
    for (int id : {1, 3, 4, 5, 6, 7, 8}) {
        SCOPED_TRACE(id);
        const auto failed = request_book_details(source(id), hit, web.fetchers());
        EXPECT_FALSE(failed.details);
        EXPECT_EQ(failed.outcome.kind, OutcomeKind::http_error);

        const auto out = parse(id, hit, "<html>another layout</html>");
        ASSERT_TRUE(out.details);
        BookDetails expected;
        if (id == 5) {
            expected.title = hit.name;
            expected.author = hit.author;
        }
        EXPECT_EQ(*out.details, expected);

        const std::string check_page = "<title>安全验证</title>请稍候，正在验证您的浏览器";
        const bool utf8 = id == 1 || id == 3 || id == 4 || id == 6;
        const auto check = parse(id, hit, utf8 ? check_page : gbk_page(check_page));
        EXPECT_FALSE(check.details);
        EXPECT_EQ(check.outcome.kind, OutcomeKind::blocked);
    }
}

} // namespace
} // namespace tovani
