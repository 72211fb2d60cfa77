#pragma once
// The two steps every adapter takes with a rule: run one of its patterns over a page, and read
// the fields of a row out of a match or a piece of the page.

#include <string>
#include <string_view>

#include "regex/regex_object.h"
#include "sources/source_rule.h"

namespace tovani {

enum class PatternRun {
    matched,        ///< at least one match, and all of them
    no_match,       ///< the pattern compiled and found nothing
    compile_failed, ///< the pattern does not compile
    limit_hit,      ///< matching gave up on a resource limit: the matches are not all there are
};

/// Creates `pattern` on `text` with the rule's options (the quote token expanded).
PatternRun run_pattern(RegexObject& re, std::string_view pattern, std::string_view text,
                       PatternOptions options);

/// What a link field may be put behind.
struct LinkBases {
    std::string_view site_root;
    std::string_view book_link;
};

/// Applies a field's cuts, removals, repair, base, prefix and suffix to `text`.
std::string apply_field(const FieldRule& field, std::string_view text, const LinkBases& bases);

/// The field read from group `field.group` of match `index`; "" for group 0.
std::string read_field(const FieldRule& field, const RegexObject& re, int index,
                       const LinkBases& bases);

} // namespace tovani
