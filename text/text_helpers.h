#pragma once
// Marker operations and the basic text operations on GBK character boundaries.
// Positions are 0-based byte offsets here (std::string convention); npos means "not found".
// A search never matches starting on the second byte of a two-byte GBK character.

#include <string>
#include <string_view>
#include <vector>

namespace tovani {

/// The five-byte GBK text "#引号" that stands for one double quote in stored markers and patterns.
extern const std::string_view quote_token;

/// Replaces every quote token by a double quote.
std::string expand_quote_token(std::string_view text);

/// First occurrence of `needle` at or after `from` on a character boundary, or npos.
/// `from` is taken to be a character boundary (0, or a found position plus whole characters),
/// which keeps repeated searches through one page linear. `ignore_case` folds ASCII letters only.
std::size_t find_text(std::string_view text, std::string_view needle, std::size_t from = 0,
                      bool ignore_case = false);

/// Last occurrence of `needle` on a character boundary, or npos.
std::size_t rfind_text(std::string_view text, std::string_view needle, bool ignore_case = false);

/// Whether `needle` occurs in `text` (on character boundaries).
bool contains_text(std::string_view text, std::string_view needle, bool ignore_case = false);

/// Text between the first start marker and the first end marker after it, or "".
/// Quote tokens in both markers are expanded first.
std::string text_between(std::string_view text, std::string_view start_marker,
                         std::string_view end_marker);

/// Text left of the first occurrence of `marker`, or "" when it does not occur.
std::string text_before(std::string_view text, std::string_view marker);

/// Text right of the last occurrence of `marker`, or "" when it does not occur.
std::string text_after(std::string_view text, std::string_view marker);

/// Cuts at every separator: empty pieces between separators are kept, an empty piece after the
/// last separator is dropped, an empty text gives no pieces.
std::vector<std::string> split_text(std::string_view text, std::string_view separator);

/// `text` without ASCII spaces and tabs at either end (the blanks of INI-style lines).
std::string_view trim_blanks(std::string_view text);

/// Removes ASCII spaces and full-width spaces (A1 A1) from both ends; tabs and line breaks stay.
std::string trim_text(std::string_view text);

/// ASCII letters only; two-byte characters are left alone.
std::string to_upper_text(std::string_view text);
std::string to_lower_text(std::string_view text);

/// Replaces every occurrence, left to right, without re-scanning replaced text.
std::string replace_text(std::string_view text, std::string_view from, std::string_view to,
                         bool ignore_case = false);

/// Removes every ASCII space and full-width space.
std::string remove_spaces(std::string_view text);

/// Whether `b` starts a two-byte GBK character.
inline bool is_gbk_lead_byte(unsigned char b) {
    return b >= 0x81 && b <= 0xFE;
}
/// Whether `b` can be the second byte of a two-byte GBK character.
inline bool is_gbk_trail_byte(unsigned char b) {
    return b >= 0x40 && b <= 0xFE && b != 0x7F;
}

/// Length of the longest prefix of `text` of at most `limit` bytes that does not end inside a
/// two-byte character.
std::size_t gbk_prefix_length(std::string_view text, std::size_t limit);

/// The text up to its first zero byte.
std::string_view until_zero(std::string_view bytes);

} // namespace tovani
