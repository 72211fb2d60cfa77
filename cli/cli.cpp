#include "cli/cli.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "cli/commands.h"

namespace tovani::cli {

int run_cli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CLI::App app{"Tovani: search, list, read and download web novels from eight book sources",
                 "tovani"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "tovani 1.3.0");

    CommandOptions o;
    auto add_source = [&](CLI::App* cmd) {
        cmd->add_option("--source,-s", o.source, "book source, 1 to 8")
            ->required()
            ->check(CLI::Range(1, 8));
    };
    auto add_json = [&](CLI::App* cmd) {
        cmd->add_flag("--json", o.json, "print JSON instead of a table");
    };

    CLI::App* search = app.add_subcommand("search", "search a book source for a title or author");
    add_source(search);
    add_json(search);
    search->add_option("keyword", o.keyword, "title or author, as typed")->required();

    CLI::App* chapters = app.add_subcommand("chapters", "list the chapters of a book");
    add_source(chapters);
    add_json(chapters);
    chapters->add_option("book_link", o.link, "the book's link from a search")->required();

    CLI::App* details = app.add_subcommand("details", "show a book's details");
    add_source(details);
    add_json(details);
    details->add_option("--name", o.name, "book name (source 5 shows it from the search)");
    details->add_option("--author", o.author, "author (source 5 shows it from the search)");
    details->add_option("book_link", o.link, "the book's link from a search")->required();

    CLI::App* read = app.add_subcommand("read", "print the text of one chapter");
    add_source(read);
    read->add_flag("--nbsp-always", o.nbsp_always, "turn every &nbsp; into a space");
    read->add_option("chapter_link", o.link, "the chapter's link from the chapter list")
        ->required();

    CLI::App* download = app.add_subcommand("download", "download a whole book");
    add_source(download);
    download->add_option("--threads,-t", o.threads, "parallel workers")
        ->check(CLI::Range(1, 200));
    download->add_option("--name", o.name, "book name, used for the file names")->required();
    download->add_option("--author", o.author, "author, used for the file names")->required();
    auto* merge = download->add_flag("--merge", o.merge, "join the chapters into one book file");
    auto* no_merge = download->add_flag("--no-merge", o.no_merge, "keep the chapter files");
    merge->excludes(no_merge);
    download->add_option("--out", o.out, "folder to put 小说下载 in, instead of the desktop");
    download->add_option("book_link", o.link, "the book's link from a search")->required();

    CLI::App* sites = app.add_subcommand("sites", "show where each book source is configured");
    add_json(sites);

    if (args.size() > 1 && !args[1].empty() && args[1][0] != '-') {
        try {
            app.get_subcommand(args[1]);
        } catch (const CLI::OptionNotFound&) {
            err << "tovani: unknown command '" << args[1]
                << "' (commands: search, chapters, details, read, download, sites)\n";
            return exit_usage;
        }
    }

    std::vector<const char*> argv;
    for (const auto& a : args) {
        argv.push_back(a.c_str());
    }
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return exit_ok;
    } catch (const CLI::CallForAllHelp&) {
        out << app.help("", CLI::AppFormatMode::All);
        return exit_ok;
    } catch (const CLI::CallForVersion&) {
        out << "tovani 1.3.0\n";
        return exit_ok;
    } catch (const CLI::ParseError& e) {
        err << "tovani: " << e.what() << "\n";
        CLI::App* sub = app.get_subcommands().empty() ? &app : app.get_subcommands().front();
        err << "usage: " << sub->get_display_name() << " --help for the options\n";
        return exit_usage;
    }

    Io io{out, err};
    if (search->parsed()) {
        return search_command(o, io);
    }
    if (chapters->parsed()) {
        return chapters_command(o, io);
    }
    if (details->parsed()) {
        return details_command(o, io);
    }
    if (read->parsed()) {
        return read_command(o, io);
    }
    if (download->parsed()) {
        return download_command(o, io);
    }
    return sites_command(o, io);
}

} // namespace tovani::cli
