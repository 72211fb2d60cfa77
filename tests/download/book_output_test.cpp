// Book files (GBK and UTF-8 text, EPUB checked by epubcheck), script conversion and the shelf.

#include "download/book_output.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <sqlite3.h>
#include <zip.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "demo/cover_image.h"
#include "download/epub_writer.h"
#include "download/file_io.h"
#include "text/encoding.h"

namespace tovani {
namespace {

namespace fs = std::filesystem;

// Chapters held in memory, for the writers.
class ListedChapters final : public ChapterSource {
public:
    explicit ListedChapters(std::vector<BookChapter> chapters) : chapters_(std::move(chapters)) {}
    int count() const override { return static_cast<int>(chapters_.size()); }
    std::string name(int n) const override {
        return chapters_[static_cast<std::size_t>(n - 1)].name;
    }
    bool read(int n, BookChapter& c) override {
        c = chapters_[static_cast<std::size_t>(n - 1)];
        return true;
    }

private:
    std::vector<BookChapter> chapters_;
};

class BookFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("tovani-books-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string base() const { return dir_.string() + "/"; }
    static std::string bytes_of(const std::string& gbk_path) {
        std::string bytes;
        EXPECT_TRUE(read_file(gbk_path, bytes));
        return bytes;
    }

    // A chapter with markup characters, a reference that must stay literal, and an indent.
    static ListedChapters sample() {
        return ListedChapters(
            {{gbk("第一章 <开始> & “引号”"),
              gbk("　　第一段&lt;不是标签&gt;\r\n\r\n    第二段 <b>粗</b> & 'x'\r\n")},
             {gbk("第二章"), gbk("　　乙?丙")}});
    }
    static BookInfo info() {
        return {gbk("测试之书"), gbk("某人"), "tovani:2:http://s2.test/biquge_1/", {}, 1700000000};
    }

    fs::path dir_;
};

TEST_F(BookFiles, GbkTextBookIsTheMergeAsItAlwaysWas) {
    ListedChapters chapters = sample();
    BookFormats formats;
    const BookFilesResult r = write_book_files(base(), info(), chapters, formats);
    ASSERT_TRUE(r.ok) << to_utf8(r.error);
    ASSERT_EQ(r.files.size(), 1u);
    EXPECT_EQ(to_utf8(r.files[0]), dir_.string() + "/小说下载/测试之书  某人.txt");
    EXPECT_EQ(bytes_of(r.files[0]),
              gbk("第一章 <开始> & “引号”\r\n　　第一段&lt;不是标签&gt;\r\n\r\n    第二段 "
                  "<b>粗</b> & 'x'\r\n"
                  "\r\n\r\n第二章\r\n　　乙?丙\r\n\r\n"));
}

// A book downloaded to the desktop is recorded with no base folder; its book files (the first
// ones and those an update writes again) go to the desktop, never the working folder.
TEST_F(BookFiles, NoChosenFolderMeansTheDesktop) {
    const std::string desktop = dir_.string() + "/desktop";
    const char* old = std::getenv("XDG_DESKTOP_DIR");
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
    setenv("XDG_DESKTOP_DIR", desktop.c_str(), 1);
    ListedChapters chapters = sample();
    const BookFilesResult r = write_book_files("", info(), chapters, BookFormats{});
    if (saved) {
        setenv("XDG_DESKTOP_DIR", saved->c_str(), 1);
    } else {
        unsetenv("XDG_DESKTOP_DIR");
    }
    ASSERT_TRUE(r.ok) << to_utf8(r.error);
    ASSERT_EQ(r.files.size(), 1u);
    EXPECT_EQ(to_utf8(r.files[0]), desktop + "/小说下载/测试之书  某人.txt");
    EXPECT_TRUE(fs::exists(to_utf8(r.files[0])));
}

TEST_F(BookFiles, Utf8TextBookStartsWithTitleAndAuthorAndUsesLineFeeds) {
    ListedChapters chapters = sample();
    BookFormats formats;
    formats.encoding = TextEncoding::utf8;
    const BookFilesResult r = write_book_files(base(), info(), chapters, formats);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(
        bytes_of(r.files[0]),
        "测试之书\n作者：某人\n\n"
        "第一章 <开始> & “引号”\n　　第一段&lt;不是标签&gt;\n\n    第二段 <b>粗</b> & 'x'\n\n\n"
        "第二章\n　　乙?丙\n\n");
}

struct ConversionCase {
    ScriptConversion conversion;
    const char* input;
    const char* expected;
};

TEST(ScriptConversion, BothDirections) {
    const ConversionCase cases[] = {
        {ScriptConversion::t2s, "長安錦書，東籬閑話。", "长安锦书，东篱闲话。"},
        {ScriptConversion::s2t, "长安锦书，东篱闲话。", "長安錦書，東籬閒話。"},
        {ScriptConversion::none, "長安锦书", "長安锦书"},
        {ScriptConversion::t2s, "ASCII 123 <&>", "ASCII 123 <&>"},
    };
    for (const ConversionCase& c : cases) {
        const ScriptConverter converter(c.conversion);
        ASSERT_TRUE(converter.ok()) << conversion_name(c.conversion);
        EXPECT_EQ(to_utf8(converter.convert(gbk(c.input))), c.expected) << c.input;
        EXPECT_EQ(converter.convert_utf8(c.input), c.expected) << c.input;
    }
}

TEST_F(BookFiles, ConversionAppliesToNamesAndTextsOfEveryFormat) {
    ListedChapters chapters({{gbk("第一章 長安"), gbk("錦書到了。")}});
    BookFormats formats;
    formats.convert = ScriptConversion::t2s;
    formats.epub = true;
    BookInfo book = info();
    book.title = gbk("長安錦書");
    const BookFilesResult r = write_book_files(base(), book, chapters, formats);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(to_utf8(bytes_of(r.files[0])), "第一章 长安\r\n锦书到了。\r\n\r\n");
    // The file keeps the site's name; inside, the title is converted too.
    EXPECT_EQ(to_utf8(r.files[1]), dir_.string() + "/小说下载/長安錦書  某人.epub");
    int error = 0;
    zip_t* zip = zip_open(to_utf8(r.files[1]).c_str(), ZIP_RDONLY, &error);
    ASSERT_NE(zip, nullptr);
    for (const char* name : {"OEBPS/content.opf", "OEBPS/c00001.xhtml"}) {
        zip_stat_t st;
        ASSERT_EQ(zip_stat(zip, name, 0, &st), 0) << name;
        std::string text(st.size, '\0');
        zip_file_t* f = zip_fopen(zip, name, 0);
        ASSERT_EQ(zip_fread(f, text.data(), st.size), static_cast<zip_int64_t>(st.size));
        zip_fclose(f);
        EXPECT_EQ(text.find("長"), std::string::npos) << name;
        EXPECT_NE(text.find("长安"), std::string::npos) << name;
    }
    zip_close(zip);
}

TEST(XmlEscape, MarkupAndCharactersXmlRefuses) {
    const std::pair<std::string, std::string> cases[] = {
        {"a<b>&\"c'", "a&lt;b&gt;&amp;&quot;c&apos;"},
        {"tab\tnl\ncr\r", "tab\tnl\ncr\r"},
        {std::string("nul\0bell\x07", 9), "nulbell"},
        {"bad \xff\xfe bytes \xe4\xb8", "bad  bytes "},
        {"\xef\xbf\xbe\xef\xbf\xbf ok \xf0\x9f\x98\x80", " ok \xf0\x9f\x98\x80"},
        {"&lt;", "&amp;lt;"},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(xml_escape(input), expected) << input;
    }
    EXPECT_EQ(paragraphs_of("　　甲乙\r\n\r\n  丙 \n\t丁　\r"),
              (std::vector<std::string>{"甲乙", "丙", "丁"}));
}

// The EPUB of a book with markup characters in names and texts passes epubcheck with no error,
// starts with a stored mimetype, and carries a cover when the picture is one.
TEST_F(BookFiles, EpubPassesEpubcheck) {
    const std::string epubcheck = TOVANI_EPUBCHECK_JAR;
    if (epubcheck.empty() || !fs::exists(epubcheck)) {
        GTEST_SKIP() << "epubcheck is not installed (scripts/bootstrap installs it)";
    }
    std::vector<BookChapter> list;
    for (int n = 1; n <= 30; ++n) {
        list.push_back({gbk("第") + std::to_string(n) + gbk("章 <&> “名”"),
                        gbk("　　山<海>&经 ? 一段。\r\n\r\n　　又一段&amp;。")});
    }
    ListedChapters chapters(list);
    BookFormats formats;
    formats.txt = false;
    formats.epub = true;
    BookInfo book = info();
    book.title = gbk("书<名>&");
    // A picture as the demo sites serve covers; then no picture at all.
    for (const std::string& cover : {demo::cover_png(105), std::string("not a picture")}) {
        book.cover = cover;
        const BookFilesResult r = write_book_files(base(), book, chapters, formats);
        ASSERT_TRUE(r.ok) << to_utf8(r.error);
        const std::string file = to_utf8(r.files.at(0));
        const std::string bytes = bytes_of(r.files.at(0));
        ASSERT_GT(bytes.size(), 60u);
        EXPECT_EQ(bytes.substr(30, 8), "mimetype");
        EXPECT_EQ(bytes.substr(38, 20), "application/epub+zip") << "stored, right after its name";
        const std::string report = (dir_ / "epubcheck.txt").string();
        const std::string command =
            "java -jar '" + epubcheck + "' '" + file + "' > '" + report + "' 2>&1";
        const int status = std::system(command.c_str());
        std::ifstream in(report);
        const std::string output((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
        EXPECT_EQ(status, 0) << output;
        EXPECT_NE(output.find("No errors or warnings detected"), std::string::npos) << output;
    }
}

// ---- the shelf ----

class ShelfTest : public BookFiles {
protected:
    std::string db() const { return (dir_ / "shelf.db").string(); }
};

TEST_F(ShelfTest, ChaptersKeepTheirTextsByLink) {
    auto shelf = Shelf::open(db());
    ASSERT_NE(shelf, nullptr);
    ShelfBook book;
    book.source = 2;
    book.link = "http://s2.test/b/";
    book.name = gbk("书");
    book.author = gbk("人");
    book.formats = "txt,epub";
    const std::int64_t id = shelf->save_book(book, {{1, "a", "x://a"}, {2, "b", "x://b"}});
    ASSERT_GT(id, 0);
    std::vector<std::pair<std::string, std::string>> texts{{"x://a", "A"}, {"x://b", "B"}};
    std::size_t i = 0;
    ASSERT_TRUE(shelf->store_texts(id, [&](std::string& link, std::string& text, bool&) {
        if (i == texts.size()) {
            return false;
        }
        link = texts[i].first;
        text = texts[i].second;
        ++i;
        return true;
    }));
    // The site put a chapter in front and renamed nothing: texts follow their links.
    EXPECT_EQ(shelf->save_book(book, {{1, "new", "x://n"}, {2, "a", "x://a"}, {3, "b", "x://b"}}),
              id);
    const auto chapters = shelf->chapters(id);
    ASSERT_EQ(chapters.size(), 3u);
    EXPECT_FALSE(chapters[0].downloaded);
    EXPECT_TRUE(chapters[1].downloaded);
    EXPECT_EQ(chapters[2].entry, (ChapterEntry{3, "b", "x://b"}));
    std::string text;
    EXPECT_TRUE(shelf->text(id, "x://b", text));
    EXPECT_EQ(text, "B");
    const auto found = shelf->find(2, "http://s2.test/b/");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->chapters_known, 3);
    EXPECT_EQ(found->chapters_downloaded, 2);
    EXPECT_EQ(found->formats, "txt,epub");

    // A text that cannot be read stores nothing of the batch.
    int calls = 0;
    EXPECT_FALSE(shelf->store_texts(id, [&](std::string& link, std::string& t, bool& failed) {
        if (++calls == 1) {
            link = "x://n";
            t = "N";
            return true;
        }
        failed = true;
        return false;
    }));
    EXPECT_FALSE(shelf->text(id, "x://n", text));
}

// A shelf of the first schema is brought up to date with its books kept; a shelf of a newer
// program is not touched.
TEST_F(ShelfTest, MigrationsKeepTheBooks) {
    {
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(db().c_str(), &raw), SQLITE_OK);
        const char* v1 = R"(CREATE TABLE books(id INTEGER PRIMARY KEY, source INTEGER NOT NULL,
              link BLOB NOT NULL, name BLOB NOT NULL, author BLOB NOT NULL,
              base_folder BLOB NOT NULL DEFAULT x'', formats TEXT NOT NULL DEFAULT '',
              encoding TEXT NOT NULL DEFAULT 'gbk', convert TEXT NOT NULL DEFAULT '', cover BLOB,
              last_check INTEGER NOT NULL DEFAULT 0, last_update INTEGER NOT NULL DEFAULT 0,
              UNIQUE(source, link));
            CREATE TABLE chapters(book INTEGER NOT NULL REFERENCES books(id) ON DELETE CASCADE,
              position INTEGER NOT NULL, name BLOB NOT NULL, link BLOB NOT NULL,
              PRIMARY KEY(book, position));
            CREATE TABLE texts(book INTEGER NOT NULL REFERENCES books(id) ON DELETE CASCADE,
              link BLOB NOT NULL, text BLOB NOT NULL, PRIMARY KEY(book, link));
            INSERT INTO books(source, link, name, author) VALUES(3, x'6c', x'6e', x'61');
            INSERT INTO chapters VALUES(1, 1, x'63', x'7a');
            INSERT INTO texts VALUES(1, x'7a', x'54');
            PRAGMA user_version = 1;)";
        ASSERT_EQ(sqlite3_exec(raw, v1, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(raw);
    }
    auto shelf = Shelf::open(db());
    ASSERT_NE(shelf, nullptr);
    const auto book = shelf->find(3, "l");
    ASSERT_TRUE(book);
    EXPECT_EQ(book->last_read, 0);
    EXPECT_EQ(book->chapters_downloaded, 1);
    EXPECT_TRUE(shelf->set_last_read(book->id, 7));
    EXPECT_EQ(shelf->find(book->id)->last_read, 7);
    shelf.reset();

    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(db().c_str(), &raw), SQLITE_OK);
    sqlite3_exec(raw, "PRAGMA user_version = 99", nullptr, nullptr, nullptr);
    sqlite3_close(raw);
    std::string error;
    EXPECT_EQ(Shelf::open(db(), &error), nullptr);
    EXPECT_NE(error.find("newer version"), std::string::npos) << error;
}

} // namespace
} // namespace tovani
