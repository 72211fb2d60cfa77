// The progress file of a long book: building it at job start and reading every entry back
// must both stay linear in the number of chapters.

#include "download/download_store.h"

#include <benchmark/benchmark.h>

#include <string>

#include "text/encoding.h"

namespace {

tovani::ProgressFile book_of(int chapters) {
    const std::string name = tovani::gbk("第一千二百三十四章 风起云涌");
    tovani::ProgressFile file;
    for (int i = 1; i <= chapters; ++i)
        file.set_entry(i, name,
                       "https://www.example.com/book/12345/" + std::to_string(i) + ".html");
    return file;
}

void BM_ProgressFileBuild(benchmark::State& state) {
    const int chapters = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::string text = book_of(chapters).text();
        benchmark::DoNotOptimize(text);
    }
    state.SetComplexityN(chapters);
    state.SetItemsProcessed(state.iterations() * chapters);
}

void BM_ProgressFileReadEveryEntry(benchmark::State& state) {
    const int chapters = static_cast<int>(state.range(0));
    tovani::ProgressFile file;
    file.parse(book_of(chapters).text());
    for (auto _ : state) {
        for (int i = 1; i <= chapters; ++i) {
            std::string link = file.entry_link(i);
            std::string name = file.entry_name(i);
            benchmark::DoNotOptimize(link);
            benchmark::DoNotOptimize(name);
        }
    }
    state.SetComplexityN(chapters);
    state.SetItemsProcessed(state.iterations() * chapters);
}

void BM_ChapterFilePath(benchmark::State& state) {
    const std::string name = tovani::gbk("第一千二百三十四章 风起云涌");
    for (auto _ : state) {
        std::string path = tovani::chapter_file_path("/home/reader/Desktop/", 1234, name);
        benchmark::DoNotOptimize(path);
    }
}

} // namespace

BENCHMARK(BM_ProgressFileBuild)->RangeMultiplier(4)->Range(1000, 64000)->Complexity(benchmark::oN);
BENCHMARK(BM_ProgressFileReadEveryEntry)
    ->RangeMultiplier(4)
    ->Range(1000, 64000)
    ->Complexity(benchmark::oN);
BENCHMARK(BM_ChapterFilePath);
