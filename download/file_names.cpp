#include "download/file_names.h"

#include "text/encoding.h"
#include "text/text_helpers.h"

namespace tovani {
namespace {

constexpr std::size_t file_name_limit = 255; // bytes of a UTF-8 name on Linux file systems

// Characters that a file name may not hold on Linux ("/") or on the Windows and FAT file
// systems that desktops are often synced or copied to.
bool is_refused_in_file_name(char c) {
    switch (c) {
    case '/':
    case '\\':
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|':
        return true;
    default:
        return false;
    }
}

// Each character of GBK `name` either kept, or replaced so that it is allowed in a file name.
std::string clean_name_characters(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto b = static_cast<unsigned char>(name[i]);
        if (b < 0x20 || b == 0x7F) {
            out += '_';
        } else if (b < 0x80) {
            if (is_refused_in_file_name(name[i])) {
                // Full-width forms: U+FF01..FF5E are GBK A3A1..A3FE, in ASCII order.
                out += static_cast<char>(0xA3);
                out += static_cast<char>(0xA1 + (b - 0x21));
            } else {
                out += name[i];
            }
        } else if (is_gbk_lead_byte(b) && i + 1 < name.size() &&
                   is_gbk_trail_byte(static_cast<unsigned char>(name[i + 1]))) {
            out += name[i];
            out += name[i + 1];
            ++i;
        } else {
            out += '_'; // a byte that starts no GBK character
        }
    }
    // A pair of the right shape may still be no GBK character (an unassigned or user-defined
    // code) and come back from the file system's UTF-8 as another one: such pairs become "_"
    // too, so a name always reads back as written. Checked per character only when the whole
    // name does not read back, which ordinary names always do.
    if (utf8_to_text(to_utf8(out)) == out) {
        return out;
    }
    std::string checked;
    checked.reserve(out.size());
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (static_cast<unsigned char>(out[i]) < 0x80) {
            checked += out[i];
            continue;
        }
        const std::string pair = out.substr(i, 2);
        checked += utf8_to_text(to_utf8(pair)) == pair ? pair : std::string("_");
        ++i;
    }
    return checked;
}

std::size_t utf8_length(std::string_view gbk_text) {
    return to_utf8(gbk_text).size();
}

const std::string& download_folder_name() {
    static const std::string name = gbk("小说下载");
    return name;
}

std::string book_stem(std::string_view book_name, std::string_view author) {
    std::string stem(book_name);
    stem += "  ";
    stem += author;
    return stem;
}

} // namespace

std::string safe_file_name(std::string_view name, std::string_view extension) {
    std::string stem = clean_name_characters(name);
    const std::string ext = clean_name_characters(extension);
    const std::size_t ext_length = utf8_length(ext);
    if (utf8_length(stem) + ext_length > file_name_limit) {
        const std::size_t budget = ext_length < file_name_limit ? file_name_limit - ext_length : 0;
        // Keep whole characters while their UTF-8 form fits the budget.
        std::size_t used = 0;
        std::size_t keep = 0;
        while (keep < stem.size()) {
            const std::size_t step =
                static_cast<unsigned char>(stem[keep]) >= 0x80 && keep + 1 < stem.size() ? 2 : 1;
            const std::size_t length = utf8_length(std::string_view(stem).substr(keep, step));
            if (used + length > budget)
                break;
            used += length;
            keep += step;
        }
        stem.resize(keep);
    }
    std::string result = stem + ext;
    if (result.empty() || result == "." || result == "..")
        result = result.empty() ? "_" : std::string(result.size(), '_');
    return result;
}

std::string with_trailing_slash(std::string_view folder) {
    std::string out(folder);
    if (!out.empty() && out.back() != '/')
        out += '/';
    return out;
}

std::string download_folder(std::string_view base_folder) {
    return with_trailing_slash(base_folder) + download_folder_name();
}

std::string book_folder(std::string_view base_folder, std::string_view book_name,
                        std::string_view author) {
    return download_folder(base_folder) + "/" + safe_file_name(book_stem(book_name, author));
}

std::string progress_file_path(std::string_view base_folder, std::string_view book_name,
                               std::string_view author) {
    return book_folder(base_folder, book_name, author) + "/" +
           safe_file_name(book_stem(book_name, author), ".ini");
}

std::string chapter_file_path(std::string_view book_folder, int number,
                              std::string_view chapter_name) {
    static const std::string open_bracket = gbk("【");
    static const std::string close_bracket = gbk("】");
    std::string stem = open_bracket + std::to_string(number) + close_bracket;
    stem += chapter_name;
    return std::string(book_folder) + "/" + safe_file_name(stem, ".txt");
}

std::string book_file_path(std::string_view base_folder, std::string_view book_name,
                           std::string_view author, std::string_view extension) {
    return download_folder(base_folder) + "/" +
           safe_file_name(book_stem(book_name, author), extension);
}

} // namespace tovani
