#include "text/encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace tovani {
namespace {

using namespace std::string_literals;

// GBK bytes of the characters used below, written out so the tests do not lean on the converter.
const std::string gbk_zhong = "\xD6\xD0"; // 中
const std::string gbk_wen = "\xCE\xC4";   // 文
const std::string gbk_only = "\x81\x40";  // 丂: in GBK, not in GB2312
const std::string utf8_zhong = "\xE4\xB8\xAD";
const std::string utf8_wen = "\xE6\x96\x87";
const std::string utf8_gbk_only = "\xE4\xB8\x82";
const std::string utf8_emoji = "\xF0\x9F\x98\x80"; // U+1F600, not in GBK
const std::string utf8_replacement = "\xEF\xBF\xBD";

struct UrlCase {
    std::string text;
    bool keep_unreserved;
    bool utf8;
    std::string expected;
};

TEST(UrlEncode, EscapesByFlags) {
    const std::vector<UrlCase> cases = {
        {"a b", true, false, "a+b"},
        {"a b", false, false, "%61+%62"},
        {"~!*", true, false, "%7E%21*"},
        {"'()*-._", true, true, "'()*-._"},
        {"Az09", false, true, "%41%7A%30%39"},
        {"/?&=%+", true, true, "%2F%3F%26%3D%25%2B"},
        {gbk_zhong, true, true, "%E4%B8%AD"},
        {gbk_zhong, true, false, "%D6%D0"},
        {gbk_zhong + " x", true, true, "%E4%B8%AD+x"},
        {"", true, true, ""},
        {"a\0b"s, true, false, "a"}, // a text ends at its first zero byte
    };
    for (const auto& c : cases)
        EXPECT_EQ(url_encode(c.text, c.keep_unreserved, c.utf8), c.expected)
            << "text " << c.text << " keep " << c.keep_unreserved << " utf8 " << c.utf8;
}

TEST(Utf16, ConvertsWithTerminatingUnit) {
    EXPECT_EQ(to_utf16("A"), "A\0\0\0"s);
    EXPECT_EQ(to_utf16(""), "");
    EXPECT_EQ(to_utf16(gbk_zhong + "A"), "\x2D\x4E"
                                         "A\0\0\0"s);
    EXPECT_EQ(to_utf16("A\0B"s), "A\0\0\0"s);
    EXPECT_EQ(code_page_to_utf16(utf8_emoji, code_page_utf8), "\x3D\xD8\x00\xDE\0\0"s);
    EXPECT_EQ(code_page_to_utf16("abc", 1252), "") << "unknown code page";
}

TEST(Utf16, ConvertsBackStoppingAtZeroUnit) {
    EXPECT_EQ(utf16_to_text(to_utf16(gbk_zhong + gbk_wen + "x")), gbk_zhong + gbk_wen + "x");
    EXPECT_EQ(utf16_to_text("A\0B\0\0\0C\0"s), "AB");
    EXPECT_EQ(utf16_to_text(""), "");
    EXPECT_EQ(utf16_to_text("\0\0A\0"s), "");
    EXPECT_EQ(utf16_to_code_page("\x3D\xD8\x00\xDE"s, code_page_utf8), utf8_emoji);
    EXPECT_EQ(utf16_to_text("\x00\xD8"
                            "A\0"s),
              "?A")
        << "a lone surrogate is replaced";
    EXPECT_EQ(utf16_to_text("\x3D\xD8\x00\xDE"s), "?") << "GBK cannot hold U+1F600";
    EXPECT_EQ(utf16_to_code_page("A\0"s, 1252), "");
}

TEST(Utf8, ConvertsWithoutByteOrderMark) {
    EXPECT_EQ(to_utf8(gbk_zhong + "a" + gbk_wen), utf8_zhong + "a" + utf8_wen);
    EXPECT_EQ(to_utf8(""), "");
    EXPECT_EQ(utf8_to_text(utf8_zhong + utf8_wen), gbk_zhong + gbk_wen);
    EXPECT_EQ(gbk("中文"), gbk_zhong + gbk_wen);
}

struct ConvertCase {
    const char* what;
    std::string input;
    std::string from;
    std::string to;
    std::string expected;
};

TEST(ConvertCharset, ConvertsBetweenCharsets) {
    const std::vector<ConvertCase> cases = {
        {"defaults: UTF-8 to GBK", "<b>" + utf8_zhong + utf8_wen + "</b>", "", "",
         "<b>" + gbk_zhong + gbk_wen + "</b>"},
        {"GBK in, GBK out: unchanged", gbk_zhong + "x" + gbk_only + gbk_wen, "GBK", "",
         gbk_zhong + "x" + gbk_only + gbk_wen},
        {"names in any case", utf8_zhong, "Utf-8", "gBk", gbk_zhong},
        {"page labelled gb2312 keeps a GBK-only character", gbk_only + gbk_zhong, "gb2312", "UTF-8",
         utf8_gbk_only + utf8_zhong},
        {"GB2312 label, GBK out", gbk_only, "GB2312", "GBK", gbk_only},
        {"gb18030 four-byte character", "\x94\x39\xFC\x36", "GB18030", "utf-8", utf8_emoji},
        {"big5", "\xA4\xA4\xA4\xE5", "big5", "", gbk_zhong + gbk_wen},
        {"BIG5 to UTF-8", "\xA4\xA4", "BIG5", "utf-8", utf8_zhong},
        {"iconv charset in", "caf\xE9", "ISO-8859-1", "utf-8", "caf\xC3\xA9"},
        {"iconv charset out", utf8_zhong + "a", "", "iso-8859-1", "?a"},
        {"gb18030 out", utf8_emoji, "", "gb18030", "\x94\x39\xFC\x36"},
        {"UTF-16LE out", "A" + utf8_zhong, "utf-8", "utf-16le", "A\0\x2D\x4E"s},
        {"UTF-16LE in", "A\0\x2D\x4E"s, "unicode", "GBK", "A" + gbk_zhong},
        {"UTF-8 byte-order mark dropped",
         "\xEF\xBB\xBF"
         "ab",
         "", "", "ab"},
        {"zero bytes are data", "a\0b"s, "", "", "a\0b"s},
        {"empty input", "", "", "", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(convert_charset(c.input, c.from, c.to), c.expected) << c.what;
}

TEST(ConvertCharset, ReplacesWhatCannotBeConvertedAndKeepsTheRest) {
    const std::vector<ConvertCase> cases = {
        {"invalid UTF-8 byte",
         "a\xFF"
         "b" +
             utf8_zhong,
         "", "", "a?b" + gbk_zhong},
        {"truncated UTF-8 sequence",
         "\xE4\xB8"
         "x" +
             utf8_zhong,
         "", "", "?x" + gbk_zhong},
        {"UTF-8 surrogate", "\xED\xA0\x80z", "", "", "???z"},
        {"overlong UTF-8", "\xC0\xAFz", "", "", "??z"},
        {"character GBK lacks", "a" + utf8_emoji + "b", "", "", "a?b"},
        {"truncated at the end", "ab\xE4\xB8", "", "", "ab?"},
        {"GBK lead byte before a line feed", "\x81\nab" + gbk_zhong, "gbk", "utf-8",
         utf8_replacement + "\nab" + utf8_zhong},
        {"GBK 0xFF",
         "a\xFF"
         "b",
         "gbk", "utf-8", "a" + utf8_replacement + "b"},
        {"lone GBK lead byte at the end", "ab\xD6", "gbk", "utf-8", "ab" + utf8_replacement},
        {"undecodable bytes in an iconv charset", "\xA4\xA4\xFF\xA4\xE5", "big5", "utf-8",
         utf8_zhong + utf8_replacement + utf8_wen},
        {"iconv charset truncated at the end", "\xA4\xA4\xA4", "big5", "utf-8",
         utf8_zhong + utf8_replacement},
        {"invalid GBK passes through as ?", "a\x81\nb", "GBK", "GBK", "a?\nb"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(convert_charset(c.input, c.from, c.to), c.expected) << c.what;
}

// Stateful charsets: glibc's decoders can take a shift byte and then report an invalid sequence
// with no input left. Nothing may be read past the input then (ASan watches), and the text
// around the bad part is kept.
TEST(ConvertCharset, StatefulCharsetsNeverStepPastTheInput) {
    const std::vector<ConvertCase> cases = {
        {"lone shift-out", "\x0e", "ISO-2022-CN-EXT", "GBK", "?"},
        {"shift-out after text", "ab\x0e", "ISO-2022-CN-EXT", "GBK", "ab?"},
        {"designation cut short", "a\x1b$", "ISO-2022-CN-EXT", "GBK", "a?"},
        {"a lone shift is no character", "\x0e", "ISO-2022-KR", "UTF-8", ""},
        {"escape cut short in ISO-2022-JP", "x\x1b(", "ISO-2022-JP", "UTF-8",
         "x" + utf8_replacement},
    };
    for (const auto& c : cases) {
        const std::string out = convert_charset(c.input, c.from, c.to);
        EXPECT_EQ(out, c.expected) << c.what;
    }
}

TEST(ConvertCharset, StartOffsetAndUnknownCharsets) {
    EXPECT_EQ(convert_charset(utf8_zhong + "ab", "", "", 2), "ab");
    EXPECT_EQ(convert_charset("abc", "", "", 0), "abc");
    EXPECT_EQ(convert_charset("abc", "", "", 3), "");
    EXPECT_EQ(convert_charset("abc", "", "", 99), "");
    EXPECT_EQ(convert_charset("abc", "no-such-charset"), "");
    EXPECT_EQ(convert_charset("abc", "", "no-such-charset"), "");
}

// Every GBK two-byte character survives GBK -> GBK and GBK -> UTF-8 -> GBK. The one exception is
// A2 E3, the euro sign, which comes back as its CP936 single-byte form 0x80.
TEST(ConvertCharset, EveryGbkCharacterRoundTrips) {
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail == 0x7F)
                continue;
            const std::string code = {static_cast<char>(lead), static_cast<char>(trail)};
            const std::string expected = code == "\xA2\xE3" ? "\x80" : code;
            const std::string utf8 = convert_charset(code, "GBK", "UTF-8");
            ASSERT_NE(utf8, utf8_replacement) << std::hex << lead << ' ' << trail;
            ASSERT_EQ(convert_charset(code, "GBK", "GBK"), expected)
                << std::hex << lead << ' ' << trail;
            ASSERT_EQ(convert_charset(utf8, "UTF-8", "GBK"), expected)
                << std::hex << lead << ' ' << trail;
        }
    }
}

// The conversion tables are built on first use; workers converting at once must all see them whole.
TEST(ConvertCharset, ConcurrentFirstUseGivesTheSameResult) {
    std::string page;
    for (int i = 0; i < 200; ++i)
        page += "<p>" + utf8_zhong + utf8_wen + utf8_gbk_only + "</p>\n";
    std::string expected;
    for (int i = 0; i < 200; ++i)
        expected += "<p>" + gbk_zhong + gbk_wen + gbk_only + "</p>\n";

    std::vector<std::string> results(8);
    std::vector<std::thread> workers;
    for (auto& r : results)
        workers.emplace_back([&r, &page] { r = convert_charset(page); });
    for (auto& w : workers)
        w.join();
    for (const auto& r : results)
        EXPECT_EQ(r, expected);
}

} // namespace
} // namespace tovani
