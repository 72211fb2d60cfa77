// The `tovani` command line against the demo library on free loopback ports.

#include "cli/cli.h"
#include "cli/commands.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "demo/demo_sites.h"
#include "download/download_store.h"
#include "text/encoding.h"

namespace tovani::cli {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

CliRun run(std::vector<std::string> args) {
    args.insert(args.begin(), "tovani");
    std::ostringstream out, err;
    const int status = run_cli(args, out, err);
    return {status, out.str(), err.str()};
}

class CliTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        demo::DemoOptions options;
        options.free_ports = true;
        options.library.scale_chapters = 200;
        std::string error;
        sites_ = demo::DemoSites::start(options, &error).release();
        ASSERT_NE(sites_, nullptr) << error;
        point_at_demo();
    }
    static void TearDownTestSuite() {
        delete sites_;
        sites_ = nullptr;
    }
    static void point_at_demo() {
        for (int s = 1; s <= 8; ++s) {
            setenv(("TOVANI_SITE_HOST_" + std::to_string(s)).c_str(), sites_->host(s).c_str(), 1);
        }
    }
    void SetUp() override {
        ASSERT_NE(sites_, nullptr);
        point_at_demo();
        sites_->clear_faults();
        sites_->set_latency(std::chrono::milliseconds(0));
        out_ = fs::temp_directory_path() /
               ("tovani-cli-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(out_);
        // No rule file, sites file or shelf of the user's may change what the tests see.
        setenv("XDG_CONFIG_HOME", (out_ / "no-config").c_str(), 1);
        setenv("XDG_DATA_HOME", (out_ / "data").c_str(), 1);
        sites_->reset_books();
        sites_->reset_counts();
    }
    void TearDown() override { fs::remove_all(out_); }

    static demo::DemoSites* sites_;
    fs::path out_;
};

demo::DemoSites* CliTest::sites_ = nullptr;

TEST_F(CliTest, SearchFindsTheBookOnEverySource) {
    for (int s = 1; s <= 8; ++s) {
        const CliRun r = run({"search", "--source", std::to_string(s), "--json", "星河"});
        ASSERT_EQ(r.status, exit_ok) << s << r.err;
        const json rows = json::parse(r.out);
        ASSERT_EQ(rows.size(), 1u) << s;
        const json& row = rows[0];
        EXPECT_EQ(row.size(), 4u);
        EXPECT_EQ(row["number"], 1);
        EXPECT_EQ(row["name"], "星河渡舟");
        EXPECT_EQ(row["author"], "青衫客");
        EXPECT_EQ(row["link"], to_utf8(sites_->book_link(s, 102))) << s;

        const CliRun table = run({"search", "--source", std::to_string(s), "星河"});
        EXPECT_EQ(table.status, exit_ok);
        EXPECT_NE(table.out.find("星河渡舟  青衫客"), std::string::npos) << table.out;
    }
}

TEST_F(CliTest, ChaptersReadAndDetails) {
    const demo::DemoLibrary& lib = sites_->library();
    const demo::DemoBook& book = *lib.find(102);
    for (int s = 1; s <= 8; ++s) {
        const std::string link = sites_->book_link(s, 102);
        const CliRun chapters = run({"chapters", "--source", std::to_string(s), "--json", link});
        ASSERT_EQ(chapters.status, exit_ok) << s << chapters.err;
        const json rows = json::parse(chapters.out);
        ASSERT_EQ(rows.size(), static_cast<std::size_t>(book.chapter_count));
        EXPECT_EQ(rows[2]["number"], 3);
        EXPECT_EQ(rows[2]["name"], to_utf8(lib.chapter_name(book, 3)));

        const CliRun read = run({"read", "--source", std::to_string(s), rows[2]["link"]});
        ASSERT_EQ(read.status, exit_ok) << s << read.err;
        EXPECT_EQ(read.out, to_utf8(lib.expected_chapter_text(s, book, 3)) + "\n") << s;

        const CliRun details = run({"details", "--source", std::to_string(s), "--name", "星河渡舟",
                                    "--author", "青衫客", "--json", link});
        if (s == 2) {
            EXPECT_EQ(details.status, exit_no_match);
            EXPECT_EQ(details.err, "暂不支持！\n");
            continue;
        }
        ASSERT_EQ(details.status, exit_ok) << s << details.err;
        const json d = json::parse(details.out);
        EXPECT_EQ(d.size(), 7u);
        for (const char* key : {"cover_url", "author", "title", "update_time", "status",
                                "latest_chapter", "description"}) {
            EXPECT_TRUE(d.contains(key)) << key;
        }
        EXPECT_EQ(d["title"], "星河渡舟") << s;
        EXPECT_EQ(d["author"], "青衫客") << s;
        EXPECT_EQ(d["latest_chapter"], to_utf8(lib.chapter_name(book, book.chapter_count))) << s;
    }
}

