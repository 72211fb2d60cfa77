#include "http/fetch.h"

#include "http/curl_call_p.h"
#include "http/headers.h"
#include "regex/regex_object.h"
#include "text/encoding.h"
#include "text/text_helpers.h"

#include <algorithm>
#include <memory>

namespace tovani {

namespace {

// Status texts, one per failure point of the request.
constexpr std::string_view url_error = "701 解析URL地址失败!";
constexpr std::string_view session_error = "702 创建WinHttp会话失败!";
constexpr std::string_view request_error = "704 创建WinHttp请求失败!";
constexpr std::string_view timeout_error = "705 设置超时时间失败!";
constexpr std::string_view credentials_error = "707 设置代理凭证失败!";
constexpr std::string_view redirect_error = "709 重定向设置失败!";
constexpr std::string_view headers_error = "710 设置协议头失败!";
constexpr std::string_view send_error = "711 发送请求失败!";
constexpr std::string_view response_error = "712 服务器未响应!";
constexpr std::string_view read_error = "713 读取数据失败!";

constexpr std::string_view charset_pattern = "<meta.+?charset=[^\\w]?([-\\w]+)";
constexpr std::size_t charset_window = 1024;
constexpr long default_timeout_ms = 30000;

struct DefaultLine {
    std::string_view looked_for;
    std::string_view line;
};
constexpr DefaultLine default_lines[] = {
    {"User-Agent: ", "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; "
                     "Trident/5.0)\r\n"},
    {"Accept: ", "Accept: text/html, application/xhtml+xml, */*\r\n"},
    {"Accept-Encoding: ", "Accept-Encoding: identity\r\n"},
    {"Accept-Language: ", "Accept-Language: zh-cn\r\n"},
    {"Content-Type:", "Content-Type: application/x-www-form-urlencoded\r\n"}, // POST only
    {"Cache-Control: ", "Cache-Control: no-cache\r\n"},
};

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlTextDeleter {
    void operator()(char* text) const { curl_free(text); }
};
using CurlText = std::unique_ptr<char, CurlTextDeleter>;

// The URL as libcurl will request it, or "" when it is not an http or https URL with a host.
std::string cracked_url(const std::string& url) {
    std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
    if (!parsed ||
        curl_url_set(parsed.get(), CURLUPART_URL, detail::escape_url(url).c_str(), 0) != CURLUE_OK)
        return {};
    char* part = nullptr;
    if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &part, 0) != CURLUE_OK)
        return {};
    const std::string scheme = CurlText(part).get();
    if (scheme != "http" && scheme != "https")
        return {};
    if (curl_url_get(parsed.get(), CURLUPART_HOST, &part, 0) != CURLUE_OK)
        return {};
    if (std::string_view(CurlText(part).get()).empty())
        return {};
    if (curl_url_get(parsed.get(), CURLUPART_URL, &part, 0) != CURLUE_OK)
        return {};
    return CurlText(part).get();
}

std::string request_headers(const FetchPageWinhttpArgs& args) {
    std::string block = args.headers.empty() ? std::string() : args.headers + "\r\n";
    if (args.add_default_headers) {
        for (const DefaultLine& d : default_lines) {
            if (d.looked_for == "Content-Type:" && args.method != 1)
                continue;
            if (!contains_text(block, d.looked_for, true))
                block += d.line;
        }
    }
    if (args.normalise)
        block = normalise_headers(block);
    if (contains_text(block, "Connection") && header_value(block, "Connection") == "keep-alive")
        block = replace_text(block, "Connection: keep-alive\r\n", "");
    if (!contains_text(block, "Cookie:", true) && !args.cookies.empty()) {
        block += contains_text(args.cookies, "Cookie:", true) ? "\r\n" : "\r\nCookie: ";
        block += args.cookies + "\r\n";
    }
    return block;
}

// Status line text from its tenth character to the line end: "200 OK" of "HTTP/1.1 200 OK".
std::string status_text(const std::string& headers) {
    if (headers.size() < 9)
        return {};
    const std::size_t end = headers.find("\r\n", 9);
    return headers.substr(9, end == std::string::npos ? std::string::npos : end - 9);
}

} // namespace

