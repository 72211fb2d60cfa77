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
