#pragma once
// The HTML of the eight demo sites: search pages, book pages (chapter list and details) and
// chapter pages, each in the shape and charset the source's reader expects. Pure functions of
// the library and the request, so they are cheap to test without a server.

#include <string>
#include <string_view>

#include "demo/demo_library.h"

namespace tovani::demo {

struct PageBody {
    std::string bytes;
    std::string charset; ///< "utf-8" or "gbk", for the Content-Type header
};

/// Where the pages of `source` live, relative to its site root.
std::string book_path(int source, int book_id);
std::string chapter_path(int source, int book_id, int number);
std::string cover_path(int book_id);

/// `root` is the scheme and host the client addressed, without a trailing slash; absolute
/// links on the pages start with it. `keyword` is GBK. `page` (1-based) and `page_size` only
/// matter for source 5, whose results are spread over several pages.
PageBody search_page(int source, const DemoLibrary& library, std::string_view root,
                     std::string_view keyword, int page, int page_size);

/// The book page: table of contents and details. Source 3 reads the same page as GBK for its
/// chapter list and as UTF-8 for its details, so its head (the meta tags) is UTF-8 and its body
/// GBK.
PageBody book_page(int source, const DemoLibrary& library, std::string_view root,
                   const DemoBook& book);

PageBody chapter_page(int source, const DemoLibrary& library, std::string_view root,
                      const DemoBook& book, int number);

/// A "checking your browser" page: 200 OK in the source's charset, without any content marker.
PageBody challenge_page(int source);

/// Plain error page for fault statuses.
PageBody error_page(int status);

} // namespace tovani::demo
