#include "demo/chapter_layout.h"

#include <array>

#include "text/encoding.h"

namespace tovani::demo {

const ChapterLayout& chapter_layout(int source) {
    // Sources 1 to 8 indent with four "&nbsp;" (four spaces once decoded); the ninth site with
    // two numeric references to the ideographic space.
    const std::string nbsp4 = "&nbsp;&nbsp;&nbsp;&nbsp;";
    const std::string spaces4 = "    ";
    // Separators use every line-break form each source replaces, so a reader that forgets one
    // of its replacements leaves a visible tag in the text.
    static const std::array<ChapterLayout, 9> layouts{{
        // 1: the block ends at CR LF TAB TAB before the error-report paragraph.
        {R"(<div id="chaptercontent" class="Readarea ReadAjax_content">)",
         "\r\n\t\t<p class=\"readinline\">", "", "", "<br /><br />", "", "", "\r\n\r\n", nbsp4,
         spaces4},
        // 2: "<br/>" is a line break, "<br>" is dropped.
        {R"(<div id="content">)", "</div>", "", "", "<br/><br>", "", "", "\r\n", nbsp4, spaces4},
        // 3: one <p> per paragraph.
        {R"(<div id="content">)", "</div>", "<p>", "</p>", "", "", "\r\n", "", nbsp4, spaces4},
        {R"(<div id="content">)", "</div>", "", "", "<br /><br />", "", "", "\r\n\r\n", nbsp4,
         spaces4},
        {R"(cp_content">)", "<script", "", "", "<br><br/>", "", "", "\r\n\r\n", nbsp4, spaces4},
        {R"(showtxt">)", "<script", "", "", "<br/><br>", "", "", "\r\n\r\n", nbsp4, spaces4},
        {R"(showtxt">)", R"(<div class="page_chapter">)", "", "", "<br /><br/><br>", "", "",
         "\r\n\r\n\r\n", nbsp4, spaces4},
        {R"(<div id="content">)", "</div>", "", "", "<br><br/><br />", "", "", "\r\n\r\n\r\n",
         nbsp4, spaces4},
        // 9: paragraphs in <p> on lines of their own, indented with U+3000 twice.
        {R"(<div id="booktxt">)", "</div>", "<p>", "</p>", "\r\n", "", "", "\r\n",
         "&#12288;&#x3000;", gbk("　　")},
    }};
    return layouts[static_cast<std::size_t>(source - 1)];
}

std::string join_paragraphs(const std::vector<std::string>& paragraphs, std::string_view indent,
                            std::string_view open, std::string_view close,
                            std::string_view separator) {
    std::string text;
    bool first = true;
    for (const std::string& p : paragraphs) {
        if (!first) {
            text += separator;
        }
        first = false;
        text += open;
        text += indent;
        text += p;
        text += close;
    }
    return text;
}

} // namespace tovani::demo
