#pragma once
// The libcurl side shared by both fetchers. One process-wide share holds the cookie store, DNS
// answers and TLS sessions; every thread keeps its own easy handles, and with them its own open
// connections, which later calls on that thread reuse. (libcurl's shared connection cache is
// not safe between concurrent threads, so connections are not shared across threads.)

#include "http/fetch.h"

#include <curl/curl.h>

#include <string>
#include <string_view>

namespace tovani::detail {

/// Whether a request takes part in the process-wide cookie store.
enum class CookieStore { use, bypass };

/// What one transfer collects from the server.
struct Transfer {
    std::string body;
    /// Raw headers of the latest response: status line and header lines, each ended by CR LF,
    /// then the empty line once `headers_complete`.
    std::string headers;
    long status = 0;               ///< status code of `headers`, 0 before any response
    bool headers_complete = false; ///< the empty line after `headers` arrived
    bool final_response = false;   ///< `headers` belong to the response the call ends with
    bool body_too_large = false;   ///< the body passed `max_body` and the transfer was cut
    std::size_t max_body = 0;
    bool follow_redirects = true;
};

/// One request on this thread's easy handle: reset on construction, its header list freed on
/// destruction. Not copyable; lives for one call.
class CurlCall {
public:
    CurlCall(CookieStore store, Transfer& transfer, const FetchLimits& limits);
    ~CurlCall();
    CurlCall(const CurlCall&) = delete;
    CurlCall& operator=(const CurlCall&) = delete;

    /// False when no easy handle could be had; nothing else may then be called.
    bool valid() const { return handle_ != nullptr; }
    CURL* handle() const { return handle_; }

    /// Request line method and body. The body goes out for any method but HEAD when it is not
    /// empty; POST and PUT always carry a Content-Length. `body` must outlive the call.
    bool set_method(int method, const std::string& body);
    /// Exactly these header lines (CR LF separated) besides Host, User-Agent and Content-Length:
    /// libcurl's own Accept, Expect and Content-Type are suppressed unless the block has them.
    bool set_headers(std::string_view block);
    CURLcode perform();
    /// What became of the request `perform` ran, from its result and the transfer.
    FetchReport report(CURLcode result) const;

private:
    CURL* handle_ = nullptr;
    char error_text_[CURL_ERROR_SIZE] = {};
    Transfer& transfer_;
    curl_slist* header_list_ = nullptr;
};

/// The URL with spaces and control bytes percent-encoded, which libcurl would refuse.
std::string escape_url(std::string_view url);
/// CURLOPT_PROXY text: "" for none; a bare address becomes an HTTP proxy, or SOCKS4 with `socks`.
std::string proxy_url(std::string_view proxy, bool socks);
/// Whether the block has a line of that header name (letter case ignored).
bool has_header_line(std::string_view block, std::string_view name);

} // namespace tovani::detail
