#include "sources/source_table.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "sources/builtin_rules.h"
#include "sources/rule_loader.h"

namespace tovani {
namespace {

// The build may point a built-in source somewhere else than its rule says; "" keeps the rule's.
const char* const build_hosts[builtin_source_count] = {
    TOVANI_DEFAULT_HOST_1, TOVANI_DEFAULT_HOST_2, TOVANI_DEFAULT_HOST_3, TOVANI_DEFAULT_HOST_4,
    TOVANI_DEFAULT_HOST_5, TOVANI_DEFAULT_HOST_6, TOVANI_DEFAULT_HOST_7, TOVANI_DEFAULT_HOST_8,
};

// A rule file is a page of text; anything this big is not one.
constexpr std::uintmax_t max_rule_file_bytes = 1 << 20;

const char* env(const Getenv& getenv, const char* name) {
    return getenv ? getenv(name) : std::getenv(name);
}

std::string config_home(const Getenv& getenv) {
    const char* xdg = env(getenv, "XDG_CONFIG_HOME");
    if (xdg && *xdg) {
        return xdg;
    }
    const char* home = env(getenv, "HOME");
    return std::string(home ? home : "") + "/.config";
}

std::string trim(std::string_view s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos) {
        return {};
    }
    const auto e = s.find_last_not_of(" \t\r\n");
    return std::string(s.substr(b, e - b + 1));
}

bool is_host_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.';
}

bool valid_port(std::string_view p) {
    if (p.empty() || p.size() > 5) {
        return false;
    }
    long v = 0;
    for (char c : p) {
        if (c < '0' || c > '9') {
            return false;
        }
        v = v * 10 + (c - '0');
    }
    return v >= 1 && v <= 65535;
}

bool valid_name(std::string_view h) {
    if (h.empty() || h.size() > 253 || h.front() == '.' || h.back() == '.' || h.front() == '-') {
        return false;
    }
    return std::all_of(h.begin(), h.end(), is_host_char) && h.find("..") == std::string_view::npos;
}

bool valid_ipv6(std::string_view h) {
    if (h.size() < 2) {
        return false;
    }
    for (char c : h) {
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hex && c != ':' && c != '.') {
            return false;
        }
    }
    return h.find(':') != std::string_view::npos;
}

// The decimal number `text` stands for when it is a source id, else 0.
int source_id(std::string_view text) {
    if (text.empty() || text.size() > 2) {
        return 0;
    }
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return 0;
        }
        v = v * 10 + (c - '0');
    }
    return v >= 1 && v <= max_source_id ? v : 0;
}

struct IniHosts {
    std::map<int, std::string> hosts;
    std::vector<std::string> problems;
};

// The [hosts] section of the sites file; other sections are ignored. A malformed line is
// reported and skipped, so it costs no other source its host.
IniHosts read_sites_file(const std::string& path) {
    IniHosts out;
    std::ifstream in(path);
    std::string line;
    bool in_hosts = false;
    int line_number = 0;
    while (in && std::getline(in, line)) {
        ++line_number;
        const std::string t = trim(line);
        if (t.empty() || t[0] == ';' || t[0] == '#') {
            continue;
        }
        if (t.front() == '[') {
            in_hosts = t == "[hosts]";
            continue;
        }
        if (!in_hosts) {
            continue;
        }
        const auto eq = t.find('=');
        const int id = source_id(trim(t.substr(0, eq == std::string::npos ? t.size() : eq)));
        if (eq == std::string::npos || id == 0) {
            out.problems.push_back("sites file " + path + ", line " + std::to_string(line_number) +
                                   ": expected a source number 1 to " +
                                   std::to_string(max_source_id) +
                                   " followed by '=' and a host, got '" + t + "'");
            continue;
        }
        out.hosts[id] = trim(t.substr(eq + 1));
    }
    return out;
}

std::string read_small_file(const std::filesystem::path& path, std::string& error) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) {
        error = "cannot read: " + ec.message();
        return {};
    }
    if (size > max_rule_file_bytes) {
        error = "larger than 1 MiB: not a rule file";
        return {};
    }
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        error = "cannot read";
    }
    return text;
}

void add_problems(std::vector<std::string>& out, const std::vector<RuleProblem>& problems) {
    for (const RuleProblem& p : problems) {
        out.push_back(p.text());
    }
}

void set_host(BookSource& s, std::string host, std::string origin) {
    s.host = std::move(host);
    s.host_origin = std::move(origin);
    if (s.host.empty()) {
        s.host_error = "no host is configured (set TOVANI_SITE_HOST_" + std::to_string(s.id()) +
                       ", the sites file or the rule's host)";
    } else if (!is_valid_host(s.host)) {
        s.host_error = "invalid host '" + s.host + "' from " + s.host_origin +
                       " (expected host or host:port, without scheme or path)";
    } else {
        s.host_error.clear();
    }
}

} // namespace

SourceTable::SourceTable(std::vector<BookSource> sources, std::vector<std::string> problems)
    : sources_(std::move(sources)), problems_(std::move(problems)) {
    std::stable_sort(sources_.begin(), sources_.end(),
                     [](const BookSource& a, const BookSource& b) { return a.id() < b.id(); });
}

