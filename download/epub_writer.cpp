#include "download/epub_writer.h"

#include <zip.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "text/encoding.h"

namespace tovani {
namespace {

// Chapters are stored uncompressed: deflating thousands of small entries costs several times
// the joining of the chapter files, for a book that is not much larger stored.

struct Cover {
    const char* file = nullptr;
    const char* media_type = nullptr;
};

Cover cover_kind(std::string_view bytes) {
    if (bytes.starts_with("\x89PNG\r\n\x1A\n")) {
        return {"cover.png", "image/png"};
    }
    if (bytes.starts_with("\xFF\xD8\xFF")) {
        return {"cover.jpg", "image/jpeg"};
    }
    if (bytes.starts_with("GIF87a") || bytes.starts_with("GIF89a")) {
        return {"cover.gif", "image/gif"};
    }
    return {};
}

std::string chapter_file(int number) {
    char name[32];
    std::snprintf(name, sizeof name, "c%05d.xhtml", number);
    return name;
}

std::string iso_time(std::time_t t) {
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// The decoded code point at `p` and its length, or length 0 for bytes that are no UTF-8.
std::size_t utf8_char(const unsigned char* p, std::size_t n, char32_t& cp) {
    if (p[0] < 0x80) {
        cp = p[0];
        return 1;
    }
    std::size_t len = p[0] >= 0xF0 ? 4 : p[0] >= 0xE0 ? 3 : p[0] >= 0xC2 ? 2 : 0;
    if (len == 0 || len > n || p[0] > 0xF4) {
        return 0;
    }
    cp = p[0] & (0xFF >> (len + 1));
    for (std::size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return len;
}

const char* const css = R"(body { margin: 0 5%; line-height: 1.6; }
h2 { text-align: center; margin: 1.5em 0; }
p { text-indent: 2em; margin: 0.3em 0; }
)";

const char* const container = R"(<?xml version="1.0" encoding="UTF-8"?>
<container version="1.0" xmlns="urn:oasis:names:tc:opendocument:xmlns:container">
  <rootfiles>
    <rootfile full-path="OEBPS/content.opf" media-type="application/oebps-package+xml"/>
  </rootfiles>
</container>
)";

std::string xhtml_head(const std::string& title) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n"
           "<html xmlns=\"http://www.w3.org/1999/xhtml\" "
           "xmlns:epub=\"http://www.idpf.org/2007/ops\" xml:lang=\"zh\" lang=\"zh\">\n"
           "<head>\n<meta charset=\"UTF-8\"/>\n<title>" +
           title +
           "</title>\n<link rel=\"stylesheet\" type=\"text/css\" href=\"style.css\"/>\n"
           "</head>\n";
}

// Appends `text` escaped as xml_escape does. Runs of characters that need nothing (nearly all
// of a chapter) are appended whole.
void append_xml_escaped(std::string& out, std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t run = 0; // start of the characters not yet appended
    std::size_t i = 0;
    auto flush = [&](std::size_t to) { out.append(text.data() + run, to - run); };
    while (i < n) {
        const unsigned char b = p[i];
        if (b >= 0x20 && b < 0x80) {
            const char* escaped = b == '&'    ? "&amp;"
                                  : b == '<'  ? "&lt;"
                                  : b == '>'  ? "&gt;"
                                  : b == '"'  ? "&quot;"
                                  : b == '\'' ? "&apos;"
                                              : nullptr;
            if (escaped != nullptr) {
                flush(i);
                out += escaped;
                run = i + 1;
            }
            ++i;
            continue;
        }
        if (b < 0x80) {
            if (b != '\t' && b != '\n' && b != '\r') {
                flush(i); // another control character: no XML 1.0 character
                run = i + 1;
            }
            ++i;
            continue;
        }
        char32_t cp = 0;
        const std::size_t len = utf8_char(p + i, n - i, cp);
        if (len == 0 || cp == 0xFFFE || cp == 0xFFFF) {
            flush(i); // a byte that is no UTF-8, or a noncharacter XML refuses
            i += len == 0 ? 1 : len;
            run = i;
            continue;
        }
        i += len;
    }
    flush(n);
}

// Calls fn(line) for every paragraph of `text`: its lines (ended by LF or CR) without the
// indent of ASCII and ideographic spaces before and after, empty lines left out.
template <class Fn> void for_each_paragraph(std::string_view text, Fn&& fn) {
    static constexpr std::string_view ideographic_space = "\xE3\x80\x80"; // U+3000
    std::size_t begin = 0;
    const std::size_t n = text.size();
    while (begin < n) {
        // memchr finds the line ends quickly in Chinese text.
        const void* lf = std::memchr(text.data() + begin, '\n', n - begin);
        std::size_t end = lf ? static_cast<const char*>(lf) - text.data() : n;
        if (const void* cr = std::memchr(text.data() + begin, '\r', end - begin)) {
            end = static_cast<const char*>(cr) - text.data();
        }
        std::string_view line = text.substr(begin, end - begin);
        begin = end + 1;
        for (bool trimmed = true; trimmed && !line.empty();) {
            trimmed = false;
            for (std::string_view blank :
                 {std::string_view(" "), std::string_view("\t"), ideographic_space}) {
                if (line.starts_with(blank)) {
                    line.remove_prefix(blank.size());
                    trimmed = true;
                }
                if (line.ends_with(blank)) {
                    line.remove_suffix(blank.size());
                    trimmed = true;
                }
            }
        }
        if (!line.empty()) {
            fn(line);
        }
    }
}

// Appends every paragraph of `text` as <p>…</p>, escaped as xml_escape does. `text` comes from
// the GBK conversion and is valid UTF-8 without noncharacters, so only ASCII needs a look: one
// pass, no copies of the paragraphs.
void append_paragraphs(std::string& out, std::string_view text) {
    for_each_paragraph(text, [&out](std::string_view line) {
        out += "<p>";
        std::size_t run = 0;
        for (std::size_t i = 0; i < line.size(); ++i) {
            // Eight bytes at a time while none is below 0x40 (only ASCII there needs a look).
            while (i + 8 <= line.size()) {
                std::uint64_t word;
                std::memcpy(&word, line.data() + i, 8);
                constexpr std::uint64_t ones = 0x0101010101010101ull;
                if (((word - ones * 0x40) & ~word & ones * 0x80) != 0) {
                    break;
                }
                i += 8;
            }
            if (i >= line.size()) {
                break;
            }
            const auto b = static_cast<unsigned char>(line[i]);
            if (b >= 0x40) {
                continue; // letters and every byte of a multi-byte character
            }
            const char* escaped = b == '&'                ? "&amp;"
                                  : b == '<'              ? "&lt;"
                                  : b == '>'              ? "&gt;"
                                  : b == '"'              ? "&quot;"
                                  : b == '\''             ? "&apos;"
                                  : b < 0x20 && b != '\t' ? ""
                                                          : nullptr;
            if (escaped != nullptr) {
                out.append(line.data() + run, i - run);
                out += escaped;
                run = i + 1;
            }
        }
        out.append(line.data() + run, line.size() - run);
        out += "</p>\n";
    });
}

// One chapter's XHTML, rendered when the archive reads it.
struct ChapterEntry {
    ChapterSource* chapters;
    const ScriptConverter* converter;
    int number;
    std::string data;
    std::size_t offset = 0;
    zip_error_t error;
    bool read_failed = false;

