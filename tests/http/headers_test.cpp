#include "http/headers.h"

#include <gtest/gtest.h>

namespace tovani {
namespace {

struct TextCase {
    std::string input;
    std::string expected;
};

TEST(Headers, NormaliseCapitalisesNamesAndDropsLinesWithoutColon) {
    const TextCase cases[] = {
        {"accept-language: zh-cn\r\nx-requested-with: a",
         "Accept-Language: zh-cn\r\nX-Requested-With: a"},
        {"garbage\r\nreferer: http://a.b/\r\n", "Referer: http://a.b/"},
        {"name:value", "Name:value"},                           // no space added after the colon
        {"content-TYPE: text/html", "Content-TYPE: text/html"}, // only first letters change
        {"x-a: lower-case value: kept", "X-A: lower-case value: kept"},
        {"", ""},
        {"no colon here\r\nnor here", ""},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(normalise_headers(c.input), c.expected);
    }
}

TEST(Headers, CollectSetCookiesTakesExactlyNamedLinesWithoutAttributes) {
    const TextCase cases[] = {
        {"HTTP/1.1 200 OK\r\nSet-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\n\r\n", "a=1; b=2"},
        {"HTTP/1.1 200 OK\r\nset-cookie: e=3\r\nSet-Cookie:e=3\r\nSet-Cookie: f=4\r\n", "f=4"},
        {"HTTP/1.1 200 OK\r\nX-Set-Cookie: g=5\r\nContent-Type: text/html\r\n\r\n", ""},
        {"HTTP/1.1 200 OK\r\nSet-Cookie:  h=6 ; expires=Thu, 01 Jan 2099 00:00:00 GMT\r\n", "h=6"},
        {"HTTP/1.1 200 OK\r\nSet-Cookie: ; path=/\r\nSet-Cookie: i=7\r\n", "i=7"},
        {std::string(5000, ' '), ""},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(collect_set_cookies(c.input), c.expected);
    }
}

TEST(Headers, MergeCookiesLetsReturnedWinAndDropsDeleted) {
    struct MergeCase {
        std::string given;
        std::string returned;
        std::string expected;
    };
    const MergeCase cases[] = {
        {"a=1; b=2", "b=3; d=deleted", "b=3; a=1"},
        {"", "", ""},
        {"a=1", "", "a=1"},
        {"", "b=2", "b=2"},
        {"a=1;", "b=2", "b=2; a=1"},               // a trailing ";" still separates the last item
        {" a=1 ", " a=9 ", "a=9"},                 // trimmed before splitting
        {"a=1; a=1; c=3", "c=3; c=3", "c=3; a=1"}, // exact duplicates removed
        {"token", "other=1", "other=1; token"},    // an item without "=" is named by itself
        {"s=deleted", "", ""},
    };
    for (const MergeCase& c : cases) {
        SCOPED_TRACE(c.given + " | " + c.returned);
        EXPECT_EQ(merge_cookies(c.given, c.returned), c.expected);
    }
}

TEST(Headers, HeaderValueMatchesTheWholeNameInItsExactCase) {
    struct ValueCase {
        std::string block;
        std::string name;
        std::string expected;
    };
    const ValueCase cases[] = {
        {"Accept: */*\r\nConnection: keep-alive", "Connection", "keep-alive"},
        {"Accept: */*\r\nConnection: keep-alive", "connection", ""},
        {"Connection-Extra: 1\r\nConnection: close", "Connection", "close"},
        {"Referer: http://a.b/", "Referer", "http://a.b/"},
        {"Accept: */*", "Cookie", ""},
    };
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(c.block + " / " + c.name);
        EXPECT_EQ(header_value(c.block, c.name), c.expected);
    }
}

} // namespace
} // namespace tovani
