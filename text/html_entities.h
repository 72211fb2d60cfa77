#pragma once
// HTML character references in text cut out of pages: "&amp;", "&ldquo;", "&#12345;",
// "&#x3000;" and the like become the characters they stand for.

#include <string>
#include <string_view>

namespace tovani {

/// Decodes every named reference the table knows (the common ones: "&nbsp;" becomes an
/// ordinary space) and every numeric one, in GBK `text`. A decoded character GBK cannot hold
/// becomes "?", as in every other conversion to GBK. Unknown names, references without their
/// ";" and numbers that are no character stay as they are.
std::string decode_html_entities(std::string_view text);

/// The same on UTF-8 `text`, giving UTF-8.
std::string decode_html_entities_utf8(std::string_view text);

} // namespace tovani
