// The demo sites as a plain client sees them: schemes, charsets, the markers each source's
// reader relies on, keyword decoding, source 5's result pages, covers and unknown paths.

#include "demo/demo_sites.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "regex/regex_object.h"
#include "tests/demo/demo_client.h"
#include "text/encoding.h"
#include "text/text_helpers.h"

namespace tovani::demo {
namespace {

using test::fetch;
using test::Fetched;
using test::page_text;

bool utf8_page(int source) {
    return source == 1 || source == 2 || source == 4 || source == 6;
}

// The search request each source's reader sends, with the keyword encoded its way.
std::string search_target(int source, std::string_view keyword) {
    const std::string utf8 = url_encode(keyword, true, true);
    switch (source) {
    case 1:
        return "/s?q=" + utf8;
    case 4:
        return "/searchbook.php?keyword=" + utf8;
    case 5:
        return "/s/" + utf8;
    case 6:
        return "/search.php?searchkey=" + utf8;
    case 7:
        return "/shaopu.php?ie=gbk&q=" + url_encode(keyword, true, false);
    case 8:
        return "/modules/article/search.php?searchkey=" + url_encode(keyword, false, false) +
               "&submit=%CB%D1%CB%F7";
    default:
        return "/modules/article/search.php?searchkey=" + utf8;
    }
}

std::string path_of(const std::string& link) {
    const auto scheme_end = link.find("://");
    return link.substr(link.find('/', scheme_end + 3));
}

class DemoSitesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        DemoOptions options;
        options.free_ports = true;
        options.library.scale_chapters = 40;
        std::string error;
        sites_ = DemoSites::start(options, &error);
        ASSERT_NE(sites_, nullptr) << error;
    }
    static void TearDownTestSuite() { sites_.reset(); }

    // Ids of the catalogue books whose titles appear in `text` (no title contains another).
    static std::vector<int> titles_in(const std::string& text) {
        std::vector<int> ids;
        for (const DemoBook& book : sites_->library().books()) {
            if (contains_text(text, book.title)) {
                ids.push_back(book.id);
            }
        }
        return ids;
    }

    static std::unique_ptr<DemoSites> sites_;
};
std::unique_ptr<DemoSites> DemoSitesTest::sites_;

TEST_F(DemoSitesTest, ListenersAnswerOnTheirOwnSchemeOnly) {
    for (int source = 1; source <= 8; ++source) {
        SCOPED_TRACE(source);
        const bool https = source == 1 || source == 4 || source == 8;
        const std::string host = sites_->host(source);
        EXPECT_EQ(host, "127.0.0.1:" + std::to_string(sites_->port(source)));
        EXPECT_EQ(sites_->site_root(source), (https ? "https://" : "http://") + host);

        const std::string book = path_of(sites_->book_link(source, 101));
        EXPECT_EQ(fetch(sites_->site_root(source), book).status, 200);
        const Fetched wrong = fetch((https ? "http://" : "https://") + host, book);
        EXPECT_FALSE(wrong.answered && wrong.status == 200);
    }
}

