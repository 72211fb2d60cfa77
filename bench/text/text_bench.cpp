#include <benchmark/benchmark.h>

#include <string>

#include "text/encoding.h"
#include "text/text_helpers.h"

namespace {

// About 1 MiB of UTF-8 page: HTML markup in ASCII with runs of Chinese text.
std::string utf8_page(std::size_t size) {
    const std::string chunk =
        "<div class=\"item\"><a href=\"/book/1024/55012.html\" title=\"x\">第一千零二十四章 "
        "天下大势，分久必合，合久必分。</a></div>\n<p>　　他抬头看了一眼窗外的月色，心中暗想："
        "这一夜，注定不会太平。</p>\n";
    std::string page = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body>\n";
    while (page.size() < size)
        page += chunk;
    return page;
}

void BM_ConvertUtf8ToGbk(benchmark::State& state) {
    const std::string page = utf8_page(1 << 20);
    tovani::convert_charset("warm up the tables");
    for (auto _ : state)
        benchmark::DoNotOptimize(tovani::convert_charset(page));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_ConvertUtf8ToGbk)->Unit(benchmark::kMicrosecond);

void BM_ConvertGbkToUtf8(benchmark::State& state) {
    const std::string page = tovani::convert_charset(utf8_page(1 << 20));
    for (auto _ : state)
        benchmark::DoNotOptimize(tovani::convert_charset(page, "GBK", "UTF-8"));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_ConvertGbkToUtf8)->Unit(benchmark::kMicrosecond);

// The chapter text sits behind 500 KB of GBK page: one linear scan finds both markers.
void BM_TextBetween500K(benchmark::State& state) {
    std::string page = tovani::convert_charset(utf8_page(500 * 1024));
    page += tovani::gbk("<div id=\"content\">　　正文在此。</div>");
    const std::string start = tovani::gbk("<div id=#引号content#引号>");
    for (auto _ : state) {
        const std::string text = tovani::text_between(page, start, "</div>");
        if (text.empty())
            state.SkipWithError("marker not found");
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_TextBetween500K)->Unit(benchmark::kMicrosecond);

} // namespace
