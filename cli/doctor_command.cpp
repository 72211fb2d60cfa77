// `tovani doctor`: every source (or one) searched, listed and read, concurrently; one row each.

#include <nlohmann/json.hpp>

#include "cli/cli.h"
#include "cli/commands.h"
#include "cli/table.h"
#include "sources/health_check.h"
#include "text/encoding.h"

namespace tovani::cli {
namespace {

std::string with_time(const HealthStep& step) {
    if (step.state == StepState::skipped) {
        return "skipped";
    }
    return step_text(step) + " (" + std::to_string(step.elapsed.count()) + " ms)";
}

} // namespace

int doctor_command(const CommandOptions& o, Io io) {
    const SourceTable table = load_sources(io);
    std::vector<const BookSource*> sources;
    if (o.source != 0) {
        const BookSource* one = pick_source(table, o, io);
        if (!one) {
            return exit_usage;
        }
        sources.push_back(one);
    } else {
        for (const BookSource& s : table.sources()) {
            sources.push_back(&s);
        }
    }
    const std::vector<HealthReport> reports = check_sources_health(sources, o.keyword);
    // Any site that failed makes it 3; else any page that does not fit its rule 4; else a
    // keyword no site has 1.
    int status = exit_ok;
    for (const HealthReport& r : reports) {
        for (const HealthStep* step : {&r.search, &r.chapters, &r.text}) {
            if (step->state == StepState::failed) {
                status = worse_status(status, exit_status(step->outcome));
            }
        }
    }
    if (o.json) {
        nlohmann::json rows = nlohmann::json::array();
        for (const HealthReport& r : reports) {
            rows.push_back({{"source", r.source},
                            {"name", table.find(r.source)->rule.name},
                            {"search", step_text(r.search)},
                            {"chapters", step_text(r.chapters)},
                            {"text", step_text(r.text)},
                            {"ms", r.elapsed.count()}});
        }
        io.out << rows.dump(2) << "\n";
    } else {
        std::vector<std::vector<std::string>> rows;
        for (const HealthReport& r : reports) {
            const BookSource& s = *table.find(r.source);
            rows.push_back({std::to_string(r.source), to_utf8(source_label(s)), s.host,
                            with_time(r.search), with_time(r.chapters), with_time(r.text)});
        }
        print_table(io.out, {"书源", "名称", "主机", "搜索", "章节", "正文"}, rows);
    }
    return status;
}

} // namespace tovani::cli
