#include "regex/regex_object.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "text/encoding.h"
#include "text/text_helpers.h"

namespace tovani {
namespace {

// A pattern may try this many backtracking steps per search before it is given up: generous
// for real pages, small enough that a catastrophic pattern ends within a fraction of a second.
constexpr std::uint32_t match_limit = 2'000'000;
constexpr std::uint32_t depth_limit = 100'000;
constexpr std::uint32_t heap_limit_kib = 64 * 1024;
constexpr std::size_t jit_stack_start = 32 * 1024;
constexpr std::size_t jit_stack_max = 1024 * 1024;

std::size_t utf8_char_length(unsigned char lead) {
    if (lead < 0xC0)
        return 1;
    if (lead < 0xE0)
        return 2;
    if (lead < 0xF0)
        return 3;
    return 4;
}

} // namespace

struct RegexObject::State {
    std::string pattern; // GBK, after quote-token expansion
    pcre2_code* code = nullptr;
    bool matched = false; // the last create compiled and ran
    bool global = true;
    std::string subject;      // GBK, as given
    std::string subject_utf8; // what the engine saw
    int groups = 0;           // capturing groups of the pattern
    // Per match, groups + 1 (start, end) pairs of UTF-8 offsets; PCRE2_UNSET when not taking part.
    std::vector<std::size_t> spans;
    std::size_t count = 0;
    bool limit_hit = false; // matching stopped on a resource limit, not at the end of the text
    mutable std::vector<std::size_t> gbk_offsets; // UTF-8 offset -> GBK offset, built on demand

    ~State() { release(); }

    void release() {
        if (code)
            pcre2_code_free(code);
        code = nullptr;
        matched = false;
        spans.clear();
        count = 0;
        limit_hit = false;
        groups = 0;
        gbk_offsets.clear();
    }

    // The (start, end) pair of group `group` (0 = whole match) of match `index` (1-based), or
    // nullptr when either is out of range or the group took no part.
    const std::size_t* span(int index, int group) const {
        if (index < 1 || static_cast<std::size_t>(index) > count || group < 0 || group > groups)
            return nullptr;
        const std::size_t* pair =
            &spans[(static_cast<std::size_t>(index - 1) * (groups + 1) + group) * 2];
        return pair[0] == PCRE2_UNSET ? nullptr : pair;
    }

    std::string text_of(const std::size_t* pair) const {
        if (pair[1] <= pair[0])
            return {};
        return convert_charset(std::string_view(subject_utf8).substr(pair[0], pair[1] - pair[0]),
                               "UTF-8", "GBK");
    }

    int gbk_position(std::size_t utf8_offset) const {
        if (gbk_offsets.empty())
            to_utf8_with_offsets(subject, gbk_offsets);
        return static_cast<int>(gbk_offsets[utf8_offset]);
    }

    void run(bool global_flag) {
        global = global_flag;
        pcre2_match_data* data = pcre2_match_data_create_from_pattern(code, nullptr);
        pcre2_match_context* context = pcre2_match_context_create(nullptr);
        pcre2_jit_stack* stack = pcre2_jit_stack_create(jit_stack_start, jit_stack_max, nullptr);
        if (data == nullptr || context == nullptr) {
            pcre2_jit_stack_free(stack);
            pcre2_match_context_free(context);
            pcre2_match_data_free(data);
            return;
        }
        pcre2_set_match_limit(context, match_limit);
        pcre2_set_depth_limit(context, depth_limit);
        pcre2_set_heap_limit(context, heap_limit_kib);
        if (stack)
            pcre2_jit_stack_assign(context, nullptr, stack);

        const auto* subj = reinterpret_cast<PCRE2_SPTR>(subject_utf8.data());
        const std::size_t length = subject_utf8.size();
        const std::size_t pairs = static_cast<std::size_t>(groups) + 1;
        std::size_t offset = 0;
        while (offset <= length) {
            int rc = pcre2_match(code, subj, length, offset, PCRE2_NO_UTF_CHECK, data, context);
            if (rc ==
                PCRE2_ERROR_JIT_STACKLIMIT) // very deep backtracking: the interpreter may cope
                rc = pcre2_match(code, subj, length, offset, PCRE2_NO_UTF_CHECK | PCRE2_NO_JIT,
                                 data, context);
            if (rc < 0) {
                // No further match ends the run; anything else (a match, depth or heap limit)
                // means the matches found so far are not all there are.
                limit_hit = rc != PCRE2_ERROR_NOMATCH;
                break;
            }
            const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data);
            for (std::size_t g = 0; g < pairs; ++g) {
                const bool set = g < static_cast<std::size_t>(rc) && ov[2 * g] != PCRE2_UNSET;
                spans.push_back(set ? ov[2 * g] : PCRE2_UNSET);
                spans.push_back(set ? ov[2 * g + 1] : PCRE2_UNSET);
            }
            ++count;
            if (!global)
                break;
            std::size_t next = ov[1];
            if (next <= ov[0] || next <= offset) {
                // an empty match: go on one character further
                const std::size_t from = std::max(offset, static_cast<std::size_t>(ov[1]));
                if (from >= length)
                    break;
                next = from + utf8_char_length(static_cast<unsigned char>(subject_utf8[from]));
            }
            offset = next;
        }
        pcre2_jit_stack_free(stack);
        pcre2_match_context_free(context);
        pcre2_match_data_free(data);
    }
};

