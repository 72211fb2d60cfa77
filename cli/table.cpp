#include "cli/table.h"

#include <algorithm>

namespace tovani::cli {
namespace {

bool is_wide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
           (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
           (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

} // namespace

std::size_t display_width(std::string_view s) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        char32_t c = b;
        std::size_t len = 1;
        if (b >= 0xF0) {
            len = 4;
            c = b & 0x07;
        } else if (b >= 0xE0) {
            len = 3;
            c = b & 0x0F;
        } else if (b >= 0xC0) {
            len = 2;
            c = b & 0x1F;
        }
        for (std::size_t k = 1; k < len && i + k < s.size(); ++k) {
            c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        }
        i += len;
        width += is_wide(c) ? 2 : 1;
    }
    return width;
}

void print_table(std::ostream& out, const std::vector<std::string>& header,
                 const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths(header.size(), 0);
    auto measure = [&](const std::vector<std::string>& row) {
        for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c) {
            widths[c] = std::max(widths[c], display_width(row[c]));
        }
    };
    measure(header);
    for (const auto& row : rows) {
        measure(row);
    }
    auto print = [&](const std::vector<std::string>& row) {
        for (std::size_t c = 0; c < row.size(); ++c) {
            out << row[c];
            if (c + 1 < row.size()) {
                out << std::string(widths[c] - display_width(row[c]) + 2, ' ');
            }
        }
        out << '\n';
    };
    print(header);
    for (const auto& row : rows) {
        print(row);
    }
}

} // namespace tovani::cli
