#pragma once
// A plain cpp-httplib client for the demo sites tests: one connection per request, targets sent
// exactly as given (no re-encoding), server certificates not checked.

#include <chrono>
#include <string>

#include <httplib.h>

#include "text/encoding.h"

namespace tovani::demo::test {

struct Fetched {
    bool answered = false; ///< a complete response arrived
    int status = 0;
    std::string body;
    std::string content_type;
    httplib::Error error = httplib::Error::Success;
};

inline Fetched fetch(const std::string& root, const std::string& target,
                     std::chrono::milliseconds read_timeout = std::chrono::seconds(10)) {
    httplib::Client client(root);
    client.enable_server_certificate_verification(false);
    client.set_url_encode(false);
    client.set_connection_timeout(std::chrono::seconds(5));
    client.set_read_timeout(read_timeout);
    Fetched f;
    if (auto res = client.Get(target)) {
        f.answered = true;
        f.status = res->status;
        f.body = res->body;
        f.content_type = res->get_header_value("Content-Type");
    } else {
        f.error = res.error();
    }
    return f;
}

/// The page as GBK text: UTF-8 pages are converted, GBK pages taken as they are.
inline std::string page_text(const Fetched& f, bool utf8) {
    return utf8 ? convert_charset(f.body) : f.body;
}

} // namespace tovani::demo::test
