#pragma once
// Conversions between GBK text (code page 936), UTF-8 and UTF-16LE, URL encoding of keywords,
// and charset conversion of fetched pages.
//
// A "text" is a std::string of GBK bytes; operations that take text stop at its first zero byte.
// "Bytes" are a std::string used as a byte array (zeros allowed). UTF-16 bytes are little-endian
// code units stored as bytes.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovani {

inline constexpr int code_page_gbk = 936;
inline constexpr int code_page_utf8 = 65001;

/// Bytes in `code_page` (936 or 65001) to UTF-16LE bytes ending in one zero unit.
/// Empty input (up to its first zero byte) gives empty bytes; an unknown code page gives empty
/// bytes.
std::string code_page_to_utf16(std::string_view bytes, int code_page);

/// UTF-16LE bytes (up to the first zero unit) to bytes in `code_page`, without terminator.
std::string utf16_to_code_page(std::string_view utf16, int code_page);

/// GBK text to UTF-16LE bytes with a terminating zero unit ("A" gives 41 00 00 00).
std::string to_utf16(std::string_view text);

/// GBK text to UTF-8 bytes, no terminator and no byte-order mark.
std::string to_utf8(std::string_view text);

/// GBK bytes (zero bytes included) to UTF-8, character by character as convert_charset from
/// "GBK" to "UTF-8" does. `offsets` receives one entry per byte of the result plus one for its
/// end: the GBK byte offset of the character that byte belongs to (the end maps to the input size).
std::string to_utf8_with_offsets(std::string_view gbk_bytes, std::vector<std::size_t>& offsets);

/// UTF-16LE bytes to GBK text.
std::string utf16_to_text(std::string_view utf16);

/// UTF-8 bytes to GBK text (the inverse of to_utf8); used at the edges of the program
/// (command line, windows) where text arrives as UTF-8.
std::string utf8_to_text(std::string_view utf8);

/// Reads the UTF-8 character at byte `at` of `utf8` (at < size) into `cp` and returns its
/// length. A malformed sequence gives U+FFFD and the length of its longest valid start (at
/// least 1), so the bytes after it are read afresh.
std::size_t read_utf8_char(std::string_view utf8, std::size_t at, char32_t& cp);

/// Appends the UTF-8 form of `cp` to `out`.
void append_utf8(std::string& out, char32_t cp);

/// Short form of utf8_to_text for the program's own literals, which the sources hold as UTF-8:
/// gbk("搜索不到！") is the GBK text shown to the user.
inline std::string gbk(std::string_view utf8_literal) {
    return utf8_to_text(utf8_literal);
}

/// Percent-encodes a keyword: spaces become "+", unreserved bytes are kept when
/// `keep_unreserved`, everything else becomes %XX. `utf8` encodes the UTF-8 form instead of GBK.
std::string url_encode(std::string_view text, bool keep_unreserved = false, bool utf8 = false);

/// Decodes `bytes` from `from_charset` and encodes the result in `to_charset`, returning the
/// bytes from `start_offset` on. Empty charset names mean "UTF-8" and "GBK". Names are matched
/// in any letter case; gb2312 and gbk are decoded as GB18030 so GBK-only characters survive.
/// Undecodable input and characters the target cannot hold become a visible replacement
/// ("?" in GBK, U+FFFD in UTF-8); the rest of the text is always kept. An unknown charset
/// gives empty bytes.
std::string convert_charset(std::string_view bytes, std::string_view from_charset = {},
                            std::string_view to_charset = {},
                            std::optional<std::size_t> start_offset = std::nullopt);

} // namespace tovani
