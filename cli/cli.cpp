#include "cli/cli.h"

#include <CLI/CLI.hpp>

#include <charconv>

#include "cli/commands.h"

namespace tovani::cli {
namespace {

constexpr const char* version_text = "tovani " TOVANI_VERSION;

constexpr const char* exit_statuses = R"(Exit status:
  0  success
  1  nothing found (a search without results), or a failure on this machine
  2  usage error
  3  the site failed: unreachable, an HTTP error status, or it refused (blocked)
  4  the page came but does not fit the source's rule (its layout changed)
)";

// The number --source gives, or an explanation of why it is none.
std::string parse_source(CommandOptions& o) {
    const std::string& t = o.source_text;
    int value = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size()) {
        return "--source must be the number of a book source, not '" + t + "'";
    }
    if (value < 1 || value > max_source_id) {
        return "--source must be from 1 to " + std::to_string(max_source_id) + ", not " + t;
    }
    o.source = value;
    return {};
}

} // namespace

int run_cli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CLI::App app{"Tovani: search, list, read and download web novels from book sources", "tovani"};
    app.require_subcommand(1);
    app.set_version_flag("--version", version_text);
    app.footer(exit_statuses);

    CommandOptions o;
    auto add_source = [&](CLI::App* cmd) {
        return cmd->add_option("--source,-s", o.source_text,
                               "book source number (tovani sources lists them)");
    };
    auto add_json = [&](CLI::App* cmd) {
        cmd->add_flag("--json", o.json, "print JSON instead of a table");
    };

    CLI::App* search = app.add_subcommand("search", "search one book source, or all of them");
    auto* one = add_source(search);
    auto* all = search->add_flag("--all", o.all, "search every source at once, ranked");
    one->excludes(all);
    add_json(search);
    search->add_option("keyword", o.keyword, "title or author, as typed")->required();

    CLI::App* chapters = app.add_subcommand("chapters", "list the chapters of a book");
    add_source(chapters)->required();
    add_json(chapters);
    chapters->add_option("book_link", o.link, "the book's link from a search")->required();

    CLI::App* details = app.add_subcommand("details", "show a book's details");
    add_source(details)->required();
    add_json(details);
    details->add_option("--name", o.name, "book name (a table source shows it from the search)");
    details->add_option("--author", o.author, "author (a table source shows it from the search)");
    details->add_option("book_link", o.link, "the book's link from a search")->required();

    CLI::App* read = app.add_subcommand("read", "print the text of one chapter");
    add_source(read)->required();
    read->add_flag("--nbsp-always", o.nbsp_always,
                   "accepted for old scripts; every &nbsp; is a space anyway");
    read->add_option("chapter_link", o.link, "the chapter's link from the chapter list")
        ->required();

    CLI::App* download = app.add_subcommand("download", "download a whole book");
    add_source(download)->required();
    download
        ->add_option("--threads,-t", o.threads,
                     "parallel workers (the site's limit of "
                     "connections applies whatever this says)")
        ->check(CLI::Range(1, 200));
    download->add_option("--name", o.name, "book name for the file names (default: the book's)");
    download->add_option("--author", o.author, "author for the file names (default: the book's)");
    auto* merge = download->add_flag("--merge", o.merge, "join the chapters into one book file");
    auto* no_merge = download->add_flag("--no-merge", o.no_merge, "keep the chapter files");
    merge->excludes(no_merge);
    download
        ->add_option("--format", o.formats,
                     "book files to make: txt, epub or both (txt,epub); epub merges")
        ->delimiter(',')
        ->check(CLI::IsMember({"txt", "epub"}));
    download
        ->add_option("--encoding", o.encoding,
                     "the text book's encoding: gbk (CR LF, the default) or utf-8 (LF)")
        ->check(CLI::IsMember({"gbk", "utf-8"}));
    download
        ->add_option("--convert", o.convert,
                     "Chinese script of the book files: t2s (to simplified) or s2t")
        ->check(CLI::IsMember({"t2s", "s2t"}));
    download->add_option("--out", o.out, "folder to put 小说下载 in, instead of the desktop");
    download->add_option("book_link", o.link, "the book's link from a search")->required();

    CLI::App* sites = app.add_subcommand("sites", "show where each book source lives");
    add_json(sites);

    CLI::App* sources = app.add_subcommand("sources", "list the book sources and their rules");
    add_json(sources);
    sources->add_option("--export", o.export_id, "print source N's rule file as loaded")
        ->check(CLI::Range(1, max_source_id));

    CLI::App* shelf = app.add_subcommand("shelf", "list the books on the bookshelf");
    add_json(shelf);

    CLI::App* update = app.add_subcommand("update", "fetch the new chapters of shelf books");
    update->add_flag("--all", o.update_all, "every book on the shelf");
    update->add_option("name", o.names, "books by name (as on the shelf)");

    CLI::App* doctor = app.add_subcommand("doctor", "check that the book sources still work");
    add_source(doctor);
    doctor->add_option("--keyword", o.keyword, "search this instead of each rule's probe keyword");
    add_json(doctor);

    const std::vector<std::string> names{"search", "chapters", "details", "read",  "download",
                                         "sites",  "sources",  "doctor",  "shelf", "update"};
    if (args.size() > 1 && !args[1].empty() && args[1][0] != '-') {
        try {
            app.get_subcommand(args[1]);
        } catch (const CLI::OptionNotFound&) {
            std::string list;
            for (const std::string& n : names) {
                list += (list.empty() ? "" : ", ") + n;
            }
            err << "tovani: unknown command '" << args[1] << "' (commands: " << list << ")\n";
            return exit_usage;
        }
    }

    std::vector<const char*> argv;
    for (const auto& a : args) {
        argv.push_back(a.c_str());
    }
    CLI::App* chosen = nullptr;
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
        chosen = app.get_subcommands().front();
        if (chosen == search && o.source_text.empty() && !o.all) {
            throw CLI::RequiredError("--source N or --all");
        }
        if (chosen == update && o.update_all == !o.names.empty()) {
            throw CLI::ValidationError("name either --all or the books' names");
        }
        if (!o.source_text.empty()) {
            if (const std::string problem = parse_source(o); !problem.empty()) {
                throw CLI::ValidationError(problem);
            }
        }
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return exit_ok;
    } catch (const CLI::CallForAllHelp&) {
        out << app.help("", CLI::AppFormatMode::All);
        return exit_ok;
    } catch (const CLI::CallForVersion&) {
        out << version_text << "\n";
        return exit_ok;
    } catch (const CLI::ParseError& e) {
        CLI::App* sub = app.get_subcommands().empty() ? nullptr : app.get_subcommands().front();
        const std::string command = sub ? "tovani " + sub->get_name() : "tovani";
        err << command << ": " << e.what() << "\n";
        err << "run '" << command << " --help' for the options\n";
        return exit_usage;
    }

    Io io{out, err};
    const std::string& name = chosen->get_name();
    if (name == "search") {
        return search_command(o, io);
    }
    if (name == "chapters") {
        return chapters_command(o, io);
    }
    if (name == "details") {
        return details_command(o, io);
    }
    if (name == "read") {
        return read_command(o, io);
    }
    if (name == "download") {
        return download_command(o, io);
    }
    if (name == "sources") {
        return sources_command(o, io);
    }
    if (name == "doctor") {
        return doctor_command(o, io);
    }
    if (name == "shelf") {
        return shelf_command(o, io);
    }
    if (name == "update") {
        return update_command(o, io);
    }
    return sites_command(o, io);
}

} // namespace tovani::cli