// update and doctor end with the worst of their results, whatever their order: a site that
// failed, then a page that does not fit its rule, then nothing found.
TEST(ExitStatus, SeveralResultsEndWithTheWorst) {
    struct Case {
        std::vector<int> results;
        int status;
    };
    const std::vector<Case> cases{
        {{exit_layout_changed, exit_layout_changed}, exit_layout_changed},
        {{exit_no_match, exit_layout_changed}, exit_layout_changed},
        {{exit_layout_changed, exit_no_match}, exit_layout_changed},
        {{exit_layout_changed, exit_site_failed, exit_layout_changed}, exit_site_failed},
        {{exit_ok, exit_no_match, exit_ok}, exit_no_match},
        {{exit_ok, exit_ok}, exit_ok},
    };
    for (const Case& c : cases) {
        int status = exit_ok;
        for (int result : c.results) {
            status = worse_status(status, result);
        }
        EXPECT_EQ(status, c.status) << ::testing::PrintToString(c.results);
    }
}

TEST_F(CliTest, FailuresAndUsageErrors) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err_has;
    };
    const std::vector<Case> cases{
        {{"search", "--source", "9", "x"}, exit_usage, "there is no book source 9"},
        {{"search", "--source", "abc", "x"},
         exit_usage,
         "--source must be the number of a book source, not 'abc'"},
        {{"search", "--source", "1"}, exit_usage, "run 'tovani search --help' for the options"},
        {{"search", "--source", "1", "--all", "x"}, exit_usage, "tovani search: "},
        {{"frobnicate"}, exit_usage, "frobnicate"},
        {{"download", "--source", "1", "--merge", "--no-merge", "x"}, exit_usage, "excludes"},
        {{"search", "--source", "1", "没有这本书"}, exit_no_match, "搜索不到！"},
        // A book page without chapters came: the page does not fit the rule.
        {{"chapters", "--source", "5", sites_->site_root(5) + "/book/404/"},
         exit_site_failed,
         "HTTP 404"},
        {{"read", "--source", "8", sites_->site_root(8) + "/nothing.html"},
         exit_site_failed,
         "HTTP 404"},
        {{"read", "--source", "8", sites_->book_link(8, 102)},
         exit_layout_changed,
         "页面与书源规则不符"},
    };
    for (const Case& c : cases) {
        const CliRun r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[0] << " " << r.err;
        EXPECT_NE(r.err.find(c.err_has), std::string::npos) << r.err;
    }
}

// Each kind of failure has its own exit status and names the source, its host and the reason.
TEST_F(CliTest, FailuresAreToldApart) {
    setenv("TOVANI_SITE_HOST_4", "127.0.0.1:1", 1);
    CliRun r = run({"search", "--source", "4", "星河"});
    EXPECT_EQ(r.status, exit_site_failed);
    EXPECT_EQ(r.err, "tovani: 书源四（127.0.0.1:1）无法连接：Connection refused\n");

    point_at_demo();
    sites_->set_faults_on_all_pages(true);
    sites_->set_fault_rates({.http_503 = 1.0});
    r = run({"search", "--source", "2", "星河"});
    EXPECT_EQ(r.status, exit_site_failed);
    EXPECT_NE(r.err.find("网站拒绝访问：HTTP 503"), std::string::npos) << r.err;
    sites_->set_fault_rates({.challenge = 1.0});
    r = run({"chapters", "--source", "7", sites_->book_link(7, 102)});
    EXPECT_EQ(r.status, exit_site_failed);
    EXPECT_NE(r.err.find("人机验证"), std::string::npos) << r.err;
    sites_->clear_faults();
    sites_->set_faults_on_all_pages(false);

    // A no-match search with --json still prints an empty list.
    r = run({"search", "--source", "3", "--json", "没有这本书"});
    EXPECT_EQ(r.status, exit_no_match);
    EXPECT_EQ(r.out, "[]\n");
}

