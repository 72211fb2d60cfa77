#include "sources/rule_loader.h"

#include <gtest/gtest.h>

#include "sources/builtin_rules.h"
#include "text/encoding.h"

namespace tovani {
namespace {

// The smallest rule that loads; the cases below break it one way each.
const std::string minimal = R"rule(id = 20
name = "小站"
scheme = "http"
host = "small.test"

[search]
path = "/s?q="
shape = "one-per-match"
pattern = '<a href="(.*)">(.*)</a> by (.*)<'
name = { group = 2 }
link = { group = 1, base = "site-root" }
author = { group = 3 }

[chapters]
pattern = '<li><a href="(.*)">(.*)</a></li>'
name = { group = 2 }
link = { group = 1, base = "book-link" }

[text]
start = '<div id="booktxt">'
end = "</div>"

[details]
kind = "refused"
)rule";

std::string with(std::string_view from, std::string_view to) {
    std::string text = minimal;
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    return text;
}

TEST(RuleLoader, MinimalRuleLoadsWithItsDefaults) {
    const RuleParse p = parse_rule(minimal, "small.toml");
    ASSERT_TRUE(p.rule) << (p.problems.empty() ? "" : p.problems[0].text());
    const SourceRule& r = *p.rule;
    EXPECT_EQ(r.id, 20);
    EXPECT_EQ(r.name, "小站");
    EXPECT_FALSE(r.https);
    EXPECT_EQ(r.search.decode, PageDecode::as_is);
    EXPECT_EQ(r.search.options, PatternOptions::loose);
    EXPECT_EQ(r.search.link.base, LinkBase::site_root);
    EXPECT_EQ(r.politeness.max_connections, 8);
    EXPECT_EQ(r.politeness.page_timeout, std::chrono::seconds(60));
    EXPECT_EQ(r.text.start, "<div id=\"booktxt\">");
    EXPECT_TRUE(r.text.ascii_markers);
    EXPECT_FALSE(r.challenge_markers.empty());
}

struct BadRule {
    std::string what;
    std::string text;
    std::string problem; ///< what problems()[0].text() must say
};

TEST(RuleLoader, EveryProblemNamesFileLineAndKey) {
    const std::vector<BadRule> cases{
        {"TOML syntax", with("id = 20", "id = "), "bad.toml:1: TOML syntax: "},
        {"a typo in a key", with("shape =", "shap ="), "bad.toml:8: search.shap: unknown key"},
        {"a missing required key", with("shape = \"one-per-match\"\n", ""),
         "bad.toml:6: search.shape: missing"},
        {"a missing table", with("[text]\nstart = '<div id=\"booktxt\">'\nend = \"</div>\"\n", ""),
         "bad.toml:1: text: missing"},
        {"a wrong enum value", with("\"one-per-match\"", "\"single\""),
         "bad.toml:8: search.shape: unknown value \"single\" (allowed: \"one-per-match\", "
         "\"paired-matches\", \"names-and-authors\")"},
        {"a pattern that does not compile",
         with("'<li><a href=\"(.*)\">(.*)</a></li>'", "'<li>(a'"),
         "bad.toml:15: chapters.pattern: the pattern does not compile: missing closing "
         "parenthesis (at byte 6)"},
        {"an id out of range", with("id = 20", "id = 65"),
         "bad.toml:1: id: must be from 1 to 64, not 65"},
        {"a wrong type", with("[details]", "[limits]\nmax_connections = \"8\"\n\n[details]"),
         "bad.toml:24: limits.max_connections: must be an integer"},
        {"a typo inside a field", with("name = { group = 2 }", "name = { grop = 2 }"),
         "bad.toml:10: search.name.grop: unknown key"},
        {"a wrong base", with("base = \"book-link\"", "base = \"book\""),
         "bad.toml:17: chapters.link.base: unknown value \"book\" (allowed: \"none\", "
         "\"site-root\", \"book-link\")"},
        {"narrowing without its markers",
         with("[chapters]\n", "[chapters]\nnarrowing = { kind = \"between\", start = \"<dl>\" }\n"),
         "bad.toml:15: chapters.narrowing.end: missing"},
        {"a key of another search shape",
         with("path = \"/s?q=\"", "path = \"/s?q=\"\nauthor_stride = 2"),
         "bad.toml:8: search.author_stride: only a names-and-authors search has this key"},
        {"a between that is not two markers",
         with("name = { group = 2 }", "name = { group = 2, between = [\"<b>\"] }"),
         "bad.toml:10: search.name.between: must be two strings: a start and an end marker"},
        {"a name GBK cannot hold in a marker", with("'<div id=\"booktxt\">'", "'<div>\U0001F600'"),
         "bad.toml:20: text.start: holds characters that GBK pages cannot contain"},
    };
    for (const BadRule& c : cases) {
        SCOPED_TRACE(c.what);
        const RuleParse p = parse_rule(c.text, "bad.toml");
        EXPECT_FALSE(p.rule);
        std::string all;
        bool found = false;
        for (const RuleProblem& problem : p.problems) {
            found = found || problem.text().starts_with(c.problem);
            all += problem.text() + "\n";
        }
        EXPECT_TRUE(found) << all;
    }
}

// Whatever a file holds, the loader answers with problems, never a crash or a hang.
TEST(RuleLoader, HostileTextsAreProblems) {
    const std::vector<std::string> texts{
        "",
        std::string(100000, '['),
        "a = " + std::string(5000, '[') + std::string(5000, ']'),
        "id = 1\nid = 2\n",
        std::string("id = 1\0name = 2", 15),
        "\xff\xfe\x00\x01",
        // Characters the TOML parser's white-space tables mishandle, where it looks for space.
        "\xD1\x81 = 1",
        "id = 1\n\xE3\x80\x82",
        "\xEF\xB9\x8F",
        "\xC2\xA1",
    };
    for (const std::string& text : texts) {
        const RuleParse p = parse_rule(text, "hostile.toml");
        EXPECT_FALSE(p.rule) << text.substr(0, 40);
        EXPECT_FALSE(p.problems.empty());
    }
}

// Those characters inside strings read back exactly; a private-use character of the range
// the loader hands them to the parser as cannot be told apart and is refused.
TEST(RuleLoader, PunctuationTheParserMishandlesReadsBackInStrings) {
    const std::string odd = "小站。、《》「」﹏¡ё";
    const RuleParse p =
        parse_rule(with("name = \"小站\"", "name = \"" + odd + "\"\n# 注释。、"), "odd.toml");
    ASSERT_TRUE(p.rule) << p.problems.front().text();
    EXPECT_EQ(p.rule->name, odd);

    const RuleParse refused =
        parse_rule(with("name = \"小站\"", "name = \"\xF3\xB0\x80\x80\""), "stand-in.toml");
    EXPECT_FALSE(refused.rule);
    ASSERT_EQ(refused.problems.size(), 1u);
    EXPECT_EQ(refused.problems[0].line, 2);
}

// The bundled rules load cleanly and read back the same as the program carries them.
TEST(RuleLoader, BundledRulesLoadWithoutProblems) {
    ASSERT_EQ(builtin_rule_files().size(), 8u);
    int id = 0;
    for (const BuiltinRuleFile& f : builtin_rule_files()) {
        SCOPED_TRACE(std::string(f.name));
        const RuleParse p = parse_rule(f.text, f.name);
        ASSERT_TRUE(p.rule) << p.problems.front().text();
        EXPECT_EQ(p.rule->id, ++id);
        EXPECT_EQ(p.rule->name,
                  to_utf8(gbk("书源")) + std::string("一二三四五六七八").substr(3 * (id - 1), 3));
        EXPECT_EQ(parse_rule(f.text, "again").rule, p.rule);
    }
}

} // namespace
} // namespace tovani
