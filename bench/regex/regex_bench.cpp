#include <benchmark/benchmark.h>

#include <string>

#include "regex/regex_object.h"
#include "text/encoding.h"

namespace {

// A table-of-contents page of 5000 chapters, about 500 KB of GBK.
std::string toc_page() {
    std::string page = "<html><head><title>目录</title></head><body><div id=\"list\"><dl>\n";
    for (int i = 1; i <= 5000; ++i) {
        page += "<dd><a href =\"/book/31415/" + std::to_string(9000000 + i) + ".html\">第" +
                std::to_string(i) + "章 风起云涌，群雄并立之时，少年初入江湖</a></dd>\n";
    }
    page += "</dl></div></body></html>\n";
    return tovani::gbk(page);
}

void BM_ChapterList5000(benchmark::State& state) {
    const std::string page = toc_page();
    const std::string pattern = tovani::gbk("<dd><a href =#引号(.*)#引号>(.*)</a></dd>");
    for (auto _ : state) {
        tovani::RegexObject re;
        re.create(pattern, page, false, false, true, true);
        const int count = re.match_count();
        if (count != 5000)
            state.SkipWithError("wrong number of chapters");
        for (int i = 1; i <= count; ++i) {
            benchmark::DoNotOptimize(re.submatch_text(i, 1));
            benchmark::DoNotOptimize(re.submatch_text(i, 2));
        }
    }
    state.counters["page_bytes"] = static_cast<double>(page.size());
}
BENCHMARK(BM_ChapterList5000)->Unit(benchmark::kMillisecond);

} // namespace
