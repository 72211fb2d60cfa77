#pragma once
// Where the eight sites live. Hosts come, in this order of precedence, from the environment
// (TOVANI_SITE_HOST_1..8), from the sites file ($XDG_CONFIG_HOME/tovani/sites.ini, section
// [hosts], keys 1..8), and from the defaults built in. The scheme of each source is fixed.

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "sources/book_source.h"

namespace tovani {

class Sites {
public:
    /// Hosts ("host" or "host:port") of sources 1..8, not validated; for tests and the demo.
    static Sites from_hosts(const std::array<std::string, source_count>& hosts,
                            const std::string& origin = "given");
    static Sites from_hosts(const std::array<std::string, source_count>& hosts,
                            const std::array<std::string, source_count>& origins);

    /// Scheme and host without a trailing slash, e.g. "https://127.0.0.1:18441"; "" when
    /// `source` is out of range.
    const std::string& site_root(int source) const;
    const std::string& host(int source) const;
    /// Where the host came from, e.g. "environment TOVANI_SITE_HOST_3".
    const std::string& origin(int source) const;

private:
    std::array<std::string, source_count> roots_;
    std::array<std::string, source_count> hosts_;
    std::array<std::string, source_count> origins_;
};

struct SitesLoad {
    std::optional<Sites> sites;
    std::string error; ///< names the key and where it came from; empty on success
};

/// Whether `value` is a host name, IPv4 address or bracketed IPv6 address with an optional
/// port 1..65535, and nothing else.
bool is_valid_host(std::string_view value);

/// Reads the configuration. `getenv` defaults to the process environment.
SitesLoad load_sites(const std::function<const char*(const char*)>& getenv = {});

/// The path of the sites file for this environment.
std::string sites_file_path(const std::function<const char*(const char*)>& getenv = {});

/// The built-in default host of `source`.
std::string default_host(int source);

} // namespace tovani
