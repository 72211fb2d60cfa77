#include "http/headers.h"

#include "text/text_helpers.h"

#include <algorithm>
#include <string>
#include <vector>

namespace tovani {

namespace {

constexpr std::string_view crlf = "\r\n";

std::string join(const std::vector<std::string>& items, std::string_view separator) {
    std::string joined;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0)
            joined += separator;
        joined += items[i];
    }
    return joined;
}

char ascii_upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The item's text before its first "=", trimmed; the whole item trimmed without one.
std::string cookie_name(std::string_view item) {
    const std::size_t equals = item.find('=');
    return trim_text(equals == std::string_view::npos ? item : item.substr(0, equals));
}

// Trimmed, and a trailing ";" followed by a space so that the last item splits like the rest.
std::vector<std::string> cookie_items(std::string_view cookies) {
    std::string tidy = trim_text(cookies);
    if (!tidy.empty() && tidy.back() == ';')
        tidy += ' ';
    return split_text(tidy, "; ");
}

} // namespace

std::string normalise_headers(std::string_view block) {
    std::vector<std::string> lines;
    for (std::string& line : split_text(block, crlf)) {
        const std::size_t colon = find_text(line, ":");
        if (colon == std::string::npos)
            continue;
        // First letter of the name and of every dash-separated part; GBK bytes are >= 0x80
        // and never change.
        bool part_start = true;
        for (std::size_t i = 0; i < colon; ++i) {
            if (part_start)
                line[i] = ascii_upper(line[i]);
            part_start = line[i] == '-';
        }
        lines.push_back(std::move(line));
    }
    return join(lines, crlf);
}

std::string collect_set_cookies(std::string_view raw_headers) {
    constexpr std::string_view prefix = "Set-Cookie:";
    std::vector<std::string> cookies;
    for (const std::string& line : split_text(raw_headers, crlf)) {
        if (text_before(line, ": ") != "Set-Cookie")
            continue;
        std::string cookie = contains_text(line, ";")
                                 ? trim_text(text_between(line, prefix, ";"))
                                 : trim_text(std::string_view(line).substr(prefix.size()));
        // An empty cookie would leave an empty item ("; ; ") in every string built from it.
        if (!cookie.empty())
            cookies.push_back(std::move(cookie));
    }
    return join(cookies, "; ");
}

std::string merge_cookies(std::string_view given, std::string_view returned) {
    std::vector<std::string> merged = cookie_items(returned);
    for (std::string& item : cookie_items(given)) {
        const std::string name = cookie_name(item);
        const bool returned_too =
            std::any_of(merged.begin(), merged.end(),
                        [&](const std::string& r) { return cookie_name(r) == name; });
        if (!returned_too)
            merged.push_back(std::move(item));
    }

    constexpr std::string_view deleted = "=deleted";
    std::vector<std::string> kept;
    for (std::string& item : merged) {
        if (item.empty() || item.ends_with(deleted))
            continue;
        if (std::find(kept.begin(), kept.end(), item) == kept.end())
            kept.push_back(std::move(item));
    }
    return join(kept, "; ");
}

std::string header_value(std::string_view block, std::string_view name) {
    if (name.empty())
        return {};
    for (const std::string& line : split_text(block, crlf)) {
        // The whole name must match: "Connection-X: 1" is not a "Connection" line.
        if (line.size() > name.size() && line.starts_with(name) && line[name.size()] == ':')
            return text_after(line, std::string(name) + ": ");
    }
    return {};
}

} // namespace tovani
