#pragma once
// Splitting a URL for the connection and the request.

#include <string>
#include <string_view>

namespace tovani {

/// Lower-cased host of `url`; with `keep_port` the ":port" part stays. A URL without a scheme
/// is taken as http. An IPv6 address keeps its brackets ("[::1]"), so the host can be put back
/// into a URL as it is.
std::string url_host(std::string_view url, bool keep_port = false);
/// Explicit port, else 443 for https and 80 otherwise.
int url_port(std::string_view url);
/// Path with query and fragment, in the URL's own letter case; "/" when there is none.
std::string url_path(std::string_view url);

} // namespace tovani
