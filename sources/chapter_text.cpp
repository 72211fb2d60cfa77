#include "sources/chapter_text.h"

#include <optional>

#include "sources/book_source.h"
#include "sources/page_text.h"
#include "sources/recipes.h"
#include "text/text_helpers.h"

namespace tovani {
namespace {

// The block between the markers, or nullopt when either marker is missing.
std::optional<std::string_view> content_block(const TextRecipe& recipe, std::string_view text) {
    const std::size_t start = find_text(text, recipe.start_marker);
    if (start == std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t from = start + recipe.start_marker.size();
    const std::size_t end = find_text(text, recipe.end_marker, from);
    if (end == std::string_view::npos) {
        return std::nullopt;
    }
    return text.substr(from, end - from);
}

} // namespace

std::string extract_chapter_text(int source, std::string_view body, bool nbsp_always) {
    if (!is_valid_source(source)) {
        return {};
    }
    const TextRecipe& recipe = source_recipe(source).text;
    const std::string page = page_text(body, recipe.decode);
    const auto block = content_block(recipe, page);
    if (!block) {
        return {};
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

bool has_chapter_markers(int source, std::string_view body) {
    if (!is_valid_source(source)) {
        return false;
    }
    const TextRecipe& recipe = source_recipe(source).text;
    return content_block(recipe, page_text(body, recipe.decode)).has_value();
}

} // namespace tovani
