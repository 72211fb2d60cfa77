#pragma once
// The readable text of a chapter page.

#include <optional>
#include <string>
#include <string_view>

namespace tovani {

/// Cuts the chapter out of `body` (the page as fetched) for `source` (1..8) and turns the
/// site's "&nbsp;" and line-break tags into spaces and CR LF. `nbsp_always` makes every source
/// turn "&nbsp;" into a space (the reader's first chapter). Empty when a marker is missing.
std::string extract_chapter_text(int source, std::string_view body, bool nbsp_always = false);

/// The same, but nullopt when the page lacks the source's markers: an error page or a challenge
/// rather than an empty chapter. One pass over the page serves both questions.
std::optional<std::string> try_extract_chapter_text(int source, std::string_view body,
                                                    bool nbsp_always = false);

/// Whether a chapter page carries the source's content markers at all; a page without them is
/// an error page or a challenge, not an empty chapter.
bool has_chapter_markers(int source, std::string_view body);

} // namespace tovani
