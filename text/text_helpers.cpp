#include "text/text_helpers.h"

#include <cstdint>
#include <cstring>

namespace tovani {

const std::string_view quote_token = "#\xD2\xFD\xBA\xC5"; // "#引号" in GBK

namespace {

constexpr std::size_t npos = std::string_view::npos;

inline bool is_lead(char c) {
    return static_cast<unsigned char>(c) >= 0x80;
}

inline char fold(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool is_full_width_space(std::string_view text, std::size_t i) {
    return i + 1 < text.size() && text[i] == '\xA1' && text[i + 1] == '\xA1';
}

// Keeps the last known character boundary of one text, so that checking a candidate position
// walks forward from there instead of from the start: every scan stays linear.
class BoundaryWalker {
public:
    explicit BoundaryWalker(std::string_view text, std::size_t boundary = 0)
        : text_(text), boundary_(boundary) {}

    // The first character boundary at or after pos (may be size + 1 after a lone lead byte).
    std::size_t advance_to(std::size_t pos) {
        const char* p = text_.data();
        std::size_t b = boundary_; // kept in a register: stores through char* would alias
        while (b < pos) {
            if (b + 8 <= pos) {
                std::uint64_t word;
                std::memcpy(&word, p + b, 8);
                const std::uint64_t high = word & 0x8080808080808080ull;
                // Eight ASCII bytes are eight characters; eight bytes of 0x80 or above are four
                // two-byte characters, since every lead byte takes the next one as its trail.
                if (high == 0 || high == 0x8080808080808080ull) {
                    b += 8;
                    continue;
                }
            }
            b += is_lead(p[b]) ? 2 : 1;
        }
        boundary_ = b;
        return b;
    }

private:
    std::string_view text_;
    std::size_t boundary_;
};

bool equal_ignore_case(const char* a, std::string_view needle) {
    for (std::size_t i = 0; i < needle.size(); ++i) {
        if (is_lead(needle[i])) {
            // a two-byte character compares exactly, trail byte included
            if (a[i] != needle[i] || (i + 1 < needle.size() && a[i + 1] != needle[i + 1]))
                return false;
            ++i;
        } else if (fold(a[i]) != fold(needle[i])) {
            return false;
        }
    }
    return true;
}

// First occurrence of needle on a character boundary at or after from.
std::size_t find_with(BoundaryWalker& walker, std::string_view text, std::string_view needle,
                      std::size_t from, bool ignore_case) {
    std::size_t pos = walker.advance_to(from);
    if (needle.empty())
        return pos <= text.size() ? pos : npos;
    if (!ignore_case) {
        while (pos < text.size() && text.size() - pos >= needle.size()) {
            const void* hit =
                needle.size() == 1
                    ? std::memchr(text.data() + pos, needle[0], text.size() - pos)
                    : memmem(text.data() + pos, text.size() - pos, needle.data(), needle.size());
            if (hit == nullptr)
                return npos;
            const auto candidate =
                static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
            pos = walker.advance_to(candidate);
            if (pos == candidate)
                return candidate;
            // the candidate began on a trail byte; pos is now the next boundary
        }
        return npos;
    }
    while (pos < text.size() && text.size() - pos >= needle.size()) {
        if (equal_ignore_case(text.data() + pos, needle))
            return pos;
        pos = walker.advance_to(pos + 1);
    }
    return npos;
}

std::size_t rfind_with(std::string_view text, std::string_view needle, bool ignore_case) {
    BoundaryWalker walker(text);
    std::size_t last = npos;
    for (std::size_t pos = 0;;) {
        const std::size_t hit = find_with(walker, text, needle, pos, ignore_case);
        if (hit == npos)
            return last;
        last = hit;
        if (hit >= text.size())
            return last;
        pos = hit + 1;
    }
}

inline std::size_t char_length(std::string_view text, std::size_t i) {
    return is_lead(text[i]) && i + 1 < text.size() ? 2 : 1;
}

} // namespace

std::string expand_quote_token(std::string_view text) {
    if (text.find('#') == npos)
        return std::string(text);
    return replace_text(text, quote_token, "\"");
}

std::size_t find_text(std::string_view text, std::string_view needle, std::size_t from,
                      bool ignore_case) {
    if (from > text.size())
        return npos;
    BoundaryWalker walker(text, from);
    return find_with(walker, text, needle, from, ignore_case);
}

std::size_t rfind_text(std::string_view text, std::string_view needle, bool ignore_case) {
    return rfind_with(text, needle, ignore_case);
}

bool contains_text(std::string_view text, std::string_view needle, bool ignore_case) {
    return find_text(text, needle, 0, ignore_case) != npos;
}

std::string text_between(std::string_view text, std::string_view start_marker,
                         std::string_view end_marker) {
    const std::string start = expand_quote_token(start_marker);
    const std::string end = expand_quote_token(end_marker);
    BoundaryWalker walker(text);
    const std::size_t s = find_with(walker, text, start, 0, false);
    if (s == npos)
        return {};
    const std::size_t p = s + start.size();
    const std::size_t e = find_with(walker, text, end, p, false);
    if (e == npos || e < p)
        return {};
    return std::string(text.substr(p, e - p));
}

std::string text_before(std::string_view text, std::string_view marker) {
    const std::size_t s = find_text(text, marker);
    return s == npos ? std::string() : std::string(text.substr(0, s));
}

std::string text_after(std::string_view text, std::string_view marker) {
    const std::size_t s = rfind_text(text, marker);
    return s == npos ? std::string() : std::string(text.substr(s + marker.size()));
}

std::vector<std::string> split_text(std::string_view text, std::string_view separator) {
    std::vector<std::string> pieces;
    if (text.empty())
        return pieces;
    if (separator.empty()) {
        pieces.emplace_back(text);
        return pieces;
    }
    BoundaryWalker walker(text);
    std::size_t pos = 0;
    for (;;) {
        const std::size_t hit = find_with(walker, text, separator, pos, false);
        if (hit == npos) {
            if (pos < text.size())
                pieces.emplace_back(text.substr(pos));
            return pieces;
        }
        pieces.emplace_back(text.substr(pos, hit - pos));
        pos = hit + separator.size();
    }
}

std::string_view trim_blanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::string trim_text(std::string_view text) {
    std::size_t begin = 0;
    for (;;) {
        if (begin < text.size() && text[begin] == ' ')
            begin += 1;
        else if (is_full_width_space(text, begin))
            begin += 2;
        else
            break;
    }
    // Trailing spaces are found walking forward: a trailing A1 A1 may be a trail byte plus a lead.
    std::size_t end = begin;
    for (std::size_t i = begin; i < text.size();) {
        const std::size_t len = char_length(text, i);
        if (!(text[i] == ' ' || (len == 2 && is_full_width_space(text, i))))
            end = i + len;
        i += len;
    }
    return std::string(text.substr(begin, end - begin));
}

std::string to_upper_text(std::string_view text) {
    std::string out(text);
    for (std::size_t i = 0; i < out.size(); i += char_length(out, i))
        if (out[i] >= 'a' && out[i] <= 'z')
            out[i] = static_cast<char>(out[i] - 'a' + 'A');
    return out;
}

std::string to_lower_text(std::string_view text) {
    std::string out(text);
    for (std::size_t i = 0; i < out.size(); i += char_length(out, i))
        out[i] = fold(out[i]);
    return out;
}

std::string replace_text(std::string_view text, std::string_view from, std::string_view to,
                         bool ignore_case) {
    if (from.empty())
        return std::string(text);
    std::string out;
    BoundaryWalker walker(text);
    std::size_t pos = 0;
    for (;;) {
        const std::size_t hit = find_with(walker, text, from, pos, ignore_case);
        if (hit == npos)
            break;
        out.append(text.substr(pos, hit - pos));
        out.append(to);
        pos = hit + from.size();
    }
    if (pos < text.size())
        out.append(text.substr(pos));
    return out;
}

std::string remove_spaces(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = char_length(text, i);
        if (!(text[i] == ' ' || (len == 2 && is_full_width_space(text, i))))
            out.append(text.substr(i, len));
        i += len;
    }
    return out;
}

std::string_view until_zero(std::string_view bytes) {
    const std::size_t z = bytes.find('\0');
    return z == npos ? bytes : bytes.substr(0, z);
}

std::size_t gbk_prefix_length(std::string_view text, std::size_t limit) {
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t step =
            is_gbk_lead_byte(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
        if (i + step > limit)
            break;
        i += step;
    }
    return i;
}

} // namespace tovani
