#include "sources/search.h"

#include <algorithm>

#include "regex/regex_object.h"
#include "sources/page_text.h"
#include "sources/rule_match.h"
#include "text/encoding.h"
#include "text/html_entities.h"
#include "text/text_helpers.h"

namespace tovani {
namespace {

// The texts of one row, read from the site (names and authors decoded of HTML references).
void append(SearchOutcome& out, const std::string& name, const std::string& author,
            std::string link) {
    out.hits.push_back({static_cast<int>(out.hits.size()) + 1, decode_html_entities(name),
                        decode_html_entities(author), std::move(link)});
}

// Why a search that ran a pattern ends without rows.
SearchOutcome failed(const SourceRule& rule, PatternRun run, std::string_view page) {
    SearchOutcome out;
    switch (run) {
    case PatternRun::compile_failed:
        out.outcome = {OutcomeKind::no_match, 0, gbk("正则无法编译")};
        out.pattern_error = rule.search.report_pattern_errors;
        break;
    case PatternRun::limit_hit:
        out.outcome = {OutcomeKind::layout_changed, 0, gbk("搜索页面让规则的正则无法完成匹配")};
        break;
    case PatternRun::no_match:
    case PatternRun::matched:
        // A bot check instead of the results page is a refusal, not an empty result.
        out.outcome = looks_like_challenge(rule, page)
                          ? Outcome{OutcomeKind::blocked, 0, gbk("人机验证页面")}
                          : Outcome{OutcomeKind::no_match, 0, {}};
        break;
    }
    return out;
}

// Reads the rows of one results area into `out`. Returns how the patterns ran: anything but
// `matched` leaves `out` as it was.
PatternRun read_rows(const SearchRule& rule, std::string_view area, const LinkBases& bases,
                     SearchOutcome& out) {
    RegexObject names;
    const PatternRun run = run_pattern(names, rule.pattern, area, rule.options);
    if (run != PatternRun::matched) {
        return run;
    }
    const int count = names.match_count();
    switch (rule.shape) {
    case SearchShape::one_per_match:
        for (int i = 1; i <= count; ++i) {
            append(out, read_field(rule.name, names, i, bases),
                   read_field(rule.author, names, i, bases),
                   read_field(rule.link, names, i, bases));
        }
        return run;
    case SearchShape::paired_matches:
        for (int k = 1; k <= count / 2; ++k) {
            append(out, read_field(rule.name, names, 2 * k - 1, bases),
                   read_field(rule.author, names, 2 * k, bases),
                   read_field(rule.link, names, 2 * k - 1, bases));
        }
        return run;
    case SearchShape::names_and_authors:
        break;
    }
    RegexObject authors;
    const PatternRun author_run = run_pattern(authors, rule.author_pattern, area, rule.options);
    if (author_run != PatternRun::matched) {
        return author_run;
    }
    if (rule.require_equal_counts && authors.match_count() != count) {
        return PatternRun::no_match;
    }
    for (int i = 1; i <= count; ++i) {
        append(out, read_field(rule.name, names, i, bases),
               read_field(rule.author, authors, (i - 1) * rule.author_stride + 1, bases),
               read_field(rule.link, names, i, bases));
    }
    return PatternRun::matched;
}

std::string results_area(const SearchRule& rule, const std::string& page) {
    return rule.area ? text_between(page, rule.area->first, rule.area->second) : page;
}

// Follows the pager of the first page, in the order it lists the pages, at most the rule's
// number of them. A later page that cannot be fetched or read ends the search quietly with
// the rows so far.
void follow_pager(const BookSource& source, const PagerRule& pager, std::string_view keyword,
                  const std::string& encoded, const std::string& first_page,
                  const Fetchers& fetchers, SearchOutcome& out) {
    const SearchRule& rule = source.rule.search;
    const std::string pager_text = text_between(first_page, pager.area.first, pager.area.second);
    if (pager_text.empty()) {
        return;
    }
    RegexObject links;
    if (run_pattern(links, pager.pattern, pager_text, rule.options) != PatternRun::matched) {
        return;
    }
    const std::string root = source.site_root();
    const LinkBases bases{root, {}};
    const int count = links.match_count();
    const int follow = std::min(count, pager.max_pages);
    out.pages_capped = count > follow;
    const Fetchers::Fetch& fetch = rule.winhttp ? fetchers.winhttp : fetchers.page;
    for (int j = 1; j <= follow; ++j) {
        std::string href = links.submatch_text(j, 1);
        if (pager.reencode_keyword) {
            href = replace_text(href, keyword, encoded);
        }
        const FetchedPage next = fetch(root + href, source.rule.politeness.page_timeout);
        if (!fetch_outcome(next).ok()) {
            out.pages_capped = false; // it stopped before the cap
            return;
        }
        const std::string page = page_text(next.body, rule.decode);
        if (read_rows(rule, results_area(rule, page), bases, out) != PatternRun::matched) {
            out.pages_capped = false;
            return;
        }
    }
}

} // namespace

bool is_searchable_keyword(std::string_view box_text, std::string_view placeholder) {
    if (remove_spaces(box_text).empty()) {
        return false;
    }
    return placeholder.empty() || box_text != placeholder;
}

SearchOutcome search_source(const BookSource& source, std::string_view keyword,
                            const Fetchers& fetchers) {
    SearchOutcome out;
    if (!source.usable()) {
        out.outcome = {OutcomeKind::unreachable, 0, source.host_error};
        return out;
    }
    const SearchRule& rule = source.rule.search;
    const std::string root = source.site_root();
    const std::string encoded = url_encode(keyword, rule.keep_unreserved, rule.keyword_utf8);
    const std::string url = root + rule.path + encoded + rule.tail;

    const Fetchers::Fetch& fetch = rule.winhttp ? fetchers.winhttp : fetchers.page;
    const FetchedPage fetched = fetch(url, source.rule.politeness.page_timeout);
    if (Outcome o = fetch_outcome(fetched); !o.ok()) {
        out.outcome = std::move(o);
        return out;
    }
    const std::string page = page_text(fetched.body, rule.decode);
    const PatternRun run = read_rows(rule, results_area(rule, page), {root, {}}, out);
    // Matches that make no whole row (one half of a pair) are no results either.
    if (run != PatternRun::matched || out.hits.empty()) {
        return failed(source.rule, run, page);
    }
    if (rule.pager) {
        follow_pager(source, *rule.pager, keyword, encoded, page, fetchers, out);
    }
    return out;
}

} // namespace tovani
