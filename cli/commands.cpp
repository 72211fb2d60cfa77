#include "cli/commands.h"

#include <nlohmann/json.hpp>

#include "cli/cli.h"
#include "cli/table.h"
#include "sources/book_details.h"
#include "sources/chapter_list.h"
#include "sources/chapter_text.h"
#include "sources/search.h"
#include "sources/search_all.h"
#include "text/encoding.h"

namespace tovani::cli {
namespace {

using nlohmann::json;

std::string u8(const std::string& gbk_text) {
    return to_utf8(gbk_text);
}

json hit_json(const SearchHit& h) {
    return {
        {"number", h.number}, {"name", u8(h.name)}, {"author", u8(h.author)}, {"link", u8(h.link)}};
}

int search_one(const CommandOptions& o, Io io, const std::string& keyword) {
    const SourceTable table = load_sources(io);
    const BookSource* source = pick_source(table, o, io);
    if (!source) {
        return exit_usage;
    }
    const SearchOutcome found = search_source(*source, keyword);
    if (!found.outcome.ok()) {
        if (found.outcome.kind == OutcomeKind::no_match) {
            io.err << (found.pattern_error ? "正则创建失败，请检查正则表达式语句是否有误！"
                                           : "搜索不到！")
                   << "\n";
            if (o.json) {
                io.out << "[]\n";
            }
            return exit_no_match;
        }
        return report_failure(io, *source, found.outcome);
    }
    if (found.pages_capped) {
        io.err << "tovani: the site lists more result pages than the rule follows ("
               << source->rule.search.pager->max_pages << "); showing the rows so far\n";
    }
    if (o.json) {
        json rows = json::array();
        for (const SearchHit& h : found.hits) {
            rows.push_back(hit_json(h));
        }
        io.out << rows.dump(2) << "\n";
        return exit_ok;
    }
    std::vector<std::vector<std::string>> rows;
    for (const SearchHit& h : found.hits) {
        rows.push_back({std::to_string(h.number), u8(h.name), u8(h.author), u8(h.link)});
    }
    print_table(io.out, {"序号", "书名", "作者", "链接"}, rows);
    return exit_ok;
}

int search_all(const CommandOptions& o, Io io, const std::string& keyword) {
    const SourceTable table = load_sources(io);
    const AllSearchOutcome found = search_all_sources(source_pointers(table.sources()), keyword);
    int failed = 0;
    for (const SourceSearch& s : found.per_source) {
        const Outcome& outcome = s.result.outcome;
        if (!outcome.ok() && outcome.kind != OutcomeKind::no_match) {
            ++failed;
            io.err << "tovani: " << u8(failure_text(*table.find(s.source), outcome)) << "\n";
        }
    }
    if (o.json) {
        json rows = json::array();
        for (const SourceHit& h : found.hits) {
            json row = hit_json(h.hit);
            row["source"] = h.source;
            rows.push_back(std::move(row));
        }
        io.out << rows.dump(2) << "\n";
    } else if (found.any_rows()) {
        std::vector<std::vector<std::string>> rows;
        for (const SourceHit& h : found.hits) {
            rows.push_back({std::to_string(h.hit.number), u8(source_label(*table.find(h.source))),
                            u8(h.hit.name), u8(h.hit.author), u8(h.hit.link)});
        }
        print_table(io.out, {"序号", "书源", "书名", "作者", "链接"}, rows);
    }
    if (failed > 0) {
        io.err << "tovani: " << failed << " of " << found.per_source.size()
               << " sources failed; the rows of the others are shown\n";
    }
    if (found.any_rows()) {
        return exit_ok;
    }
    if (failed == static_cast<int>(found.per_source.size())) {
        return exit_site_failed;
    }
    io.err << "搜索不到！\n";
    return exit_no_match;
}

} // namespace

int worse_status(int a, int b) {
    const auto weight = [](int status) {
        switch (status) {
        case exit_ok:
            return 0;
        case exit_no_match:
            return 1;
        case exit_layout_changed:
            return 2;
        case exit_site_failed:
            return 3;
        default:
            return 4;
        }
    };
    return weight(b) > weight(a) ? b : a;
}

int exit_status(const Outcome& outcome) {
    switch (outcome.kind) {
    case OutcomeKind::ok:
        return exit_ok;
    case OutcomeKind::no_match:
        return exit_no_match;
    case OutcomeKind::unreachable:
    case OutcomeKind::http_error:
    case OutcomeKind::blocked:
        return exit_site_failed;
    case OutcomeKind::layout_changed:
        return exit_layout_changed;
    }
    return exit_no_match;
}

SourceTable load_sources(Io io) {
    SourceTable table = load_source_table();
    for (const std::string& problem : table.problems()) {
        io.err << "tovani: " << problem << "\n";
    }
    return table;
}

const BookSource* pick_source(const SourceTable& table, const CommandOptions& o, Io io) {
    const BookSource* source = table.find(o.source);
    if (!source) {
        io.err << "tovani: there is no book source " << o.source
               << " ('tovani sources' lists them)\n";
        return nullptr;
    }
    return source;
}

int report_failure(Io io, const BookSource& source, const Outcome& outcome) {
    io.err << "tovani: " << u8(failure_text(source, outcome)) << "\n";
    return exit_status(outcome);
}

int search_command(const CommandOptions& o, Io io) {
    const std::string keyword = utf8_to_text(o.keyword);
    if (!is_searchable_keyword(keyword)) {
        io.err << "tovani search: the keyword is empty\n";
        return exit_usage;
    }
    return o.all ? search_all(o, io, keyword) : search_one(o, io, keyword);
}

int chapters_command(const CommandOptions& o, Io io) {
    const SourceTable table = load_sources(io);
    const BookSource* source = pick_source(table, o, io);
    if (!source) {
        return exit_usage;
    }
    const ChapterListResult list = list_chapters(*source, utf8_to_text(o.link));
    if (list.status != ChapterListStatus::ok) {
        if (list.status == ChapterListStatus::page_unsupported) {
            io.err << "怎么说呢，部分小说本身会有乱码的出现，我就不处理了，所以干脆不显示，换个书源"
                      "试试。\n";
        } else if (!list.outcome.site_failed()) {
            io.err << "拉取章节失败！\n";
        }
        return report_failure(io, *source, list.outcome);
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
    const SourceTable table = load_sources(io);
    const BookSource* source = pick_source(table, o, io);
    if (!source) {
        return exit_usage;
    }
    SearchHit hit{1, utf8_to_text(o.name), utf8_to_text(o.author), utf8_to_text(o.link)};
    const DetailsOutcome outcome = request_book_details(*source, hit);
    if (outcome.refused) {
        io.err << "暂不支持！\n";
        return exit_no_match;
    }
    if (!outcome.details) {
        return report_failure(io, *source, outcome.outcome);
    }
    const BookDetails& d = *outcome.details;
    const std::vector<std::pair<const char*, const std::string*>> fields{
        {"cover_url", &d.cover_url},
        {"author", &d.author},
        {"title", &d.title},
        {"update_time", &d.update_time},
        {"status", &d.status},
        {"latest_chapter", &d.latest_chapter},
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
    const std::vector<const char*> labels{"封面", "作者",     "书名",    "更新",
                                          "状态", "最新章节", "内容简介"};
    std::vector<std::vector<std::string>> rows;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        rows.push_back({labels[i], u8(*fields[i].second)});
    }
    print_table(io.out, {"项目", "内容"}, rows);
    return exit_ok;
}

int read_command(const CommandOptions& o, Io io) {
    const SourceTable table = load_sources(io);
    const BookSource* source = pick_source(table, o, io);
    if (!source) {
        return exit_usage;
    }
    const ChapterTextResult chapter = fetch_chapter_text(*source, utf8_to_text(o.link));
    if (!chapter.outcome.ok()) {
        return report_failure(io, *source, chapter.outcome);
    }
    io.out << u8(chapter.text) << "\n";
    return exit_ok;
}

namespace {

// Prints one JSON object per source, made by row_of, with "error" added where the source's
// host cannot be used.
template <class RowOf> void print_source_json(const SourceTable& table, Io io, RowOf row_of) {
    json rows = json::array();
    for (const BookSource& s : table.sources()) {
        json row = row_of(s);
        if (!s.usable()) {
            row["error"] = s.host_error;
        }
        rows.push_back(std::move(row));
    }
    io.out << rows.dump(2) << "\n";
}

} // namespace

int sites_command(const CommandOptions& o, Io io) {
    const SourceTable table = load_sources(io);
    if (o.json) {
        print_source_json(table, io, [](const BookSource& s) -> json {
            return {{"source", s.id()}, {"root", s.site_root()}, {"from", s.host_origin}};
        });
        return exit_ok;
    }
    std::vector<std::vector<std::string>> rows;
    for (const BookSource& s : table.sources()) {
        rows.push_back(
            {std::to_string(s.id()), s.usable() ? s.site_root() : s.host_error, s.host_origin});
    }
    print_table(io.out, {"书源", "地址", "来源"}, rows);
    io.out << "sites file: " << sites_file_path() << "\n";
    return exit_ok;
}

int sources_command(const CommandOptions& o, Io io) {
    const SourceTable table = load_sources(io);
    if (o.export_id != 0) {
        const BookSource* source = table.find(o.export_id);
        if (!source) {
            io.err << "tovani sources: there is no book source " << o.export_id << "\n";
            return exit_usage;
        }
        io.out << source->rule_text;
        return exit_ok;
    }
    if (o.json) {
        print_source_json(table, io, [](const BookSource& s) -> json {
            return {{"source", s.id()},
                    {"name", s.rule.name},
                    {"host", s.host},
                    {"root", s.site_root()},
                    {"rule", s.rule_origin}};
        });
        return exit_ok;
    }
    std::vector<std::vector<std::string>> rows;
    for (const BookSource& s : table.sources()) {
        rows.push_back({std::to_string(s.id()), s.rule.name,
                        s.usable() ? s.host : "(" + s.host_error + ")", s.rule_origin});
    }
    print_table(io.out, {"书源", "名称", "主机", "规则"}, rows);
    io.out << "your rule files: " << user_rules_folder() << "/*.toml\n";
    return exit_ok;
}

} // namespace tovani::cli
