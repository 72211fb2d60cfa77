#pragma once
// The book sources pointed at a running demo library.

#include <map>
#include <string>

#include "demo/demo_sites.h"
#include "sources/source_table.h"

namespace tovani::test {

inline SourceTable demo_site_table(const demo::DemoSites& sites) {
    std::map<int, std::string> hosts;
    for (int source = 1; source <= demo::source_count; ++source) {
        hosts[source] = sites.host(source);
    }
    return builtin_source_table(hosts);
}

} // namespace tovani::test
