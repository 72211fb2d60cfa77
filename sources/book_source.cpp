#include "sources/book_source.h"

#include "http/fetch.h"

namespace tovani {

bool is_https_source(int source) { return source == 1 || source == 4 || source == 8; }

const Fetchers& network_fetchers() {
    static const Fetchers fetchers{
        [](const std::string& url) { return fetch_page(url); },
        [](const std::string& url) {
            std::string body;
            FetchPageWinhttpArgs args;
            args.body_out = &body;
            fetch_page_winhttp(url, args);
            return body;
        },
    };
    return fetchers;
}

} // namespace tovani
