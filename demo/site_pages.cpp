#include "demo/site_pages.h"

#include <algorithm>

#include "demo/chapter_layout.h"
#include "text/encoding.h"

namespace tovani::demo {
namespace {

// The Chinese pieces of the page templates, converted to GBK once.
struct Words {
    std::string book_open = gbk("《");
    std::string book_close = gbk("》");
    std::string latest = gbk("最新章节");
    std::string body = gbk("正文");
    std::string volume = gbk("正文卷");
    std::string author_label = gbk("作者：");
    std::string status_label = gbk("状态：");
    std::string updated_label = gbk("更新时间：");
    std::string intro_label = gbk("【内容简介】");
    std::string results = gbk("搜索结果");
    std::string name_column = gbk("文章名称");
    std::string author_column = gbk("作者");
    std::string size_column = gbk("字数");
    std::string updated_column = gbk("更新");
    std::string status_column = gbk("状态");
    std::string home = gbk("首页");
    std::string contents = gbk("目录");
    std::string previous = gbk("上一章");
    std::string next = gbk("下一章");
    std::string report = gbk("章节报错");
    std::string ten_thousand_chars = gbk("万字");
    std::string category = gbk("小说");
    std::string check_title = gbk("安全验证");
    std::string check_text = gbk("请稍候，正在验证您的浏览器……");
};

const Words& words() {
    static const Words w;
    return w;
}

bool utf8_source(int source) {
    return source == 1 || source == 2 || source == 4 || source == 6 || source == 9;
}

PageBody finish(int source, std::string gbk_text) {
    if (utf8_source(source)) {
        return {to_utf8(gbk_text), "utf-8"};
    }
    return {std::move(gbk_text), "gbk"};
}

std::string head(int source, std::string_view title) {
    std::string t = "<!DOCTYPE html>\r\n<html>\r\n<head>\r\n";
    t += R"(<meta http-equiv="Content-Type" content="text/html; charset=)";
    t += utf8_source(source) ? "utf-8" : "gbk";
    t += "\" />\r\n<title>";
    t += title;
    t += "</title>\r\n";
    return t;
}

std::string id_text(int id) {
    return std::to_string(id);
}

std::string date_of(const DemoBook& book) {
    return book.update_time.substr(0, 10);
}

// The number of the chapter the book lists last.
int last_chapter(const DemoBook& book) {
    return book.order.empty() ? book.chapter_count : book.order.back();
}

std::string latest_name(const DemoLibrary& library, const DemoBook& book) {
    return library.chapter_name(book, last_chapter(book));
}

// The keyword as a pager link carries it: raw GBK, spaces as "+", and the characters that would
// end the attribute escaped.
std::string pager_keyword(std::string_view keyword) {
    std::string out;
    for (char c : keyword) {
        switch (c) {
        case ' ':
            out += '+';
            break;
        case '"':
            out += "%22";
            break;
        case '<':
            out += "%3C";
            break;
        case '>':
            out += "%3E";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string meta_tags(const DemoLibrary& library, std::string_view root, int source,
                      const DemoBook& book) {
    // The ninth site writes its tags with a space before the slash.
    auto tag = [source](std::string_view property, std::string_view value) {
        std::string t = "<meta property=\"";
        t += property;
        t += "\" content=\"";
        t += value;
        t += source == 9 ? "\" />\r\n" : "\"/>\r\n";
        return t;
    };
    const std::string r{root};
    std::string t;
    t += tag("og:type", "novel");
    t += tag("og:title", book.title);
    t += tag("og:description", book.description);
    t += tag("og:image", r + cover_path(book.id));
    t += tag("og:novel:category", words().category);
    t += tag("og:novel:author", book.author);
    t += tag("og:novel:book_name", book.title);
    t += tag("og:novel:read_url", r + book_path(source, book.id));
    t += tag("og:novel:status", book.status);
    t += tag("og:novel:update_time", book.update_time);
    t += tag("og:novel:latest_chapter_name", latest_name(library, book));
    t += tag("og:novel:latest_chapter_url", r + chapter_path(source, book.id, last_chapter(book)));
    return t;
}

// --- search pages -------------------------------------------------------------------------

std::string search_rows(int source, const DemoLibrary& library, std::string_view root,
                        const std::vector<const DemoBook*>& hits) {
    const Words& w = words();
    const std::string r{root};
    std::string t;
    for (const DemoBook* b : hits) {
        const std::string id = id_text(b->id);
        const std::string latest_link = chapter_path(source, b->id, last_chapter(*b));
        switch (source) {
        case 1: // name, link and author on one line
            t += R"(<div class="bookbox"><div class="bookinfo"><h4 class="bookname"><a href=")";
            t += book_path(1, b->id) + "\">" + b->title;
            t += R"(</a></h4><div class="author">)" + b->author;
            t += R"(</div><div class="uptime">)" + date_of(*b) + "</div></div></div>\r\n";
            break;
        case 2: // name cell and author cell on separate lines; the link names txt/ID.html
        case 3: // the same cells; the book link is absolute and lacks its trailing slash
            t += "<tr>\r\n<td class=\"odd\"><a href=\"" + r;
            t += source == 2 ? "/txt/" + id + ".html" : "/book/" + id;
            t += "\">" + b->title + "</a></td>\r\n";
            t += "<td class=\"even\"><a href=\"" + latest_link + "\" target=\"_blank\">";
            t += latest_name(library, *b) + "</a></td>\r\n";
            t += "<td class=\"odd\">" + b->author + "</td>\r\n";
            t += "<td class=\"even\" align=\"center\">" + date_of(*b) + "</td>\r\n</tr>\r\n";
            break;
        case 4: // one line, the first link is the book, the author span is the last span
            t += "<li><span class=\"s1\">[" + b->status + "]</span><span class=\"s2\"><a href=\"";
            t += book_path(4, b->id) + "\" target=\"_blank\">" + b->title;
            t += "</a></span><span class=\"s3\"><a href=\"" + latest_link + "\" target=\"_blank\">";
            t += latest_name(library, *b) + "</a></span><span class=\"s4\">" + b->author;
            t += "</span></li>\r\n";
            break;
        case 5: // handled by source5_page
            break;
        case 6: // name and author lines paired by position; links relative to the root
            t += "<div class=\"result-item\">\r\n<div class=\"bookname\"><a href=\"book/" + id;
            t += "/\">" + b->title + "</a></div>\r\n";
            t += "<div class=\"author\">" + b->author + "</div>\r\n";
            t += "<div class=\"latest\"><a href=\"book/" + id + "/";
            t += std::to_string(last_chapter(*b)) + ".html\">" + latest_name(library, *b);
            t += "</a></div>\r\n</div>\r\n";
            break;
        case 7: // name, link and author on one line, the author closing it
            t +=
                "<div class=\"bookbox\"><div class=\"bookimg\"><img src=\"" + r + cover_path(b->id);
            t += "\" /></div><div class=\"bookinfo\"><h4 class=\"bookname\"><a href=\"";
            t += book_path(7, b->id) + "\">" + b->title;
            t += "</a></h4><div class=\"author\">" + b->author + "</div>\r\n";
            t += "<div class=\"update\">" + w.updated_label + date_of(*b);
            t += "</div></div></div>\r\n";
            break;
        case 8: // one link per row; two centred odd cells per row, the author first
            t += "<tr id=\"nr\">\r\n<td class=\"odd\"><a href=\"" + r + book_path(8, b->id);
            t += "\">" + b->title + "</a></td>\r\n";
            t += "<td class=\"odd\" align=\"center\">" + b->author + "</td>\r\n";
            t += "<td class=\"even\">" + std::to_string(b->chapter_count * 3 / 10 + 1);
            t += w.ten_thousand_chars + "</td>\r\n";
            t += "<td class=\"odd\" align=\"center\">" + date_of(*b) + "</td>\r\n";
            t += "<td class=\"even\" align=\"center\">" + b->status + "</td>\r\n</tr>\r\n";
            break;
        case 9: // a list item per book: title link, writer, chapter count
            t += "<li class=\"item\"><a class=\"title\" href=\"" + book_path(9, b->id) + "\">";
            t += b->title + "</a> <span class=\"writer\">" + b->author + "</span> ";
            t += "<span class=\"count\">" + std::to_string(b->chapter_count) + "</span></li>\r\n";
            break;
        default:
            break;
        }
    }
    return t;
}

PageBody source5_page(const DemoLibrary& library, std::string_view keyword, int page,
                      int page_size) {
    const auto hits = library.search(keyword);
    const int size = std::max(1, page_size);
    const int pages = std::max(1, (static_cast<int>(hits.size()) + size - 1) / size);

    std::string t = head(5, words().results);
    t += "</head>\r\n<body>\r\n<div class=\"search\">\r\n";
    t += "\t<div class=\"conter\">\r\n\t<ul class=\"list\">\r\n";
    const std::size_t from = static_cast<std::size_t>(std::max(0, page - 1) * size);
    for (std::size_t i = from; i < hits.size() && i < from + static_cast<std::size_t>(size); ++i) {
        const DemoBook* b = hits[i];
        const std::string id = id_text(b->id);
        t += "\t<li class=\"conter1\"><a href=\"book/" + id + "/\">" + b->title + "</a></li>\r\n";
        t += "\t<li class=\"conter2\"><a href=\"" + chapter_path(5, b->id, last_chapter(*b));
        t += "\">" + latest_name(library, *b) + "</a></li>\r\n";
        t += "\t<li class=\"conter4\">" + b->author + "</li>\r\n";
    }
    t += "\t</ul>\r\n\t<div class=\"clear\"></div>\r\n\t<div id=\"pagebav\">";
    const std::string kw = pager_keyword(keyword);
    for (int p = 1; p <= pages; ++p) {
        const std::string n = std::to_string(p);
        if (p == page) {
            t += "<a class=\"c\">" + n + "</a>";
        } else {
            t += "<a href=\"/s/" + kw + "/" + n + "\">" + n + "</a>";
        }
    }
    t += "</div>\r\n\t</div>\r\n</div>\r\n</body>\r\n</html>\r\n";
    return finish(5, std::move(t));
}

// --- book pages ---------------------------------------------------------------------------

std::string dd_entry(std::string_view href, std::string_view name, bool space_before_equals) {
    std::string t = space_before_equals ? "<dd><a href =\"" : "<dd><a href=\"";
    t += href;
    t += "\">";
    t += name;
    t += "</a></dd>";
    return t;
}

// The newest chapters first, as the sites show them above the full list.
std::string latest_block(int source, const DemoLibrary& library, const DemoBook& book,
                         bool space_before_equals) {
    std::string t;
    const std::vector<int> ids = chapter_ids(book);
    for (std::size_t i = ids.size(); i > 0 && i + 6 > ids.size(); --i) {
        const int n = ids[i - 1];
        const std::string href = (source == 6 || source == 8) ? std::to_string(n) + ".html"
                                                              : chapter_path(source, book.id, n);
        t += dd_entry(href, library.chapter_name(book, n), space_before_equals) + "\r\n";
    }
    return t;
}

std::string book_body(int source, const DemoLibrary& library, std::string_view root,
                      const DemoBook& book) {
    const Words& w = words();
    const std::string r{root};
    const std::string dt_latest =
        "<dt>" + w.book_open + book.title + w.book_close + w.latest + "</dt>\r\n";
    const std::string dt_body =
        "<dt>" + w.book_open + book.title + w.book_close + w.body + "</dt>\r\n";
    std::string t = "<div class=\"info\">\r\n<h1>" + book.title + "</h1>\r\n<p>" + w.author_label +
                    book.author + "</p>\r\n<p>" + w.status_label + book.status +
                    "</p>\r\n</div>\r\n";
    const std::vector<int> ids = chapter_ids(book);
    const int last = last_chapter(book);
    switch (source) {
    case 1: // whole page matched, one entry per line
        t += "<div class=\"listmain\">\r\n<dl>\r\n";
        for (const int n : ids) {
            t +=
                dd_entry(chapter_path(1, book.id, n), library.chapter_name(book, n), true) + "\r\n";
        }
        t += "</dl>\r\n</div>\r\n";
        break;
    case 2: // after the last "正文</dt>", the whole chapter block on one line
        t += "<div class=\"listmain\">\r\n<dl>\r\n" + dt_latest;
        t += latest_block(2, library, book, false) + dt_body;
        for (const int n : ids) {
            t += dd_entry(chapter_path(2, book.id, n), library.chapter_name(book, n), false);
        }
        t += "\r\n</dl>\r\n</div>\r\n<div class=\"footer\">" + w.home + "</div>\r\n";
        break;
    case 3: // as source 2, one entry per line, absolute links
        t += "<div class=\"listmain\">\r\n<dl>\r\n" + dt_latest;
        t += latest_block(3, library, book, false) + dt_body;
        for (const int n : ids) {
            t += dd_entry(r + chapter_path(3, book.id, n), library.chapter_name(book, n), false);
            t += "\r\n";
        }
        t += "</dl>\r\n</div>\r\n<div class=\"footer\">" + w.home + "</div>\r\n";
        break;
    case 4: // after the last "正文</dt>", up to the first "</dl>"
        t += "<div class=\"listmain\">\r\n<dl>\r\n" + dt_latest;
        t += latest_block(4, library, book, false) + dt_body;
        for (const int n : ids) {
            t += dd_entry(chapter_path(4, book.id, n), library.chapter_name(book, n), false);
            t += "\r\n";
        }
        t += "</dl>\r\n</div>\r\n";
        break;
    case 5: { // details table, then one chapter per div
        t += "<table class=\"ffw\">\r\n<tr>\r\n<td rowspan=\"4\" width=\"120\"><img src=\"" + r;
        t += cover_path(book.id) + "\" width=\"90\" height=\"120\" alt=\"" + book.title;
        t += "\" /></td>\r\n<td class=\"th\">" + w.author_label + "</td><td class=\"tc\">";
        t += book.author + "</td>\r\n</tr>\r\n<tr>\r\n<td class=\"th\">" + w.updated_label;
        t += "</td><td class=\"tc\">" + book.update_time + "</td>\r\n</tr>\r\n";
        t += "<tr>\r\n<td class=\"th\">" + w.latest + "</td><td class=\"tc\"><a href=\"";
        t += chapter_path(5, book.id, last) + "\">" + latest_name(library, book);
        t += "</a></td>\r\n</tr>\r\n<tr>\r\n<td colspan=\"2\"><h4>" + w.intro_label;
        t += "</h4><br />";
        // Both break forms the details reader removes, alternately.
        for (std::size_t i = 0; i < book.description_sentences.size(); ++i) {
            if (i > 0) {
                t += i % 2 == 1 ? "<br>" : "<br/>";
            }
            t += book.description_sentences[i];
        }
        t += "</td>\r\n</tr>\r\n</table>\r\n<div class=\"chapterlist\">\r\n";
        for (const int n : ids) {
            t += "<div class=\"clc\"><a href=\"" + chapter_path(5, book.id, n) + "\">";
            t += library.chapter_name(book, n) + "</a></div>\r\n";
        }
        t += "</div>\r\n";
        break;
    }
    case 6: { // latest block first; even ids mark the full list with "正文卷"
        t += "<div id=\"list\">\r\n<dl>\r\n" + dt_latest + latest_block(6, library, book, true);
        t += "<dt>" + w.book_open + book.title + w.book_close;
        t += (book.id % 2 == 0 ? w.volume : w.body) + "</dt>\r\n";
        for (const int n : ids) {
            t += dd_entry(std::to_string(n) + ".html", library.chapter_name(book, n), true);
            t += "\r\n";
        }
        t += "</dl>\r\n</div>\r\n";
        break;
    }
    case 7: // whole page matched; the latest chapter is shown outside any dd
        t += "<p>" + w.latest + "<a href=\"" + chapter_path(7, book.id, last) + "\">";
        t += latest_name(library, book) + "</a></p>\r\n<div id=\"list\">\r\n<dl>\r\n";
        for (const int n : ids) {
            t +=
                dd_entry(chapter_path(7, book.id, n), library.chapter_name(book, n), true) + "\r\n";
        }
        t += "</dl>\r\n</div>\r\n";
        break;
    case 9: // a catalogue list of its own
        t +=
            "<div class=\"catalog\">\r\n<h2>" + w.contents + "</h2>\r\n<ul class=\"chapters\">\r\n";
        for (const int n : ids) {
            t += "<li><a href=\"" + chapter_path(9, book.id, n) + "\">";
            t += library.chapter_name(book, n) + "</a></li>\r\n";
        }
        t += "</ul>\r\n</div>\r\n";
        break;
    case 8: // between "zjlist" and "</dl>", links relative to the book
        t += "<p>" + w.latest + "<a href=\"" + std::to_string(last) + ".html\">";
        t += latest_name(library, book) + "</a></p>\r\n<div class=\"zjlist\">\r\n<dl>\r\n";
        for (const int n : ids) {
            t += dd_entry(std::to_string(n) + ".html", library.chapter_name(book, n), false);
            t += "\r\n";
        }
        t += "</dl>\r\n</div>\r\n";
        break;
    default:
        break;
    }
    return t;
}

} // namespace

std::string book_path(int source, int book_id) {
    switch (source) {
    case 2:
        return "/biquge_" + id_text(book_id) + "/";
    case 9:
        return "/novel/" + id_text(book_id) + "/";
    default:
        return "/book/" + id_text(book_id) + "/";
    }
}

std::string chapter_path(int source, int book_id, int number) {
    return book_path(source, book_id) + std::to_string(number) + ".html";
}

std::string cover_path(int book_id) {
    return "/cover/" + id_text(book_id) + ".png";
}

PageBody search_page(int source, const DemoLibrary& library, std::string_view root,
                     std::string_view keyword, int page, int page_size) {
    if (source == 5) {
        return source5_page(library, keyword, page, page_size);
    }
    const Words& w = words();
    const auto hits = library.search(keyword);
    std::string t = head(source, w.results);
    t += "</head>\r\n<body>\r\n<div id=\"main\">\r\n";
    switch (source) {
    case 2:
    case 3:
        t += "<table class=\"grid\" width=\"100%\" align=\"center\">\r\n<tr>\r\n<th>" +
             w.name_column + "</th>\r\n<th>" + w.latest + "</th>\r\n<th>" + w.author_column +
             "</th>\r\n<th>" + w.updated_column + "</th>\r\n</tr>\r\n";
        t += search_rows(source, library, root, hits);
        t += "</table>\r\n";
        break;
    case 4:
        t += "<div class=\"novelslist2\">\r\n<ul>\r\n<li><span class=\"s2\"><b>" + w.name_column +
             "</b></span><span class=\"s4\"><b>" + w.author_column + "</b></span></li>\r\n";
        t += search_rows(source, library, root, hits);
        t += "</ul>\r\n</div>\r\n";
        break;
    case 8:
        t += "<table class=\"grid\" width=\"100%\" align=\"center\">\r\n<tr align=\"center\">\r\n";
        t += "<th>" + w.name_column + "</th>\r\n<th>" + w.author_column + "</th>\r\n<th>" +
             w.size_column + "</th>\r\n<th>" + w.updated_column + "</th>\r\n<th>" +
             w.status_column + "</th>\r\n</tr>\r\n";
        t += search_rows(source, library, root, hits);
        // A second table with a link: only the first table holds results.
        t += "</table>\r\n<table class=\"footer\"><tr><td><a href=\"" + std::string{root} + "/\">" +
             w.home + "</a></td></tr></table>\r\n";
        break;
    case 9:
        t += "<ul class=\"results\">\r\n" + search_rows(source, library, root, hits) + "</ul>\r\n";
        break;
    default: // 1, 6, 7
        t += search_rows(source, library, root, hits);
        break;
    }
    t += "</div>\r\n</body>\r\n</html>\r\n";
    return finish(source, std::move(t));
}

PageBody book_page(int source, const DemoLibrary& library, std::string_view root,
                   const DemoBook& book) {
    std::string title = book.title + "_" + book.author;
    if (source == 3) {
        std::string page = to_utf8(head(3, title) + meta_tags(library, root, 3, book));
        page +=
            "</head>\r\n<body>\r\n" + book_body(3, library, root, book) + "</body>\r\n</html>\r\n";
        return {std::move(page), "gbk"};
    }
    std::string t = head(source, title);
    if (source != 5) {
        t += meta_tags(library, root, source, book);
    }
    t += "</head>\r\n<body>\r\n" + book_body(source, library, root, book);
    t += "</body>\r\n</html>\r\n";
    return finish(source, std::move(t));
}

PageBody chapter_page(int source, const DemoLibrary& library, std::string_view root,
                      const DemoBook& book, int number) {
    const Words& w = words();
    const ChapterLayout& layout = chapter_layout(source);
    const std::string name = library.chapter_name(book, number);

    const std::string content =
        join_paragraphs(library.chapter_paragraphs(book, number), layout.indent, layout.open,
                        layout.close, layout.separator);

    const std::string r{root};
    const std::string book_link = source == 6 || source == 8 ? "./" : book_path(source, book.id);
    auto chapter_href = [&](int n) {
        return source == 6 || source == 8 ? std::to_string(n) + ".html"
                                          : chapter_path(source, book.id, n);
    };
    std::string nav = "<div class=\"bottem\">";
    if (number > 1) {
        nav += "<a href=\"" + chapter_href(number - 1) + "\">" + w.previous + "</a>";
    }
    nav += "<a href=\"" + book_link + "\">" + w.contents + "</a>";
    if (number < book.chapter_count) {
        nav += "<a href=\"" + chapter_href(number + 1) + "\">" + w.next + "</a>";
    }
    nav += "</div>\r\n";

    std::string t = head(source, name + "_" + book.title);
    t += "</head>\r\n<body>\r\n<div class=\"reader\">\r\n<h1>" + name + "</h1>\r\n";
    switch (source) {
    case 1:
        t += std::string{layout.start_marker} + content + std::string{layout.end_marker};
        t += "<a href=\"javascript:posterror();\">" + w.report + "</a></p>\r\n</div>\r\n";
        break;
    case 5:
        t += "<div id=\"cp_content\">" + content + "<script>chapter_end();</script></div>\r\n";
        break;
    case 6:
        t += "<div id=\"content\" class=\"showtxt\">" + content + "<script>app2();</script>";
        t += "</div>\r\n";
        break;
    case 7:
        t += "<div id=\"content\" class=\"showtxt\">" + content + std::string{layout.end_marker};
        t += nav + "</div>\r\n</div>\r\n";
        break;
    case 9:
        t += "<div class=\"txtnav\">" + name + "</div>\r\n" + std::string{layout.start_marker};
        t += content + "</div>\r\n";
        break;
    default: // 2, 3, 4, 8
        t += std::string{layout.start_marker} + content + "</div>\r\n";
        break;
    }
    t += "</div>\r\n";
    if (source != 7) {
        t += nav;
    }
    t += "</body>\r\n</html>\r\n";
    return finish(source, std::move(t));
}

PageBody challenge_page(int source) {
    const Words& w = words();
    std::string t = head(source, w.check_title);
    t += "</head>\r\n<body>\r\n<div class=\"challenge\">" + w.check_text +
         "</div>\r\n</body>\r\n</html>\r\n";
    return finish(source, std::move(t));
}

PageBody error_page(int status) {
    return {"<html><head><title>" + std::to_string(status) + "</title></head><body><h1>" +
                std::to_string(status) + "</h1></body></html>\r\n",
            "utf-8"};
}

} // namespace tovani::demo
