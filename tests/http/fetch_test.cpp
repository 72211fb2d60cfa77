#include "http/fetch.h"

#include "tests/http/fetch_fixture.h"
#include "tests/support/loopback_server.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

namespace tovani {
namespace {

using test::LoopbackServer;
using test::Reply;

constexpr std::string_view classic_agent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

class FetchPage : public test::FetchFixture {};

TEST_F(FetchPage, DefaultCallSendsTheAgentAndTheThreeDefaultLines) {
    server.page("/book/1.html", "<html>ok</html>");
    const std::string url = server.url("/book/1.html");

    int status = 0;
    EXPECT_EQ(fetch_page(url, {.http_status_out = &status}), "<html>ok</html>");
    EXPECT_EQ(status, 200);
    EXPECT_EQ(server.last_request().raw, "GET /book/1.html HTTP/1.1\r\n" + host_line() +
                                             "User-Agent: " + std::string(classic_agent) +
                                             "\r\n"
                                             "Accept: */*\r\n"
                                             "Referer: " +
                                             url +
                                             "\r\n"
                                             "Accept-Language: zh-cn\r\n\r\n");
}

TEST_F(FetchPage, MethodCodesAndBodies) {
    server.page("/m", "done");
    struct MethodCase {
        int method;
        std::string post_text;
        std::string post_bytes;
        std::string request_method;
        std::string body;
        std::string content_type;
    };
    const MethodCase cases[] = {
        {9, "", "", "GET", "", ""},
        {-1, "", "", "GET", "", ""},
        {0, "a=1", "", "GET", "", ""}, // GET never carries a body
        {1, "a=1", "", "POST", "a=1", "application/x-www-form-urlencoded"},
        {3, "text", "bytes", "PUT", "bytes", ""}, // post_bytes win over post_text
        {1, std::string(2 << 20, 'z'), "", "POST", std::string(2 << 20, 'z'),
         "application/x-www-form-urlencoded"}, // large enough for libcurl to want "Expect:
                                               // 100-continue"
        {5, "", "", "DELETE", "", ""},
        {4, "", "", "OPTIONS", "", ""},
    };
    for (const MethodCase& c : cases) {
        SCOPED_TRACE(c.method);
        EXPECT_EQ(
            fetch_page(server.url("/m"),
                       {.method = c.method, .post_text = c.post_text, .post_bytes = c.post_bytes}),
            "done");
        const test::SeenRequest seen = server.last_request();
        EXPECT_EQ(seen.method, c.request_method);
        EXPECT_TRUE(seen.body == c.body) << seen.body.size() << " bytes of body";
        EXPECT_EQ(seen.header("Content-Type"), c.content_type);
        EXPECT_EQ(seen.header_count("Expect"), 0u);
    }
}

// A bracketed IPv6 host reaches the server and goes out as the Host header with its brackets.
TEST(FetchPageIpv6, BracketedHostIsReached) {
    std::unique_ptr<LoopbackServer> v6;
    try {
        v6 = std::make_unique<LoopbackServer>(LoopbackServer::Scheme::http, true);
    } catch (const std::exception&) {
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    }
    v6->page("/s", "six");
    const std::string url = v6->url("/s?q=1");
    ASSERT_TRUE(url.starts_with("http://[::1]:"));
    int status = 0;
    EXPECT_EQ(fetch_page(url, {.http_status_out = &status}), "six");
    EXPECT_EQ(status, 200);
    EXPECT_EQ(v6->last_request().target, "/s?q=1");
    EXPECT_EQ(v6->last_request().header("Host"), "[::1]:" + std::to_string(v6->port()));
}

TEST_F(FetchPage, HeadReturnsNoBody) {
    server.page("/h", "body of a GET");
    int status = 0;
    EXPECT_EQ(fetch_page(server.url("/h"), {.method = 2, .http_status_out = &status}), "");
    EXPECT_EQ(status, 200);
    EXPECT_EQ(server.last_request().method, "HEAD");
}

TEST_F(FetchPage, CallerHeadersAreNormalisedAndCompletedOrSentAsGiven) {
    server.page("/p", "x");
    const std::string url = server.url("/p");

    fetch_page(url,
               {.headers = "user-agent: X\r\naccept: text/html\r\nx-requested-with: a\r\ngarbage"});
    EXPECT_EQ(server.last_request().header_lines(), host_line() +
                                                        "User-Agent: X\r\n"
                                                        "Accept: text/html\r\n"
                                                        "X-Requested-With: a\r\n"
                                                        "Referer: " +
                                                        url +
                                                        "\r\n"
                                                        "Accept-Language: zh-cn\r\n");

    fetch_page(
        url, {.headers = "x-a: 1\r\nx-empty: ", .add_default_headers = false, .normalise = false});
    EXPECT_EQ(server.last_request().header_lines(),
              host_line() + "User-Agent: " + std::string(classic_agent) +
                  "\r\n"
                  "x-a: 1\r\n"
                  "x-empty:\r\n");
}

TEST_F(FetchPage, UnreachableHostGivesEmptyBodySpacesAndNoCookies) {
    std::string headers = "stale";
    std::string cookies = "stale";
    int status = -1;
    const std::string body = fetch_page(
        "http://127.0.0.1:" + std::to_string(test::unused_port()) + "/",
        {.cookies_out = &cookies, .response_headers_out = &headers, .http_status_out = &status});
    EXPECT_EQ(body, "");
    EXPECT_EQ(headers, std::string(5000, ' '));
    EXPECT_EQ(cookies, "");
    EXPECT_EQ(status, 0);
}

TEST_F(FetchPage, GivenCookiesAreSentAndMergedWithTheReturnedOnes) {
    server.route("/c", [](const test::SeenRequest&) {
        Reply reply = Reply::page("c");
        reply.headers.emplace_back("Set-Cookie", "b=2; path=/");
        return reply;
    });
    struct CookieCase {
        std::string given;
        bool merge;
        std::string sent;
        std::string out;
    };
    const CookieCase cases[] = {
        {"a=1", true, "a=1", "b=2; a=1"},
        {"a=1; b=1", true, "a=1; b=1", "b=2; a=1"},
        {"a=1", false, "a=1", "b=2"},
        {"Cookie: z=9", true, "z=9", "b=2; Cookie: z=9"},
    };
    for (const CookieCase& c : cases) {
        SCOPED_TRACE(c.given);
        std::string out;
        fetch_page(server.url("/c"), {.cookies = c.given, .cookies_out = &out, .merge = c.merge});
        EXPECT_EQ(server.last_request().header("Cookie"), c.sent);
        EXPECT_EQ(server.last_request().header_count("Cookie"), 1u);
        EXPECT_EQ(out, c.out);
    }
}

TEST_F(FetchPage, CookieStoreIsUsedWithoutGivenCookiesAndBypassedWithThem) {
    server.route("/set", [](const test::SeenRequest& r) {
        Reply reply = Reply::page("set");
        reply.headers.emplace_back("Set-Cookie",
                                   r.target.ends_with("bypass") ? "t=2" : "s=1; path=/");
        return reply;
    });
    server.page("/check", "check");

    fetch_page(server.url("/set"));
    fetch_page(server.url("/check"));
    EXPECT_EQ(server.last_request().header("Cookie"), "s=1");

    // Given cookies, even empty ones, replace the store in both directions.
    fetch_page(server.url("/check"), {.cookies = ""});
    EXPECT_EQ(server.last_request().header_count("Cookie"), 0u);
    fetch_page(server.url("/set?bypass"), {.cookies = "g=1"});
    EXPECT_EQ(server.last_request().header("Cookie"), "g=1");

    // The store is one for the process: another thread sees s=1 and never t=2.
    std::thread([&] { fetch_page(server.url("/check")); }).join();
    EXPECT_EQ(server.last_request().header("Cookie"), "s=1");

    clear_cookie_store();
    fetch_page(server.url("/check"));
    EXPECT_EQ(server.last_request().header_count("Cookie"), 0u);
}

TEST_F(FetchPage, RedirectsAreFollowedAcrossHttpAndHttpsUnlessSwitchedOff) {
    LoopbackServer secure(LoopbackServer::Scheme::https);
    server.route("/start", [&](const test::SeenRequest&) {
        Reply reply = Reply::redirect(secure.url("/middle"));
        reply.body = "moved";
        return reply;
    });
    secure.route("/middle", [&](const test::SeenRequest&) {
        return Reply::redirect(server.url("/end"), 301);
    });
    server.page("/end", "arrived");

    std::string headers;
    int status = 0;
    EXPECT_EQ(fetch_page(server.url("/start"),
                         {.response_headers_out = &headers, .http_status_out = &status}),
              "arrived");
    EXPECT_EQ(status, 200);
    EXPECT_TRUE(headers.starts_with("HTTP/1.1 200 OK\r\n")) << headers;
    EXPECT_TRUE(headers.ends_with("\r\n\r\n")) << headers;
    ASSERT_EQ(secure.requests().size(), 1u);
    EXPECT_TRUE(secure.last_request().tls);
    EXPECT_EQ(server.last_request().target, "/end");

    EXPECT_EQ(fetch_page(server.url("/start"), {.response_headers_out = &headers,
                                                .no_redirect = true,
                                                .http_status_out = &status}),
              "moved");
    EXPECT_EQ(status, 302);
    EXPECT_NE(headers.find("\r\nLocation: " + secure.url("/middle") + "\r\n"), std::string::npos);
    EXPECT_EQ(secure.requests().size(), 1u);
}

TEST_F(FetchPage, ResponseHeadersOf5000BytesOrMoreBecomeSpaces) {
    struct SizeCase {
        std::size_t filler;
        bool fits;
    };
    for (const SizeCase c : {SizeCase{100, true}, SizeCase{6000, false}}) {
        SCOPED_TRACE(c.filler);
        server.route("/big", [&](const test::SeenRequest&) {
            Reply reply = Reply::page("body");
            reply.headers.emplace_back("X-Filler", std::string(c.filler, 'f'));
            reply.headers.emplace_back("Set-Cookie", "c=1");
            return reply;
        });
        std::string headers;
        std::string cookies;
        EXPECT_EQ(fetch_page(server.url("/big"),
                             {.cookies_out = &cookies, .response_headers_out = &headers}),
                  "body");
        if (c.fits) {
            EXPECT_TRUE(headers.starts_with("HTTP/1.1 200 OK\r\n"));
            EXPECT_EQ(cookies, "c=1");
        } else {
            EXPECT_EQ(headers, std::string(5000, ' '));
            EXPECT_EQ(cookies, "");
        }
    }
}

TEST_F(FetchPage, CutTransfersFailInsteadOfReturningPartOfThePage) {
    set_fetch_limits(
        {.stall_time = std::chrono::seconds(1), .total_time = std::chrono::milliseconds(2500)});
    const std::string page(100, 'p');
    struct CutCase {
        std::string name;
        Reply reply;
        int status;
        FetchFailure failure;
    };
    Reply stalled = Reply::page(page);
    stalled.body_limit = 0;
    stalled.ending = test::Ending::hold;
    Reply dropped = Reply::page(page);
    dropped.body_limit = 10;
    dropped.ending = test::Ending::close;
    // Three bytes a second pass the stall check; only the overall limit ends this one.
    Reply dripping = Reply::page(page);
    dripping.drip = std::chrono::milliseconds(333);
    const CutCase cases[] = {
        {"silent server", Reply::silence(), 0, FetchFailure::timed_out},
        {"stall after the headers", stalled, 200, FetchFailure::timed_out},
        {"dropped connection", dropped, 200, FetchFailure::cut_short},
        {"page that never ends", dripping, 200, FetchFailure::timed_out},
    };
    for (const CutCase& c : cases) {
        SCOPED_TRACE(c.name);
        server.route("/cut", [&](const test::SeenRequest&) { return c.reply; });
        int status = -1;
        FetchReport report;
        EXPECT_EQ(
            fetch_page(server.url("/cut"), {.http_status_out = &status, .report_out = &report}),
            "");
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(report.failure, c.failure);
        EXPECT_FALSE(report.reason.empty());
    }
    server.page("/whole", page);
    EXPECT_EQ(fetch_page(server.url("/whole")), page); // the handle is fine afterwards
}

// The report tells failures apart; an error status is a page, not a failure.
TEST_F(FetchPage, ReportTellsFailuresApart) {
    FetchReport report;
    EXPECT_EQ(fetch_page("http://127.0.0.1:" + std::to_string(test::unused_port()) + "/",
                         {.report_out = &report}),
              "");
    EXPECT_EQ(report.failure, FetchFailure::unreachable);
    EXPECT_EQ(report.reason, "Connection refused");
    EXPECT_EQ(report.http_status, 0);

    server.route("/busy", [](const test::SeenRequest&) {
        Reply r = Reply::page("busy");
        r.status = 503;
        r.headers.emplace_back("Retry-After", "7");
        return r;
    });
    EXPECT_EQ(fetch_page(server.url("/busy"), {.report_out = &report}), "busy");
    EXPECT_EQ(report.failure, FetchFailure::none);
    EXPECT_EQ(report.http_status, 503);
    EXPECT_EQ(report.retry_after, std::chrono::seconds(7));

    // A call's own limit wins over the process-wide one.
    server.route("/slow", [](const test::SeenRequest&) {
        Reply r = Reply::page("late");
        r.delay = std::chrono::milliseconds(3000);
        return r;
    });
    EXPECT_EQ(fetch_page(server.url("/slow"),
                         {.report_out = &report, .timeout = std::chrono::milliseconds(300)}),
              "");
    EXPECT_EQ(report.failure, FetchFailure::timed_out);

    EXPECT_EQ(fetch_page("http:///nohost", {.report_out = &report}), "");
    EXPECT_EQ(report.failure, FetchFailure::bad_url);
}

TEST_F(FetchPage, BodiesOverTheCapFail) {
    set_fetch_limits({.max_body_bytes = 1000});
    server.page("/exact", std::string(1000, 'e'));
    server.page("/long", std::string(5000, 'l'));
    server.route("/chunked", [](const test::SeenRequest&) {
        Reply reply;
        reply.headers.emplace_back("Transfer-Encoding", "chunked");
        for (int i = 0; i < 5; ++i)
            reply.body += "3e8\r\n" + std::string(1000, 'c') + "\r\n";
        reply.body += "0\r\n\r\n";
        return reply;
    });
    EXPECT_EQ(fetch_page(server.url("/exact")), std::string(1000, 'e'));
    EXPECT_EQ(fetch_page(server.url("/long")), "");
    EXPECT_EQ(fetch_page(server.url("/chunked")), "");
}

TEST_F(FetchPage, ConnectionsAreKeptOpenBetweenCalls) {
    server.page("/k", "k");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(fetch_page(server.url("/k")), "k");
    EXPECT_EQ(server.connection_count(), 1u);
}

TEST_F(FetchPage, ConcurrentCallsFromManyThreads) {
    server.route("/n", [](const test::SeenRequest& r) {
        Reply reply = Reply::page("page " + r.target.substr(r.target.find('?') + 1));
        reply.headers.emplace_back("Set-Cookie", "n=" + r.target.substr(r.target.find('?') + 1));
        return reply;
    });
    constexpr int threads = 4;
    constexpr int calls = 25;
    std::vector<std::thread> workers;
    std::vector<int> wrong(threads, 0);
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < calls; ++i) {
                const std::string id = std::to_string(t * calls + i);
                if (fetch_page(server.url("/n?" + id)) != "page " + id)
                    ++wrong[t];
            }
        });
    }
    for (std::thread& w : workers)
        w.join();
    EXPECT_EQ(wrong, std::vector<int>(threads, 0));
    EXPECT_EQ(server.requests().size(), std::size_t{threads * calls});
}

