#include "text/text_helpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/encoding.h"

namespace tovani {
namespace {

using namespace std::string_literals;
constexpr std::size_t npos = std::string::npos;

// Two-byte GBK characters whose trail byte equals an ASCII marker character.
const std::string trail_backslash = "\x95\x5C"; // 昞
const std::string trail_bar = "\x81\x7C";       // 亅
const std::string trail_at = "\x81\x40";        // 丂
const std::string trail_bracket = "\x81\x5B";   // trail '['
const std::string trail_a = "\x81\x61";         // trail 'a'
const std::string full_space = "\xA1\xA1";      // full-width space
const std::string ah = "\xB0\xA1";              // 啊: its trail byte is A1

struct MarkerCase {
    const char* what;
    std::string text;
    std::string start;
    std::string end;
    std::string expected;
};

TEST(TextBetween, CutsBetweenFirstStartAndNextEnd) {
    const std::vector<MarkerCase> cases = {
        {"first pair", "x[1]y[2]", "[", "]", "1"},
        {"quote token in the start marker", "<td class=\"odd\">A</td>", gbk("class=#引号odd#引号>"),
         "<", "A"},
        {"quote token in the end marker", "href=\"/b/1.html\">", "href=\"", gbk("#引号>"),
         "/b/1.html"},
        {"start marker absent", "x1]", "[", "]", ""},
        {"end marker only before the start", "a]b[c", "[", "]", ""},
        {"end follows start directly", "[]x]", "[", "]", ""},
        {"multi-byte markers", "<dd>" + ah + "</dd>", "<dd>", "</dd>", ah},
        {"start marker as a trail byte is skipped", trail_bracket + "x[1]", "[", "]", "1"},
        {"end marker as a trail byte is skipped", "[" + trail_bar + "|", "[", "|", trail_bar},
        {"empty text", "", "[", "]", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(text_between(c.text, c.start, c.end), c.expected) << c.what;
}

TEST(TextBeforeAfter, FirstAndLastOccurrence) {
    const std::vector<MarkerCase> cases = {
        // start = marker; end = expected text_after; expected = expected text_before
        {"separator", "a=1; b=2", ";", " b=2", "a=1"},
        {"last occurrence wins for after", "a=1; b=2", "=", "2", "a"},
        {"missing marker gives nothing", "a=1", "#", "", ""},
        {"marker at the edges", "|x|", "|", "", ""},
        {"trail byte is not the marker", "a" + trail_backslash + "b\\c", "\\", "c",
         "a" + trail_backslash + "b"},
        {"only a trail byte carries the value", "a" + trail_bar + "b", "|", "", ""},
        {"markers are not token-expanded", "a\"b", gbk("#引号"), "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text_before(c.text, c.start), c.expected) << c.what;
        EXPECT_EQ(text_after(c.text, c.start), c.end) << c.what;
    }
}

TEST(FindText, MatchesOnlyOnCharacterBoundaries) {
    const std::string text = trail_at + "@" + trail_backslash + trail_backslash + "x";
    EXPECT_EQ(find_text(text, "@"), 2u);
    EXPECT_EQ(find_text(text, "\\"), npos);
    EXPECT_EQ(find_text(text, "\x5C\x95"), npos) << "a two-byte needle starting on a trail byte";
    EXPECT_EQ(find_text(text, trail_backslash), 3u);
    EXPECT_EQ(find_text(text, trail_backslash, 5), 5u) << "searching on from a boundary";
    EXPECT_EQ(find_text(text, "x", 3), 7u);
    EXPECT_EQ(find_text(text, "x", 99), npos);
    EXPECT_EQ(rfind_text(text, trail_backslash), 5u);
    EXPECT_EQ(rfind_text("aaa", "aa"), 1u);
    EXPECT_EQ(rfind_text(trail_at + trail_at, "@"), npos);
    EXPECT_TRUE(contains_text(text, "@"));
    EXPECT_FALSE(contains_text(trail_bar, "|"));
}

TEST(FindText, IgnoreCaseFoldsAsciiLettersOnly) {
    EXPECT_EQ(find_text("xABcab", "ab", 0, true), 1u);
    EXPECT_EQ(find_text("xABcab", "AB", 2, true), 4u);
    EXPECT_EQ(find_text("xABcab", "ab"), 4u);
    EXPECT_EQ(find_text(trail_a, "\x81\x41", 0, true), npos) << "trail bytes are not folded";
    EXPECT_EQ(find_text(trail_a + "A", "a", 0, true), 2u) << "no match on the trail byte";
    EXPECT_EQ(rfind_text("BookName bookname", "BOOKNAME", true), 9u);
    EXPECT_EQ(replace_text("Ab ab AB", "ab", "-", true), "- - -");
}

struct SplitCase {
    std::string text;
    std::string separator;
    std::vector<std::string> pieces;
};

TEST(SplitText, KeepsInnerEmptyPiecesDropsTrailingOne) {
    const std::vector<SplitCase> cases = {
        {"a;;b", ";", {"a", "", "b"}},
        {"a;b;", ";", {"a", "b"}},
        {";a", ";", {"", "a"}},
        {";", ";", {""}},
        {"", ";", {}},
        {"abc", ";", {"abc"}},
        {"abc", "", {"abc"}},
        {"a<br>b<br><br>c", "<br>", {"a", "b", "", "c"}},
        {"a" + trail_at + "b@c", "@", {"a" + trail_at + "b", "c"}},
        {gbk("第一章|第二章"), "|", {gbk("第一章"), gbk("第二章")}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(split_text(c.text, c.separator), c.pieces) << c.text << " at " << c.separator;
}

TEST(TrimText, RemovesSpacesAndFullWidthSpacesOnly) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {full_space + " ab " + full_space, "ab"},
        {"\tab \r\n", "\tab \r\n"},
        {" \tab", "\tab"},
        {full_space + "a" + full_space + "b  ", "a" + full_space + "b"},
        // A1 A1 at the end is the trail of 啊 plus a lone lead byte, not a full-width space
        {ah + "\xA1", ah + "\xA1"},
        {ah + full_space, ah},
        {"   ", ""},
        {full_space + full_space, ""},
        {"", ""},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(trim_text(in), out) << in;
    EXPECT_EQ(remove_spaces(" a" + full_space + "b " + ah + " c"), "ab" + ah + "c");
    EXPECT_EQ(remove_spaces(ah + "\xA1"), ah + "\xA1");
}

TEST(CaseChange, TouchesAsciiLettersOnly) {
    EXPECT_EQ(to_upper_text("abc" + ah + "xY"), "ABC" + ah + "XY");
    EXPECT_EQ(to_lower_text("ABC" + ah + "Xy1"), "abc" + ah + "xy1");
    EXPECT_EQ(to_upper_text(trail_a + "a"), trail_a + "A");
    EXPECT_EQ(to_lower_text("\x81\x41"
                            "A"),
              "\x81\x41"
              "a");
}

TEST(ReplaceText, ReplacesEveryOccurrenceWithoutRescanning) {
    EXPECT_EQ(replace_text("aaa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(replace_text("a<br>b<br>", "<br>", "\r\n"), "a\r\nb\r\n");
    EXPECT_EQ(replace_text(trail_bar + "|", "|", "/"), trail_bar + "/");
    EXPECT_EQ(replace_text("abc", "", "x"), "abc");
    EXPECT_EQ(replace_text("abc", "z", "x"), "abc");
    EXPECT_EQ(replace_text("abab", "ab", ""), "");
}

TEST(QuoteToken, ExpandsEveryTokenToADoubleQuote) {
    EXPECT_EQ(quote_token, gbk("#引号"));
    EXPECT_EQ(expand_quote_token(gbk("<a href=#引号(.*)#引号>")), "<a href=\"(.*)\">");
    EXPECT_EQ(expand_quote_token("#1 #"), "#1 #");
    EXPECT_EQ(until_zero("ab\0cd"s), "ab");
    EXPECT_EQ(until_zero("ab"), "ab");
}

} // namespace
} // namespace tovani
