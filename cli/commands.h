#pragma once
// The subcommands of `tovani`. Each returns its exit status.

#include <ostream>
#include <string>
#include <vector>

#include "sources/outcome.h"
#include "sources/source_table.h"

namespace tovani::cli {

struct CommandOptions {
    std::string source_text; ///< --source as given
    int source = 0;          ///< parsed from source_text
    bool all = false;        ///< search --all
    bool json = false;
    std::string keyword; ///< UTF-8, as typed
    std::string link;
    std::string name;   ///< UTF-8
    std::string author; ///< UTF-8
    bool nbsp_always = false;
    int threads = 15;
    bool merge = false;
    bool no_merge = false;
    std::string out; ///< UTF-8 folder
    int export_id = 0;
    std::vector<std::string> formats; ///< download --format
    std::string encoding = "gbk";     ///< download --encoding
    std::string convert;              ///< download --convert
    bool update_all = false;
    std::vector<std::string> names; ///< update NAME...
};

struct Io {
    std::ostream& out;
    std::ostream& err;
};

/// The exit status that tells what `outcome` was.
int exit_status(const Outcome& outcome);

/// The status of a command with several results: a site that failed (3) outweighs a page that
/// does not fit its rule (4), which outweighs nothing found (1), which outweighs success.
int worse_status(int a, int b);

/// Loads the book sources, printing what was wrong with any rule file or the sites file.
SourceTable load_sources(Io io);

/// The source `o.source`, or null after telling the user there is no usable one of that id.
const BookSource* pick_source(const SourceTable& table, const CommandOptions& o, Io io);

/// Reports a failure of `source` on stderr and gives its exit status.
int report_failure(Io io, const BookSource& source, const Outcome& outcome);

int search_command(const CommandOptions& o, Io io);
int chapters_command(const CommandOptions& o, Io io);
int details_command(const CommandOptions& o, Io io);
int read_command(const CommandOptions& o, Io io);
int download_command(const CommandOptions& o, Io io);
int sites_command(const CommandOptions& o, Io io);
int sources_command(const CommandOptions& o, Io io);
int doctor_command(const CommandOptions& o, Io io);
int shelf_command(const CommandOptions& o, Io io);
int update_command(const CommandOptions& o, Io io);

} // namespace tovani::cli
