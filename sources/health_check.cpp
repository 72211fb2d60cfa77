#include "sources/health_check.h"

#include <thread>

#include "sources/chapter_list.h"
#include "sources/chapter_text.h"
#include "sources/search.h"
#include "text/encoding.h"

namespace tovani {
namespace {

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

// Times `run`, which fills the step's outcome; the step passes when that is ok.
template <typename Run> void timed(HealthStep& step, Run run) {
    const auto start = Clock::now();
    run(step.outcome);
    step.elapsed = since(start);
    step.state = step.outcome.ok() ? StepState::passed : StepState::failed;
}

} // namespace

HealthReport check_source_health(const BookSource& source, const std::string& keyword,
                                 const Fetchers& fetchers) {
    const auto start = Clock::now();
    HealthReport r;
    r.source = source.id();
    r.keyword = keyword.empty() ? source.rule.probe_keyword : keyword;
    if (r.keyword.empty()) {
        r.search.state = StepState::failed;
        r.search.outcome = {OutcomeKind::no_match, 0,
                            gbk("规则没有 probe_keyword，请用 --keyword")};
        return r;
    }
    SearchHit first;
    timed(r.search, [&](Outcome& o) {
        SearchOutcome found = search_source(source, utf8_to_text(r.keyword), fetchers);
        o = found.outcome;
        if (o.ok() && !found.hits.empty()) {
            first = found.hits.front();
        }
    });
    std::string chapter_link;
    if (r.search.state == StepState::passed) {
        timed(r.chapters, [&](Outcome& o) {
            ChapterListResult list = list_chapters(source, first.link, fetchers);
            o = list.outcome;
            if (o.ok() && !list.chapters.empty()) {
                chapter_link = list.chapters.front().link;
            }
        });
    }
    if (r.chapters.state == StepState::passed) {
        timed(r.text, [&](Outcome& o) {
            ChapterTextResult text = fetch_chapter_text(source, chapter_link, fetchers);
            o = text.outcome;
            if (o.ok() && text.text.empty()) {
                o = {OutcomeKind::layout_changed, 0, gbk("第一章的正文是空的")};
            }
        });
    }
    r.elapsed = since(start);
    return r;
}

std::vector<HealthReport> check_sources_health(const std::vector<const BookSource*>& sources,
                                               const std::string& keyword,
                                               const Fetchers& fetchers) {
    std::vector<HealthReport> reports(sources.size());
    {
        std::vector<std::jthread> threads;
        for (std::size_t i = 0; i < sources.size(); ++i) {
            threads.emplace_back(
                [&, i] { reports[i] = check_source_health(*sources[i], keyword, fetchers); });
        }
    }
    return reports;
}

std::string step_text(const HealthStep& step) {
    switch (step.state) {
    case StepState::passed:
        return "ok";
    case StepState::skipped:
        return "skipped";
    case StepState::failed:
        break;
    }
    std::string text = outcome_name(step.outcome.kind);
    if (step.outcome.http_status != 0 && step.outcome.reason.find("HTTP") == std::string::npos) {
        text += " (HTTP " + std::to_string(step.outcome.http_status) + ")";
    }
    if (!step.outcome.reason.empty()) {
        text += ": " + to_utf8(step.outcome.reason);
    }
    return text;
}

} // namespace tovani
