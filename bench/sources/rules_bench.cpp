// Loading the book sources at start-up: the eight bundled rules plus 50 user rule files in
// sources.d, parsed, checked (every pattern compiled once) and given their hosts.

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>

#include "sources/builtin_rules.h"
#include "sources/source_table.h"

namespace {

using namespace tovani;
namespace fs = std::filesystem;

void BM_LoadSourceTable(benchmark::State& state) {
    const int user_rules = static_cast<int>(state.range(0));
    const fs::path home =
        fs::temp_directory_path() / ("tovani-rules-bench-" + std::to_string(getpid()));
    fs::remove_all(home);
    fs::create_directories(home / "tovani" / "sources.d");
    // User rules are copies of the bundled ones under new ids, as a user's edited exports are.
    const auto& bundled = builtin_rule_files();
    for (int i = 0; i < user_rules; ++i) {
        std::string text(bundled[static_cast<std::size_t>(i) % bundled.size()].text);
        const auto at = text.find("\nid = ");
        text.replace(at + 6, 1, std::to_string(10 + i));
        std::ofstream(home / "tovani" / "sources.d" / ("rule" + std::to_string(i) + ".toml"))
            << text;
    }
    const std::string config = home.string();
    const Getenv env = [&config](const char* name) -> const char* {
        return std::string_view(name) == "XDG_CONFIG_HOME" ? config.c_str() : nullptr;
    };
    std::size_t loaded = 0;
    for (auto _ : state) {
        SourceTable table = load_source_table(env);
        loaded = table.sources().size();
        if (!table.problems().empty()) {
            state.SkipWithError(table.problems().front().c_str());
            break;
        }
        benchmark::DoNotOptimize(table);
    }
    fs::remove_all(home);
    if (loaded != static_cast<std::size_t>(8 + user_rules)) {
        state.SkipWithError("not every rule loaded");
    }
    state.counters["sources"] = static_cast<double>(loaded);
}

} // namespace

BENCHMARK(BM_LoadSourceTable)->Arg(0)->Arg(50)->Unit(benchmark::kMillisecond);
