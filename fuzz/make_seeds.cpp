// Writes the seed corpora of the fuzz targets from the demo library's pages and the bundled
// rules: tovani_fuzz_seeds FOLDER makes FOLDER/<target>/<seed> for every target. The seeds are
// kept in the repository (fuzz/corpus); run this again when the demo pages or rules change.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "demo/demo_library.h"
#include "demo/site_pages.h"
#include "download/progress_file.h"
#include "fuzz/fuzz_support.h"
#include "sources/builtin_rules.h"
#include "text/encoding.h"

namespace {

using namespace tovani;
namespace fs = std::filesystem;

fs::path root;

void write_seed(const std::string& target, const std::string& name, std::string_view bytes) {
    const fs::path folder = root / target;
    fs::create_directories(folder);
    std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string joined(const std::vector<std::string>& pieces) {
    std::string out;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        out += (i > 0 ? std::string(fuzz::piece_separator) : std::string()) + pieces[i];
    }
    return out;
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tovani_fuzz_seeds FOLDER\n");
        return 2;
    }
    root = argv[1];
    demo::LibraryOptions options;
    options.scale_chapters = 10;
    const demo::DemoLibrary library(options);
    const demo::DemoBook& book = *library.find(102);
    const std::string site = "http://127.0.0.1:18082";

    // Page parsers: first byte = source index + 8 * kind (search, chapter list, text, details).
    for (int source = 1; source <= 8; ++source) {
        const auto header = [&](int kind) {
            return std::string(1, static_cast<char>(source - 1 + 8 * kind));
        };
        std::vector<std::string> search_pages;
        for (int page = 1; page <= (source == 5 ? 3 : 1); ++page) {
            search_pages.push_back(
                demo::search_page(source, library, site, gbk("青衫客"), page, 3).bytes);
        }
        const std::string book_page = demo::book_page(source, library, site, book).bytes;
        const std::string tag = std::to_string(source);
        write_seed("source_pages", "search-" + tag, header(0) + joined(search_pages));
        write_seed("source_pages", "chapters-" + tag, header(1) + book_page);
        write_seed("source_pages", "text-" + tag,
                   header(2) + demo::chapter_page(source, library, site, book, 1).bytes);
        write_seed("source_pages", "details-" + tag, header(3) + book_page);
        write_seed("source_pages", "challenge-" + tag,
                   header(2) + demo::challenge_page(source).bytes);
    }

    // Charsets: from-index, to-index, offset byte, then the bytes (indexes into the target's list).
    const std::string gbk_page = demo::chapter_page(1, library, site, book, 1).bytes;
    const std::string utf8_text = to_utf8(library.expected_chapter_text(1, book, 2));
    write_seed("charset", "gbk-to-utf8", std::string("\x02\x01\x00", 3) + gbk_page);
    write_seed("charset", "utf8-to-gbk", std::string("\x01\x02\x05", 3) + utf8_text);
    write_seed("charset", "iso2022cnext-shift", std::string("\x07\x02\x00\x0e", 4));
    write_seed("charset", "iso2022cnext-text",
               std::string("\x07\x01\x03", 3) +
                   convert_charset(utf8_text.substr(0, 600), "UTF-8", "ISO-2022-CN-EXT"));
    write_seed("charset", "big5-text",
               std::string("\x05\x02\x00", 3) +
                   convert_charset(utf8_text.substr(0, 600), "UTF-8", "BIG5"));
    write_seed("charset", "utf16-text",
               std::string("\x0e\x01\x00", 3) +
                   convert_charset(utf8_text.substr(0, 300), "UTF-8", "UTF-16LE"));

    // Progress file: file text, a chapter name, its link, a number (the length of the piece).
    ProgressFile progress;
    for (int n = 1; n <= 5; ++n) {
        progress.set_entry(n, library.chapter_name(book, n),
                           site + "/book/102/" + std::to_string(n) + ".html");
    }
    write_seed("progress_file", "five-chapters",
               joined({progress.text(), library.chapter_name(book, 6), site + "/book/102/6.html",
                       "xxxxxx"}));
    write_seed("progress_file", "quoted-and-blank",
               joined({"[x]\r\n a = \"1\" \r\n\r\n[" + chapter_names_section() + "]\r\n1=\r\n",
                       " \"q\" ", "", "x"}));

    // Hosts: a host, the sites file, the environment's host of source 3.
    write_seed("hosts", "ipv4",
               joined({"127.0.0.1:18082", "[hosts]\r\n1=example.com\r\n", "localhost:8080"}));
    write_seed("hosts", "ipv6",
               joined({"[::1]:18082", "[hosts]\r\n3=[fe80::1]\r\n2=bad host\r\n", "[::1]"}));
    write_seed("hosts", "names",
               joined({"Books.Example.COM", "; comment\r\n[other]\r\n1=a\r\n", "x:0"}));

    // File names: extension byte, then a GBK name.
    write_seed("file_names", "book", std::string("\x01", 1) + gbk("星河渡舟  青衫客"));
    write_seed("file_names", "chapter",
               std::string("\x01", 1) + gbk("【1】") + library.chapter_name(book, 1));
    write_seed("file_names", "unsafe",
               std::string("\x00", 1) + gbk("a/b\\c:d*e?f\"g<h>i|j\x01..."));
    write_seed("file_names", "long", std::string("\x03", 1) + std::string(300, '\xd5') + "\xa1");

    // Rule loader: the bundled rules and the documented ninth one.
    for (const BuiltinRuleFile& file : builtin_rule_files()) {
        write_seed("rule_loader", std::string(file.name), file.text);
    }
    const fs::path docs_rule =
        fs::path(__FILE__).parent_path().parent_path() / "docs/rules/booktxt.toml";
    if (fs::exists(docs_rule)) {
        write_seed("rule_loader", "booktxt.toml", read_file(docs_rule));
    }

    // EPUB text: a chapter in UTF-8, and one with markup characters and control bytes.
    write_seed("epub_text", "chapter", utf8_text);
    write_seed("epub_text", "markup",
               "  <b>a & b</b> \"q\" 'x'\r\n\x01\x0b\xef\xbf\xbe\xe3\x80\x80"
               "end\xe3\x80\x80\n\n");
    std::printf("seeds written to %s\n", root.c_str());
    return 0;
}