RegexObject::RegexObject() : state_(std::make_unique<State>()) {}
RegexObject::~RegexObject() = default;
RegexObject::RegexObject(RegexObject&&) noexcept = default;
RegexObject& RegexObject::operator=(RegexObject&&) noexcept = default;

namespace {

// Compiles a UTF-8 pattern with the dialect's settings; null on failure with `error` and
// `error_offset` set.
pcre2_code* compile_pattern(const std::string& pattern_utf8, bool case_sensitive, bool multiline,
                            int& error, PCRE2_SIZE& error_offset) {
    pcre2_compile_context* compile = pcre2_compile_context_create(nullptr);
    if (compile == nullptr)
        return nullptr;
    pcre2_set_newline(compile, PCRE2_NEWLINE_LF); // "." stops at a line feed only
    // an unknown escape such as "\i" stands for its letter instead of failing the pattern
    pcre2_set_compile_extra_options(compile, PCRE2_EXTRA_BAD_ESCAPE_IS_LITERAL);
    // UTF without UCP: "." takes a whole character, "\w" and "\s" stay ASCII
    std::uint32_t options = PCRE2_UTF | PCRE2_NO_UTF_CHECK;
    if (!case_sensitive)
        options |= PCRE2_CASELESS;
    if (multiline)
        options |= PCRE2_MULTILINE;
    else
        options |= PCRE2_DOLLAR_ENDONLY;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern_utf8.data()),
                                     pattern_utf8.size(), options, &error, &error_offset, compile);
    pcre2_compile_context_free(compile);
    return code;
}

} // namespace

std::optional<PatternError> RegexObject::compile_error(std::string_view pattern,
                                                       bool expand_quote_token) {
    const std::string gbk_pattern =
        expand_quote_token ? tovani::expand_quote_token(pattern) : std::string(pattern);
    const std::string pattern_utf8 = convert_charset(gbk_pattern, "GBK", "UTF-8");
    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code* code = compile_pattern(pattern_utf8, true, true, error, offset);
    if (code) {
        pcre2_code_free(code);
        return std::nullopt;
    }
    PCRE2_UCHAR buffer[256];
    const int length = pcre2_get_error_message(error, buffer, sizeof buffer);
    PatternError e;
    e.message = length > 0 ? std::string(reinterpret_cast<const char*>(buffer),
                                         static_cast<std::size_t>(length))
                           : "the pattern does not compile";
    e.offset = static_cast<std::size_t>(offset);
    return e;
}

bool RegexObject::create(std::string_view pattern, std::string_view text, bool case_sensitive,
                         bool multiline, bool global, bool expand_quote_token) {
    if (!state_)
        state_ = std::make_unique<State>();
    State& s = *state_;
    s.release();
    s.pattern = expand_quote_token ? tovani::expand_quote_token(pattern) : std::string(pattern);
    s.subject.assign(text);
    s.subject_utf8.clear();

    const std::string pattern_utf8 = convert_charset(s.pattern, "GBK", "UTF-8");
    int error = 0;
    PCRE2_SIZE error_offset = 0;
    s.code = compile_pattern(pattern_utf8, case_sensitive, multiline, error, error_offset);
    if (s.code == nullptr)
        return false;
    pcre2_jit_compile(s.code, PCRE2_JIT_COMPLETE); // the interpreter stands in when JIT is absent

    std::uint32_t capture_count = 0;
    pcre2_pattern_info(s.code, PCRE2_INFO_CAPTURECOUNT, &capture_count);
    s.groups = static_cast<int>(capture_count);
    s.subject_utf8 = convert_charset(s.subject, "GBK", "UTF-8");
    s.run(global);
    s.matched = true;
    return true;
}

bool RegexObject::limit_hit() const {
    return state_ && state_->limit_hit;
}

int RegexObject::match_count() const {
    return state_ && state_->matched ? static_cast<int>(state_->count) : 0;
}

std::string RegexObject::match_text(int index, int* position) const {
    const std::size_t* pair = state_ ? state_->span(index, 0) : nullptr;
    if (position)
        *position = pair ? state_->gbk_position(pair[0]) : -1;
    return pair ? state_->text_of(pair) : std::string();
}

std::string RegexObject::submatch_text(int index, int group, int* position) const {
    // groups count from 1 here; group 0 (the whole match) is match_text's
    const std::size_t* pair = state_ && group >= 1 ? state_->span(index, group) : nullptr;
    if (position)
        *position = pair ? state_->gbk_position(pair[0]) : -1;
    return pair ? state_->text_of(pair) : std::string();
}

int RegexObject::submatch_count() const {
    return match_count() > 0 ? state_->groups : 0;
}

std::string RegexObject::current_pattern() const {
    return state_ ? state_->pattern : std::string();
}

std::string RegexObject::replace(std::string_view replacement) const {
    if (!state_ || !state_->matched)
        return {};
    const State& s = *state_;
    const std::string with = convert_charset(replacement, "GBK", "UTF-8");
    std::string out;
    std::size_t done = 0;
    for (std::size_t i = 0; i < s.count; ++i) {
        const std::size_t start = s.spans[i * (s.groups + 1) * 2];
        const std::size_t end = std::max(start, s.spans[i * (s.groups + 1) * 2 + 1]);
        if (start < done)
            continue;
        out.append(s.subject_utf8, done, start - done);
        out.append(with);
        done = end;
    }
    out.append(s.subject_utf8, done, std::string::npos);
    return convert_charset(out, "UTF-8", "GBK");
}

} // namespace tovani
