#include "text/html_entities.h"

#include <gtest/gtest.h>

#include "text/encoding.h"

namespace tovani {
namespace {

struct EntityCase {
    const char* what;
    std::string input;    // UTF-8
    std::string expected; // UTF-8
};

const std::vector<EntityCase> cases{
    {"named references", "&ldquo;甲&rdquo;&amp;&lt;&gt;&quot;&apos;&hellip;&mdash;",
     "“甲”&<>\"'…—"},
    {"nbsp is an ordinary space", "&nbsp;&nbsp;甲", "  甲"},
    {"numeric, decimal and hex", "&#20057;&#x4E59;&#X4e59;&#x3000;", "乙乙乙　"},
    {"decoding happens once", "&amp;lt;&amp;amp;", "&lt;&amp;"},
    {"unknown names stay", "&unknown;&Amp;", "&unknown;&Amp;"},
    {"a reference without its semicolon stays", "&amp &#20057 a&b", "&amp &#20057 a&b"},
    {"numbers that are no character stay", "&#0;&#xD800;&#x110000;&#;&#x;",
     "&#0;&#xD800;&#x110000;&#;&#x;"},
    {"a very long number stays", "&#99999999999999;", "&#99999999999999;"},
    {"a lone ampersand at the end", "甲&", "甲&"},
};

TEST(HtmlEntities, DecodeUtf8) {
    for (const EntityCase& c : cases) {
        EXPECT_EQ(decode_html_entities_utf8(c.input), c.expected) << c.what;
    }
}

TEST(HtmlEntities, DecodeGbkGivesTheSameCharacters) {
    for (const EntityCase& c : cases) {
        EXPECT_EQ(decode_html_entities(gbk(c.input)), gbk(c.expected)) << c.what;
    }
    // A character GBK cannot hold becomes "?", as in every conversion to GBK.
    EXPECT_EQ(decode_html_entities("a&#x1F600;b&#128512;"), "a?b?");
    EXPECT_EQ(decode_html_entities_utf8("&#x1F600;"), "\xF0\x9F\x98\x80");
    // Trail bytes of GBK characters never start a reference: 0x26 is not a trail byte, and a
    // name right after a two-byte character is read as ASCII only after "&".
    const std::string tricky = "\xB5\x3C&amp;\xC4\x5C";
    EXPECT_EQ(decode_html_entities(tricky), "\xB5\x3C&\xC4\x5C");
}

} // namespace
} // namespace tovani
