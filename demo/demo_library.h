#pragma once
// The demo library: a small bundled catalogue of books written for this project, plus one
// generated "scale" book with a configurable number of chapters. Every text is GBK.
// Chapter texts are generated on demand from a seed, so the same (book, chapter) always gives
// the same text and nothing large is held in memory.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tovani::demo {

struct DemoBook {
    int id = 0;
    std::string title;       ///< no spaces (source 8 matches names with \S+)
    std::string author;      ///< no spaces (sources 7 and 8 match authors with \S+)
    std::string status;      ///< "连载中" or "已完结"
    std::string update_time; ///< "2024-03-15 08:30:00"
    /// The description as the details recipes read it: one line, no markup, no quotes.
    std::string description;
    /// The same description cut into sentences; source 5 serves them with line-break tags
    /// between them, which its recipe removes again.
    std::vector<std::string> description_sentences;
    int chapter_count = 0;
    bool generated = false; ///< the scale book
    /// The chapter numbers in the order the book page lists them, when a site changed the book
    /// (chapters added at the end or put in between); empty: 1 to chapter_count. A chapter's
    /// number names its page and its text, so it stays the chapter's own wherever it stands.
    std::vector<int> order;
};

/// The chapter numbers of `book` in list order.
std::vector<int> chapter_ids(const DemoBook& book);

struct LibraryOptions {
    int scale_chapters = 5000;
    /// Minimum size in GBK bytes of each scale-book chapter text; 0 keeps the natural size
    /// (about 2 to 4 KB). About 20000 makes benchmark pages realistic.
    std::size_t scale_chapter_bytes = 0;
};

class DemoLibrary {
public:
    static constexpr int scale_book_id = 900;

    explicit DemoLibrary(LibraryOptions options = {});

    const LibraryOptions& options() const { return options_; }

    /// The bundled books in catalogue order, then the scale book.
    const std::vector<DemoBook>& books() const { return books_; }
    const DemoBook* find(int id) const;
    const DemoBook& scale_book() const { return books_.back(); }

    /// Books whose title or author contains every space-separated term of `keyword` (GBK),
    /// in catalogue order. Leading and trailing spaces are ignored; a blank keyword finds none.
    std::vector<const DemoBook*> search(std::string_view keyword) const;

    /// "第N章：" followed by a short generated title; never contains white space or markup.
    std::string chapter_name(const DemoBook& book, int number) const;

    /// The first chapter of this book ends with a paragraph of "<", "&", ">" and a character
    /// GBK lacks, which its pages serve as HTML references.
    static constexpr int markup_book_id = 104;

    /// The paragraphs of a chapter as its pages serve them, without indentation or tags. Each
    /// chapter holds at least one character whose second GBK byte is 0x5C and one whose second
    /// byte is 0x7C.
    std::vector<std::string> chapter_paragraphs(const DemoBook& book, int number) const;
    /// The same paragraphs as a reader reads them: HTML references decoded, a character GBK
    /// lacks as "?".
    std::vector<std::string> chapter_text_paragraphs(const DemoBook& book, int number) const;

    /// Exactly what extracting the chapter text from this source's chapter page must give:
    /// the block between the source's markers after its line-break replacements, with HTML
    /// references decoded ("&nbsp;" is a space).
    std::string expected_chapter_text(int source, const DemoBook& book, int number) const;

private:
    LibraryOptions options_;
    std::vector<DemoBook> books_;
};

} // namespace tovani::demo
