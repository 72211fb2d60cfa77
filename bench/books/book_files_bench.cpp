// Book files from the chapter files of a 5000-chapter book: the GBK text book (the merge as it
// always was) against the EPUB, both from the same files. Peak memory is the process's own:
// run each benchmark alone (--benchmark_filter=BM_EpubBook) to read it.

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "demo/demo_library.h"
#include "download/book_output.h"
#include "download/download_store.h"
#include "text/encoding.h"

namespace {

using namespace tovani;
namespace fs = std::filesystem;

constexpr int chapters = 5000;

// Chapter files of the scale book, written once per run.
class FolderChapters final : public ChapterSource {
public:
    FolderChapters(std::string folder, std::vector<std::string> names)
        : folder_(std::move(folder)), names_(std::move(names)) {}
    int count() const override { return static_cast<int>(names_.size()); }
    std::string name(int n) const override { return names_[static_cast<std::size_t>(n - 1)]; }
    bool read(int n, BookChapter& c) override {
        c.name = name(n);
        return read_file(chapter_file_path(folder_, n, c.name), c.text);
    }

private:
    std::string folder_;
    std::vector<std::string> names_;
};

struct Book {
    std::string base;
    std::unique_ptr<FolderChapters> chapters;
    BookInfo info;
    std::uintmax_t bytes = 0;
};

const Book& book() {
    static const Book b = [] {
        Book book;
        const fs::path dir =
            fs::temp_directory_path() / ("tovani-books-bench-" + std::to_string(getpid()));
        fs::remove_all(dir);
        book.base = dir.string() + "/";
        demo::LibraryOptions options;
        options.scale_chapters = chapters;
        options.scale_chapter_bytes = 20000; // a realistic chapter, as the other benchmarks use
        const demo::DemoLibrary library(options);
        const demo::DemoBook& scale = library.scale_book();
        book.info = {scale.title, scale.author, "tovani:bench", {}, 1700000000};
        const std::string folder = book_folder(book.base, scale.title, scale.author);
        create_directory(folder);
        std::vector<std::string> names;
        for (int n = 1; n <= chapters; ++n) {
            names.push_back(library.chapter_name(scale, n));
            const std::string text = library.expected_chapter_text(7, scale, n);
            book.bytes += text.size();
            write_file(chapter_file_path(folder, n, names.back()), text);
        }
        book.chapters = std::make_unique<FolderChapters>(folder, std::move(names));
        return book;
    }();
    return b;
}

long peak_rss_kib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void run(benchmark::State& state, bool epub) {
    const Book& b = book();
    BookFormats formats;
    formats.txt = !epub;
    formats.epub = epub;
    for (auto _ : state) {
        const BookFilesResult r = write_book_files(b.base, b.info, *b.chapters, formats);
        if (!r.ok) {
            state.SkipWithError(to_utf8(r.error).c_str());
            return;
        }
        state.PauseTiming();
        state.counters["file_MB"] = static_cast<double>(fs::file_size(to_utf8(r.files[0]))) / 1e6;
        state.ResumeTiming();
    }
    state.counters["chapters_MB"] = static_cast<double>(b.bytes) / 1e6;
    state.counters["peak_rss_MB"] = static_cast<double>(peak_rss_kib()) / 1024;
}

void BM_GbkTextBook(benchmark::State& state) {
    run(state, false);
}
void BM_EpubBook(benchmark::State& state) {
    run(state, true);
}

} // namespace

BENCHMARK(BM_GbkTextBook)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EpubBook)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
