// The rule-file loader on any text: it gives either a rule or problems, never both and never
// neither, and a rule it accepts can be run: its chapter-list and chapter-text patterns cut a
// fixed book page and chapter page apart without trouble.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "sources/chapter_list.h"
#include "sources/chapter_text.h"
#include "sources/rule_loader.h"
#include "text/encoding.h"

namespace {

const std::string& book_page() {
    static const std::string page = tovani::gbk(
        "<html><head><title>星河渡舟_青衫客_书源</title></head><body><div id=\"list\"><dl>"
        "<dt>最新章节</dt><dd><a href=\"/book/1/2.html\">第2章</a></dd>"
        "<dt>正文</dt><dd><a href=\"/book/1/1.html\">第1章</a></dd>"
        "<dd><a href=\"/book/1/2.html\">第2章</a></dd></dl></div></body></html>");
    return page;
}

const std::string& chapter_page() {
    static const std::string page =
        tovani::gbk("<html><body><div id=\"content\">&nbsp;&nbsp;&nbsp;&nbsp;第一段。<br /><br />"
                    "&nbsp;&nbsp;&nbsp;&nbsp;第二段&amp;。</div></body></html>");
    return page;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tovani;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const RuleParse parse = parse_rule(text, "fuzz.toml");
    FUZZ_CHECK(parse.rule.has_value() == parse.problems.empty());
    for (const RuleProblem& problem : parse.problems) {
        FUZZ_CHECK(!problem.message.empty());
        FUZZ_CHECK(problem.line >= 0);
    }
    if (!parse.rule) {
        return 0;
    }
    BookSource source;
    source.rule = *parse.rule;
    source.host = "127.0.0.1:1";
    const ChapterListResult list =
        parse_chapter_list(source, "http://127.0.0.1:1/book/1/", book_page());
    for (std::size_t i = 0; i < list.chapters.size(); ++i) {
        FUZZ_CHECK(list.chapters[i].number == static_cast<int>(i) + 1);
    }
    try_extract_chapter_text(source.rule.text, chapter_page());
    return 0;
}
