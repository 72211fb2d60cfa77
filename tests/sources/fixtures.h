#pragma once
// Fake sites for adapter tests: URL -> body, and a record of the URLs asked for.

#include <map>
#include <string>
#include <vector>

#include "sources/book_source.h"
#include "sources/source_table.h"
#include "text/encoding.h"

namespace tovani::test {

struct FakeWeb {
    std::map<std::string, std::string> pages; ///< exact URL -> body (200); others get 404
    std::vector<std::string> asked;

    Fetchers fetchers() {
        auto get = [this](const std::string& url, std::chrono::milliseconds) {
            asked.push_back(url);
            auto it = pages.find(url);
            if (it == pages.end()) {
                return FetchedPage{"<html>not found</html>", 404, FetchFailure::none, {}, {}};
            }
            return FetchedPage{it->second, 200, FetchFailure::none, {}, {}};
        };
        return {get, get};
    }
};

/// The built-in sources on made-up hosts: source n lives at "sN.test".
inline const SourceTable& fake_sources() {
    static const SourceTable table = builtin_source_table({{1, "s1.test"},
                                                           {2, "s2.test"},
                                                           {3, "s3.test"},
                                                           {4, "s4.test"},
                                                           {5, "s5.test"},
                                                           {6, "s6.test"},
                                                           {7, "s7.test"},
                                                           {8, "s8.test"}});
    return table;
}

/// Built-in source `id` on its made-up host.
inline const BookSource& source(int id) {
    return *fake_sources().find(id);
}

/// A page as a GBK site serves it.
inline std::string gbk_page(std::string_view utf8) {
    return gbk(utf8);
}

} // namespace tovani::test
