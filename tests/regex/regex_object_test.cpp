#include "regex/regex_object.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/encoding.h"

namespace tovani {
namespace {

using namespace std::string_literals;

// Runs a pattern and returns every whole match, in order.
std::vector<std::string> all_matches(std::string_view pattern, std::string_view text,
                                     bool case_sensitive = false, bool multiline = true,
                                     bool global = true, bool expand = false) {
    RegexObject re;
    std::vector<std::string> out;
    if (!re.create(pattern, text, case_sensitive, multiline, global, expand))
        return {"<no compile>"};
    for (int i = 1; i <= re.match_count(); ++i)
        out.push_back(re.match_text(i));
    return out;
}

struct DialectCase {
    const char* what;
    std::string pattern;
    std::string text;
    bool case_sensitive;
    std::vector<std::string> matches;
};

TEST(RegexObject, Dialect) {
    const std::vector<DialectCase> cases = {
        {"greedy group runs to the last end on the line",
         "<b>(.*)</b>",
         "<b>x</b><b>y</b>",
         false,
         {"<b>x</b><b>y</b>"}},
        {"dot stops at a line feed",
         "<b>(.*)</b>",
         "<b>x</b>\n<b>y</b>",
         false,
         {"<b>x</b>", "<b>y</b>"}},
        {"dot takes a carriage return", "a.b", "a\rb a\nb", false, {"a\rb"}},
        {"lazy plus", "<(.+?)>", "<a><b>", false, {"<a>", "<b>"}},
        {"case ignored", "bookname", "BookName bookname", false, {"BookName", "bookname"}},
        {"case kept", "bookname", "BookName bookname", true, {"bookname"}},
        {"\\w is ASCII only", "\\w+", gbk("ab中cd_1"), true, {"ab", "cd_1"}},
        {"[^\\w] takes a whole Chinese character", "[^\\w]", gbk("a中b"), true, {gbk("中")}},
        {"\\S+ takes whole characters",
         "\\S+",
         gbk("第一章 开始"),
         true,
         {gbk("第一章"), gbk("开始")}},
        {"escaped < and class [^\\<]", "\\<a\\>([^\\<]+)", "<a>text</a>", true, {"<a>text"}},
        {"[-\\w] with a literal dash", "[-\\w]+", "x-1 y", true, {"x-1", "y"}},
        {"unknown escape is its letter", "\\ia", "ia", true, {"ia"}},
        {"empty matches advance one character", "a*", "baaac", true, {"", "aaa", "", ""}},
        {"empty matches step over whole characters", "x*", gbk("中"), true, {"", ""}},
        {"global matches do not overlap", "aa", "aaaaa", true, {"aa", "aa"}},
        {"no match", "zzz", "abc", true, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(all_matches(c.pattern, c.text, c.case_sensitive), c.matches) << c.what;
}

TEST(RegexObject, OptionFlags) {
    EXPECT_EQ(all_matches("^b", "a\nb", true, true).size(), 1u) << "multiline: ^ after a line feed";
    EXPECT_TRUE(all_matches("^b", "a\nb", true, false).empty());
    EXPECT_TRUE(all_matches("a$", "a\n", true, false).empty()) << "$ only at the very end";
    EXPECT_EQ(all_matches("a", "aaa", true, true, false), std::vector<std::string>{"a"})
        << "not global: first match only";
}

TEST(RegexObject, QuoteTokenExpandedOnlyWhenAsked) {
    const std::string pattern = gbk("<td class=#引号odd#引号>(.*)</td>");
    const std::string page = gbk("<tr><td class=\"odd\">书名</td></tr>");
    RegexObject re;
    ASSERT_TRUE(re.create(pattern, page, false, false, true, true));
    ASSERT_EQ(re.match_count(), 1);
    EXPECT_EQ(re.submatch_text(1, 1), gbk("书名"));
    EXPECT_EQ(re.current_pattern(), "<td class=\"odd\">(.*)</td>");

    ASSERT_TRUE(re.create(pattern, page, false, false, true, false));
    EXPECT_EQ(re.match_count(), 0);
    EXPECT_EQ(re.current_pattern(), pattern);

    ASSERT_TRUE(re.create(gbk("href=['#引号]([^'#引号]+)"), "href='a' href=\"b\"", false, false,
                          true, true));
    ASSERT_EQ(re.match_count(), 2);
    EXPECT_EQ(re.submatch_text(1, 1), "a");
    EXPECT_EQ(re.submatch_text(2, 1), "b");
}

TEST(RegexObject, NoMatchAndBadPattern) {
    RegexObject re;
    EXPECT_EQ(re.match_count(), 0) << "before any create";
    EXPECT_EQ(re.current_pattern(), "");
    EXPECT_EQ(re.replace("x"), "");

    EXPECT_TRUE(re.create("(a)(b)", "xyz"));
    EXPECT_EQ(re.match_count(), 0);
    EXPECT_EQ(re.submatch_count(), 0);
    EXPECT_EQ(re.submatch_text(1, 1), "");

    EXPECT_FALSE(re.create("(a", "a"));
    EXPECT_EQ(re.match_count(), 0);
    EXPECT_EQ(re.match_text(1), "");
    EXPECT_EQ(re.current_pattern(), "(a");
    EXPECT_EQ(re.replace("x"), "");
}

TEST(RegexObject, OutOfRangeReadsGiveEmptyText) {
    RegexObject re;
    ASSERT_TRUE(re.create("(\\d)(x)?", "1 2"));
    ASSERT_EQ(re.match_count(), 2);
    EXPECT_EQ(re.submatch_count(), 2);
    EXPECT_EQ(re.submatch_text(2, 1), "2");

    struct Read {
        int index;
        int group;
    };
    const std::vector<Read> empty_reads = {{0, 1},  {-1, 1}, {3, 1}, {1, 0},
                                           {1, -1}, {1, 3},  {1, 2}, {1000000, 1}};
    for (const auto& r : empty_reads) {
        int position = 123;
        EXPECT_EQ(re.submatch_text(r.index, r.group, &position), "") << r.index << "," << r.group;
        EXPECT_EQ(position, -1) << r.index << "," << r.group;
    }
    for (const int index : {0, -1, 3}) {
        int position = 123;
        EXPECT_EQ(re.match_text(index, &position), "") << index;
        EXPECT_EQ(position, -1);
    }
    EXPECT_EQ(re.submatch_text(1, 1), "1") << "bad reads leave the object intact";
}

TEST(RegexObject, SecondCreateReplacesEverything) {
    RegexObject re;
    ASSERT_TRUE(re.create("(a)(b)(c)", "abc abc abc"));
    ASSERT_EQ(re.match_count(), 3);
    ASSERT_TRUE(re.create("(x)", "x"));
    EXPECT_EQ(re.match_count(), 1);
    EXPECT_EQ(re.submatch_count(), 1);
    EXPECT_EQ(re.submatch_text(1, 2), "");
    EXPECT_EQ(re.match_text(2), "");
    EXPECT_FALSE(re.create("[", "x"));
    EXPECT_EQ(re.match_count(), 0);
    EXPECT_EQ(re.submatch_text(1, 1), "");
}

TEST(RegexObject, PositionsAreGbkByteOffsets) {
    // 中 two bytes, then an invalid byte, a four-byte GB18030 character, then ASCII
    const std::string text = gbk("中") +
                             "a\xFF"
                             "\x81\x30\x81\x30"
                             "b" +
                             gbk("文字");
    RegexObject re;
    ASSERT_TRUE(re.create(gbk("b(文)(字)"), text, true));
    ASSERT_EQ(re.match_count(), 1);
    int position = -5;
    EXPECT_EQ(re.match_text(1, &position), gbk("b文字"));
    EXPECT_EQ(position, 8);
    EXPECT_EQ(re.submatch_text(1, 2, &position), gbk("字"));
    EXPECT_EQ(position, 11);

    ASSERT_TRUE(re.create("a",
                          "a\xFF"
                          "a",
                          true));
    ASSERT_EQ(re.match_count(), 2);
    re.match_text(2, &position);
    EXPECT_EQ(position, 2);
}

TEST(RegexObject, ReplaceIsLiteral) {
    RegexObject re;
    ASSERT_TRUE(re.create("(o)", gbk("foo 书o")));
    EXPECT_EQ(re.replace("$1"), gbk("f$1$1 书$1"));
    ASSERT_TRUE(re.create("o", "foo", true, true, false));
    EXPECT_EQ(re.replace("0"), "f0o");
    ASSERT_TRUE(re.create("a*", "baaac", true));
    EXPECT_EQ(re.replace("X"), "XbXXcX");
}

TEST(RegexObject, ChapterListPatternOverLongSingleLine) {
    // Some sites send the whole page as one line; the greedy groups must still work on it.
    std::string page;
    for (int i = 0; i < 20000; ++i)
        page += "<dd><a href=\"/b/" + std::to_string(i) + ".html\">" + gbk("章") + "</a></dd>";
    RegexObject re;
    ASSERT_TRUE(
        re.create(gbk("<dd><a href=#引号(.*)#引号>(.*)</a></dd>"), page, false, false, true, true));
    ASSERT_EQ(re.match_count(), 1);
    EXPECT_EQ(re.submatch_text(1, 1).substr(0, 9), "/b/0.html");
    EXPECT_EQ(re.submatch_text(1, 2), gbk("章"));
}

TEST(RegexObject, CatastrophicPatternStopsAndKeepsEarlierMatches) {
    // (a+)+$ against a run of a's that ends in "!" would try about 2^50 ways at every start;
    // the match limit ends the search there, so x3 behind the run is not reached.
    const std::string text = "x1 x2 " + std::string(50, 'a') + "! x3";
    RegexObject re;
    ASSERT_TRUE(re.create("x\\d|(a+)+$", text, true));
    ASSERT_EQ(re.match_count(), 2);
    EXPECT_EQ(re.match_text(1), "x1");
    EXPECT_EQ(re.match_text(2), "x2");
    EXPECT_TRUE(re.limit_hit()) << "the two matches are not all there are";

    ASSERT_TRUE(re.create("x(\\d)", text, true)) << "the object stays usable";
    EXPECT_FALSE(re.limit_hit());
    EXPECT_EQ(re.match_count(), 3);
    EXPECT_EQ(re.submatch_text(3, 1), "3");
}

TEST(RegexObject, CompileErrorsNameTheProblemAndWhere) {
    EXPECT_FALSE(RegexObject::compile_error("<dd>(.*)</dd>"));
    EXPECT_FALSE(RegexObject::compile_error(gbk("#引号(\\S+)#引号")));
    const auto open = RegexObject::compile_error("ab(cd");
    ASSERT_TRUE(open);
    EXPECT_EQ(open->offset, 5u);
    EXPECT_NE(open->message.find("missing closing parenthesis"), std::string::npos)
        << open->message;
    const auto range = RegexObject::compile_error("x[z-a]");
    ASSERT_TRUE(range);
    EXPECT_EQ(range->offset, 4u); // just past the range "z-a"
}

TEST(RegexObject, MovedObjectKeepsItsMatches) {
    RegexObject a;
    ASSERT_TRUE(a.create("(\\d+)", "x 42"));
    RegexObject b(std::move(a));
    EXPECT_EQ(b.submatch_text(1, 1), "42");
    EXPECT_EQ(a.match_count(), 0);   // NOLINT(bugprone-use-after-move): moved-from stays safe
    EXPECT_EQ(a.match_text(1), "");  // NOLINT(bugprone-use-after-move)
    EXPECT_TRUE(a.create("x", "x")); // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(a.match_count(), 1);
}

} // namespace
} // namespace tovani
