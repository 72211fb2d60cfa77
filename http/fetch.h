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
    bool merge = true;
    bool add_default_headers = true;
    std::string post_bytes{};
    bool normalise = true;
};

/// The second fetcher: numbered error texts, its own time-out, and the page returned as GBK
/// text decoded from the charset its meta tag declares within the first 1024 bytes.
std::string fetch_page_winhttp(const std::string& url, const FetchPageWinhttpArgs& args = {});

/// Limits applied to every request. Defaults: 15 s to connect, abort when fewer than
/// 1 byte/s arrive for 30 s, 64 MiB of body at most.
struct FetchLimits {
    std::chrono::seconds connect_timeout{15};
    std::chrono::seconds stall_time{30};
    long stall_bytes_per_second = 1;
    std::size_t max_body_bytes = 64u << 20;
};
void set_fetch_limits(const FetchLimits& limits);
FetchLimits fetch_limits();

/// Forgets every cookie of the process-wide store (the one `fetch_page` uses without `cookies`).
void clear_cookie_store();

} // namespace tovani
