#include "http/url.h"

#include <gtest/gtest.h>

namespace tovani {
namespace {

struct UrlCase {
    std::string url;
    std::string host;
    std::string host_with_port;
    int port;
    std::string path;
};

TEST(Url, SplitsHostPortAndPath) {
    const UrlCase cases[] = {
        {"HTTP://A.B:81/x", "a.b", "a.b:81", 81, "/x"},
        {"https://a.b/", "a.b", "a.b", 443, "/"},
        {"https://a.b", "a.b", "a.b", 443, "/"},
        {"a.b/c", "a.b", "a.b", 80, "/c"},
        {"http://Www.Site.com/Book/12.HTML?Q=A#top", "www.site.com", "www.site.com", 80,
         "/Book/12.HTML?Q=A#top"},
        {"https://127.0.0.1:8443/s?k=%B6%B7", "127.0.0.1", "127.0.0.1:8443", 8443, "/s?k=%B6%B7"},
        // A host whose name occurs inside the scheme is still found behind it.
        {"http://t/x", "t", "t", 80, "/x"},
        {"http://tp:8080/a/b", "tp", "tp:8080", 8080, "/a/b"},
        // A colon without digits names no port.
        {"http://a.b:/x", "a.b", "a.b:", 80, "/x"},
        // Bracketed IPv6 hosts keep their brackets and their colons.
        {"http://[::1]:18082/s?q=1", "[::1]", "[::1]:18082", 18082, "/s?q=1"},
        {"https://[FE80::A:1]/b", "[fe80::a:1]", "[fe80::a:1]", 443, "/b"},
        {"http://[::1]", "[::1]", "[::1]", 80, "/"},
    };
    for (const UrlCase& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(url_host(c.url), c.host);
        EXPECT_EQ(url_host(c.url, true), c.host_with_port);
        EXPECT_EQ(url_port(c.url), c.port);
        EXPECT_EQ(url_path(c.url), c.path);
    }
}

} // namespace
} // namespace tovani
