#include "sources/book_details.h"

#include "sources/page_text.h"
#include "sources/rule_match.h"
#include "text/encoding.h"
#include "text/html_entities.h"
#include "text/text_helpers.h"

namespace tovani {
namespace {

BookDetails from_meta_tags(const DetailsRule& rule, std::string_view page) {
    auto meta = [&](std::size_t fact) {
        if (fact >= rule.meta_properties.size()) {
            return std::string();
        }
        return text_between(page, rule.meta_properties[fact] + "\" content=\"", rule.value_end);
    };
    BookDetails d;
    d.cover_url = meta(0);
    d.author = meta(1);
    d.title = meta(2);
    d.update_time = meta(3);
    d.status = meta(4);
    d.latest_chapter = meta(5);
    d.description = meta(6);
    return d;
}

// Facts cut out of one section of the page; title and author come from the search hit.
BookDetails from_table(const DetailsRule& rule, std::string_view page, const SearchHit& hit) {
    const std::string section = text_between(page, rule.section.first, rule.section.second);
    // A field of group 0 is one the rule does not name: it stays empty.
    auto cut = [&section](const FieldRule& field) {
        return field.group == 0 ? std::string() : apply_field(field, section, LinkBases{});
    };
    BookDetails d;
    d.author = hit.author;
    d.title = hit.name;
    d.cover_url = cut(rule.cover_url);
    d.update_time = cut(rule.update_time);
    d.latest_chapter = cut(rule.latest_chapter);
    d.description = cut(rule.description);
    return d;
}

// The texts shown to the reader carry no HTML references; the cover address is used as it is.
void decode_texts(BookDetails& d) {
    for (std::string* text :
         {&d.author, &d.title, &d.update_time, &d.status, &d.latest_chapter, &d.description}) {
        *text = decode_html_entities(*text);
    }
}

} // namespace

DetailsOutcome parse_book_details(const SourceRule& rule, const SearchHit& hit,
                                  std::string_view body) {
    const DetailsRule& d = rule.details;
    DetailsOutcome out;
    if (d.kind == DetailsKind::refused) {
        out.refused = true;
        return out;
    }
    const std::string page = page_text(body, d.decode);
    BookDetails details =
        d.kind == DetailsKind::table ? from_table(d, page, hit) : from_meta_tags(d, page);
    decode_texts(details);
    // Nothing of the book on its page: a bot check is told apart; an empty window still opens
    // for a page of another layout, as it always has.
    const bool nothing_found = details.cover_url.empty() && details.update_time.empty() &&
                               details.status.empty() && details.latest_chapter.empty() &&
                               details.description.empty();
    if (nothing_found && looks_like_challenge(rule, page)) {
        out.outcome = {OutcomeKind::blocked, 0, gbk("人机验证页面")};
        return out;
    }
    out.details = std::move(details);
    return out;
}

DetailsOutcome request_book_details(const BookSource& source, const SearchHit& hit,
                                    const Fetchers& fetchers) {
    DetailsOutcome out;
    if (source.rule.details.kind == DetailsKind::refused) {
        out.refused = true;
        return out;
    }
    if (!source.usable()) {
        out.outcome = {OutcomeKind::unreachable, 0, source.host_error};
        return out;
    }
    const FetchedPage fetched = fetchers.page(hit.link, source.rule.politeness.page_timeout);
    if (Outcome o = fetch_outcome(fetched); !o.ok()) {
        out.outcome = std::move(o);
        return out;
    }
    return parse_book_details(source.rule, hit, fetched.body);
}

} // namespace tovani
