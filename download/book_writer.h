#pragma once
// Writing a book file from its chapters: the GBK text book (the chapters joined as the merge
// always has), a UTF-8 text book, and EPUB (epub_writer.h). Every writer reads the chapters
// one at a time from a ChapterSource, so a book of thousands of chapters is never held whole,
// and writes under a temporary name that replaces the book file only when it is complete.

#include <ctime>
#include <string>
#include <string_view>

#include "download/script_convert.h"

namespace tovani {

/// One chapter of a book (GBK).
struct BookChapter {
    std::string name;
    std::string text;
};

/// The chapters of a book in order, read one at a time.
class ChapterSource {
public:
    virtual ~ChapterSource() = default;
    virtual int count() const = 0;
    /// The name of chapter `number` (1-based), without reading its text.
    virtual std::string name(int number) const = 0;
    /// Chapter `number` into `chapter`; false when it cannot be read.
    virtual bool read(int number, BookChapter& chapter) = 0;
};

/// What a book file says about its book (GBK texts).
struct BookInfo {
    std::string title;
    std::string author;
    /// Stays the same for the same book on the same source: source id and book link.
    std::string identifier;
    std::string cover; ///< the cover picture's bytes; empty: none
    std::time_t modified = 0;
};

enum class TextEncoding {
    gbk,  ///< GBK with CR LF: each chapter's name, its text and an empty line
    utf8, ///< UTF-8 with LF, starting with the title and the author
};

/// "utf-8" or "gbk", as the shelf and the command line name the text book's encoding.
const char* encoding_name(TextEncoding encoding);
/// utf8 for "utf-8", gbk for anything else.
TextEncoding encoding_named(std::string_view name);

struct WriteResult {
    bool ok = false;
    std::string error; ///< GBK, when not ok; the book file is then as it was
};

/// Writes the text book at `path` (GBK path). `converter` turns names and texts into the
/// chosen Chinese script first.
WriteResult write_text_book(std::string_view path, const BookInfo& info, ChapterSource& chapters,
                            TextEncoding encoding, const ScriptConverter& converter);

} // namespace tovani
