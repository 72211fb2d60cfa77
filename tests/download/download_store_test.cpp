#include "download/download_store.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "text/encoding.h"

namespace tovani {
namespace {

namespace fs = std::filesystem;

// A fresh folder under /tmp per test, removed afterwards. Its path is ASCII, so GBK and UTF-8
// spell it alike.
class TempFolder : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tovani-store-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    // GBK path of `gbk_name` inside the folder.
    std::string path(const std::string& gbk_name) const { return dir_ + "/" + gbk_name; }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_))
            names.push_back(e.path().filename().string());
        return names;
    }

    std::string dir_;
};

// ---- names and paths ----

TEST(DownloadPaths, AreBuiltUnderTheBaseFolder) {
    const std::string book = gbk("书"), author = gbk("某人"), chapter = gbk("第七章");
    struct Case {
        const char* what;
        std::string built;
        std::string want_utf8;
    };
    const std::string folder = book_folder("/home/u/Desktop/", book, author);
    const Case cases[] = {
        {"download folder", download_folder("/home/u/Desktop/"), "/home/u/Desktop/小说下载"},
        {"book folder", folder, "/home/u/Desktop/小说下载/书  某人"},
        {"progress file in the book's folder", progress_file_path("/home/u/Desktop/", book, author),
         "/home/u/Desktop/小说下载/书  某人/书  某人.ini"},
        {"book file beside the folder", book_file_path("/home/u/Desktop/", book, author),
         "/home/u/Desktop/小说下载/书  某人.txt"},
        {"epub file", book_file_path("/home/u/Desktop/", book, author, ".epub"),
         "/home/u/Desktop/小说下载/书  某人.epub"},
        {"chapter file in the book's folder", chapter_file_path(folder, 7, chapter),
         "/home/u/Desktop/小说下载/书  某人/【7】第七章.txt"},
        {"base without slash", book_folder("/srv/out", book, author), "/srv/out/小说下载/书  某人"},
        {"empty base is relative", progress_file_path("", book, author),
         "小说下载/书  某人/书  某人.ini"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(to_utf8(c.built), c.want_utf8);
    }
}

TEST(SafeFileName, LeavesOrdinaryNamesAndReplacesWhatAFileSystemRefuses) {
    struct Case {
        std::string name_utf8;
        std::string extension;
        std::string want_utf8;
    };
    const Case cases[] = {
        {"第一章 风起云涌（上）", ".txt", "第一章 风起云涌（上）.txt"},
        {"Chapter 1. The Start", "", "Chapter 1. The Start"},
        {"你是谁?", ".txt", "你是谁？.txt"},
        {"../../etc/passwd", "", "..／..／etc／passwd"},
        {"a\\b/c", "", "a＼b／c"},
        {"<1>:*|\"x\"", "", "＜1＞：＊｜＂x＂"},
        {"tab\there\nnew\r\x01\x1f\x7f", "", "tab_here_new____"},
        {"", "", "_"},
        {".", "", "_"},
        {"..", "", "__"},
        {"", ".txt", ".txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name_utf8);
        EXPECT_EQ(to_utf8(safe_file_name(utf8_to_text(c.name_utf8), c.extension)), c.want_utf8);
    }
}

TEST(SafeFileName, ReplacesBytesThatStartNoGbkCharacter) {
    const std::string lone_lead_at_end = "ab\x81";
    const std::string lead_before_ascii_control = "\xB5\x0A";
    const std::string byte_80_and_ff = "\x80x\xFF";
    EXPECT_EQ(safe_file_name(lone_lead_at_end), "ab_");
    EXPECT_EQ(safe_file_name(lead_before_ascii_control), "__");
    EXPECT_EQ(safe_file_name(byte_80_and_ff), "_x_");
    EXPECT_EQ(safe_file_name("\xB5\xDA"), "\xB5\xDA") << "第 stays";
    // A pair that is no GBK character (A2E3 is read as the euro sign, which GBK writes
    // otherwise) would come back from the file system's UTF-8 as something else.
    EXPECT_EQ(safe_file_name("a\xA2\xE3" + gbk("章")), "a_" + gbk("章"));
}

TEST(SafeFileName, CapsTheUtf8NameAt255BytesOnACharacterBoundary) {
    const std::string chinese = gbk("章"); // 2 bytes in GBK, 3 in UTF-8
    std::string all_chinese;
    for (int i = 0; i < 150; ++i)
        all_chinese += chinese;
    struct Case {
        const char* what;
        std::string name;
        std::string extension;
        std::size_t want_utf8_size;
    };
    const Case cases[] = {
        {"300 ASCII bytes", std::string(300, 'a'), ".txt", 255},
        {"150 Chinese characters", all_chinese, ".txt", 83 * 3 + 4},
        {"one ASCII byte shifts the cut", "a" + all_chinese, ".txt", 1 + 83 * 3 + 4},
        {"exactly 255 stays", std::string(251, 'b'), ".ini", 255},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string safe = safe_file_name(c.name, c.extension);
        EXPECT_EQ(to_utf8(safe).size(), c.want_utf8_size);
        ASSERT_GE(safe.size(), c.extension.size());
        EXPECT_EQ(safe.substr(safe.size() - c.extension.size()), c.extension) << "kept whole";
        const std::string stem = safe.substr(0, safe.size() - c.extension.size());
        EXPECT_EQ(c.name.substr(0, stem.size()), stem) << "a prefix of the name";
        EXPECT_EQ(utf8_to_text(to_utf8(stem)), stem) << "no character cut in half";
    }
}

TEST(DownloadPaths, HostileNamesStayInsideTheDownloadFolder) {
    const std::vector<std::string> hostile = {
        "../../../.bashrc",
        "/etc/passwd",
        "..\\..\\x",
        "..",
        ".",
        "a\nb",
        std::string(400, '/'),
        std::string("zero\0byte", 9),
    };
    const std::string folder = download_folder("/base/");
    for (const std::string& name : hostile) {
        SCOPED_TRACE(name);
        // Each path is the download folder, at most one folder of the book's, and one file.
        for (const std::string& path :
             {chapter_file_path(book_folder("/base/", name, name), 3, name),
              progress_file_path("/base/", name, name), book_file_path("/base/", name, "x"),
              progress_file_path("/base/", "x", name), book_folder("/base/", name, "")}) {
            ASSERT_EQ(path.compare(0, folder.size() + 1, folder + "/"), 0) << path;
            const std::string rest = path.substr(folder.size() + 1);
            const std::size_t slash = rest.find('/');
            for (const std::string& part :
                 {rest.substr(0, slash),
                  slash == std::string::npos ? std::string("x") : rest.substr(slash + 1)}) {
                EXPECT_EQ(part.find('/'), std::string::npos) << path;
                EXPECT_NE(part, "..");
                EXPECT_NE(part, ".");
                EXPECT_LE(to_utf8(part).size(), 255u);
                for (unsigned char b : part)
                    EXPECT_GE(b, 0x20) << path;
            }
        }
    }
}

TEST_F(TempFolder, AChapterWithAHostileNameIsWrittenInsideTheFolder) {
    ASSERT_TRUE(create_directory(download_folder(dir_)));
    const std::string file = chapter_file_path(download_folder(dir_), 1, "../../escaped");
    ASSERT_TRUE(write_file(file, "text"));
    std::string back;
    ASSERT_TRUE(read_file(file, back));
    EXPECT_EQ(back, "text");
    EXPECT_EQ(entries().size(), 1u) << "only the download folder";
    EXPECT_FALSE(fs::exists(dir_ + "/escaped.txt"));
    EXPECT_FALSE(fs::exists("/tmp/escaped.txt"));
}

// ---- desktop ----

// Sets or clears environment variables for one test and puts them back afterwards.
class Environment {
public:
    void set(const char* name, std::optional<std::string> value) {
        if (!saved_.count(name)) {
            const char* old = std::getenv(name);
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~Environment() {
        for (const auto& [name, value] : saved_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

TEST_F(TempFolder, DesktopFolderFollowsTheXdgSettings) {
    const std::string home = dir_ + "/home";
    const std::string config = dir_ + "/config";
    fs::create_directories(home + "/.config");
    fs::create_directories(config);
    auto write_dirs = [](const std::string& folder, const std::string& text) {
        std::ofstream(folder + "/user-dirs.dirs", std::ios::binary) << text;
    };
    struct Case {
        const char* what;
        std::optional<std::string> desktop_env;
        std::optional<std::string> config_env;
        std::optional<std::string> config_file; // written to the config folder in use
        std::string want_utf8;
    };
    const Case cases[] = {
        {"no settings at all", {}, {}, {}, home + "/Desktop/"},
        {"environment first", "/data/Desk", config, "XDG_DESKTOP_DIR=\"$HOME/Other\"\n",
         "/data/Desk/"},
        {"user-dirs.dirs under XDG_CONFIG_HOME",
         {},
         config,
         "# written by xdg-user-dirs-update\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"
         "XDG_DESKTOP_DIR=\"$HOME/桌面\"\n",
         home + "/桌面/"},
        {"user-dirs.dirs under ~/.config",
         {},
         {},
         "XDG_DESKTOP_DIR=\"${HOME}/Schreibtisch\"\r\n",
         home + "/Schreibtisch/"},
        {"absolute value with slash", {}, config, "XDG_DESKTOP_DIR=\"/srv/desk/\"\n", "/srv/desk/"},
        {"escaped quote", {}, config, "XDG_DESKTOP_DIR=\"$HOME/a\\\"b\"\n", home + "/a\"b/"},
        {"relative value is ignored",
         {},
         config,
         "XDG_DESKTOP_DIR=\"Desktop2\"\n",
         home + "/Desktop/"},
        {"relative XDG_CONFIG_HOME is ignored", {}, "relative/config", {}, home + "/Desktop/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Environment env;
        env.set("HOME", home);
        env.set("XDG_DESKTOP_DIR", c.desktop_env);
        env.set("XDG_CONFIG_HOME", c.config_env);
        fs::remove(home + "/.config/user-dirs.dirs");
        fs::remove(config + "/user-dirs.dirs");
        if (c.config_file)
            write_dirs(c.config_env && c.config_env->front() == '/' ? config : home + "/.config",
                       *c.config_file);
        EXPECT_EQ(to_utf8(desktop_folder()), c.want_utf8);
    }
}

// ---- progress file ----

TEST(ProgressFile, EntriesAreWrittenInTheIniLayoutWithCrLf) {
    ProgressFile file;
    file.set_entry(1, gbk("第一章"), "http://a/1.html");
    file.set_entry(2, gbk("第二章"), "http://a/2.html");
    EXPECT_EQ(to_utf8(file.text()), "[章节名字]\r\n1=第一章\r\n2=第二章\r\n"
                                    "[章节链接]\r\n1=http://a/1.html\r\n2=http://a/2.html\r\n");
    EXPECT_EQ(file.entry_name(2), gbk("第二章"));
    EXPECT_EQ(file.entry_link(1), "http://a/1.html");
    EXPECT_EQ(file.entry_name(3), "");
    EXPECT_EQ(file.get(gbk("没有"), "1"), "");
}

TEST(ProgressFile, RewritingFewerChaptersReplacesInPlaceAndKeepsTheRest) {
    ProgressFile file;
    for (int i = 1; i <= 10; ++i)
        file.set_entry(i, "old" + std::to_string(i), "L" + std::to_string(i));
    for (int i = 1; i <= 8; ++i)
        file.set_entry(i, "new" + std::to_string(i), "M" + std::to_string(i));

    ProgressFile expected;
    for (int i = 1; i <= 10; ++i)
        expected.set_entry(i, (i <= 8 ? "new" : "old") + std::to_string(i),
                           (i <= 8 ? "M" : "L") + std::to_string(i));
    EXPECT_EQ(file.text(), expected.text()) << "same lines in the same order";
    EXPECT_EQ(file.entry_name(9), "old9");
    EXPECT_EQ(file.entry_link(10), "L10");
}

TEST(ProgressFile, ForeignLinesStayAndNewKeysGoToTheEndOfTheirSection) {
    ProgressFile file;
    file.parse("; a comment\r\n[Other]\r\nkeep=this\r\n\r\n[Names]\r\n1=one\r\nno equals sign\r\n"
               "\r\n\r\n[Last]\r\nx=y");
    file.set("names", "2", "two");
    file.set("NAMES", " 1 ", "uno");
    file.set("New", "k", "v");
    EXPECT_EQ(file.text(), "; a comment\r\n[Other]\r\nkeep=this\r\n\r\n[Names]\r\n 1 =uno\r\n"
                           "no equals sign\r\n2=two\r\n\r\n\r\n[Last]\r\nx=y\r\n[New]\r\nk=v\r\n");
    EXPECT_EQ(file.get("other", "KEEP"), "this");
}

TEST(ProgressFile, ValuesAreReadBackByTheProfileRules) {
    struct Case {
        const char* what;
        std::string stored;
        std::string want;
    };
    const Case cases[] = {
        {"blanks around", "  \tvalue with  inner blanks \t ", "value with  inner blanks"},
        {"double quotes", "\"quoted\"", "quoted"},
        {"single quotes", "'quoted'", "quoted"},
        {"blanks and quotes", "  \" padded \"  ", " padded "},
        {"only one pair", "\"\"twice\"\"", "\"twice\""},
        {"unmatched quote", "\"open", "\"open"},
        {"mixed quotes", "\"a'", "\"a'"},
        {"empty", "", ""},
        {"equals sign inside", "a=b=c", "a=b=c"},
        {"ASCII", std::string(12000, 'x'), std::string(profile_value_limit, 'x')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ProgressFile file;
        file.parse("[s]\r\nk=" + c.stored + "\r\n");
        EXPECT_EQ(file.get("s", "k"), c.want);
    }
}

TEST(ProgressFile, TheReadLimitNeverCutsACharacter) {
    std::string chinese;
    for (int i = 0; i < 5200; ++i)
        chinese += gbk("章"); // 10400 bytes
    ProgressFile file;
    file.set("s", "k", chinese);
    const std::string back = file.get("s", "k");
    EXPECT_EQ(back.size(), profile_value_limit - 1);
    EXPECT_EQ(back, chinese.substr(0, profile_value_limit - 1));
}

TEST(ProgressFile, ALineBreakInAValueCannotForgeKeys) {
    ProgressFile file;
    file.set_entry(1, gbk("名字\r\n[章节链接]\r\n5=http://evil/"), "http://good/1");
    EXPECT_EQ(file.entry_link(5), "");
    EXPECT_EQ(file.entry_link(1), "http://good/1");
    EXPECT_EQ(file.entry_name(1), gbk("名字  [章节链接]  5=http://evil/"));
}

TEST_F(TempFolder, ProgressEntriesRoundTripThroughTheFile) {
    const std::string ini = path(gbk("书  某人.ini"));
    EXPECT_EQ(read_progress_entry(ini, chapter_names_section(), 1), "") << "no file yet";
    ASSERT_TRUE(write_progress_entry(ini, 1, gbk("一"), "http://x/1"));
    ASSERT_TRUE(write_progress_entry(ini, 2, gbk("二"), "http://x/2"));
    ASSERT_TRUE(write_progress_entry(ini, 1, gbk("壹"), "http://x/one"));
    EXPECT_EQ(read_progress_entry(ini, chapter_names_section(), 1), gbk("壹"));
    EXPECT_EQ(read_progress_entry(ini, chapter_links_section(), 2), "http://x/2");

    std::string bytes;
    ASSERT_TRUE(read_file(ini, bytes));
    EXPECT_EQ(to_utf8(bytes), "[章节名字]\r\n1=壹\r\n2=二\r\n[章节链接]\r\n1=http://x/one\r\n"
                              "2=http://x/2\r\n");
    EXPECT_TRUE(fs::exists(fs::u8path(dir_ + "/书  某人.ini"))) << "UTF-8 name on disk";

    ProgressFile loaded;
    ASSERT_TRUE(loaded.load(ini));
    EXPECT_EQ(loaded.text(), bytes);
    loaded.set_entry(3, gbk("三"), "http://x/3");
    ASSERT_TRUE(loaded.save(ini));
    EXPECT_EQ(read_progress_entry(ini, chapter_names_section(), 3), gbk("三"));
    EXPECT_EQ(entries().size(), 1u) << "no temporary file left behind";
}

TEST_F(TempFolder, AnUnreadableProgressFileIsNeverOverwritten) {
    const std::string ini = path("book.ini");
    ASSERT_TRUE(create_directory(ini)); // something that exists but is no file
    ProgressFile file;
    EXPECT_FALSE(file.load(ini));
    EXPECT_FALSE(write_progress_entry(ini, 1, "a", "b"));
    EXPECT_TRUE(fs::is_directory(ini));
    ProgressFile missing;
    EXPECT_TRUE(missing.load(path("absent.ini")));
    EXPECT_EQ(missing.text(), "");
}

// ---- files ----

TEST_F(TempFolder, WholeFilesAreWrittenReplacedReadAndDeleted) {
    const std::string file = path(gbk("【1】第一章.txt"));
    static constexpr char raw[] = "GBK \xB5\xDA\0 and zero";
    const std::string binary(raw, sizeof raw - 1);
    ASSERT_TRUE(write_file(file, std::string(5000, 'L')));
    ASSERT_TRUE(write_file(file, binary)) << "replaces";
    std::string back = "stale";
    ASSERT_TRUE(read_file(file, back));
    EXPECT_EQ(back, binary) << "bytes exactly, the whole file replaced";
    EXPECT_TRUE(fs::exists(fs::u8path(dir_ + "/【1】第一章.txt")));
    EXPECT_EQ(entries().size(), 1u) << "no temporary file left behind";

    ASSERT_TRUE(write_file(file, ""));
    ASSERT_TRUE(read_file(file, back));
    EXPECT_EQ(back, "");

    EXPECT_TRUE(delete_file(file));
    EXPECT_FALSE(fs::exists(fs::u8path(dir_ + "/【1】第一章.txt")));
    EXPECT_TRUE(delete_file(file)) << "a missing file is no error";
    back = "stale";
    EXPECT_TRUE(read_file(file, back)) << "a missing file reads as empty";
    EXPECT_EQ(back, "");
}

TEST_F(TempFolder, FileFailuresAreReported) {
    EXPECT_FALSE(write_file(path("missing/folder/x.txt"), "x"));
    ASSERT_TRUE(create_directory(path("dir")));
    EXPECT_FALSE(write_file(path("dir"), "x")) << "a folder is in the way";
    std::string bytes = "stale";
    EXPECT_FALSE(read_file(path("dir"), bytes));
    EXPECT_EQ(bytes, "");
    EXPECT_EQ(entries().size(), 1u) << "failed writes leave no temporary file";
    if (geteuid() != 0) { // root reads and writes regardless of permissions
        ASSERT_TRUE(write_file(path("locked.txt"), "x"));
        chmod(path("locked.txt").c_str(), 0);
        EXPECT_FALSE(read_file(path("locked.txt"), bytes));
        chmod(path("dir").c_str(), 0500);
        EXPECT_FALSE(write_file(path("dir/x.txt"), "x"));
        chmod(path("dir").c_str(), 0700);
    }
}

TEST_F(TempFolder, CreateDirectoryMakesParentsAndAcceptsAnExistingOne) {
    const std::string nested = path(gbk("桌面/小说下载"));
    EXPECT_TRUE(create_directory(nested));
    EXPECT_TRUE(fs::is_directory(fs::u8path(dir_ + "/桌面/小说下载")));
    EXPECT_TRUE(create_directory(nested)) << "existing";
    ASSERT_TRUE(write_file(path("plain"), "x"));
    EXPECT_FALSE(create_directory(path("plain"))) << "a file is in the way";
    EXPECT_FALSE(create_directory(""));
}

// A file written in pieces appears whole at commit, and not at all when the writer is dropped.
TEST_F(TempFolder, AtomicWriterCommitsWholeFilesOrNothing) {
    const std::string file = path("book.txt");
    ASSERT_TRUE(write_file(file, "old"));
    std::string expected;
    {
        AtomicFileWriter writer(file);
        for (int i = 0; i < 300; ++i) {
            const std::string piece(7000 + i, static_cast<char>('a' + i % 26)); // over 2 MiB
            ASSERT_TRUE(writer.append(piece));
            expected += piece;
        }
        std::string during;
        ASSERT_TRUE(read_file(file, during));
        EXPECT_EQ(during, "old") << "the target is untouched until the commit";
        ASSERT_TRUE(writer.commit());
    }
    std::string back;
    ASSERT_TRUE(read_file(file, back));
    EXPECT_EQ(back, expected);
    {
        AtomicFileWriter dropped(file);
        ASSERT_TRUE(dropped.append("partial"));
    }
    ASSERT_TRUE(read_file(file, back));
    EXPECT_EQ(back, expected);
    EXPECT_EQ(entries().size(), 1u) << "no temporary file left behind";
    AtomicFileWriter nowhere(path("missing/folder/x.txt"));
    EXPECT_FALSE(nowhere.append("x"));
    EXPECT_FALSE(nowhere.commit());
}

// A killed run leaves its temporary files behind; the next run removes those of dead
// processes and keeps those of live ones (they may still be renamed).
TEST_F(TempFolder, StaleTemporaryFilesOfDeadWritersAreRemoved) {
    const std::string dead = ".tovani-999999999-3.tmp"; // above any pid the kernel hands out
    const std::string alive = ".tovani-" + std::to_string(getpid()) + "-4.tmp";
    for (const std::string& name : {dead, alive, std::string(".tovani-notes.txt")}) {
        ASSERT_TRUE(write_file(path(name), "half"));
    }
    EXPECT_EQ(remove_stale_temporary_files(dir_), 1);
    auto names = entries();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{alive, ".tovani-notes.txt"}));
    EXPECT_EQ(remove_stale_temporary_files(dir_ + "/missing"), 0);
}

} // namespace
} // namespace tovani