    std::string render() {
        BookChapter chapter;
        if (!chapters->read(number, chapter)) {
            read_failed = true;
            return {};
        }
        const std::string name = xml_escape(to_utf8(converter->convert(chapter.name)));
        const std::string text = to_utf8(converter->convert(chapter.text));
        std::string out = xhtml_head(name);
        out.reserve(out.size() + text.size() * 9 / 8 + 256);
        out += "<body>\n<section epub:type=\"chapter\">\n<h2>";
        out += name;
        out += "</h2>\n";
        append_paragraphs(out, text);
        out += "</section>\n</body>\n</html>\n";
        return out;
    }
};

zip_int64_t chapter_callback(void* user, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    auto* entry = static_cast<ChapterEntry*>(user);
    switch (cmd) {
    case ZIP_SOURCE_OPEN:
        entry->data = entry->render();
        entry->offset = 0;
        if (entry->read_failed) {
            zip_error_set(&entry->error, ZIP_ER_READ, 0);
            return -1;
        }
        return 0;
    case ZIP_SOURCE_READ: {
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(len),
                                                    entry->data.size() - entry->offset);
        std::memcpy(data, entry->data.data() + entry->offset, n);
        entry->offset += n;
        return static_cast<zip_int64_t>(n);
    }
    case ZIP_SOURCE_CLOSE:
        std::string().swap(entry->data); // one chapter in memory at a time
        return 0;
    case ZIP_SOURCE_STAT: {
        auto* st = static_cast<zip_stat_t*>(data);
        zip_stat_init(st);
        st->mtime = std::time(nullptr);
        st->valid |= ZIP_STAT_MTIME;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&entry->error, data, len);
    case ZIP_SOURCE_FREE:
        zip_error_fini(&entry->error);
        delete entry;
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                              -1);
    default:
        zip_error_set(&entry->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

// The archive being written, discarded unless closed successfully.
class Archive {
public:
    explicit Archive(const std::string& system_path) {
        int error = 0;
        zip_ = zip_open(system_path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    }
    ~Archive() {
        if (zip_ != nullptr) {
            zip_discard(zip_);
        }
    }
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    bool ok() const { return zip_ != nullptr && ok_; }

    // Adds a copy of `bytes`; `store` keeps it uncompressed (the mimetype must be).
    void add(const std::string& name, std::string_view bytes, bool store = false) {
        if (!ok()) {
            return;
        }
        void* copy = std::malloc(bytes.empty() ? 1 : bytes.size());
        if (copy == nullptr) {
            ok_ = false;
            return;
        }
        std::memcpy(copy, bytes.data(), bytes.size());
        zip_source_t* source = zip_source_buffer(zip_, copy, bytes.size(), 1);
        if (source == nullptr) {
            std::free(copy);
            ok_ = false;
            return;
        }
        finish_add(name, source, store ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0);
    }

    void add_chapter(const std::string& name, ChapterSource& chapters,
                     const ScriptConverter& converter, int number) {
        if (!ok()) {
            return;
        }
        auto* entry = new ChapterEntry{&chapters, &converter, number, {}, 0, {}, false};
        zip_error_init(&entry->error);
        zip_source_t* source = zip_source_function(zip_, chapter_callback, entry);
        if (source == nullptr) {
            zip_error_fini(&entry->error);
            delete entry;
            ok_ = false;
            return;
        }
        finish_add(name, source, ZIP_CM_STORE, 0);
    }

    bool close() {
        if (!ok()) {
            return false;
        }
        const bool closed = zip_close(zip_) == 0;
        if (closed) {
            zip_ = nullptr;
        }
        return closed;
    }

private:
    void finish_add(const std::string& name, zip_source_t* source, zip_int32_t method,
                    zip_uint32_t level) {
        const zip_int64_t index = zip_file_add(zip_, name.c_str(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            ok_ = false;
            return;
        }
        if (zip_set_file_compression(zip_, static_cast<zip_uint64_t>(index), method, level) != 0) {
            ok_ = false;
        }
    }

    zip_t* zip_ = nullptr;
    bool ok_ = true;
};

} // namespace

std::string xml_escape(std::string_view utf8_text) {
    std::string out;
    out.reserve(utf8_text.size() + utf8_text.size() / 8);
    append_xml_escaped(out, utf8_text);
    return out;
}

std::vector<std::string> paragraphs_of(std::string_view text) {
    std::vector<std::string> out;
    for_each_paragraph(text, [&out](std::string_view line) { out.emplace_back(line); });
    return out;
}

WriteResult write_epub_book(std::string_view path, const BookInfo& info, ChapterSource& chapters,
                            const ScriptConverter& converter) {
    WriteResult result;
    if (chapters.count() < 1) {
        result.error = gbk("章节整合错误！");
        return result;
    }
    const std::string target = to_utf8(path);
    // libzip writes beside the target and renames when the archive is whole.
    Archive zip(target);
    if (!zip.ok()) {
        result.error = gbk("无法写入电子书文件：") + std::string(path);
        return result;
    }
    const std::string title = xml_escape(to_utf8(converter.convert(info.title)));
    const std::string author = xml_escape(to_utf8(converter.convert(info.author)));
    const Cover cover = cover_kind(info.cover);

    // The mimetype comes first and uncompressed, so a reader can recognise the file.
    zip.add("mimetype", "application/epub+zip", true);
    zip.add("META-INF/container.xml", container);
    zip.add("OEBPS/style.css", css);
    if (cover.file != nullptr) {
        zip.add(std::string("OEBPS/") + cover.file, info.cover);
    }

    std::string manifest;
    std::string spine;
    std::string nav_list;
    std::string nav_points;
    const int count = chapters.count();
    for (int n = 1; n <= count; ++n) {
        const std::string file = chapter_file(n);
        const std::string id = "c" + std::to_string(n);
        const std::string name = xml_escape(to_utf8(converter.convert(chapters.name(n))));
        manifest += "    <item id=\"" + id + "\" href=\"" + file +
                    "\" media-type=\"application/xhtml+xml\"/>\n";
        spine += "    <itemref idref=\"" + id + "\"/>\n";
        nav_list += "      <li><a href=\"" + file + "\">" + name + "</a></li>\n";
        nav_points += "    <navPoint id=\"n" + std::to_string(n) + "\" playOrder=\"" +
                      std::to_string(n) + "\"><navLabel><text>" + name +
                      "</text></navLabel><content src=\"" + file + "\"/></navPoint>\n";
    }

    std::string opf = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" "
                      "unique-identifier=\"book-id\" xml:lang=\"zh\">\n"
                      "  <metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
                      "    <dc:identifier id=\"book-id\">" +
                      xml_escape(to_utf8(info.identifier)) +
                      "</dc:identifier>\n"
                      "    <dc:title>" +
                      title + "</dc:title>\n    <dc:creator>" + author +
                      "</dc:creator>\n    <dc:language>zh</dc:language>\n"
                      "    <meta property=\"dcterms:modified\">" +
                      iso_time(info.modified) + "</meta>\n";
    if (cover.file != nullptr) {
        opf += "    <meta name=\"cover\" content=\"cover-image\"/>\n";
    }
    opf += "  </metadata>\n  <manifest>\n"
           "    <item id=\"nav\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" "
           "properties=\"nav\"/>\n"
           "    <item id=\"ncx\" href=\"toc.ncx\" media-type=\"application/x-dtbncx+xml\"/>\n"
           "    <item id=\"css\" href=\"style.css\" media-type=\"text/css\"/>\n";
    if (cover.file != nullptr) {
        opf += std::string("    <item id=\"cover-image\" href=\"") + cover.file +
               "\" media-type=\"" + cover.media_type + "\" properties=\"cover-image\"/>\n";
    }
    opf += manifest + "  </manifest>\n  <spine toc=\"ncx\">\n" + spine + "  </spine>\n</package>\n";
    zip.add("OEBPS/content.opf", opf);

    zip.add("OEBPS/nav.xhtml",
            xhtml_head(title) + "<body>\n<nav epub:type=\"toc\" id=\"toc\">\n<h1>" + title +
                "</h1>\n<ol>\n" + nav_list + "</ol>\n</nav>\n</body>\n</html>\n");
    zip.add("OEBPS/toc.ncx",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<ncx xmlns=\"http://www.daisy.org/z3986/2005/ncx/\" version=\"2005-1\">\n"
            "  <head>\n    <meta name=\"dtb:uid\" content=\"" +
                xml_escape(to_utf8(info.identifier)) + "\"/>\n  </head>\n  <docTitle><text>" +
                title + "</text></docTitle>\n  <navMap>\n" + nav_points + "  </navMap>\n</ncx>\n");

    for (int n = 1; n <= count; ++n) {
        zip.add_chapter("OEBPS/" + chapter_file(n), chapters, converter, n);
    }
    if (!zip.close()) {
        result.error = gbk("无法写入电子书文件：") + std::string(path);
        return result;
    }
    result.ok = true;
    return result;
}

} // namespace tovani
