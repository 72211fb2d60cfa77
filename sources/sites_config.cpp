#include "sources/sites_config.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tovani {
namespace {

const std::array<const char*, source_count> built_in_hosts{
    TOVANI_DEFAULT_HOST_1, TOVANI_DEFAULT_HOST_2, TOVANI_DEFAULT_HOST_3, TOVANI_DEFAULT_HOST_4,
    TOVANI_DEFAULT_HOST_5, TOVANI_DEFAULT_HOST_6, TOVANI_DEFAULT_HOST_7, TOVANI_DEFAULT_HOST_8,
};

const std::string empty_text;

using Getenv = std::function<const char*(const char*)>;

const char* env(const Getenv& getenv, const char* name) {
    return getenv ? getenv(name) : std::getenv(name);
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
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '-' || c == '.';
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
    for (char c : h) {
        if (!is_host_char(c)) {
            return false;
        }
    }
    return h.find("..") == std::string_view::npos;
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

struct IniHosts {
    std::array<std::optional<std::string>, source_count> hosts;
    std::string error;
};

// The [hosts] section of the sites file; other sections are ignored.
IniHosts read_sites_file(const std::string& path) {
    IniHosts out;
    std::ifstream in(path);
    if (!in) {
        return out;
    }
    std::string line;
    bool in_hosts = false;
    int line_number = 0;
    while (std::getline(in, line)) {
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
        const std::string key = trim(t.substr(0, eq == std::string::npos ? t.size() : eq));
        if (eq == std::string::npos || key.size() != 1 || key[0] < '1' || key[0] > '8') {
            out.error = "sites file " + path + ", line " + std::to_string(line_number) +
                        ": expected a key 1 to 8 followed by '=' and a host, got '" + t + "'";
            return out;
        }
        out.hosts[static_cast<std::size_t>(key[0] - '1')] = trim(t.substr(eq + 1));
    }
    return out;
}

} // namespace

Sites Sites::from_hosts(const std::array<std::string, source_count>& hosts,
                        const std::string& origin) {
    std::array<std::string, source_count> origins;
    origins.fill(origin);
    return from_hosts(hosts, origins);
}

Sites Sites::from_hosts(const std::array<std::string, source_count>& hosts,
                        const std::array<std::string, source_count>& origins) {
    Sites s;
    for (int i = 0; i < source_count; ++i) {
        const auto k = static_cast<std::size_t>(i);
        s.hosts_[k] = hosts[k];
        s.roots_[k] = std::string(is_https_source(i + 1) ? "https://" : "http://") + hosts[k];
        s.origins_[k] = origins[k];
    }
    return s;
}

const std::string& Sites::site_root(int source) const {
    return is_valid_source(source) ? roots_[static_cast<std::size_t>(source - 1)] : empty_text;
}

const std::string& Sites::host(int source) const {
    return is_valid_source(source) ? hosts_[static_cast<std::size_t>(source - 1)] : empty_text;
}

const std::string& Sites::origin(int source) const {
    return is_valid_source(source) ? origins_[static_cast<std::size_t>(source - 1)] : empty_text;
}

bool is_valid_host(std::string_view value) {
    std::string_view host = value;
    std::string_view port;
    if (!value.empty() && value.front() == '[') {
        const auto close = value.find(']');
        if (close == std::string_view::npos) {
            return false;
        }
        if (!valid_ipv6(value.substr(1, close - 1))) {
            return false;
        }
        const std::string_view rest = value.substr(close + 1);
        if (rest.empty()) {
            return true;
        }
        return rest.front() == ':' && valid_port(rest.substr(1));
    }
    const auto colon = value.find(':');
    if (colon != std::string_view::npos) {
        host = value.substr(0, colon);
        port = value.substr(colon + 1);
        if (!valid_port(port)) {
            return false;
        }
    }
    return valid_name(host);
}

std::string default_host(int source) {
    return is_valid_source(source) ? built_in_hosts[static_cast<std::size_t>(source - 1)] : "";
}

std::string sites_file_path(const Getenv& getenv) {
    const char* xdg = env(getenv, "XDG_CONFIG_HOME");
    if (xdg && *xdg) {
        return std::string(xdg) + "/tovani/sites.ini";
    }
    const char* home = env(getenv, "HOME");
    return std::string(home ? home : "") + "/.config/tovani/sites.ini";
}

SitesLoad load_sites(const Getenv& getenv) {
    const std::string file = sites_file_path(getenv);
    const IniHosts ini = read_sites_file(file);
    if (!ini.error.empty()) {
        return {std::nullopt, ini.error};
    }
    std::array<std::string, source_count> hosts;
    std::array<std::string, source_count> origins;
    for (int i = 1; i <= source_count; ++i) {
        const auto k = static_cast<std::size_t>(i - 1);
        const std::string var = "TOVANI_SITE_HOST_" + std::to_string(i);
        if (const char* v = env(getenv, var.c_str()); v && *v) {
            hosts[k] = trim(v);
            origins[k] = "environment " + var;
        } else if (ini.hosts[k]) {
            hosts[k] = *ini.hosts[k];
            origins[k] = "sites file " + file + " [hosts] " + std::to_string(i);
        } else {
            hosts[k] = default_host(i);
            origins[k] = "built-in default";
        }
        if (!is_valid_host(hosts[k])) {
            return {std::nullopt, "invalid host for book source " + std::to_string(i) + " in " +
                                      origins[k] + ": '" + hosts[k] +
                                      "' (expected host or host:port, without scheme or path)"};
        }
    }
    return {Sites::from_hosts(hosts, origins), {}};
}

} // namespace tovani
