#include "cli/commands.h"

#include <nlohmann/json.hpp>

#include "cli/cli.h"
#include "cli/table.h"
#include "http/fetch.h"
#include "sources/book_details.h"
#include "sources/chapter_list.h"
#include "sources/chapter_text.h"
#include "sources/search.h"
#include "text/encoding.h"

namespace tovani::cli {
namespace {

using nlohmann::json;

std::string u8(const std::string& gbk_text) { return to_utf8(gbk_text); }

// Loads the site configuration, or reports why it cannot be used.
std::optional<Sites> sites_or_report(Io io) {
    SitesLoad load = load_sites();
    if (!load.sites) {
        io.err << "tovani: " << load.error << "\n";
        return std::nullopt;
    }
    return std::move(load.sites);
}

int report(Io io, const Message& m) {
    io.err << u8(m.text) << "\n";
    return exit_failure;
}

} // namespace

int search_command(const CommandOptions& o, Io io) {
    const auto sites = sites_or_report(io);
    if (!sites) {
        return exit_failure;
    }
    const std::string keyword = utf8_to_text(o.keyword);
    if (!is_searchable_keyword(keyword)) {
        io.err << "tovani: the keyword is empty\n";
        return exit_usage;
    }
    const SearchOutcome outcome = search_source(*sites, o.source, keyword);
    if (outcome.message) {
        return report(io, *outcome.message);
    }
    if (o.json) {
        json rows = json::array();
        for (const SearchHit& h : outcome.hits) {
            rows.push_back({{"number", h.number},
                            {"name", u8(h.name)},
                            {"author", u8(h.author)},
                            {"link", u8(h.link)}});
        }
        io.out << rows.dump(2) << "\n";
        return exit_ok;
    }
    std::vector<std::vector<std::string>> rows;
    for (const SearchHit& h : outcome.hits) {
        rows.push_back({std::to_string(h.number), u8(h.name), u8(h.author), u8(h.link)});
    }
    print_table(io.out, {"序号", "书名", "作者", "链接"}, rows);
    return exit_ok;
}

int chapters_command(const CommandOptions& o, Io io) {
    const auto sites = sites_or_report(io);
    if (!sites) {
        return exit_failure;
    }
    const ChapterListResult list = list_chapters(*sites, o.source, utf8_to_text(o.link));
    if (auto m = chapter_list_message(o.source, list.status)) {
        return report(io, m->message);
    }
    if (o.json) {
        json rows = json::array();
        for (const ChapterEntry& c : list.chapters) {
            rows.push_back({{"number", c.number}, {"name", u8(c.name)}, {"link", u8(c.link)}});
        }
        io.out << rows.dump(2) << "\n";
        return exit_ok;
    }
    std::vector<std::vector<std::string>> rows;
    rows.reserve(list.chapters.size());
    for (const ChapterEntry& c : list.chapters) {
        rows.push_back({std::to_string(c.number), u8(c.name), u8(c.link)});
    }
    print_table(io.out, {"序号", "章节名", "章节链接"}, rows);
    return exit_ok;
}

int details_command(const CommandOptions& o, Io io) {
    SearchHit hit{1, utf8_to_text(o.name), utf8_to_text(o.author), utf8_to_text(o.link)};
    const DetailsOutcome outcome = request_book_details(o.source, hit);
    if (outcome.refusal) {
        return report(io, *outcome.refusal);
    }
    const BookDetails& d = *outcome.details;
    const std::vector<std::pair<const char*, const std::string*>> fields{
        {"cover_url", &d.cover_url},           {"author", &d.author},
        {"title", &d.title},                   {"update_time", &d.update_time},
        {"status", &d.status},                 {"latest_chapter", &d.latest_chapter},
        {"description", &d.description},
    };
    if (o.json) {
        json obj = json::object();
        for (const auto& [key, value] : fields) {
            obj[key] = u8(*value);
        }
        io.out << obj.dump(2) << "\n";
        return exit_ok;
    }
    const std::vector<const char*> labels{"封面", "作者", "书名", "更新", "状态", "最新章节",
                                          "内容简介"};
    std::vector<std::vector<std::string>> rows;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        rows.push_back({labels[i], u8(*fields[i].second)});
    }
    print_table(io.out, {"项目", "内容"}, rows);
    return exit_ok;
}

int read_command(const CommandOptions& o, Io io) {
    const std::string link = utf8_to_text(o.link);
    int status = 0;
    FetchPageArgs args;
    args.http_status_out = &status;
    const std::string body = fetch_page(link, args);
    if (body.empty()) {
        io.err << "tovani: could not fetch " << o.link
               << (status ? " (HTTP " + std::to_string(status) + ")" : std::string()) << "\n";
        return exit_failure;
    }
    const auto text = try_extract_chapter_text(o.source, body, o.nbsp_always);
    if (!text) {
        io.err << "tovani: the page has no chapter text for book source " << o.source << "\n";
        return exit_failure;
    }
    io.out << u8(*text) << "\n";
    return exit_ok;
}

int sites_command(const CommandOptions& o, Io io) {
    const auto sites = sites_or_report(io);
    if (!sites) {
        return exit_failure;
    }
    if (o.json) {
        json rows = json::array();
        for (int s = 1; s <= source_count; ++s) {
            rows.push_back({{"source", s}, {"root", sites->site_root(s)}, {"from", sites->origin(s)}});
        }
        io.out << rows.dump(2) << "\n";
        return exit_ok;
    }
    std::vector<std::vector<std::string>> rows;
    for (int s = 1; s <= source_count; ++s) {
        rows.push_back({std::to_string(s), sites->site_root(s), sites->origin(s)});
    }
    print_table(io.out, {"书源", "地址", "来源"}, rows);
    io.out << "sites file: " << sites_file_path() << "\n";
    return exit_ok;
}

} // namespace tovani::cli
