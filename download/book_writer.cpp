#include "download/book_writer.h"

#include "download/file_io.h"
#include "text/encoding.h"

namespace tovani {

const char* encoding_name(TextEncoding encoding) {
    return encoding == TextEncoding::utf8 ? "utf-8" : "gbk";
}

TextEncoding encoding_named(std::string_view name) {
    return name == "utf-8" ? TextEncoding::utf8 : TextEncoding::gbk;
}
namespace {

// CR LF and lone CR become LF.
std::string unix_lines(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

WriteResult write_text_book(std::string_view path, const BookInfo& info, ChapterSource& chapters,
                            TextEncoding encoding, const ScriptConverter& converter) {
    WriteResult result;
    AtomicFileWriter book(path);
    const bool utf8 = encoding == TextEncoding::utf8;
    if (utf8) {
        book.append(to_utf8(converter.convert(info.title)) + "\n");
        book.append(to_utf8(converter.convert(gbk("作者：") + info.author)) + "\n\n");
    }
    BookChapter chapter;
    for (int n = 1; n <= chapters.count(); ++n) {
        if (!chapters.read(n, chapter)) {
            result.error = gbk("无法读取章节：") + chapters.name(n);
            return result;
        }
        const std::string name = converter.convert(chapter.name);
        const std::string text = converter.convert(chapter.text);
        if (utf8) {
            book.append(to_utf8(name) + "\n");
            book.append(unix_lines(to_utf8(text)));
            book.append("\n\n");
        } else {
            book.append(name);
            book.append("\r\n");
            book.append(text);
            book.append("\r\n\r\n");
        }
    }
    if (!book.commit()) {
        result.error = gbk("无法写入整本书文件：") + std::string(path);
        return result;
    }
    result.ok = true;
    return result;
}

} // namespace tovani
