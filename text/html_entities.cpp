#include "text/html_entities.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "text/encoding.h"

namespace tovani {
namespace {

struct Entity {
    std::string_view name;
    char32_t code;
};

// Sorted by name for a binary search. The references novel sites write, and their neighbours.
constexpr std::array<Entity, 60> named{{
    {"AElig", 0xC6},    {"Aacute", 0xC1},   {"Eacute", 0xC9},   {"aacute", 0xE1},
    {"acute", 0xB4},    {"agrave", 0xE0},   {"amp", 0x26},      {"apos", 0x27},
    {"bdquo", 0x201E},  {"brvbar", 0xA6},   {"bull", 0x2022},   {"cent", 0xA2},
    {"copy", 0xA9},     {"curren", 0xA4},   {"dagger", 0x2020}, {"deg", 0xB0},
    {"divide", 0xF7},   {"eacute", 0xE9},   {"egrave", 0xE8},   {"emsp", 0x2003},
    {"ensp", 0x2002},   {"euro", 0x20AC},   {"frac12", 0xBD},   {"frac14", 0xBC},
    {"gt", 0x3E},       {"hearts", 0x2665}, {"hellip", 0x2026}, {"iexcl", 0xA1},
    {"iquest", 0xBF},   {"laquo", 0xAB},    {"larr", 0x2190},   {"ldquo", 0x201C},
    {"lsaquo", 0x2039}, {"lsquo", 0x2018},  {"lt", 0x3C},       {"mdash", 0x2014},
    {"micro", 0xB5},    {"middot", 0xB7},   {"nbsp", 0x20},     {"ndash", 0x2013},
    {"not", 0xAC},      {"para", 0xB6},     {"permil", 0x2030}, {"plusmn", 0xB1},
    {"pound", 0xA3},    {"prime", 0x2032},  {"quot", 0x22},     {"raquo", 0xBB},
    {"rarr", 0x2192},   {"rdquo", 0x201D},  {"reg", 0xAE},      {"rsaquo", 0x203A},
    {"rsquo", 0x2019},  {"sbquo", 0x201A},  {"sect", 0xA7},     {"shy", 0xAD},
    {"thinsp", 0x2009}, {"times", 0xD7},    {"trade", 0x2122},  {"yen", 0xA5},
}};
static_assert(std::is_sorted(named.begin(), named.end(),
                             [](const Entity& a, const Entity& b) { return a.name < b.name; }));

bool is_alnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The code point of the reference at text[0] == '&' and its length, or 0 when there is none.
std::size_t parse_reference(std::string_view text, char32_t& code) {
    constexpr std::size_t longest = 12;
    std::size_t i = 1;
    if (i < text.size() && text[i] == '#') {
        ++i;
        const bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
        i += hex ? 1 : 0;
        const std::size_t digits = i;
        std::uint32_t value = 0;
        for (; i < text.size() && i < longest; ++i) {
            const char c = text[i];
            int d = -1;
            if (c >= '0' && c <= '9') {
                d = c - '0';
            } else if (hex && c >= 'a' && c <= 'f') {
                d = c - 'a' + 10;
            } else if (hex && c >= 'A' && c <= 'F') {
                d = c - 'A' + 10;
            }
            if (d < 0) {
                break;
            }
            value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
        }
        if (i == digits || i >= text.size() || text[i] != ';') {
            return 0;
        }
        // No NUL, no surrogate, nothing beyond Unicode: such a number is left as written.
        if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
            return 0;
        }
        code = value;
        return i + 1;
    }
    while (i < text.size() && i < longest && is_alnum(text[i])) {
        ++i;
    }
    if (i == 1 || i >= text.size() || text[i] != ';') {
        return 0;
    }
    const std::string_view name = text.substr(1, i - 1);
    const auto it =
        std::lower_bound(named.begin(), named.end(), name,
                         [](const Entity& e, std::string_view n) { return e.name < n; });
    if (it == named.end() || it->name != name) {
        return 0;
    }
    code = it->code;
    return i + 1;
}

// Copies `text`, putting `put(out, code)` in place of each reference. '&', '#', digits and ';'
// are below 0x40, so in GBK they never sit inside a two-byte character and a plain scan finds
// only real ones; letters after them are read only while they follow ASCII.
template <typename Put> std::string decode(std::string_view text, Put put) {
    std::string out;
    out.reserve(text.size());
    std::size_t done = 0;
    for (std::size_t at = text.find('&'); at != std::string_view::npos;
         at = text.find('&', at + 1)) {
        if (at < done) {
            continue;
        }
        char32_t code = 0;
        const std::size_t length = parse_reference(text.substr(at), code);
        if (length == 0) {
            continue;
        }
        out.append(text, done, at - done);
        put(out, code);
        done = at + length;
    }
    out.append(text, done);
    return out;
}

} // namespace

std::string decode_html_entities_utf8(std::string_view text) {
    if (text.find('&') == std::string_view::npos) {
        return std::string(text);
    }
    return decode(text, [](std::string& out, char32_t code) { append_utf8(out, code); });
}

std::string decode_html_entities(std::string_view text) {
    if (text.find('&') == std::string_view::npos) {
        return std::string(text);
    }
    return decode(text, [](std::string& out, char32_t code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
            return;
        }
        std::string utf8;
        append_utf8(utf8, code);
        out += utf8_to_text(utf8); // "?" where GBK has no such character
    });
}

} // namespace tovani
