#include "http/curl_call_p.h"

#include "http/headers.h"
#include "text/text_helpers.h"

#include <array>
#include <charconv>
#include <cstring>
#include <mutex>

namespace tovani::detail {

namespace {

// The share and its locks live for the whole process and are never freed: easy handles of
// threads that end late (thread_local destructors) still unlock through them.
struct Share {
    CURLSH* handle = nullptr;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;
};

void lock_share(CURL*, curl_lock_data data, curl_lock_access, void* share) {
    static_cast<Share*>(share)->locks.at(data).lock();
}

void unlock_share(CURL*, curl_lock_data data, void* share) {
    static_cast<Share*>(share)->locks.at(data).unlock();
}

Share& process_share() {
    // A function-local static: curl_global_init runs exactly once, whichever thread is first.
    static Share* const share = [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        auto* s = new Share;
        s->handle = curl_share_init();
        if (s->handle) {
            curl_share_setopt(s->handle, CURLSHOPT_LOCKFUNC, lock_share);
            curl_share_setopt(s->handle, CURLSHOPT_UNLOCKFUNC, unlock_share);
            curl_share_setopt(s->handle, CURLSHOPT_USERDATA, s);
            curl_share_setopt(s->handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
            curl_share_setopt(s->handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
            curl_share_setopt(s->handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        }
        return s;
    }();
    return *share;
}

// Switches the handle's cookie engine on, working on the shared jar, for good: the engine
// survives curl_easy_reset. The usual way (CURLOPT_COOKIEFILE "" before each transfer) would
// leak libcurl's list of cookie files at every reset, so the list is loaded at once and freed,
// which also lets go of the jar, and the share is attached again to get it back.
void start_cookie_engine(CURL* handle, CURLSH* share) {
    curl_easy_setopt(handle, CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(handle, CURLOPT_COOKIELIST, "RELOAD");
    curl_easy_setopt(handle, CURLOPT_COOKIEFILE, nullptr);
    curl_easy_setopt(handle, CURLOPT_SHARE, share);
}

// Two handles per thread: the cookie engine can be switched on for a handle but never off
// again, so requests that bypass the store get a handle whose engine was never started.
struct ThreadHandles {
    CURL* with_store = nullptr;
    CURL* without_store = nullptr;

    ~ThreadHandles() {
        if (with_store)
            curl_easy_cleanup(with_store);
        if (without_store)
            curl_easy_cleanup(without_store);
    }

    CURL* get(CookieStore store) {
        CURL*& handle = store == CookieStore::use ? with_store : without_store;
        if (!handle) {
            Share& share = process_share();
            handle = curl_easy_init();
            if (handle && share.handle) {
                curl_easy_setopt(handle, CURLOPT_SHARE, share.handle);
                if (store == CookieStore::use)
                    start_cookie_engine(handle, share.handle);
            }
        }
        return handle;
    }
};

thread_local ThreadHandles thread_handles;

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && to_lower_text(a) == to_lower_text(b);
}

long status_code(std::string_view status_line) {
    const std::size_t space = status_line.find(' ');
    if (space == std::string_view::npos)
        return 0;
    long code = 0;
    const char* first = status_line.data() + space + 1;
    std::from_chars(first, status_line.data() + status_line.size(), code);
    return code;
}

size_t on_body(char* data, size_t size, size_t count, void* user) {
    auto& transfer = *static_cast<Transfer*>(user);
    const size_t length = size * count;
    if (transfer.body.size() + length > transfer.max_body) {
        transfer.body_too_large = true;
        return 0; // anything short of `length` aborts the transfer
    }
    transfer.body.append(data, length);
    return length;
}

size_t on_header(char* data, size_t size, size_t count, void* user) {
    auto& transfer = *static_cast<Transfer*>(user);
    const size_t length = size * count;
    std::string_view line(data, length);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);

    if (line.starts_with("HTTP/")) {
        // A new response (after a 1xx or a followed redirect) replaces the previous headers.
        transfer.headers.clear();
        transfer.headers_complete = false;
        transfer.final_response = false;
        transfer.status = status_code(line);
    } else if (transfer.headers_complete) {
        return length; // trailers after a chunked body are not part of the headers
    }

    transfer.headers.append(line).append("\r\n");
    if (line.empty()) {
        transfer.headers_complete = true;
        const long code = transfer.status;
        const bool will_follow = transfer.follow_redirects && code >= 300 && code < 400 &&
                                 code != 304 && has_header_line(transfer.headers, "Location");
        transfer.final_response = code >= 200 && !will_follow;
    }
    return length;
}

const char* method_names[] = {"GET",     "POST",   "HEAD",  "PUT",
                              "OPTIONS", "DELETE", "TRACE", "CONNECT"};

} // namespace

CurlCall::CurlCall(CookieStore store, Transfer& transfer, const FetchLimits& limits)
    : handle_(thread_handles.get(store)), transfer_(transfer) {
    if (!handle_)
        return;
    curl_easy_reset(handle_); // keeps the connections, the share and a started cookie engine
    curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle_, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(handle_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle_, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(handle_, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    // Any server certificate is accepted, as the sites are reached with their own ones.
    curl_easy_setopt(handle_, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(handle_, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(handle_, CURLOPT_PROXY_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(handle_, CURLOPT_PROXY_SSL_VERIFYHOST, 0L);
    // No proxy unless one is set below: proxy variables of the environment are ignored.
    curl_easy_setopt(handle_, CURLOPT_PROXY, "");

    transfer.max_body = limits.max_body_bytes;
    curl_easy_setopt(handle_, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(std::chrono::milliseconds(limits.connect_timeout).count()));
    curl_easy_setopt(handle_, CURLOPT_LOW_SPEED_LIMIT, limits.stall_bytes_per_second);
    curl_easy_setopt(handle_, CURLOPT_LOW_SPEED_TIME, static_cast<long>(limits.stall_time.count()));
    curl_easy_setopt(handle_, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(limits.max_body_bytes));

    if (limits.total_time.count() > 0)
        curl_easy_setopt(handle_, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.total_time.count()));
    curl_easy_setopt(handle_, CURLOPT_ERRORBUFFER, error_text_);

    curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, on_body);
    curl_easy_setopt(handle_, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(handle_, CURLOPT_HEADERFUNCTION, on_header);
    curl_easy_setopt(handle_, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(handle_, CURLOPT_MAXREDIRS, 20L);
}

CurlCall::~CurlCall() {
    if (handle_)
        curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(header_list_);
}

bool CurlCall::set_method(int method, const std::string& body) {
    if (method < 0 || method > 7)
        method = 0;
    const bool send_body = !body.empty() || method == 1 || method == 3;
    CURLcode rc = CURLE_OK;
    if (method == 2) {
        rc = curl_easy_setopt(handle_, CURLOPT_NOBODY,
                              1L); // a HEAD response has no body to wait for
    } else if (send_body) {
        // POST mode sends the body with its length; another method name replaces "POST".
        // (CUSTOMREQUEST is kept off for POST itself so a 302 after a POST turns into a GET.)
        rc = curl_easy_setopt(handle_, CURLOPT_POST, 1L);
        if (rc == CURLE_OK)
            rc = curl_easy_setopt(handle_, CURLOPT_POSTFIELDSIZE_LARGE,
                                  static_cast<curl_off_t>(body.size()));
        if (rc == CURLE_OK)
            rc = curl_easy_setopt(handle_, CURLOPT_POSTFIELDS, body.data());
        if (rc == CURLE_OK && method != 1)
            rc = curl_easy_setopt(handle_, CURLOPT_CUSTOMREQUEST, method_names[method]);
    } else if (method == 0) {
        rc = curl_easy_setopt(handle_, CURLOPT_HTTPGET, 1L);
    } else {
        rc = curl_easy_setopt(handle_, CURLOPT_CUSTOMREQUEST, method_names[method]);
    }
    return rc == CURLE_OK;
}

bool CurlCall::set_headers(std::string_view block) {
    curl_slist_free_all(header_list_);
    header_list_ = nullptr;
    auto add = [this](const std::string& entry) {
        curl_slist* grown = curl_slist_append(header_list_, entry.c_str());
        if (!grown)
            return false;
        header_list_ = grown;
        return true;
    };

    for (const std::string& line : split_text(block, "\r\n")) {
        const std::size_t colon = line.find(':');
        if (line.empty() || colon == std::string::npos)
            continue;
        // libcurl drops "Name:" with nothing after it; "Name;" sends it with an empty value.
        const bool empty_value = trim_text(std::string_view(line).substr(colon + 1)).empty();
        if (!add(empty_value ? line.substr(0, colon) + ";" : line))
            return false;
    }
    for (const char* own : {"Accept", "Expect", "Content-Type"}) {
        if (!has_header_line(block, own) && !add(std::string(own) + ":"))
            return false;
    }
    return curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, header_list_) == CURLE_OK;
}

CURLcode CurlCall::perform() {
    const CURLcode result = curl_easy_perform(handle_);
    if (result == CURLE_FILESIZE_EXCEEDED) // the declared length alone was over the cap
        transfer_.body_too_large = true;
    return result;
}

FetchReport CurlCall::report(CURLcode result) const {
    FetchReport r;
    r.http_status = transfer_.headers_complete ? static_cast<int>(transfer_.status) : 0;
    curl_off_t retry_after = 0;
    if (r.http_status != 0 &&
        curl_easy_getinfo(handle_, CURLINFO_RETRY_AFTER, &retry_after) == CURLE_OK &&
        retry_after > 0)
        r.retry_after = std::chrono::seconds(retry_after);
    if (result == CURLE_OK)
        return r;

    switch (result) {
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
        r.failure = FetchFailure::bad_url;
        break;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
        r.failure = FetchFailure::unreachable;
        break;
    case CURLE_OPERATION_TIMEDOUT:
        r.failure = FetchFailure::timed_out;
        break;
    case CURLE_FILESIZE_EXCEEDED:
        r.failure = FetchFailure::too_large;
        break;
    default:
        r.failure = transfer_.body_too_large ? FetchFailure::too_large : FetchFailure::cut_short;
        break;
    }
    // A refused or reset connection reads best in the system's words ("Connection refused").
    long os_error = 0;
    if (r.failure == FetchFailure::unreachable &&
        curl_easy_getinfo(handle_, CURLINFO_OS_ERRNO, &os_error) == CURLE_OK && os_error != 0)
        r.reason = std::strerror(static_cast<int>(os_error));
    else if (r.failure == FetchFailure::too_large)
        r.reason = "the page is larger than " + std::to_string(transfer_.max_body >> 20) + " MiB";
    else if (error_text_[0] != '\0')
        r.reason = error_text_;
    else
        r.reason = curl_easy_strerror(result);
    return r;
}

std::string escape_url(std::string_view url) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(url.size());
    for (const char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7f) {
            escaped += '%';
            escaped += hex[byte >> 4];
            escaped += hex[byte & 0x0f];
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string proxy_url(std::string_view proxy, bool socks) {
    if (proxy.empty())
        return {};
    if (proxy.find("://") != std::string_view::npos)
        return std::string(proxy);
    return (socks ? "socks4://" : "http://") + std::string(proxy);
}

bool has_header_line(std::string_view block, std::string_view name) {
    for (const std::string& line : split_text(block, "\r\n")) {
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos &&
            equals_ignoring_case(trim_text(std::string_view(line).substr(0, colon)), name))
            return true;
    }
    return false;
}

} // namespace tovani::detail

namespace tovani {

const char* fetch_failure_name(FetchFailure failure) {
    switch (failure) {
    case FetchFailure::none:
        return "ok";
    case FetchFailure::bad_url:
        return "bad URL";
    case FetchFailure::unreachable:
        return "unreachable";
    case FetchFailure::timed_out:
        return "timed out";
    case FetchFailure::cut_short:
        return "cut short";
    case FetchFailure::too_large:
        return "too large";
    }
    return "unknown";
}

void clear_cookie_store() {
    if (CURL* handle = detail::thread_handles.get(detail::CookieStore::use))
        curl_easy_setopt(handle, CURLOPT_COOKIELIST, "ALL");
}

} // namespace tovani
