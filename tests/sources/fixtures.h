#pragma once
// Fake sites for adapter tests: URL -> body, and a record of the URLs asked for.

#include <map>
#include <string>
#include <vector>

#include "sources/book_source.h"
#include "sources/sites_config.h"
#include "text/encoding.h"

namespace tovani::test {

struct FakeWeb {
    std::map<std::string, std::string> pages; ///< exact URL -> body
    std::vector<std::string> asked;

    Fetchers fetchers() {
        auto get = [this](const std::string& url) {
            asked.push_back(url);
            auto it = pages.find(url);
            return it == pages.end() ? std::string() : it->second;
        };
        return {get, get};
    }
};

/// Sites on made-up hosts: source n lives at "sN.test".
inline Sites fake_sites() {
    return Sites::from_hosts({"s1.test", "s2.test", "s3.test", "s4.test", "s5.test", "s6.test",
                              "s7.test", "s8.test"});
}

/// A page as a GBK site serves it.
inline std::string gbk_page(std::string_view utf8) { return gbk(utf8); }

} // namespace tovani::test
