// `tovani shelf` and `tovani update`: the books downloaded so far, and bringing them up to date.

#include <nlohmann/json.hpp>

#include <ctime>
#include <memory>

#include "cli/cli.h"
#include "cli/commands.h"
#include "cli/table.h"
#include "download/book_update.h"
#include "download/shelf.h"
#include "text/encoding.h"

namespace tovani::cli {
namespace {

std::unique_ptr<Shelf> open_shelf(Io io) {
    std::string error;
    std::unique_ptr<Shelf> shelf = Shelf::open(Shelf::default_path(), &error);
    if (!shelf) {
        io.err << "tovani: " << error << "\n";
    }
    return shelf;
}

std::string date_of(std::time_t t) {
    if (t == 0) {
        return "-";
    }
    std::tm local{};
    localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

} // namespace

int shelf_command(const CommandOptions& o, Io io) {
    const std::unique_ptr<Shelf> shelf = open_shelf(io);
    if (!shelf) {
        return exit_no_match;
    }
    const std::vector<ShelfBook> books = shelf->books();
    if (o.json) {
        nlohmann::json rows = nlohmann::json::array();
        for (const ShelfBook& b : books) {
            rows.push_back({{"name", to_utf8(b.name)},
                            {"author", to_utf8(b.author)},
                            {"source", b.source},
                            {"link", to_utf8(b.link)},
                            {"downloaded", b.chapters_downloaded},
                            {"known", b.chapters_known},
                            {"formats", b.formats},
                            {"last_check", b.last_check},
                            {"last_update", b.last_update}});
        }
        io.out << rows.dump(2) << "\n";
        return exit_ok;
    }
    std::vector<std::vector<std::string>> rows;
    for (const ShelfBook& b : books) {
        rows.push_back(
            {to_utf8(b.name), to_utf8(b.author), std::to_string(b.source),
             std::to_string(b.chapters_downloaded) + "/" + std::to_string(b.chapters_known),
             date_of(b.last_update)});
    }
    print_table(io.out, {"书名", "作者", "书源", "已下载/章节", "最近更新"}, rows);
    return exit_ok;
}

int update_command(const CommandOptions& o, Io io) {
    const std::unique_ptr<Shelf> shelf = open_shelf(io);
    if (!shelf) {
        return exit_no_match;
    }
    const SourceTable table = load_sources(io);
    std::vector<ShelfBook> chosen;
    int status = exit_ok;
    const std::vector<ShelfBook> books = shelf->books();
    if (o.update_all) {
        chosen = books;
    } else {
        for (const std::string& name : o.names) {
            bool found = false;
            for (const ShelfBook& b : books) {
                if (to_utf8(b.name) == name) {
                    chosen.push_back(b);
                    found = true;
                }
            }
            if (!found) {
                io.err << "tovani update: no book named " << name << " on the shelf\n";
                status = exit_no_match;
            }
        }
    }
    const std::vector<UpdateReport> reports = update_books(*shelf, table, chosen);
    for (std::size_t i = 0; i < reports.size(); ++i) {
        const UpdateReport& r = reports[i];
        const std::string book = to_utf8(r.name) + "  " + to_utf8(r.author);
        if (!r.error.empty()) {
            io.err << book << ": " << to_utf8(r.error) << "\n";
            status = worse_status(status, exit_no_match);
            continue;
        }
        if (!r.outcome.ok()) {
            // The reports come in the order of the books asked for.
            const BookSource* source = table.find(chosen[i].source);
            io.err << book << ": "
                   << (source ? to_utf8(failure_text(*source, r.outcome))
                              : to_utf8(r.outcome.reason))
                   << "\n";
            status = worse_status(status, exit_status(r.outcome));
            continue;
        }
        io.out << book << ": " << r.new_chapters << " new chapters";
        if (r.failed_chapters > 0) {
            io.out << ", " << r.failed_chapters << " could not be fetched (run update again)";
        }
        io.out << "\n";
        for (const std::string& file : r.files) {
            io.out << "  " << to_utf8(file) << "\n";
        }
    }
    return status;
}

} // namespace tovani::cli
