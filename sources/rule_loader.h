#pragma once
// Reading one rule file: TOML text in, a checked SourceRule out, or the list of what is wrong
// with it. Nothing in a rule file can crash or hang the program: syntax errors, unknown keys,
// wrong values, patterns that do not compile and missing fields are all reported with the
// file, the line and the key, and such a file gives no rule.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sources/source_rule.h"

namespace tovani {

struct RuleProblem {
    std::string file;    ///< where the rule came from
    int line = 0;        ///< 1-based; 0 when the problem has no line of its own
    std::string key;     ///< dotted path of the key ("search.shape"); "" for the file as a whole
    std::string message; ///< UTF-8

    /// "file:line: key: message", leaving out what is not known.
    std::string text() const;
};

struct RuleParse {
    std::optional<SourceRule> rule; ///< set only when there is no problem
    std::vector<RuleProblem> problems;
};

/// Parses and checks the text of one rule file. `origin` names it in the problems.
RuleParse parse_rule(std::string_view toml_text, std::string_view origin);

} // namespace tovani
