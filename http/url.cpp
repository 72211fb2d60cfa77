#include "http/url.h"

#include "text/text_helpers.h"

#include <string>

namespace tovani {

namespace {

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && to_lower_text(text.substr(0, prefix.size())) == prefix;
}

// Where the ":port" part of a host starts, or the host's size when it has none. A bracketed
// IPv6 address ("[::1]:8080") keeps the colons inside its brackets.
std::size_t port_colon(std::string_view host) {
    std::size_t from = 0;
    if (!host.empty() && host.front() == '[') {
        const std::size_t close = host.find(']');
        if (close == std::string_view::npos)
            return host.size();
        from = close + 1;
    }
    const std::size_t colon = host.find(':', from);
    return colon == std::string_view::npos ? host.size() : colon;
}

} // namespace

std::string url_host(std::string_view url, bool keep_port) {
    std::string lowered = to_lower_text(url);
    if (lowered.empty() || lowered.back() != '/')
        lowered += '/';

    std::string_view scheme = "https://";
    if (!lowered.starts_with("https://")) {
        scheme = "http://";
        if (!contains_text(lowered, scheme))
            lowered.insert(0, scheme);
    }

    std::string host = text_between(lowered, scheme, "/");
    if (!keep_port)
        host.resize(port_colon(host));
    return host;
}

int url_port(std::string_view url) {
    const std::string host = url_host(url, true);
    const std::size_t colon = port_colon(host);
    const int default_port = starts_with_ignoring_case(url, "https") ? 443 : 80;
    if (colon == host.size() || colon + 1 == host.size())
        return default_port; // "host:" with nothing after the colon names no port either

    // Leading digits count, as a numeric conversion of the text would read them.
    long port = 0;
    for (std::size_t i = colon + 1; i < host.size() && host[i] >= '0' && host[i] <= '9'; ++i) {
        port = port * 10 + (host[i] - '0');
        if (port > 65535)
            return 0;
    }
    return static_cast<int>(port);
}

std::string url_path(std::string_view url) {
    const std::string host = url_host(url, false);
    // The host is looked for behind the scheme, so a host such as "t" is not found inside "http".
    const std::size_t scheme_end = url.find("://");
    const std::size_t from = scheme_end == std::string_view::npos ? 0 : scheme_end + 3;
    const std::size_t host_at = find_text(url, host, from, true);
    if (host_at == std::string::npos)
        return "/";
    const std::size_t slash = url.find('/', host_at + host.size());
    if (slash == std::string_view::npos)
        return "/";
    return std::string(url.substr(slash));
}

} // namespace tovani
