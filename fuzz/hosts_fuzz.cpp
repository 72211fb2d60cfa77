// Host settings: whatever is_valid_host accepts goes into a URL and comes back out as the same
// host, port and path; the sites file and the environment never give a source a host that is
// not valid, and a valid host from the environment always wins.
// Input pieces: a host, the sites file's text, the environment's host for source 3.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "http/url.h"
#include "sources/source_table.h"

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

// A scratch configuration folder of this process: <tmp>/tovani/sites.ini is rewritten per input.
const std::string& config_home() {
    static const std::string folder = [] {
        char name[] = "/tmp/tovani-fuzz-hosts-XXXXXX";
        const char* made = mkdtemp(name);
        const std::string path = made != nullptr ? made : "/tmp";
        std::system(("mkdir -p '" + path + "/tovani'").c_str());
        return path;
    }();
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tovani;
    const auto pieces = fuzz::split(std::string_view(reinterpret_cast<const char*>(data), size),
                                    fuzz::piece_separator);
    const std::string host(pieces[0]);

    if (is_valid_host(host)) {
        const std::string url = "http://" + host + "/p?q=1";
        FUZZ_CHECK(url_host(url, true) == lower(host));
        FUZZ_CHECK(url_path(url) == "/p?q=1");
        const int port = url_port(url);
        FUZZ_CHECK(port >= 1 && port <= 65535);
    }

    {
        std::ofstream sites(config_home() + "/tovani/sites.ini",
                            std::ios::binary | std::ios::trunc);
        if (pieces.size() > 1) {
            sites << pieces[1];
        }
    }
    const std::string env_host = pieces.size() > 2 ? std::string(pieces[2]) : std::string();
    const std::string env_host_z = env_host.substr(0, env_host.find('\0'));
    const SourceTable table = load_source_table([&](const char* name) -> const char* {
        const std::string_view key(name);
        if (key == "XDG_CONFIG_HOME") {
            return config_home().c_str();
        }
        if (key == "TOVANI_SITE_HOST_3" && pieces.size() > 2) {
            return env_host_z.c_str();
        }
        return nullptr;
    });
    for (const BookSource& source : table.sources()) {
        FUZZ_CHECK(!source.usable() || is_valid_host(source.host));
    }
    if (is_valid_host(env_host_z) && table.find(3) != nullptr) {
        FUZZ_CHECK(table.find(3)->host == env_host_z);
    }
    return 0;
}
