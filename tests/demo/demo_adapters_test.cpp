// The book sources' own adapters against the demo sites, over the network: every book is found
// on every source, chapter lists, chapter texts and details come out as the catalogue says.

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "demo/demo_sites.h"
#include "http/fetch.h"
#include "sources/book_details.h"
#include "sources/chapter_list.h"
#include "sources/chapter_text.h"
#include "sources/search.h"
#include "sources/search_all.h"
#include "tests/support/demo_site_table.h"
#include "text/encoding.h"

namespace tovani::demo {
namespace {

class DemoAdaptersTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        DemoOptions options;
        options.free_ports = true;
        options.library.scale_chapters = 60;
        std::string error;
        sites_ = DemoSites::start(options, &error);
        ASSERT_NE(sites_, nullptr) << error;
        config_ = std::make_unique<SourceTable>(tovani::test::demo_site_table(*sites_));
    }
    static void TearDownTestSuite() {
        config_.reset();
        sites_.reset();
    }

    static const DemoLibrary& library() { return sites_->library(); }

    static const BookSource& source(int id) { return *config_->find(id); }
    static std::string book_title(int id) { return library().find(id)->title; }

    static std::unique_ptr<DemoSites> sites_;
    static std::unique_ptr<SourceTable> config_;
};
std::unique_ptr<DemoSites> DemoAdaptersTest::sites_;
std::unique_ptr<SourceTable> DemoAdaptersTest::config_;

TEST_F(DemoAdaptersTest, EveryBookIsFoundByItsTitleOnEverySource) {
    for (int source = 1; source <= 8; ++source) {
        for (const DemoBook& book : library().books()) {
            SCOPED_TRACE(::testing::Message() << "source " << source << " book " << book.id);
            const SearchOutcome outcome = search_source(this->source(source), book.title);
            EXPECT_TRUE(outcome.outcome.ok());
            const std::vector<SearchHit> expected{
                {1, book.title, book.author, sites_->book_link(source, book.id)}};
            EXPECT_EQ(outcome.hits, expected);
        }
    }
}

TEST_F(DemoAdaptersTest, AuthorSearchListsEveryBookOnEverySource) {
    std::vector<const DemoBook*> books = library().search(gbk("青衫客"));
    ASSERT_EQ(books.size(), 7u);
    for (int source = 1; source <= 8; ++source) {
        SCOPED_TRACE(source);
        const SearchOutcome outcome = search_source(this->source(source), gbk("青衫客"));
        ASSERT_EQ(outcome.hits.size(), books.size()); // source 5: over three result pages
        for (std::size_t i = 0; i < books.size(); ++i) {
            EXPECT_EQ(outcome.hits[i].number, static_cast<int>(i + 1));
            EXPECT_EQ(outcome.hits[i].name, books[i]->title);
            EXPECT_EQ(outcome.hits[i].link, sites_->book_link(source, books[i]->id));
        }
    }
}

TEST_F(DemoAdaptersTest, ChapterListsHoldEveryChapterInOrder) {
    // 102 and 103: both forms of source 6's list; 900: the scale book.
    for (int source = 1; source <= 8; ++source) {
        for (int id : {102, 103, DemoLibrary::scale_book_id}) {
            SCOPED_TRACE(::testing::Message() << "source " << source << " book " << id);
            const DemoBook& book = *library().find(id);
            const ChapterListResult result =
                list_chapters(this->source(source), sites_->book_link(source, id));
            ASSERT_EQ(result.status, ChapterListStatus::ok);
            ASSERT_EQ(result.chapters.size(), static_cast<std::size_t>(book.chapter_count));
            for (int n = 1; n <= book.chapter_count; ++n) {
                const ChapterEntry& entry = result.chapters[static_cast<std::size_t>(n - 1)];
                EXPECT_EQ(entry.number, n);
                EXPECT_EQ(entry.name, library().chapter_name(book, n));
                EXPECT_EQ(entry.link, sites_->chapter_link(source, id, n));
            }
        }
    }
}

TEST_F(DemoAdaptersTest, ChapterTextsComeOutExactly) {
    for (int source = 1; source <= 8; ++source) {
        for (int id : {105, 108, DemoLibrary::markup_book_id}) {
            const DemoBook& book = *library().find(id);
            for (int n : {1, book.chapter_count}) {
                SCOPED_TRACE(::testing::Message()
                             << "source " << source << " book " << id << " chapter " << n);
                const ChapterTextResult read =
                    fetch_chapter_text(this->source(source), sites_->chapter_link(source, id, n));
                ASSERT_TRUE(read.outcome.ok()) << read.outcome.reason;
                EXPECT_EQ(read.text, library().expected_chapter_text(source, book, n));
            }
        }
    }
}

TEST_F(DemoAdaptersTest, DetailsShowTheBooksFacts) {
    const DemoBook& book = *library().find(105);
    const std::string latest = library().chapter_name(book, book.chapter_count);
    for (int source : {1, 3, 4, 5, 6, 7, 8}) {
        SCOPED_TRACE(source);
        const SearchHit hit{1, book.title, book.author, sites_->book_link(source, book.id)};
        const DetailsOutcome outcome = request_book_details(this->source(source), hit);
        ASSERT_TRUE(outcome.details.has_value());
        const BookDetails& d = *outcome.details;
        EXPECT_EQ(d.cover_url, sites_->cover_link(source, book.id));
        EXPECT_EQ(d.title, book.title);
        EXPECT_EQ(d.author, book.author);
        EXPECT_EQ(d.update_time, book.update_time);
        EXPECT_EQ(d.status, source == 5 ? std::string{} : book.status); // source 5 shows none
        EXPECT_EQ(d.latest_chapter, latest);
        EXPECT_EQ(d.description, book.description);
    }
    const SearchHit hit{1, book.title, book.author, sites_->book_link(2, book.id)};
    EXPECT_TRUE(request_book_details(source(2), hit).refused);
}

// A site that never answers costs the all-source search its time limit, not the rows of the
// other sources.
TEST_F(DemoAdaptersTest, SearchAllOutlivesAStalledSite) {
    std::vector<const BookSource*> all = source_pointers(config_->sources());
    DemoOptions held;
    held.free_ports = true;
    held.stall_time = std::chrono::seconds(20);
    held.fault_rates.stall = 1.0;
    held.faults_on_all_pages = true;
    const auto slow_sites = DemoSites::start(held);
    ASSERT_NE(slow_sites, nullptr);
    // Source 4 asks a second demo library that holds every answer for 20 s.
    BookSource slow = source(4);
    slow.host = slow_sites->host(4);
    all[3] = &slow;

    const AllSearchOutcome out = search_all_sources(all, book_title(102), std::chrono::seconds(1));
    ASSERT_EQ(out.per_source.size(), 8u);
    EXPECT_EQ(out.per_source[3].result.outcome.kind, OutcomeKind::unreachable);
    EXPECT_EQ(out.hits.size(), 7u);
    for (const SourceHit& h : out.hits) {
        EXPECT_NE(h.source, 4);
        EXPECT_EQ(h.hit.name, book_title(102));
    }
}

// The bundled rules of the built-in sources point at the demo's default ports.
TEST(DemoDefaults, BundledRulesPointAtTheDemoDefaultPorts) {
    const SourceTable table = builtin_source_table();
    for (int source = 1; source <= 8; ++source) {
        EXPECT_EQ(table.find(source)->host, "127.0.0.1:" + std::to_string(default_port(source)));
    }
}

} // namespace
} // namespace tovani::demo
