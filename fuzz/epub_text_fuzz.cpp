// The EPUB text escaping: whatever a chapter holds, xml_escape gives well-formed UTF-8 XML
// character data (no markup characters, only the five entities, only characters XML 1.0
// allows), and text that was already fine XML text comes back unchanged once unescaped.
// paragraphs_of never gives an empty paragraph or one with a line break.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "download/epub_writer.h"
#include "fuzz/fuzz_support.h"

namespace {

// The code point at `i` of well-formed UTF-8 `text`, and its length.
char32_t code_point_at(std::string_view text, std::size_t i, std::size_t& length) {
    const auto c = static_cast<unsigned char>(text[i]);
    length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    char32_t code = length == 1   ? c
                    : length == 2 ? (c & 0x1F)
                    : length == 3 ? (c & 0x0F)
                                  : (c & 0x07);
    for (std::size_t k = 1; k < length; ++k) {
        code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    return code;
}

bool is_xml_char(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// Every character is one XML allows; used to tell inputs escaping must keep whole.
bool only_xml_chars(std::string_view text) {
    for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
        if (!is_xml_char(code_point_at(text, i, length))) {
            return false;
        }
    }
    return true;
}

// Undoes the five entities; false on any other use of "&".
bool unescape(std::string_view text, std::string& out) {
    static constexpr std::pair<std::string_view, char> entities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    out.clear();
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] != '&') {
            out += text[i++];
            continue;
        }
        bool known = false;
        for (const auto& [entity, character] : entities) {
            if (text.substr(i).starts_with(entity)) {
                out += character;
                i += entity.size();
                known = true;
                break;
            }
        }
        if (!known) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tovani;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string escaped = xml_escape(text);
    FUZZ_CHECK(fuzz::is_valid_utf8(escaped));
    FUZZ_CHECK(escaped.find_first_of("<>\"'") == std::string::npos);
    FUZZ_CHECK(only_xml_chars(escaped));
    std::string plain;
    FUZZ_CHECK(unescape(escaped, plain));
    if (fuzz::is_valid_utf8(text) && only_xml_chars(text)) {
        FUZZ_CHECK(plain == text);
    }
    for (const std::string& paragraph : paragraphs_of(text)) {
        FUZZ_CHECK(!paragraph.empty());
        FUZZ_CHECK(paragraph.find_first_of("\r\n") == std::string::npos);
    }
    return 0;
}