// One malformed host costs its own source and nothing else.
TEST_F(CliTest, BadHostAffectsOneSource) {
    setenv("TOVANI_SITE_HOST_2", "http://foo", 1);
    CliRun r = run({"search", "--source", "1", "星河"});
    EXPECT_EQ(r.status, exit_ok) << r.err;
    r = run({"search", "--source", "2", "星河"});
    EXPECT_EQ(r.status, exit_site_failed);
    EXPECT_NE(r.err.find("TOVANI_SITE_HOST_2"), std::string::npos) << r.err;

    r = run({"sites", "--json"});
    ASSERT_EQ(r.status, exit_ok);
    json rows = json::parse(r.out);
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[0]["root"], sites_->site_root(1));
    EXPECT_EQ(rows[0]["from"], "environment TOVANI_SITE_HOST_1");
    EXPECT_NE(rows[1]["error"].get<std::string>().find("invalid host"), std::string::npos);

    r = run({"sources"});
    ASSERT_EQ(r.status, exit_ok);
    EXPECT_NE(r.out.find("invalid host 'http://foo'"), std::string::npos) << r.out;
    point_at_demo();
}

TEST_F(CliTest, SourcesListAndExport) {
    CliRun r = run({"sources", "--json"});
    ASSERT_EQ(r.status, exit_ok) << r.err;
    const json rows = json::parse(r.out);
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[2]["source"], 3);
    EXPECT_EQ(rows[2]["name"], "书源三");
    EXPECT_EQ(rows[2]["host"], sites_->host(3));
    EXPECT_EQ(rows[2]["rule"], "built-in 03.toml");

    r = run({"sources", "--export", "5"});
    ASSERT_EQ(r.status, exit_ok);
    EXPECT_EQ(r.out.rfind("# Book source 5", 0), 0u) << r.out.substr(0, 80);
    EXPECT_NE(r.out.find("\nid = 5\n"), std::string::npos);
    EXPECT_NE(r.out.find("\nname = \"书源五\"\n"), std::string::npos);
}

TEST_F(CliTest, DownloadMergesAndReportsFailures) {
    const demo::DemoLibrary& lib = sites_->library();
    const demo::DemoBook& book = *lib.find(102);
    const std::string link = sites_->book_link(7, 102);
    sites_->fail_chapter(102, 4, -1, demo::Fault::http_500, 7);
    CliRun r = run({"download", "--source", "7", "--threads", "5", "--name", "星河渡舟", "--author",
                    "青衫客", "--merge", "--out", out_.string(), link});
    EXPECT_EQ(r.status, exit_site_failed);
    EXPECT_NE(r.err.find("failed 1 of " + std::to_string(book.chapter_count)), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(to_utf8(lib.chapter_name(book, 4))), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("not merging"), std::string::npos);

    sites_->clear_faults();
    r = run({"download", "--source", "7", "--threads", "5", "--name", "星河渡舟", "--author",
             "青衫客", "--merge", "--out", out_.string(), link});
    ASSERT_EQ(r.status, exit_ok) << r.err;
    EXPECT_NE(
        r.err.find("downloaded 1, already complete " + std::to_string(book.chapter_count - 1)),
        std::string::npos)
        << r.err;
    const std::string book_file = to_utf8(book_file_path(out_.string(), book.title, book.author));
    EXPECT_EQ(r.out, book_file + "\n");
    std::string bytes;
    ASSERT_TRUE(read_file(utf8_to_text(book_file), bytes));
    std::string expected;
    for (int n = 1; n <= book.chapter_count; ++n) {
        expected +=
            lib.chapter_name(book, n) + "\r\n" + lib.expected_chapter_text(7, book, n) + "\r\n\r\n";
    }
    EXPECT_EQ(bytes, expected);
}

