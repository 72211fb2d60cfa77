#pragma once
// What became of asking a site for something: the answer, or the kind of failure and its
// details. The core returns these; each front end puts them into its own words.

#include <string>
#include <string_view>

#include "sources/book_source.h"

namespace tovani {

enum class OutcomeKind {
    ok,
    no_match,       ///< the site answered and nothing matched (a search without results)
    unreachable,    ///< no answer: name lookup, connect, TLS, time-out, a broken connection
    http_error,     ///< an answer with an error status other than a refusal
    blocked,        ///< 403, 429 or 503, or a bot-check page instead of the one asked for
    layout_changed, ///< the page came but the rule's markers or patterns found nothing on it
};

struct Outcome {
    OutcomeKind kind = OutcomeKind::ok;
    int http_status = 0; ///< of the page concerned, when one arrived
    std::string reason;  ///< the details, ASCII or GBK (libcurl's words, the marker missing)

    bool ok() const { return kind == OutcomeKind::ok; }
    /// The site itself failed: unreachable, an error status or a refusal.
    bool site_failed() const {
        return kind == OutcomeKind::unreachable || kind == OutcomeKind::http_error ||
               kind == OutcomeKind::blocked;
    }
    bool operator==(const Outcome&) const = default;
};

/// Short English name of a kind: "ok", "no match", "unreachable", "HTTP error", "blocked",
/// "layout changed".
const char* outcome_name(OutcomeKind kind);

/// What the fetch alone says: unreachable when no answer came, blocked for 403, 429 and 503,
/// an HTTP error for any other status outside 2xx (and 3xx left over), else ok; whether an ok
/// page fits the rule is for the adapter to judge.
Outcome fetch_outcome(const FetchedPage& page);

/// Whether a page (GBK text) that lacks the rule's markers is a bot check rather than a page of
/// another layout: small, and holding one of the rule's challenge words.
bool looks_like_challenge(const SourceRule& rule, std::string_view page_text);

/// The outcome for a page that came but does not fit the rule: blocked when it looks like a
/// challenge, else layout changed with `what` (GBK) as the reason.
Outcome page_does_not_fit(const SourceRule& rule, std::string_view page_text, std::string what);

/// The outcome in Chinese (GBK): its kind's words, then "：" and the reason when there is one.
std::string outcome_text(const Outcome& outcome);

/// A few Chinese words (GBK) for a kind: "无法连接", "网站拒绝访问", "页面与书源规则不符", …
std::string outcome_words(OutcomeKind kind);

/// The label of a source (GBK): 书源一 … 书源八 for the built-in ids, the rule's name for others.
std::string source_label(const BookSource& source);

/// One line for people (GBK) naming the source, its host and what went wrong, e.g.
/// "书源二（127.0.0.1:18082）无法连接：Connection refused".
std::string failure_text(const BookSource& source, const Outcome& outcome);

} // namespace tovani