TEST_F(FetchPage, HttpProxyReceivesTheAbsoluteUrl) {
    server.page("http://books.invalid/list", "via proxy"); // routes ignore the query
    EXPECT_EQ(fetch_page("http://books.invalid/list?id=7",
                         {.proxy = "127.0.0.1:" + std::to_string(server.port())}),
              "via proxy");
    EXPECT_EQ(server.last_request().target, "http://books.invalid/list?id=7");
    EXPECT_EQ(server.last_request().header("Host"), "books.invalid");
}

// Takes one SOCKS4 connect request, keeps its bytes and refuses it.
class SocksRefuser {
public:
    SocksRefuser() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(fd_, 1);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            const int client = ::accept(fd_, nullptr, nullptr);
            if (client < 0)
                return;
            char byte = 1;
            // VN, CD, port, address, then the user id up to its NUL.
            while (::recv(client, &byte, 1, 0) == 1) {
                request_ += byte;
                if (request_.size() > 8 && byte == 0)
                    break;
            }
            const char refused[8] = {0, 0x5b, 0, 0, 0, 0, 0, 0};
            ::send(client, refused, sizeof refused, MSG_NOSIGNAL);
            ::close(client);
        });
    }
    ~SocksRefuser() {
        ::shutdown(fd_, SHUT_RDWR);
        if (thread_.joinable())
            thread_.join();
        ::close(fd_);
    }
    int port() const { return port_; }
    /// Waits for the request to be refused.
    std::string request() {
        if (thread_.joinable())
            thread_.join();
        return request_;
    }

private:
    int fd_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::string request_;
};

TEST_F(FetchPage, SocksProxyIsAskedToConnectToTheSite) {
    SocksRefuser socks;
    std::string headers;
    EXPECT_EQ(fetch_page("http://127.0.0.1:8085/list",
                         {.response_headers_out = &headers,
                          .proxy = "127.0.0.1:" + std::to_string(socks.port()),
                          .socks = true}),
              "");
    EXPECT_EQ(headers, std::string(5000, ' '));
    // SOCKS version 4, CONNECT, port 8085 (0x1f95), 127.0.0.1, empty user id.
    EXPECT_EQ(socks.request(), std::string("\x04\x01\x1f\x95\x7f\x00\x00\x01\x00", 9));
}

} // namespace
} // namespace tovani
