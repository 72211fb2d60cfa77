#include "http/fetch.h"

#include "http/curl_call_p.h"
#include "http/headers.h"
#include "http/url.h"
#include "text/text_helpers.h"

#include <mutex>

namespace tovani {

namespace {

constexpr std::string_view default_agent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";
// Raw headers this long or longer did not fit the classic 5000-byte buffer (with its NUL).
constexpr std::size_t header_buffer_size = 5000;

std::mutex limits_mutex;
FetchLimits current_limits;

std::string agent_for(std::string_view block) {
    if (!contains_text(block, "User-Agent:", true))
        return std::string(default_agent);
    std::string agent = trim_text(text_between(std::string(block) + "\r\n", "User-Agent:", "\r\n"));
    if (agent.empty()) {
        const std::size_t colon = block.find(':');
        agent = trim_text(block.substr(colon + 1));
    }
    // An agent never spans lines; the rest of a block must not leak into the header.
    const std::size_t line_end = agent.find_first_of("\r\n");
    if (line_end != std::string::npos)
        agent = trim_text(std::string_view(agent).substr(0, line_end));
    return agent;
}

void add_default_headers(std::string& block, const std::string& url, int method) {
    if (block.empty())
        block = "Accept: */*";
    if (!contains_text(block, "Accept:", true))
        block += "\r\nAccept: */*";
    if (!contains_text(block, "Referer:", true))
        block += "\r\nReferer: " + url;
    if (!contains_text(block, "Accept-Language:", true))
        block += "\r\nAccept-Language: zh-cn";
    if (method == 1 && !contains_text(block, "Content-Type:", true))
        block += "\r\nContent-Type: application/x-www-form-urlencoded";
}

} // namespace

const char* method_name(int method) {
    static const char* const names[] = {"GET",     "POST",   "HEAD",  "PUT",
                                        "OPTIONS", "DELETE", "TRACE", "CONNECT"};
    return method >= 0 && method <= 7 ? names[method] : names[0];
}

void set_fetch_limits(const FetchLimits& limits) {
    std::lock_guard lock(limits_mutex);
    current_limits = limits;
}

FetchLimits fetch_limits() {
    std::lock_guard lock(limits_mutex);
    return current_limits;
}

std::string fetch_page(const std::string& url, const FetchPageArgs& args) {
    std::string block = args.normalise ? normalise_headers(args.headers) : args.headers;
    const int method = args.method < 0 || args.method > 7 ? 0 : args.method;
    const bool secure = to_lower_text(std::string_view(url).substr(0, 8)) == "https://";
    const std::string agent = agent_for(block);

    const std::string host = url_host(url);
    if (host.empty()) {
        // No host to connect to: nothing is opened, no classic out-argument is written.
        if (args.report_out)
            *args.report_out = {FetchFailure::bad_url, 0, "no host in the URL", std::nullopt};
        return {};
    }
    const int port = url_port(url);
    std::string target = (secure ? "https://" : "http://") + host;
    if (port != (secure ? 443 : 80))
        target += ":" + std::to_string(port);
    target += url_path(url);

    if (args.add_default_headers)
        add_default_headers(block, url, method);
    if (args.cookies && !args.cookies->empty())
        block +=
            (contains_text(*args.cookies, "Cookie:") ? "\r\n" : "\r\nCookie: ") + *args.cookies;

    static const std::string no_body;
    const std::string& body =
        method == 0 ? no_body : (args.post_bytes.empty() ? args.post_text : args.post_bytes);

    detail::Transfer transfer;
    transfer.follow_redirects = !args.no_redirect;
    FetchLimits limits = fetch_limits();
    if (args.timeout.count() > 0)
        limits.total_time = args.timeout;
    detail::CurlCall call(args.cookies ? detail::CookieStore::bypass : detail::CookieStore::use,
                          transfer, limits);
    if (!call.valid()) {
        if (args.report_out)
            *args.report_out = {FetchFailure::unreachable, 0, "no connection handle", std::nullopt};
        return {};
    }
    CURL* handle = call.handle();
    const std::string proxy = detail::proxy_url(args.proxy, args.socks);
    if (curl_easy_setopt(handle, CURLOPT_URL, detail::escape_url(target).c_str()) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_USERAGENT, agent.c_str()) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, args.no_redirect ? 0L : 1L) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_PROXY, proxy.c_str()) != CURLE_OK ||
        !call.set_method(method, body) || !call.set_headers(block))
        return {};

    const CURLcode result = call.perform();
    if (args.http_status_out)
        *args.http_status_out = transfer.headers_complete ? static_cast<int>(transfer.status) : 0;
    if (args.report_out)
        *args.report_out = call.report(result);
    if (result == CURLE_URL_MALFORMAT || result == CURLE_UNSUPPORTED_PROTOCOL)
        return {}; // the request could not be opened: out-arguments stay as they were

    const bool headers_fit =
        transfer.headers_complete && transfer.headers.size() < header_buffer_size;
    const std::string raw_headers =
        headers_fit ? transfer.headers : std::string(header_buffer_size, ' ');
    std::string cookies_out = collect_set_cookies(raw_headers);
    if (args.merge && args.cookies)
        cookies_out = merge_cookies(*args.cookies, cookies_out);
    if (args.response_headers_out)
        *args.response_headers_out = raw_headers;
    if (args.cookies_out)
        *args.cookies_out = std::move(cookies_out);

    // A cut transfer (stall, dropped connection, body over the cap) is a failed fetch: a partial
    // page would otherwise pass for a whole one.
    if (result != CURLE_OK)
        return {};
    return std::move(transfer.body);
}

} // namespace tovani
