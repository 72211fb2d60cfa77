#include "demo/demo_library.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "text/encoding.h"

namespace tovani::demo {
namespace {

std::vector<int> ids_of(const std::vector<const DemoBook*>& books) {
    std::vector<int> ids;
    for (const DemoBook* b : books) {
        ids.push_back(b->id);
    }
    return ids;
}

// Whether `text` holds a two-byte GBK character whose second byte is `trail`.
bool has_trail_byte(const std::string& text, unsigned char trail) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x81 && i + 1 < text.size()) {
            if (static_cast<unsigned char>(text[i + 1]) == trail) {
                return true;
            }
            ++i;
        }
    }
    return false;
}

TEST(DemoLibrary, SearchMatchesTitlesAndAuthorsByEveryTerm) {
    const DemoLibrary library;
    struct Case {
        const char* keyword;
        std::vector<int> ids;
    };
    const std::vector<Case> cases{
        {"青衫客", {102, 103, 107, 109, 110, 111, 112}},
        {"墨池生", {101, 105}},
        {"青灯", {101}},
        {"長安錦書", {105}},
        {"  東籬閑話　", {108}}, // ASCII and full-width spaces around it
        {"零号 纪元", {109}},    // two terms, both must match
        {"零号 冰河", {}},
        {"AI", {109}},
        {"万卷长河", {DemoLibrary::scale_book_id}},
        {"不存在的书", {}},
        {"", {}},
        {"   ", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ids_of(library.search(gbk(c.keyword))), c.ids) << c.keyword;
    }
}

TEST(DemoLibrary, TitlesAndAuthorsAreUniqueAndFreeOfWhiteSpace) {
    const DemoLibrary library;
    std::set<std::string> titles;
    for (const DemoBook& book : library.books()) {
        EXPECT_TRUE(titles.insert(book.title).second) << book.id;
        for (const std::string* text : {&book.title, &book.author}) {
            EXPECT_EQ(text->find_first_of(" \t\r\n"), std::string::npos) << book.id;
        }
        // A title search finds exactly its own book, so every title is a working keyword.
        EXPECT_EQ(ids_of(library.search(book.title)), std::vector<int>{book.id});
        std::string joined;
        for (const std::string& s : book.description_sentences) {
            joined += s;
        }
        EXPECT_EQ(joined, book.description) << book.id;
        EXPECT_EQ(book.description.find_first_of("\"<>"), std::string::npos) << book.id;
    }
}

TEST(DemoLibrary, ChaptersAreStableAndHoldBoundaryBytes) {
    const DemoLibrary first;
    const DemoLibrary second;
    for (int id : {101, 108, DemoLibrary::scale_book_id}) {
        const DemoBook& book = *first.find(id);
        for (int n : {1, 2, book.chapter_count}) {
            const auto paragraphs = first.chapter_paragraphs(book, n);
            EXPECT_EQ(paragraphs, second.chapter_paragraphs(*second.find(id), n));
            ASSERT_GE(paragraphs.size(), 2u);
            std::string text;
            for (const std::string& p : paragraphs) {
                text += p;
            }
            EXPECT_TRUE(has_trail_byte(text, 0x5C)) << id << "/" << n;
            EXPECT_TRUE(has_trail_byte(text, 0x7C)) << id << "/" << n;
            EXPECT_EQ(text.find_first_of("<>&\"\r\n"), std::string::npos);

            const std::string name = first.chapter_name(book, n);
            EXPECT_EQ(name.rfind(gbk("第") + std::to_string(n) + gbk("章："), 0), 0u) << name;
            EXPECT_EQ(name.find_first_of(" \t\r\n<>\""), std::string::npos);
        }
    }
}

TEST(DemoLibrary, ScaleBookFollowsItsOptions) {
    EXPECT_EQ(DemoLibrary{}.scale_book().chapter_count, 5000);

    const DemoLibrary natural{{123, 0}};
    const DemoLibrary padded{{123, 20000}};
    const DemoBook& book = padded.scale_book();
    EXPECT_EQ(book.chapter_count, 123);
    EXPECT_TRUE(book.generated);
    auto size_of = [](const std::vector<std::string>& paragraphs) {
        std::size_t n = 0;
        for (const std::string& p : paragraphs) {
            n += p.size();
        }
        return n;
    };
    for (int n : {1, 123}) {
        EXPECT_LT(size_of(natural.chapter_paragraphs(natural.scale_book(), n)), 20000u);
        const std::size_t padded_size = size_of(padded.chapter_paragraphs(book, n));
        EXPECT_GE(padded_size, 20000u);
        EXPECT_LT(padded_size, 22000u);
    }
    // Padding only applies to the scale book.
    EXPECT_EQ(padded.chapter_paragraphs(*padded.find(101), 1),
              natural.chapter_paragraphs(*natural.find(101), 1));
}

// Readers decode the "&nbsp;" indent of every source into spaces and replace every tag.
TEST(DemoLibrary, ExpectedTextIndentsWithSpaces) {
    const DemoLibrary library;
    const DemoBook& book = *library.find(104);
    const std::string first = library.chapter_paragraphs(book, 2).front();
    for (int source = 1; source <= 8; ++source) {
        const std::string text = library.expected_chapter_text(source, book, 2);
        EXPECT_EQ(text.rfind("    " + first, 0), 0u) << source;
        EXPECT_EQ(text.find('&'), std::string::npos) << source;
        EXPECT_NE(text.find("\r\n"), std::string::npos) << source;
        EXPECT_EQ(text.find('<'), std::string::npos) << source;
    }
    EXPECT_EQ(library.expected_chapter_text(0, book, 2), "");
    EXPECT_EQ(library.expected_chapter_text(10, book, 2), "");
}

} // namespace
} // namespace tovani::demo