std::string fetch_page_winhttp(const std::string& url, const FetchPageWinhttpArgs& args) {
    RegexObject charset_sniff;
    auto fail = [&](std::string_view text) {
        if (args.status_out)
            *args.status_out = gbk(text);
        return std::string();
    };

    if (args.report_out)
        *args.report_out = {FetchFailure::bad_url, 0, "the request could not be made", {}};
    detail::Transfer transfer;
    transfer.follow_redirects = !args.no_redirect;
    const FetchLimits limits = fetch_limits();
    // This fetcher never uses the process cookie store: it sends only the cookies it is given.
    // The handle comes first because it also sets libcurl up for the URL parser.
    detail::CurlCall call(detail::CookieStore::bypass, transfer, limits);
    const std::string target = cracked_url(url);
    if (target.empty())
        return fail(url_error);
    if (!call.valid())
        return fail(session_error);
    CURL* handle = call.handle();

    const std::string proxy = detail::proxy_url(args.proxy, false);
    if (curl_easy_setopt(handle, CURLOPT_PROXY, proxy.c_str()) != CURLE_OK)
        return fail(session_error);

    // One overall limit for the whole call; the connect limit never exceeds it.
    const long timeout_ms = args.timeout_s > 0 ? args.timeout_s * 1000L : default_timeout_ms;
    const long connect_ms = std::min<long>(
        timeout_ms, static_cast<long>(std::chrono::milliseconds(limits.connect_timeout).count()));
    if (curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, timeout_ms) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, connect_ms) != CURLE_OK)
        return fail(timeout_error);

    const std::string& body = args.post_bytes.empty() ? args.post_text : args.post_bytes;
    if (curl_easy_setopt(handle, CURLOPT_URL, target.c_str()) != CURLE_OK ||
        !call.set_method(args.method, body))
        return fail(request_error);

    if (!args.user.empty() && !args.password.empty()) {
        if (curl_easy_setopt(handle, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC)) !=
                CURLE_OK ||
            curl_easy_setopt(handle, CURLOPT_USERNAME, args.user.c_str()) != CURLE_OK ||
            curl_easy_setopt(handle, CURLOPT_PASSWORD, args.password.c_str()) != CURLE_OK)
            return fail(credentials_error);
    }
    if (!args.proxy_user.empty() && !args.proxy_password.empty()) {
        if (curl_easy_setopt(handle, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC)) !=
                CURLE_OK ||
            curl_easy_setopt(handle, CURLOPT_PROXYUSERNAME, args.proxy_user.c_str()) != CURLE_OK ||
            curl_easy_setopt(handle, CURLOPT_PROXYPASSWORD, args.proxy_password.c_str()) !=
                CURLE_OK)
            return fail(credentials_error);
    }
    if (curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, args.no_redirect ? 0L : 1L) != CURLE_OK)
        return fail(redirect_error);
    if (!call.set_headers(request_headers(args)))
        return fail(headers_error);

    const CURLcode result = call.perform();
    if (args.report_out)
        *args.report_out = call.report(result);
    bool read_failed = false;
    if (result != CURLE_OK) {
        if (transfer.body_too_large)
            return fail(read_error);
        if (transfer.final_response) {
            read_failed = true; // the headers arrived, the body did not: go on with what came
        } else {
            curl_off_t sent_after = 0;
            curl_easy_getinfo(handle, CURLINFO_PRETRANSFER_TIME_T, &sent_after);
            const bool never_sent = transfer.status == 0 && sent_after == 0;
            return fail(never_sent ? send_error : response_error);
        }
    }

    const std::string& headers = transfer.headers;
    if (args.response_headers_out)
        *args.response_headers_out = headers;
    // A failed read keeps its status text, so a cut page never reads as "200 OK".
    if (args.status_out)
        *args.status_out = read_failed ? gbk(read_error) : status_text(headers);

    for (const std::string& line : split_text(headers, "\r\n")) {
        if (args.cookies_out && text_before(line, ": ") == "Set-Cookie") {
            const std::string cookie = collect_set_cookies(line);
            if (!cookie.empty())
                *args.cookies_out += cookie + "; ";
        }
        if (args.location_out && line.size() >= 10 &&
            to_lower_text(std::string_view(line).substr(0, 10)) == "location: ")
            *args.location_out = line.substr(10);
    }
    if (args.cookies_out) {
        std::string& cookies = *args.cookies_out;
        if (cookies.ends_with("; "))
            cookies.resize(cookies.size() - 2);
        if (args.merge && !args.cookies.empty())
            cookies = merge_cookies(args.cookies, cookies);
    }

    if (args.body_out)
        *args.body_out = transfer.body;
    std::string text = std::move(transfer.body);

    std::string declared;
    if (charset_sniff.create(charset_pattern, until_zero(text).substr(0, charset_window)))
        declared = charset_sniff.submatch_text(1, 1);
    if (!declared.empty() && declared != "gbk" && declared != "gb2312") {
        // An unknown charset leaves the page as it came rather than losing it.
        std::string decoded = convert_charset(text, declared, "GBK");
        if (!decoded.empty())
            text = std::move(decoded);
    }
    return text;
}

} // namespace tovani
