#include "sources/search.h"

#include "regex/regex_object.h"
#include "sources/page_text.h"
#include "sources/recipes.h"
#include "text/encoding.h"
#include "text/text_helpers.h"

namespace tovani {
namespace {

bool create(RegexObject& re, const std::string& pattern, std::string_view page, PatternOptions o) {
    const bool strict = o == PatternOptions::strict;
    return re.create(pattern, page, strict, strict, true, true);
}

Message not_found() { return {source_texts().not_found, MessageIcon::error, source_texts().info_title}; }
Message pattern_failed() {
    return {source_texts().pattern_failed, MessageIcon::error, source_texts().info_title};
}

SearchOutcome fail(const Message& m) { return {{}, m}; }

// Runs a pattern and applies the two checks every adapter makes: it compiled, it matched.
// Returns the message to show when a check fails.
std::optional<Message> run_checked(RegexObject& re, const SearchRecipe& recipe, std::size_t index,
                                   std::string_view page) {
    if (!create(re, recipe.patterns[index], page, recipe.options)) {
        return recipe.reports_pattern_failure ? pattern_failed() : not_found();
    }
    if (re.match_count() == 0) {
        return not_found();
    }
    return std::nullopt;
}

void append(SearchOutcome& out, std::string name, std::string author, std::string link) {
    out.hits.push_back({static_cast<int>(out.hits.size()) + 1, std::move(name), std::move(author),
                        std::move(link)});
}

// Runs a source's one pattern with the usual checks, then lets `rows` turn the matches into hits.
template <typename Rows>
SearchOutcome single_pattern(const SearchRecipe& recipe, std::string_view page, Rows rows) {
    RegexObject re;
    if (auto m = run_checked(re, recipe, 0, page)) {
        return fail(*m);
    }
    SearchOutcome out;
    rows(re, out);
    return out;
}

// Sources 1 and 7: one match per hit, link, name and author in groups 1 to 3.
SearchOutcome one_match_per_hit(const SearchRecipe& recipe, const std::string& root,
                                std::string_view page) {
    return single_pattern(recipe, page, [&](const RegexObject& re, SearchOutcome& out) {
        for (int i = 1; i <= re.match_count(); ++i) {
            append(out, re.submatch_text(i, 2), re.submatch_text(i, 3),
                   root + re.submatch_text(i, 1));
        }
    });
}

// Sources 2 and 3: a hit is two consecutive matches, the linked name cell then the author cell;
// an unpaired last match is dropped.
SearchOutcome paired_cells(int source, const SearchRecipe& recipe, const std::string& root,
                           std::string_view page) {
    return single_pattern(recipe, page, [&](const RegexObject& re, SearchOutcome& out) {
        const int pairs = re.match_count() / 2;
        for (int k = 1; k <= pairs; ++k) {
            const std::string cell = re.submatch_text(2 * k - 1, 1);
            std::string author = re.submatch_text(2 * k, 1);
            if (source == 2) {
                append(out, text_between(cell, ">", "</a>"), std::move(author),
                       root + "/biquge_" + text_between(cell, "txt/", ".html") + "/");
            } else {
                append(out, text_between(cell, "\">", "</a>"), std::move(author),
                       text_between(cell, "<a href=\"", "\">") + "/");
            }
        }
    });
}

// Source 4: group 1 runs from the link target to the last "</span>" of the line.
SearchOutcome link_span_line(const SearchRecipe& recipe, const std::string& root,
                             std::string_view page) {
    return single_pattern(recipe, page, [&](const RegexObject& re, SearchOutcome& out) {
        for (int i = 1; i <= re.match_count(); ++i) {
            const std::string g1 = re.submatch_text(i, 1);
            append(out, text_between(g1, "_blank\">", "</a>"), text_after(g1, "s4\">"),
                   root + text_before(g1, "\" target="));
        }
    });
}

// Sources 6 and 8: names and links from one pattern, authors from another.
// Source 6 refuses pages whose counts differ; source 8 takes every other author match.
SearchOutcome names_and_authors(int source, const SearchRecipe& recipe, const std::string& root,
                                std::string_view page) {
    RegexObject names;
    RegexObject authors;
    if (auto m = run_checked(names, recipe, 0, page)) {
        return fail(*m);
    }
    if (auto m = run_checked(authors, recipe, 1, page)) {
        return fail(*m);
    }
    if (source == 6 && names.match_count() != authors.match_count()) {
        return fail(not_found());
    }
    SearchOutcome out;
    for (int i = 1; i <= names.match_count(); ++i) {
        if (source == 8) {
            append(out, names.submatch_text(i, 2), authors.submatch_text(2 * i - 1, 1),
                   names.submatch_text(i, 1));
        } else {
            append(out, names.submatch_text(i, 2), authors.submatch_text(i, 1),
                   root + "/" + names.submatch_text(i, 1));
        }
    }
    return out;
}

// Source 5's results area on a search page.
std::string source5_results(std::string_view page) {
    return text_between(page, "<div class=\"conter\">\r\n\t",
                        "\t<div class=\"clear\"></div>\r\n\t<div id=\"pagebav\">");
}

// Appends the hits of one source 5 results area; false when a check failed.
bool source5_page(const SearchRecipe& recipe, const std::string& root, std::string_view area,
                  SearchOutcome& out, std::optional<Message>* message) {
    RegexObject names;
    RegexObject authors;
    std::optional<Message> m = run_checked(names, recipe, 0, area);
    if (!m) {
        m = run_checked(authors, recipe, 1, area);
    }
    if (m) {
        if (message) {
            *message = m;
        }
        return false;
    }
    for (int k = 1; k <= names.match_count(); ++k) {
        append(out, names.submatch_text(k, 2), authors.submatch_text(k, 1),
               root + "/" + names.submatch_text(k, 1));
    }
    return true;
}

// Source 5: the first page, then every page its pager links to, in order. Later pages that
// yield nothing end the search quietly with the rows so far.
SearchOutcome paged(const SearchRecipe& recipe, const std::string& root, std::string_view keyword,
                    const std::string& encoded, std::string_view page, const Fetchers& fetchers) {
    SearchOutcome out;
    const std::string pager = text_between(page, "<a class=\"c\">", "</div>");
    std::optional<Message> message;
    if (!source5_page(recipe, root, source5_results(page), out, &message)) {
        return fail(*message);
    }
    if (pager.empty()) {
        return out;
    }
    RegexObject links;
    if (!create(links, recipe.patterns[2], pager, recipe.options) || links.match_count() == 0) {
        return out;
    }
    for (int j = 1; j <= links.match_count(); ++j) {
        const std::string href = replace_text(links.submatch_text(j, 1), keyword, encoded);
        const std::string next = page_text(fetchers.page(root + href), recipe.decode);
        if (!source5_page(recipe, root, source5_results(next), out, nullptr)) {
            break;
        }
    }
    return out;
}

} // namespace

const std::string& search_placeholder() { return source_texts().placeholder; }

bool is_searchable_keyword(std::string_view box_text) {
    if (remove_spaces(box_text).empty()) {
        return false;
    }
    return box_text != search_placeholder();
}

SearchOutcome search_source(const Sites& sites, int source, std::string_view keyword,
                            const Fetchers& fetchers) {
    if (!is_valid_source(source)) {
        return {};
    }
    const SearchRecipe& recipe = source_recipe(source).search;
    const std::string& root = sites.site_root(source);
    const std::string encoded = url_encode(keyword, recipe.keep_unreserved, recipe.utf8);
    const std::string url = root + recipe.path + encoded + recipe.tail;

    const std::string body = recipe.winhttp ? fetchers.winhttp_body(url) : fetchers.page(url);
    std::string page = page_text(body, recipe.decode);
    if (!recipe.cut_start.empty()) {
        page = text_between(page, recipe.cut_start, recipe.cut_end);
    }

    switch (source) {
    case 1:
    case 7:
        return one_match_per_hit(recipe, root, page);
    case 2:
    case 3:
        return paired_cells(source, recipe, root, page);
    case 4:
        return link_span_line(recipe, root, page);
    case 5:
        return paged(recipe, root, keyword, encoded, page, fetchers);
    default:
        return names_and_authors(source, recipe, root, page);
    }
}

} // namespace tovani
