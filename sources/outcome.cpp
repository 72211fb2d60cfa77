#include "sources/outcome.h"

#include "text/encoding.h"
#include "text/text_helpers.h"

namespace tovani {
namespace {

// A challenge page is a small page of its own; a real book or chapter page is larger.
constexpr std::size_t challenge_page_limit = 16 * 1024;

} // namespace

const char* outcome_name(OutcomeKind kind) {
    switch (kind) {
    case OutcomeKind::ok:
        return "ok";
    case OutcomeKind::no_match:
        return "no match";
    case OutcomeKind::unreachable:
        return "unreachable";
    case OutcomeKind::http_error:
        return "HTTP error";
    case OutcomeKind::blocked:
        return "blocked";
    case OutcomeKind::layout_changed:
        return "layout changed";
    }
    return "unknown";
}

Outcome fetch_outcome(const FetchedPage& page) {
    if (page.failure != FetchFailure::none) {
        // libcurl's words say what happened ("Operation timed out after 60000 milliseconds").
        return {OutcomeKind::unreachable, page.status,
                page.reason.empty() ? fetch_failure_name(page.failure) : page.reason};
    }
    const int s = page.status;
    if (s == 403 || s == 429 || s == 503) {
        return {OutcomeKind::blocked, s, "HTTP " + std::to_string(s)};
    }
    // Status 0 with a body is a fetcher that knows no status (a test fixture): a page.
    if (s != 0 && (s < 200 || s >= 300)) {
        return {OutcomeKind::http_error, s, "HTTP " + std::to_string(s)};
    }
    return {OutcomeKind::ok, s, {}};
}

bool looks_like_challenge(const SourceRule& rule, std::string_view page_text) {
    if (page_text.size() > challenge_page_limit) {
        return false;
    }
    for (const std::string& marker : rule.challenge_markers) {
        if (!marker.empty() && contains_text(page_text, marker, true)) {
            return true;
        }
    }
    return false;
}

Outcome page_does_not_fit(const SourceRule& rule, std::string_view page_text, std::string what) {
    if (looks_like_challenge(rule, page_text)) {
        return {OutcomeKind::blocked, 0, gbk("人机验证页面")};
    }
    return {OutcomeKind::layout_changed, 0, std::move(what)};
}

std::string source_label(const BookSource& source) {
    static const char* const builtin[] = {"书源一", "书源二", "书源三", "书源四",
                                          "书源五", "书源六", "书源七", "书源八"};
    if (source.is_builtin()) {
        return gbk(builtin[source.id() - 1]);
    }
    return utf8_to_text(source.rule.name);
}

std::string outcome_words(OutcomeKind kind) {
    switch (kind) {
    case OutcomeKind::ok:
        return gbk("正常");
    case OutcomeKind::no_match:
        return gbk("没有找到结果");
    case OutcomeKind::unreachable:
        return gbk("无法连接");
    case OutcomeKind::http_error:
        return gbk("网站出错");
    case OutcomeKind::blocked:
        return gbk("网站拒绝访问");
    case OutcomeKind::layout_changed:
        return gbk("页面与书源规则不符");
    }
    return {};
}

std::string outcome_text(const Outcome& outcome) {
    std::string text = outcome_words(outcome.kind);
    if (!outcome.reason.empty()) {
        text += gbk("：") + outcome.reason;
    }
    return text;
}

std::string failure_text(const BookSource& source, const Outcome& outcome) {
    return source_label(source) + gbk("（") + utf8_to_text(source.host) + gbk("）") +
           outcome_text(outcome);
}

} // namespace tovani
