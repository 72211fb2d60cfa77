#pragma once
// The regular-expression object every site adapter runs its patterns through.
// Texts in and out are GBK. Match and group indexes are 1-based; every out-of-range read gives
// empty text or 0. "." stops only at a line feed, "\w" is ASCII only, global matching yields
// successive non-overlapping leftmost matches.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tovani {

/// Why a pattern does not compile: PCRE2's words and the byte offset in the UTF-8 pattern.
struct PatternError {
    std::string message;
    std::size_t offset = 0;
};

class RegexObject {
public:
    RegexObject();
    ~RegexObject();
    RegexObject(const RegexObject&) = delete;
    RegexObject& operator=(const RegexObject&) = delete;
    RegexObject(RegexObject&&) noexcept;
    RegexObject& operator=(RegexObject&&) noexcept;

    /// Compiles `pattern` and runs it over `text`, discarding the previous call's state.
    /// True when the pattern compiled (also when nothing matched). With `expand_quote_token`
    /// every "#引号" in the pattern becomes a double quote first.
    bool create(std::string_view pattern, std::string_view text, bool case_sensitive = false,
                bool multiline = true, bool global = true, bool expand_quote_token = false);

    /// True when the last create stopped matching on a resource limit (a pattern that
    /// backtracks without end on this text): the matches found are then not all there are, and
    /// callers must not take them for a whole result.
    bool limit_hit() const;

    /// Why `pattern` (GBK) does not compile, or nullopt when it does.
    static std::optional<PatternError> compile_error(std::string_view pattern,
                                                     bool expand_quote_token = true);

    int match_count() const;
    /// Whole text of match `index`; `position` receives its 0-based GBK byte offset in the
    /// subject, or -1 when there is no such match.
    std::string match_text(int index, int* position = nullptr) const;
    /// Text of group `group` of match `index`; empty when absent or not taking part (then
    /// `position` receives -1).
    std::string submatch_text(int index, int group, int* position = nullptr) const;
    /// Number of capturing groups reported by the first match; 0 without a match.
    int submatch_count() const;
    /// The pattern after quote-token expansion; empty before the first create.
    std::string current_pattern() const;
    /// The subject with the matches replaced (every match when global). The replacement is taken
    /// literally: "$1" or "$&" are not expanded. Empty without a compiled pattern.
    std::string replace(std::string_view replacement) const;
    void noop() const {}

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace tovani
