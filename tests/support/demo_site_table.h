#pragma once
// The site configuration that points every book source at a running demo library.

#include <array>
#include <string>

#include "demo/demo_sites.h"
#include "sources/sites_config.h"

namespace tovani::test {

inline Sites demo_site_table(const demo::DemoSites& sites) {
    std::array<std::string, source_count> hosts;
    for (int source = 1; source <= source_count; ++source) {
        hosts[static_cast<std::size_t>(source - 1)] = sites.host(source);
    }
    return Sites::from_hosts(hosts, "demo");
}

} // namespace tovani::test