// Every source at once: rows ranked and tagged with their source; a site that is down does not
// hide the others.
TEST_F(CliTest, SearchAllSources) {
    CliRun r = run({"search", "--all", "--json", "星河渡舟"});
    ASSERT_EQ(r.status, exit_ok) << r.err;
    json rows = json::parse(r.out);
    ASSERT_EQ(rows.size(), 8u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i]["number"], i + 1);
        EXPECT_EQ(rows[i]["source"], i + 1) << "source order within the exact-title rank";
        EXPECT_EQ(rows[i]["name"], "星河渡舟");
        EXPECT_EQ(rows[i]["link"], sites_->book_link(static_cast<int>(i) + 1, 102));
    }

    // Ranks: titles holding the keyword before the books found by their author.
    r = run({"search", "--all", "--json", "青衫"});
    ASSERT_EQ(r.status, exit_ok) << r.err;
    rows = json::parse(r.out);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0]["author"], "青衫客");

    setenv("TOVANI_SITE_HOST_3", "127.0.0.1:1", 1);
    r = run({"search", "--all", "星河渡舟"});
    EXPECT_EQ(r.status, exit_ok) << r.err;
    EXPECT_NE(r.err.find("书源三（127.0.0.1:1）无法连接"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("1 of 8 sources failed"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("书源八"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("书源三"), std::string::npos) << r.out;

    r = run({"search", "--all", "--json", "没有这本书"});
    EXPECT_EQ(r.status, exit_no_match);
    EXPECT_EQ(r.out, "[]\n");
}

TEST_F(CliTest, DoctorChecksEverySource) {
    CliRun r = run({"doctor", "--json"});
    ASSERT_EQ(r.status, exit_ok) << r.out << r.err;
    json rows = json::parse(r.out);
    ASSERT_EQ(rows.size(), 8u);
    for (const json& row : rows) {
        EXPECT_EQ(row["search"], "ok") << row;
        EXPECT_EQ(row["chapters"], "ok") << row;
        EXPECT_EQ(row["text"], "ok") << row;
        EXPECT_TRUE(row["ms"].is_number());
    }

    // One site down, one whose chapter pages became bot checks: each says which step failed.
    setenv("TOVANI_SITE_HOST_2", "127.0.0.1:1", 1);
    sites_->fail_chapter(102, 1, -1, demo::Fault::challenge, 6);
    r = run({"doctor", "--json"});
    EXPECT_EQ(r.status, exit_site_failed);
    rows = json::parse(r.out);
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[1]["search"].get<std::string>().rfind("unreachable", 0), 0u) << rows[1];
    EXPECT_EQ(rows[1]["chapters"], "skipped");
    EXPECT_EQ(rows[1]["text"], "skipped");
    EXPECT_EQ(rows[5]["search"], "ok");
    EXPECT_EQ(rows[5]["chapters"], "ok");
    EXPECT_EQ(rows[5]["text"].get<std::string>().rfind("blocked", 0), 0u) << rows[5];
    EXPECT_EQ(rows[0]["text"], "ok");

    // One source, another keyword: a keyword no site has stops at the search.
    r = run({"doctor", "--source", "7", "--keyword", "没有这本书"});
    EXPECT_EQ(r.status, exit_no_match);
    EXPECT_NE(r.out.find("no match"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("skipped"), std::string::npos) << r.out;
}

// A site of a layout none of the built-in sources has is searched, listed, read, described and
// downloaded through the rule file the documentation ships, with no code of its own.
TEST_F(CliTest, NinthSiteThroughARuleFileAlone) {
    const fs::path config = out_ / "config";
    fs::create_directories(config / "tovani" / "sources.d");
    fs::copy_file(fs::path(TOVANI_DOCS_RULES) / "booktxt.toml",
                  config / "tovani" / "sources.d" / "booktxt.toml");
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    setenv("TOVANI_SITE_HOST_9", sites_->host(9).c_str(), 1);
    const demo::DemoLibrary& lib = sites_->library();
    const demo::DemoBook& book = *lib.find(102);

    CliRun r = run({"sources", "--json"});
    ASSERT_EQ(r.status, exit_ok) << r.err;
    json rows = json::parse(r.out);
    ASSERT_EQ(rows.size(), 9u);
    EXPECT_EQ(rows[8]["name"], "书香小站");

    r = run({"search", "--source", "9", "--json", "星河"});
    ASSERT_EQ(r.status, exit_ok) << r.err;
    rows = json::parse(r.out);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["name"], "星河渡舟");
    EXPECT_EQ(rows[0]["author"], "青衫客");
    const std::string link = sites_->book_link(9, 102);
    EXPECT_EQ(rows[0]["link"], link);

    r = run({"chapters", "--source", "9", "--json", link});
    ASSERT_EQ(r.status, exit_ok) << r.err;
    rows = json::parse(r.out);
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(book.chapter_count));
    EXPECT_EQ(rows[4]["name"], to_utf8(lib.chapter_name(book, 5)));
    EXPECT_EQ(rows[4]["link"], sites_->chapter_link(9, 102, 5));

    r = run({"read", "--source", "9", sites_->chapter_link(9, 102, 5)});
    ASSERT_EQ(r.status, exit_ok) << r.err;
    EXPECT_EQ(r.out, to_utf8(lib.expected_chapter_text(9, book, 5)) + "\n");

    r = run({"details", "--source", "9", "--json", link});
    ASSERT_EQ(r.status, exit_ok) << r.err;
    const json d = json::parse(r.out);
    EXPECT_EQ(d["title"], "星河渡舟");
    EXPECT_EQ(d["latest_chapter"], to_utf8(lib.chapter_name(book, book.chapter_count)));

    r = run({"download", "--source", "9", "--name", "星河渡舟", "--author", "青衫客", "--merge",
             "--out", out_.string(), link});
    ASSERT_EQ(r.status, exit_ok) << r.err;
    std::string bytes;
    ASSERT_TRUE(read_file(utf8_to_text(r.out.substr(0, r.out.size() - 1)), bytes));
    std::string expected;
    for (int n = 1; n <= book.chapter_count; ++n) {
        expected +=
            lib.chapter_name(book, n) + "\r\n" + lib.expected_chapter_text(9, book, n) + "\r\n\r\n";
    }
    EXPECT_EQ(bytes, expected);
    unsetenv("TOVANI_SITE_HOST_9");
}

