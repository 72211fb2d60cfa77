#pragma once
// EPUB 3 books: a package document with title, author, language, a stable identifier and the
// time of writing; nav.xhtml and toc.ncx (for older readers); one XHTML file per chapter with
// the chapter's name as its heading and each paragraph as <p>; the cover when there is one.
// Chapters are rendered one at a time as the archive is written.

#include <string>
#include <string_view>
#include <vector>

#include "download/book_writer.h"

namespace tovani {

/// Writes the EPUB book at `path` (GBK path); `converter` turns names and texts into the
/// chosen Chinese script first. A cover that is no PNG, JPEG or GIF picture is left out.
WriteResult write_epub_book(std::string_view path, const BookInfo& info, ChapterSource& chapters,
                            const ScriptConverter& converter);

/// UTF-8 text made safe as XML character data and attribute values: "&", "<", ">", "\"" and
/// "'" escaped, and characters XML 1.0 does not allow (control characters but tab, line feed
/// and carriage return; U+FFFE, U+FFFF; bytes that are no UTF-8) dropped.
std::string xml_escape(std::string_view utf8_text);

/// The paragraphs of a chapter text (UTF-8): its lines without the indent of ASCII and
/// ideographic spaces before and after, empty lines left out.
std::vector<std::string> paragraphs_of(std::string_view utf8_text);

} // namespace tovani
