#pragma once
// Plain-text tables for the terminal, aligned by display width (CJK characters take two cells).

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace tovani::cli {

/// Terminal cells taken by UTF-8 text.
std::size_t display_width(std::string_view utf8);

/// Writes `rows` under `header`, columns separated by two spaces; the last column is not padded.
void print_table(std::ostream& out, const std::vector<std::string>& header,
                 const std::vector<std::vector<std::string>>& rows);

} // namespace tovani::cli
