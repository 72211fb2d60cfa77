#include "sources/chapter_text.h"

#include <optional>

#include "sources/book_source.h"
#include "sources/page_text.h"
#include "sources/recipes.h"
#include "text/encoding.h"
#include "text/text_helpers.h"

namespace tovani {
namespace {

// The block between the markers, or nullopt when either marker is missing. `find` is the
// search that suits the text's encoding.
template <typename Find>
std::optional<std::string_view> content_block(const TextRecipe& recipe, std::string_view text,
                                              Find find) {
    const std::size_t start = find(text, recipe.start_marker, 0);
    if (start == std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t from = start + recipe.start_marker.size();
    const std::size_t end = find(text, recipe.end_marker, from);
    if (end == std::string_view::npos) {
        return std::nullopt;
    }
    return text.substr(from, end - from);
}

// GBK text: a match never starts on the second byte of a two-byte character.
std::size_t find_gbk(std::string_view text, std::string_view needle, std::size_t from) {
    return find_text(text, needle, from);
}

// UTF-8 text: an ASCII marker can only match whole characters, so a plain search is exact.
std::size_t find_bytes(std::string_view text, std::string_view needle, std::size_t from) {
    return text.find(needle, from);
}

std::string replace_bytes(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    for (std::size_t hit; (hit = text.find(from, pos)) != std::string_view::npos;) {
        out.append(text, pos, hit - pos);
        out.append(to);
        pos = hit + from.size();
    }
    out.append(text, pos);
    return out;
}

// The markers and replacements of every source are ASCII. On a UTF-8 page they are applied to
// the UTF-8 bytes, where no character can hide an ASCII byte, and only the chapter text is
// converted; the result is the same as converting the whole page first, at a fraction of the cost.
std::optional<std::string> extract_utf8(const TextRecipe& recipe, std::string_view body,
                                        bool nbsp_always) {
    const auto block = content_block(recipe, until_zero(body), find_bytes);
    if (!block) {
        return std::nullopt;
    }
    std::string text(*block);
    if (recipe.nbsp_always || nbsp_always) {
        text = replace_bytes(text, "&nbsp;", " ");
    }
    for (const auto& [from, to] : recipe.replacements) {
        text = replace_bytes(text, from, to);
    }
    return std::string(until_zero(convert_charset(text)));
}

} // namespace

std::optional<std::string> try_extract_chapter_text(int source, std::string_view body,
                                                    bool nbsp_always) {
    if (!is_valid_source(source)) {
        return std::nullopt;
    }
    const TextRecipe& recipe = source_recipe(source).text;
    if (recipe.decode == PageDecode::utf8_to_gbk) {
        return extract_utf8(recipe, body, nbsp_always);
    }
    const std::string page = page_text(body, recipe.decode);
    const auto block = content_block(recipe, page, find_gbk);
    if (!block) {
        return std::nullopt;
    }
    std::string text(*block);
    if (recipe.nbsp_always || nbsp_always) {
        text = replace_text(text, "&nbsp;", " ");
    }
    for (const auto& [from, to] : recipe.replacements) {
        text = replace_text(text, from, to);
    }
    return text;
}

std::string extract_chapter_text(int source, std::string_view body, bool nbsp_always) {
    return try_extract_chapter_text(source, body, nbsp_always).value_or(std::string());
}

bool has_chapter_markers(int source, std::string_view body) {
    if (!is_valid_source(source)) {
        return false;
    }
    const TextRecipe& recipe = source_recipe(source).text;
    if (recipe.decode == PageDecode::utf8_to_gbk) {
        return content_block(recipe, until_zero(body), find_bytes).has_value();
    }
    return content_block(recipe, page_text(body, recipe.decode), find_gbk).has_value();
}

} // namespace tovani