// Every page kind of every source: declared and actual charset, a known title, and the markers
// the source's reader cuts the page with.
TEST_F(DemoSitesTest, PagesCarryTheirSourcesMarkersInTheirCharset) {
    const DemoBook& book = *sites_->library().find(105); // 長安錦書: 錦 has a 0x5C second byte
    const std::string results_start = "<div class=\"conter\">\r\n\t";
    const std::string results_end = "\t<div class=\"clear\"></div>\r\n\t<div id=\"pagebav\">";
    struct Row {
        int source;
        PageKind kind;
        std::vector<std::string> markers; // UTF-8 literals
    };
    const std::vector<Row> rows{
        {1,
         PageKind::search,
         {"\"bookname\"><a href=\"", "</a></h4><div class=\"author\">",
          "</div><div class=\"uptime\">"}},
        {2, PageKind::search, {"<td class=\"odd\"><a href=", "/txt/105.html\">"}},
        {3, PageKind::search, {"odd\"><a href=\"http://", "/book/105\">"}},
        {4, PageKind::search, {"<a href=\"/book/105/\" target=\"_blank\">", "s4\">", "</span>"}},
        {5,
         PageKind::search,
         {results_start, results_end, "conter1\"><a href=\"book/105/\">", "conter4\">",
          "<a class=\"c\">"}},
        {6, PageKind::search, {"bookname\"><a href=\"book/105/\">", "author\">"}},
        {7, PageKind::search, {"bookname\"><a href=\"/book/105/\">", "author\">"}},
        {8, PageKind::search, {"<table", "<a href=\"https://", "class=\"odd\" align=\"center\">"}},
        {1, PageKind::book, {"<dd><a href =\"/book/105/1.html\">"}},
        {2, PageKind::book, {"正文</dt>", "<dd><a href=\"/biquge_105/1.html\">", "<div class="}},
        {3, PageKind::book, {"正文</dt>", "<dd><a href=\"http://", "<div class="}},
        {4, PageKind::book, {"正文</dt>", "href=\"/book/105/1.html\">", "</a></dd>", "</dl>"}},
        {5,
         PageKind::book,
         {"<div class=\"clc\"><a href=\"/book/105/1.html\">", "ffw\">",
          "更新时间：</td><td class=\"tc\">", "最新章节", "内容简介】</h4><br />"}},
        {6, PageKind::book, {"最新章节", "<dd><a href =\"1.html\">"}},
        {7, PageKind::book, {"<dd><a href =\"/book/105/1.html\">"}},
        {8, PageKind::book, {"zjlist", "<a href=\"1.html\">", "</dl>"}},
        {1,
         PageKind::chapter,
         {"<div id=\"chaptercontent\" class=\"Readarea ReadAjax_content\">",
          "\r\n\t\t<p class=\"readinline\">", "&nbsp;", "<br />"}},
        {2, PageKind::chapter, {"<div id=\"content\">", "</div>", "&nbsp;", "<br/>", "<br>"}},
        {3, PageKind::chapter, {"<div id=\"content\">", "</div>", "&nbsp;", "<p>", "</p>"}},
        {4, PageKind::chapter, {"<div id=\"content\">", "</div>", "&nbsp;", "<br />"}},
        {5, PageKind::chapter, {"cp_content\">", "<script", "&nbsp;", "<br>", "<br/>"}},
        {6, PageKind::chapter, {"showtxt\">", "<script", "&nbsp;", "<br>", "<br/>"}},
        {7,
         PageKind::chapter,
         {"showtxt\">", "<div class=\"page_chapter\">", "&nbsp;", "<br />", "<br/>", "<br>"}},
        {8,
         PageKind::chapter,
         {"<div id=\"content\">", "</div>", "&nbsp;", "<br>", "<br/>", "<br />"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message()
                     << "source " << row.source << " kind " << static_cast<int>(row.kind));
        std::string target;
        std::string known; // a text every page of this kind shows (GBK)
        switch (row.kind) {
        case PageKind::search:
            target = search_target(row.source, book.title);
            known = book.title;
            break;
        case PageKind::book:
            target = path_of(sites_->book_link(row.source, book.id));
            known = sites_->library().chapter_name(book, 1);
            break;
        default:
            target = path_of(sites_->chapter_link(row.source, book.id, 3));
            known = sites_->library().chapter_paragraphs(book, 3).front();
            break;
        }
        const Fetched page = fetch(sites_->site_root(row.source), target);
        ASSERT_EQ(page.status, 200);
        const bool utf8 = utf8_page(row.source);
        EXPECT_EQ(page.content_type, std::string{"text/html; charset="} + (utf8 ? "utf-8" : "gbk"));
        // The raw bytes are in that charset: the known text appears in its form and not the other.
        EXPECT_EQ(page.body.find(utf8 ? to_utf8(known) : known) != std::string::npos, true);
        EXPECT_EQ(page.body.find(utf8 ? known : to_utf8(known)), std::string::npos);

        const std::string text = page_text(page, utf8);
        for (const std::string& marker : row.markers) {
            EXPECT_TRUE(contains_text(text, gbk(marker))) << marker;
        }
    }
}

// Source 3 reads one book page twice: as GBK for the chapter list, as UTF-8 for the details.
TEST_F(DemoSitesTest, Source3BookPageHasAUtf8HeadAndAGbkBody) {
    const DemoBook& book = *sites_->library().find(108);
    const Fetched page = fetch(sites_->site_root(3), path_of(sites_->book_link(3, book.id)));
    ASSERT_EQ(page.status, 200);
    const std::size_t body_start = page.body.find("<body>");
    ASSERT_NE(body_start, std::string::npos);
    const std::string head = page.body.substr(0, body_start);
    const std::string body = page.body.substr(body_start);

    EXPECT_NE(head.find("og:title\" content=\"" + to_utf8(book.title) + "\"/>"), std::string::npos);
    EXPECT_NE(head.find("og:novel:author\" content=\"" + to_utf8(book.author) + "\"/>"),
              std::string::npos);
    const std::string details = convert_charset(page.body);
    EXPECT_EQ(text_between(details, "og:description\" content=\"", "\"/>"), book.description);

    EXPECT_NE(body.find(gbk("正文</dt>")), std::string::npos);
    EXPECT_NE(body.find(sites_->library().chapter_name(book, book.chapter_count)),
              std::string::npos);
}

TEST_F(DemoSitesTest, KeywordsAreDecodedTheWayEachSourceEncodesThem) {
    const std::vector<int> by_author{102, 103, 107, 109, 110, 111, 112};
    struct Case {
        int source;
        std::string target;
        std::vector<int> ids;
    };
    const std::vector<Case> cases{
        {1, search_target(1, gbk("青衫客")), by_author},
        {1, "/s?q=" + url_encode(gbk("青衫客"), true, false), {}}, // GBK bytes on a UTF-8 site
        {2, search_target(2, gbk("墨池生")), {101, 105}},
        {3, search_target(3, gbk("長安錦書")), {105}},
        {4, "/searchbook.php?keyword=" + url_encode(gbk("零号 纪元"), true, true), {109}},
        {5, search_target(5, gbk("白鹭洲")), {104}},
        {6, search_target(6, gbk("雪落无声")), {106}},
        {7, search_target(7, gbk("東籬閑話")), {108}}, // 東 ends in 0x7C, 籬 is plain GBK
        {7, "/shaopu.php?ie=gbk&q=" + url_encode(gbk("東籬閑話"), true, true), {}},
        {8, search_target(8, gbk("零号AI纪元")), {109}}, // letters escaped too: %41%49
        {8, search_target(8, gbk("零号 AI")), {109}},    // "+" is a space
        {8, search_target(8, gbk("誠齋")), {108}},       // 誠 ends in 0x5C
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        const Fetched page = fetch(sites_->site_root(c.source), c.target);
        ASSERT_EQ(page.status, 200);
        EXPECT_EQ(titles_in(page_text(page, utf8_page(c.source))), c.ids);
    }
}

TEST_F(DemoSitesTest, Source5SpreadsResultsOverPagesItsPagerLinks) {
    const std::string keyword = gbk("青衫客");
    const std::string encoded = url_encode(keyword, true, true);
    const std::string results_start = "<div class=\"conter\">\r\n\t";
    const std::string results_end = "\t<div class=\"clear\"></div>\r\n\t<div id=\"pagebav\">";

    const Fetched first = fetch(sites_->site_root(5), "/s/" + encoded);
    ASSERT_EQ(first.status, 200);
    const std::string pager = text_between(first.body, "<a class=\"c\">", "</div>");
    RegexObject links;
    ASSERT_TRUE(links.create(gbk("<a href=#引号(\\S+)#引号>"), pager, true, true, true, true));
    ASSERT_EQ(links.match_count(), 2);

    std::vector<std::vector<int>> pages{
        titles_in(text_between(first.body, results_start, results_end))};
    for (int j = 1; j <= links.match_count(); ++j) {
        const std::string href = links.submatch_text(j, 1);
        EXPECT_TRUE(contains_text(href, keyword)) << "the pager carries the keyword as typed";
        const Fetched later = fetch(sites_->site_root(5), replace_text(href, keyword, encoded));
        ASSERT_EQ(later.status, 200);
        const std::string area = text_between(later.body, results_start, results_end);
        EXPECT_FALSE(area.empty()) << href;
        pages.push_back(titles_in(area));
    }
    const std::vector<std::vector<int>> expected{{102, 103, 107}, {109, 110, 111}, {112}};
    EXPECT_EQ(pages, expected);

    // A page past the last one has an empty results area, not a repeat of the last page.
    const Fetched beyond = fetch(sites_->site_root(5), "/s/" + encoded + "/4");
    EXPECT_TRUE(titles_in(text_between(beyond.body, results_start, results_end)).empty());
}

TEST_F(DemoSitesTest, CoversArePngPictures) {
    const Fetched cover = fetch(sites_->site_root(7), path_of(sites_->cover_link(7, 104)));
    ASSERT_EQ(cover.status, 200);
    EXPECT_EQ(cover.content_type, "image/png");
    ASSERT_GT(cover.body.size(), 33u);
    EXPECT_EQ(cover.body.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(cover.body.substr(12, 4), "IHDR");
    EXPECT_EQ(cover.body.substr(16, 8), std::string("\0\0\0\x5a\0\0\0\x78", 8)); // 90 x 120
    EXPECT_EQ(cover.body.substr(cover.body.size() - 8, 4), "IEND");

    // The absolute cover links on the pages lead to it.
    const Fetched meta = fetch(sites_->site_root(4), path_of(sites_->book_link(4, 104)));
    const std::string url =
        text_between(convert_charset(meta.body), "og:image\" content=\"", "\"/>");
    EXPECT_EQ(url, sites_->cover_link(4, 104));
}

TEST_F(DemoSitesTest, UnknownBooksChaptersAndPathsAreNotFound) {
    struct Case {
        int source;
        std::string target;
    };
    const std::vector<Case> cases{
        {1, "/book/999/"},
        {1, "/book/101/0.html"},
        {1, "/book/101/25.html"},
        {1, "/biquge_101/"},
        {2, "/book/101/"},
        {3, "/book/x/"},
        {6, "/cover/999.png"},
        {8, "/"},
        {5, "/search.php?searchkey=a"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fetch(sites_->site_root(c.source), c.target).status, 404)
            << c.source << " " << c.target;
    }
    // Book 101 has 24 chapters; its last one is there.
    EXPECT_EQ(fetch(sites_->site_root(1), "/book/101/24.html").status, 200);
}

} // namespace
} // namespace tovani::demo