// A book downloaded straight into an EPUB and a UTF-8 text book in simplified script, its
// name and author read from the site, and recorded on the shelf.
TEST_F(CliTest, DownloadFormatsAndTheShelf) {
    const demo::DemoLibrary& lib = sites_->library();
    const demo::DemoBook& book = *lib.find(105); // 長安錦書, in traditional script
    CliRun r = run({"download", "--source", "3", "--format", "txt,epub", "--encoding", "utf-8",
                    "--convert", "t2s", "--out", out_.string(), sites_->book_link(3, 105)});
    ASSERT_EQ(r.status, exit_ok) << r.err;
    const std::string folder = out_.string() + "/小说下载/";
    EXPECT_EQ(r.out, folder + "長安錦書  墨池生.txt\n" + folder + "長安錦書  墨池生.epub\n");
    std::string text;
    ASSERT_TRUE(read_file(utf8_to_text(folder + "長安錦書  墨池生.txt"), text));
    EXPECT_EQ(text.rfind("长安锦书\n作者：墨池生\n\n", 0), 0u) << text.substr(0, 60);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(text.find("錦"), std::string::npos) << "every name and text converted";
    EXPECT_TRUE(fs::exists(folder + "長安錦書  墨池生.epub"));
    EXPECT_FALSE(fs::exists(folder + "長安錦書  墨池生")) << "the chapter files went";

    r = run({"shelf", "--json"});
    ASSERT_EQ(r.status, exit_ok) << r.err;
    const json rows = json::parse(r.out);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["name"], "長安錦書");
    EXPECT_EQ(rows[0]["source"], 3);
    EXPECT_EQ(rows[0]["downloaded"], book.chapter_count);
    EXPECT_EQ(rows[0]["known"], book.chapter_count);
    EXPECT_EQ(rows[0]["formats"], "txt,epub");
}

