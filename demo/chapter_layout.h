#pragma once
// How each source's chapter page wraps the text, and what the wrapping becomes once a reader
// has cut the block out, applied that source's replacements and decoded HTML references.
// Shared by the page renderer and DemoLibrary::expected_chapter_text so the two cannot drift
// apart. Served pieces are ASCII; the `_out` pieces are GBK.

#include <string>
#include <string_view>
#include <vector>

namespace tovani::demo {

struct ChapterLayout {
    std::string_view start_marker; ///< the text block starts right after it
    std::string_view end_marker;   ///< and ends right before it
    // Served around every paragraph, and between two paragraphs.
    std::string_view open, close, separator;
    // What open, close and separator turn into after the source's replacements.
    std::string_view open_out, close_out, separator_out;
    std::string indent;     ///< served before every paragraph
    std::string indent_out; ///< what a reader makes of it (GBK)
};

/// The layout of `source` (1..9).
const ChapterLayout& chapter_layout(int source);

/// The paragraphs as one block: each is `open`, `indent`, the paragraph, `close`, with
/// `separator` between two paragraphs.
std::string join_paragraphs(const std::vector<std::string>& paragraphs, std::string_view indent,
                            std::string_view open, std::string_view close,
                            std::string_view separator);

} // namespace tovani::demo
