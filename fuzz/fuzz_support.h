#pragma once
// Small helpers shared by the fuzz targets: a check that stops the run with a message (libFuzzer
// then keeps the input that broke it), a strict UTF-8 validator and the split of one input into
// pieces.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace tovani::fuzz {

[[noreturn]] inline void fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::abort();
}

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            ::tovani::fuzz::fail(#condition, __FILE__, __LINE__);                                  \
        }                                                                                          \
    } while (false)

/// True when `text` is well-formed UTF-8: shortest forms only, no surrogates, nothing past
/// U+10FFFF.
inline bool is_valid_utf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        char32_t code = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3F);
        }
        if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) || code > 0x10FFFF ||
            (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

/// `data` cut at every `separator`; the seeds in the corpus use the same separator.
inline std::vector<std::string_view> split(std::string_view data, std::string_view separator) {
    std::vector<std::string_view> pieces;
    for (;;) {
        const std::size_t at = data.find(separator);
        pieces.push_back(data.substr(0, at));
        if (at == std::string_view::npos) {
            return pieces;
        }
        data.remove_prefix(at + separator.size());
    }
}

/// The separator between the pages of one input of the page-parser target, and between the
/// fields of the other targets' inputs: three form feeds, which no demo page contains.
inline constexpr std::string_view piece_separator = "\f\f\f";

} // namespace tovani::fuzz