// Update reads the chapter list again and fetches only chapters whose links are new: a serial
// that grows costs its new chapters, a site that puts a chapter in between costs that one, and
// the book file holds every chapter once, in the site's order.
TEST_F(CliTest, UpdateFetchesOnlyNewChapters) {
    const demo::DemoLibrary& lib = sites_->library();
    const demo::DemoBook& book = *lib.find(102);
    const std::string link = sites_->book_link(7, 102);
    CliRun r = run({"download", "--source", "7", "--merge", "--out", out_.string(), link});
    ASSERT_EQ(r.status, exit_ok) << r.err;
    const std::string book_file = r.out.substr(0, r.out.size() - 1);

    auto chapters_in_file = [&] {
        std::string bytes;
        EXPECT_TRUE(read_file(utf8_to_text(book_file), bytes));
        return bytes;
    };
    sites_->grow_book(102, 2);
    sites_->reset_counts();
    r = run({"update", "--all"});
    ASSERT_EQ(r.status, exit_ok) << r.err;
    EXPECT_EQ(r.out, "星河渡舟  青衫客: 2 new chapters\n  " + book_file + "\n");
    EXPECT_EQ(sites_->counts(7).of(demo::PageKind::chapter), 2u);
    std::string bytes = chapters_in_file();
    EXPECT_NE(bytes.find(lib.chapter_name(book, book.chapter_count + 2) + "\r\n" +
                         lib.expected_chapter_text(7, book, book.chapter_count + 2)),
              std::string::npos);

    // One chapter put in at the third place: one fetch, everything else stays where it was.
    sites_->insert_chapters(102, 3, 1);
    sites_->reset_counts();
    r = run({"update", "星河渡舟"});
    ASSERT_EQ(r.status, exit_ok) << r.err;
    EXPECT_EQ(r.out.rfind("星河渡舟  青衫客: 1 new chapters\n", 0), 0u) << r.out;
    EXPECT_EQ(sites_->counts(7).of(demo::PageKind::chapter), 1u);
    bytes = chapters_in_file();
    const int inserted = book.chapter_count + 3;
    std::string expected;
    for (int n : {1, 2, inserted}) {
        expected +=
            lib.chapter_name(book, n) + "\r\n" + lib.expected_chapter_text(7, book, n) + "\r\n\r\n";
    }
    EXPECT_EQ(bytes.substr(0, expected.size()), expected);
    for (int n = 1; n <= book.chapter_count + 3; ++n) {
        const std::string name = lib.chapter_name(book, n) + "\r\n";
        EXPECT_NE(bytes.find(name), std::string::npos) << n;
        EXPECT_EQ(bytes.find(name), bytes.rfind(name)) << "chapter " << n << " twice";
    }

    // Nothing new: nothing fetched but the list, nothing written.
    sites_->reset_counts();
    r = run({"update", "--all"});
    ASSERT_EQ(r.status, exit_ok) << r.err;
    EXPECT_EQ(r.out, "星河渡舟  青衫客: 0 new chapters\n");
    EXPECT_EQ(sites_->counts(7).of(demo::PageKind::chapter), 0u);

    r = run({"update", "没有这本书"});
    EXPECT_EQ(r.status, exit_no_match);
    r = run({"update"});
    EXPECT_EQ(r.status, exit_usage);
}

