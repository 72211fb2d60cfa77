// The page parsers of every built-in source through injected fetchers: the search (with its
// pager), the chapter list, the chapter text and the details. The first byte picks the source
// and the page kind; the rest is the pages the site "serves", one per request in order, cut at
// the piece separator; requests past the last page get 404. Besides surviving any page, the
// results keep their promises: hits and chapters are numbered from 1 and come only with ok.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "sources/book_details.h"
#include "sources/chapter_list.h"
#include "sources/chapter_text.h"
#include "sources/search.h"
#include "sources/source_table.h"
#include "text/encoding.h"

namespace {

using namespace tovani;

const std::vector<BookSource>& sources() {
    static const std::vector<BookSource> all = builtin_sources();
    return all;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || sources().empty()) {
        return 0;
    }
    const BookSource& source = sources()[data[0] % sources().size()];
    const int kind = (data[0] / 8) % 4;
    const std::vector<std::string_view> pages = fuzz::split(
        std::string_view(reinterpret_cast<const char*>(data + 1), size - 1), fuzz::piece_separator);

    std::size_t served = 0;
    const auto serve = [&](const std::string&, std::chrono::milliseconds) {
        FetchedPage page;
        if (served < pages.size()) {
            page.status = 200;
            page.body = std::string(pages[served]);
        } else {
            page.status = 404;
        }
        ++served;
        return page;
    };
    const Fetchers fetchers{serve, serve};
    const std::string book_link = source.site_root() + "/book/1/";

    switch (kind) {
    case 0: {
        const SearchOutcome found = search_source(source, gbk("青衫客"), fetchers);
        FUZZ_CHECK(found.outcome.ok() == !found.hits.empty());
        for (std::size_t i = 0; i < found.hits.size(); ++i) {
            FUZZ_CHECK(found.hits[i].number == static_cast<int>(i) + 1);
        }
        // The pager follows at most its rule's number of pages.
        const auto& pager = source.rule.search.pager;
        FUZZ_CHECK(served <= 1 + static_cast<std::size_t>(pager ? pager->max_pages : 0));
        break;
    }
    case 1: {
        const ChapterListResult list = list_chapters(source, book_link, fetchers);
        FUZZ_CHECK((list.status == ChapterListStatus::ok) == list.outcome.ok());
        FUZZ_CHECK(list.outcome.ok() || list.chapters.empty());
        for (std::size_t i = 0; i < list.chapters.size(); ++i) {
            FUZZ_CHECK(list.chapters[i].number == static_cast<int>(i) + 1);
        }
        break;
    }
    case 2: {
        const ChapterTextResult text = fetch_chapter_text(source, book_link + "1.html", fetchers);
        FUZZ_CHECK(text.outcome.ok() || text.text.empty());
        break;
    }
    default: {
        const SearchHit hit{1, gbk("星河渡舟"), gbk("青衫客"), book_link};
        const DetailsOutcome details = request_book_details(source, hit, fetchers);
        FUZZ_CHECK(!details.details || details.outcome.ok());
        break;
    }
    }
    return 0;
}