const BookSource* SourceTable::find(int id) const {
    const auto it = std::lower_bound(sources_.begin(), sources_.end(), id,
                                     [](const BookSource& s, int v) { return s.id() < v; });
    return it != sources_.end() && it->id() == id ? &*it : nullptr;
}

std::vector<const BookSource*> source_pointers(const std::vector<BookSource>& sources) {
    std::vector<const BookSource*> out;
    out.reserve(sources.size());
    for (const BookSource& s : sources) {
        out.push_back(&s);
    }
    return out;
}

std::vector<BookSource> builtin_sources() {
    std::vector<BookSource> out;
    for (const BuiltinRuleFile& file : builtin_rule_files()) {
        RuleParse parse = parse_rule(file.text, "built-in " + std::string(file.name));
        if (!parse.rule) {
            continue; // the tests read every bundled file and fail on any problem
        }
        BookSource s;
        s.rule = std::move(*parse.rule);
        s.rule_origin = "built-in " + std::string(file.name);
        s.rule_text = std::string(file.text);
        set_host(s, s.rule.host, "rule " + s.rule_origin);
        out.push_back(std::move(s));
    }
    return out;
}

SourceTable builtin_source_table(const std::map<int, std::string>& hosts) {
    std::vector<BookSource> sources = builtin_sources();
    for (BookSource& s : sources) {
        if (const auto it = hosts.find(s.id()); it != hosts.end()) {
            set_host(s, it->second, "given");
        }
    }
    return SourceTable(std::move(sources));
}

std::string user_rules_folder(const Getenv& getenv) {
    return config_home(getenv) + "/tovani/sources.d";
}

std::string sites_file_path(const Getenv& getenv) {
    return config_home(getenv) + "/tovani/sites.ini";
}

SourceTable load_source_table(const Getenv& getenv) {
    std::vector<std::string> problems;
    std::map<int, BookSource> by_id;
    for (BookSource& s : builtin_sources()) {
        by_id[s.id()] = std::move(s);
    }

    // The user's rules, in file-name order; a second file with the same id is refused.
    const std::filesystem::path folder = user_rules_folder(getenv);
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->path().extension() == ".toml" && !it->is_directory(ec)) {
            files.push_back(it->path());
        }
    }
    std::sort(files.begin(), files.end());
    std::map<int, std::string> user_ids;
    for (const std::filesystem::path& path : files) {
        std::string error;
        std::string text = read_small_file(path, error);
        if (!error.empty()) {
            problems.push_back(path.string() + ": " + error);
            continue;
        }
        // An empty file is no rule yet (say, the target of a shell redirection being written).
        if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
            continue;
        }
        RuleParse parse = parse_rule(text, path.string());
        if (!parse.rule) {
            add_problems(problems, parse.problems);
            continue;
        }
        const int id = parse.rule->id;
        if (const auto seen = user_ids.find(id); seen != user_ids.end()) {
            problems.push_back(path.string() + ": id " + std::to_string(id) + " is already " +
                               "taken by " + seen->second + "; this file is left out");
            continue;
        }
        user_ids[id] = path.string();
        BookSource s;
        s.rule = std::move(*parse.rule);
        s.rule_origin = path.string();
        s.rule_text = std::move(text);
        by_id[id] = std::move(s);
    }

    const std::string ini_path = sites_file_path(getenv);
    IniHosts ini = read_sites_file(ini_path);
    problems.insert(problems.end(), ini.problems.begin(), ini.problems.end());

    std::vector<BookSource> sources;
    for (auto& [id, s] : by_id) {
        const std::string var = "TOVANI_SITE_HOST_" + std::to_string(id);
        const char* from_env = env(getenv, var.c_str());
        if (from_env && *from_env) {
            set_host(s, trim(from_env), "environment " + var);
        } else if (const auto it = ini.hosts.find(id); it != ini.hosts.end()) {
            set_host(s, it->second, "sites file " + ini_path + " [hosts] " + std::to_string(id));
        } else if (s.is_builtin() && *build_hosts[id - 1] != '\0' &&
                   s.rule_origin.starts_with("built-in")) {
            set_host(s, build_hosts[id - 1], "build default");
        } else {
            set_host(s, s.rule.host, "rule " + s.rule_origin);
        }
        sources.push_back(std::move(s));
    }
    return SourceTable(std::move(sources), std::move(problems));
}

bool is_valid_host(std::string_view value) {
    if (!value.empty() && value.front() == '[') {
        const auto close = value.find(']');
        if (close == std::string_view::npos || !valid_ipv6(value.substr(1, close - 1))) {
            return false;
        }
        const std::string_view rest = value.substr(close + 1);
        return rest.empty() || (rest.front() == ':' && valid_port(rest.substr(1)));
    }
    std::string_view host = value;
    const auto colon = value.find(':');
    if (colon != std::string_view::npos) {
        host = value.substr(0, colon);
        if (!valid_port(value.substr(colon + 1))) {
            return false;
        }
    }
    return valid_name(host);
}

} // namespace tovani