// An update killed half-way loses nothing and doubles nothing: run again, it completes the book
// with every chapter once.
TEST_F(CliTest, CrashDuringUpdateThenRerun) {
    const demo::DemoLibrary& lib = sites_->library();
    const demo::DemoBook& book = *lib.find(101);
    const std::string link = sites_->book_link(1, 101);
    CliRun r = run({"download", "--source", "1", "--merge", "--out", out_.string(), link});
    ASSERT_EQ(r.status, exit_ok) << r.err;
    const std::string book_file = r.out.substr(0, r.out.size() - 1);
    sites_->grow_book(101, 60);
    sites_->set_latency(std::chrono::milliseconds(40));
    sites_->reset_counts();

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        (void)!freopen("/dev/null", "w", stdout);
        (void)!freopen("/dev/null", "w", stderr);
        execl(TOVANI_CLI_PATH, TOVANI_CLI_PATH, "update", "--all", static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 500 && sites_->counts(1).of(demo::PageKind::chapter) < 15; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the update ended before it could be killed";
    sites_->set_latency(std::chrono::milliseconds(0));

    r = run({"update", "--all"});
    ASSERT_EQ(r.status, exit_ok) << r.err;
    r = run({"shelf", "--json"});
    const json rows = json::parse(r.out);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["known"], book.chapter_count + 60);
    EXPECT_EQ(rows[0]["downloaded"], book.chapter_count + 60);
    std::string bytes;
    ASSERT_TRUE(read_file(utf8_to_text(book_file), bytes));
    std::string expected;
    for (int n = 1; n <= book.chapter_count + 60; ++n) {
        expected +=
            lib.chapter_name(book, n) + "\r\n" + lib.expected_chapter_text(1, book, n) + "\r\n\r\n";
    }
    EXPECT_EQ(bytes, expected);
}

// The program killed in the middle of a download leaves only whole chapter files; the same
// command run again fetches the rest and completes the book.
TEST_F(CliTest, CrashDuringDownloadThenResume) {
    const demo::DemoLibrary& lib = sites_->library();
    const demo::DemoBook& book = lib.scale_book();
    const std::string link = sites_->book_link(1, book.id);
    const std::vector<std::string> args{
        TOVANI_CLI_PATH, "download", "--source", "1",          "--threads", "4",           "--name",
        "万卷长河",      "--author", "造书匠",   "--no-merge", "--out",     out_.string(), link};
    sites_->set_latency(std::chrono::milliseconds(15));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::vector<char*> argv;
        for (const auto& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        (void)!freopen("/dev/null", "w", stdout);
        (void)!freopen("/dev/null", "w", stderr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    const std::string book_dir = book_folder(out_.string(), book.title, book.author);
    const fs::path folder = to_utf8(book_dir);
    auto chapter_files = [&] {
        int n = 0;
        if (fs::exists(folder)) {
            for (const auto& e : fs::directory_iterator(folder)) {
                n += e.path().extension() == ".txt";
            }
        }
        return n;
    };
    for (int i = 0; i < 400 && chapter_files() < 20; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    const int before = chapter_files();
    ASSERT_GE(before, 20);
    ASSERT_LT(before, book.chapter_count);
    for (int n = 1; n <= book.chapter_count; ++n) {
        std::string bytes;
        const std::string path = chapter_file_path(book_dir, n, lib.chapter_name(book, n));
        if (fs::exists(to_utf8(path))) {
            ASSERT_TRUE(read_file(path, bytes));
            EXPECT_EQ(bytes, lib.expected_chapter_text(1, book, n)) << n;
        }
    }

    sites_->set_latency(std::chrono::milliseconds(0));
    std::vector<std::string> again(args.begin() + 1, args.end());
    const CliRun r = run(again);
    ASSERT_EQ(r.status, exit_ok) << r.err;
    EXPECT_NE(r.err.find("already complete " + std::to_string(before)), std::string::npos) << r.err;
    EXPECT_EQ(chapter_files(), book.chapter_count);
    // Only the chapter files and the progress file are left: no temporaries of the killed run.
    int others = 0;
    for (const auto& e : fs::directory_iterator(folder)) {
        others += e.path().extension() != ".txt";
    }
    EXPECT_EQ(others, 1);
    for (int n = 1; n <= book.chapter_count; ++n) {
        std::string bytes;
        ASSERT_TRUE(read_file(chapter_file_path(book_dir, n, lib.chapter_name(book, n)), bytes));
        ASSERT_EQ(bytes, lib.expected_chapter_text(1, book, n)) << n;
    }
}

} // namespace
} // namespace tovani::cli
