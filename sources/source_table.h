#pragma once
// The book sources the program knows: the bundled rules, replaced or joined by the user's rule
// files, each with the host it is configured to live at.
//
// Rules: the built-in files (sources/rules, compiled in), then every *.toml file in
// $XDG_CONFIG_HOME/tovani/sources.d (default ~/.config/tovani/sources.d), in name order. A user
// rule with a built-in id replaces that source whole; a new id adds a source. A file with any
// problem is left out and reported; every other source still loads.
//
// Hosts, first found wins: the environment (TOVANI_SITE_HOST_N), the sites file
// ($XDG_CONFIG_HOME/tovani/sites.ini, section [hosts], key N), the build's default for a
// built-in source, the rule's own `host`. A bad host makes that one source unusable.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sources/book_source.h"

namespace tovani {

class SourceTable {
public:
    SourceTable() = default;
    /// A table of exactly these sources (kept in id order); for tests and the loader.
    explicit SourceTable(std::vector<BookSource> sources, std::vector<std::string> problems = {});

    /// Every loaded source in id order, usable or not.
    const std::vector<BookSource>& sources() const { return sources_; }
    /// The source with this id, or null.
    const BookSource* find(int id) const;
    /// What was wrong while loading (rule files left out, lines of the sites file), UTF-8.
    const std::vector<std::string>& problems() const { return problems_; }

private:
    std::vector<BookSource> sources_;
    std::vector<std::string> problems_;
};

using Getenv = std::function<const char*(const char*)>;

/// Pointers to each of `sources`, for the operations that work on several sources at once.
std::vector<const BookSource*> source_pointers(const std::vector<BookSource>& sources);

/// Reads the rules and the host configuration. `getenv` defaults to the process environment.
SourceTable load_source_table(const Getenv& getenv = {});

/// The built-in sources alone, at the given hosts (id -> "host:port"); ids not given keep
/// their rule's host. For tests and the demo.
SourceTable builtin_source_table(const std::map<int, std::string>& hosts = {});

/// Parses and checks every bundled rule; the tests and the start-up use the same files.
std::vector<BookSource> builtin_sources();

/// The folder of the user's rule files for this environment.
std::string user_rules_folder(const Getenv& getenv = {});

/// Whether `value` is a host name, IPv4 address or bracketed IPv6 address with an optional
/// port 1..65535, and nothing else.
bool is_valid_host(std::string_view value);

/// The path of the sites file for this environment.
std::string sites_file_path(const Getenv& getenv = {});

} // namespace tovani
