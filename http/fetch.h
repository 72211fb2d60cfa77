#pragma once
// One synchronous HTTP(S) request per call, returning the raw response body.
// Connections, DNS answers and TLS sessions are reused across calls and threads; every call is
// bounded in time (connect and stall limits) and in body size. Server certificates are not
// checked, redirects are followed across http and https unless switched off.

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace tovani {

/// Method codes 0..7: GET, POST, HEAD, PUT, OPTIONS, DELETE, TRACE, CONNECT; others mean GET.
const char* method_name(int method);

/// Why a request gave no usable page.
enum class FetchFailure {
    none,
    bad_url,     ///< the URL could not be used (no host, unknown scheme)
    unreachable, ///< name lookup, connect or TLS handshake failed
    timed_out,   ///< the connect, stall or overall time limit ran out
    cut_short,   ///< the connection broke before the whole answer arrived
    too_large,   ///< the body passed the size cap
};

/// What became of one request, for callers that tell failures apart. An HTTP error status is
/// not a failure here: the page arrived, and `http_status` says what it is.
struct FetchReport {
    FetchFailure failure = FetchFailure::none;
    int http_status = 0; ///< of the final response; 0 when none arrived
    std::string reason;  ///< the system's or libcurl's words (ASCII); empty without a failure
    /// A Retry-After header of the final response, in seconds from now.
    std::optional<std::chrono::seconds> retry_after;
};

/// Short English name of a failure ("unreachable", "timed out", ...).
const char* fetch_failure_name(FetchFailure failure);

struct FetchPageArgs {
    int method = 0;
    std::string post_text{};
    /// Not given: the process-wide cookie store sends and keeps cookies. Given (even empty):
    /// the store is bypassed and these cookies are sent.
    std::optional<std::string> cookies{};
    std::string* cookies_out = nullptr;          ///< cookies set by the response
    std::string headers{};                       ///< extra header lines, CR LF separated
    std::string* response_headers_out = nullptr; ///< raw headers, or 5000 spaces when unavailable
    bool no_redirect = false;
    std::string post_bytes{}; ///< wins over post_text when not empty
    std::string proxy{};
    bool merge = true;
    bool add_default_headers = true;
    bool normalise = true;
    bool socks = false;
    /// Not part of the classic call: the final HTTP status (0 when no response arrived).
    int* http_status_out = nullptr;
    /// Not part of the classic call: what became of the request.
    FetchReport* report_out = nullptr;
    /// Not part of the classic call: the limit for the whole request; 0 takes the process-wide
    /// FetchLimits::total_time.
    std::chrono::milliseconds timeout{0};
};

/// GETs (or the given method) `url`. Returns the body; empty on any failure.
std::string fetch_page(const std::string& url, const FetchPageArgs& args = {});

struct FetchPageWinhttpArgs {
    int method = 0;
    std::string post_text{};
    std::string cookies{};
    std::string* cookies_out = nullptr; ///< response cookies are appended
    std::string headers{};
    std::string* response_headers_out = nullptr;
    bool no_redirect = false;
    std::string user{};
    std::string password{};
    std::string proxy{};
    std::string proxy_user{};
    std::string proxy_password{};
    int timeout_s = 0; ///< 0 or less: 30 s
    std::string* location_out = nullptr;
    std::string* status_out = nullptr; ///< "200 OK", or a numbered error text
    std::string* body_out = nullptr;
    /// Not part of the classic call: what became of the request. A body cut short is reported
    /// here even when `body_out` receives what arrived.
    FetchReport* report_out = nullptr;
    bool merge = true;
    bool add_default_headers = true;
    std::string post_bytes{};
    bool normalise = true;
};

/// The second fetcher: numbered error texts, its own time-out, and the page returned as GBK
/// text decoded from the charset its meta tag declares within the first 1024 bytes.
std::string fetch_page_winhttp(const std::string& url, const FetchPageWinhttpArgs& args = {});

/// Limits applied to every request. Defaults: 15 s to connect, abort when fewer than
/// 1 byte/s arrive for 30 s, 60 s for the whole request, 64 MiB of body at most.
struct FetchLimits {
    std::chrono::seconds connect_timeout{15};
    std::chrono::seconds stall_time{30};
    long stall_bytes_per_second = 1;
    /// A server that dribbles a few bytes a second passes the stall check for ever; this ends
    /// any `fetch_page` call after this long. (`fetch_page_winhttp` has its own `timeout_s`.)
    std::chrono::milliseconds total_time{60000};
    std::size_t max_body_bytes = 64u << 20;
};
void set_fetch_limits(const FetchLimits& limits);
FetchLimits fetch_limits();

/// Forgets every cookie of the process-wide store (the one `fetch_page` uses without `cookies`).
void clear_cookie_store();

} // namespace tovani
