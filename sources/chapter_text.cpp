#include "sources/chapter_text.h"

#include "sources/page_text.h"
#include "text/encoding.h"
#include "text/html_entities.h"
#include "text/text_helpers.h"

namespace tovani {
namespace {

// The block between the markers, or nullopt when either marker is missing. `find` is the
// search that suits the text's encoding.
template <typename Find>
std::optional<std::string_view> content_block(const TextRule& rule, std::string_view text,
                                              Find find) {
    const std::size_t start = find(text, rule.start, 0);
    if (start == std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t from = start + rule.start.size();
    const std::size_t end = find(text, rule.end, from);
    if (end == std::string_view::npos) {
        return std::nullopt;
    }
    return text.substr(from, end - from);
}

// GBK text: a match never starts on the second byte of a two-byte character.
std::size_t find_gbk(std::string_view text, std::string_view needle, std::size_t from) {
    return find_text(text, needle, from);
}

// UTF-8 text: an ASCII marker can only match whole characters, so a plain search is exact.
std::size_t find_bytes(std::string_view text, std::string_view needle, std::size_t from) {
    return text.find(needle, from);
}

std::string replace_bytes(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    for (std::size_t hit; (hit = text.find(from, pos)) != std::string_view::npos;) {
        out.append(text, pos, hit - pos);
        out.append(to);
        pos = hit + from.size();
    }
    out.append(text, pos);
    return out;
}

// With ASCII markers and replacements a UTF-8 page is cut and cleaned in its own bytes, where
// no character can hide an ASCII byte, and only the chapter text is converted; the result is
// the same as converting the whole page first, at a fraction of the cost.
std::optional<std::string> extract_utf8(const TextRule& rule, std::string_view body) {
    const auto block = content_block(rule, until_zero(body), find_bytes);
    if (!block) {
        return std::nullopt;
    }
    std::string text(*block);
    for (const auto& [from, to] : rule.replace) {
        text = replace_bytes(text, from, to);
    }
    return std::string(until_zero(convert_charset(decode_html_entities_utf8(text))));
}

} // namespace

std::optional<std::string> try_extract_chapter_text(const TextRule& rule, std::string_view body) {
    if (rule.decode == PageDecode::utf8_to_gbk && rule.ascii_markers) {
        return extract_utf8(rule, body);
    }
    const std::string page = page_text(body, rule.decode);
    const auto block = content_block(rule, page, find_gbk);
    if (!block) {
        return std::nullopt;
    }
    std::string text(*block);
    for (const auto& [from, to] : rule.replace) {
        text = replace_text(text, from, to);
    }
    return decode_html_entities(text);
}

std::string extract_chapter_text(const TextRule& rule, std::string_view body) {
    return try_extract_chapter_text(rule, body).value_or(std::string());
}

ChapterTextResult chapter_text_of(const BookSource& source, const FetchedPage& page) {
    if (Outcome o = fetch_outcome(page); !o.ok()) {
        return {std::move(o), {}};
    }
    if (auto text = try_extract_chapter_text(source.rule.text, page.body)) {
        return {{}, std::move(*text)};
    }
    return {page_does_not_fit(source.rule, page_text(page.body, source.rule.text.decode),
                              gbk("页面上没有章节正文的标记")),
            {}};
}

ChapterTextResult fetch_chapter_text(const BookSource& source, std::string_view link,
                                     const Fetchers& fetchers) {
    if (!source.usable()) {
        return {{OutcomeKind::unreachable, 0, source.host_error}, {}};
    }
    return chapter_text_of(source,
                           fetchers.page(std::string(link), source.rule.politeness.page_timeout));
}

} // namespace tovani
