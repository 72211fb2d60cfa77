#pragma once
// The subcommands of `tovani`. Each returns its exit status.

#include <ostream>
#include <string>

namespace tovani::cli {

struct CommandOptions {
    int source = 0;
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
};

struct Io {
    std::ostream& out;
    std::ostream& err;
};

int search_command(const CommandOptions& o, Io io);
int chapters_command(const CommandOptions& o, Io io);
int details_command(const CommandOptions& o, Io io);
int read_command(const CommandOptions& o, Io io);
int download_command(const CommandOptions& o, Io io);
int sites_command(const CommandOptions& o, Io io);

} // namespace tovani::cli
