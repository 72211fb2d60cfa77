#pragma once
// Text handling shared by both page fetchers: request header blocks and cookie strings.
// Blocks are GBK text with CR LF between lines; cookie strings are items joined by "; ".

#include <string>
#include <string_view>

namespace tovani {

/// Capitalises each dash-separated part of every header name, drops lines without a colon,
/// joins with CR LF and no trailing CR LF.
std::string normalise_headers(std::string_view block);
/// Cookies of the "Set-Cookie: " lines of raw response headers, attributes dropped.
std::string collect_set_cookies(std::string_view raw_headers);
/// Returned cookies replace given ones of the same name; given ones not returned follow;
/// "=deleted" items are dropped; exact duplicates are removed.
std::string merge_cookies(std::string_view given, std::string_view returned);
/// Value of the first line whose name is exactly `name`, or "".
std::string header_value(std::string_view block, std::string_view name);

} // namespace tovani
