#include "download/book_output.h"

#include <ctime>

#include "download/desktop_folder.h"
#include "download/epub_writer.h"
#include "download/file_io.h"
#include "download/file_names.h"
#include "sources/outcome.h"
#include "text/encoding.h"

namespace tovani {

std::string BookFormats::names() const {
    if (txt && epub) {
        return "txt,epub";
    }
    return txt ? "txt" : epub ? "epub" : "";
}

BookFormats BookFormats::of(const ShelfBook& book) {
    BookFormats f;
    f.txt = book.formats.find("txt") != std::string::npos;
    f.epub = book.formats.find("epub") != std::string::npos;
    f.encoding = encoding_named(book.encoding);
    f.convert = conversion_named(book.convert);
    return f;
}

int JobChapters::count() const {
    return static_cast<int>(job_.request().chapters.size());
}

std::string JobChapters::name(int number) const {
    return job_.request().chapters[static_cast<std::size_t>(number - 1)].name;
}

bool JobChapters::read(int number, BookChapter& chapter) {
    chapter.name = name(number);
    // A missing file reads as empty: a chapter the download did not write is no chapter.
    const std::string path = job_.chapter_file(number);
    return file_exists(path) && read_file(path, chapter.text);
}

ShelfChapters::ShelfChapters(const Shelf& shelf, std::int64_t book)
    : shelf_(shelf), book_(book), chapters_(shelf.chapters(book)) {}

int ShelfChapters::count() const {
    return static_cast<int>(chapters_.size());
}

std::string ShelfChapters::name(int number) const {
    return chapters_[static_cast<std::size_t>(number - 1)].entry.name;
}

bool ShelfChapters::read(int number, BookChapter& chapter) {
    const Shelf::Chapter& c = chapters_[static_cast<std::size_t>(number - 1)];
    chapter.name = c.entry.name;
    return shelf_.text(book_, c.entry.link, chapter.text);
}

bool ShelfChapters::complete() const {
    for (const Shelf::Chapter& c : chapters_) {
        if (!c.downloaded) {
            return false;
        }
    }
    return true;
}

BookFilesResult write_book_files(const std::string& chosen_base, const BookInfo& info,
                                 ChapterSource& chapters, const BookFormats& formats) {
    BookFilesResult result;
    const std::string base_folder = chosen_or_desktop(chosen_base);
    if (!create_directory(download_folder(base_folder))) {
        result.error = gbk("无法写入下载文件夹：") + download_folder(base_folder);
        return result;
    }
    const ScriptConverter converter(formats.convert);
    if (!converter.ok()) {
        result.error = gbk("无法加载简繁转换数据（OpenCC）");
        return result;
    }
    if (formats.txt) {
        const std::string path = book_file_path(base_folder, info.title, info.author, ".txt");
        const WriteResult written =
            write_text_book(path, info, chapters, formats.encoding, converter);
        if (!written.ok) {
            result.error = written.error;
            return result;
        }
        result.files.push_back(path);
    }
    if (formats.epub) {
        const std::string path = book_file_path(base_folder, info.title, info.author, ".epub");
        const WriteResult written = write_epub_book(path, info, chapters, converter);
        if (!written.ok) {
            result.error = written.error;
            return result;
        }
        result.files.push_back(path);
    }
    result.ok = true;
    return result;
}

std::int64_t record_download(Shelf& shelf, const DownloadJob& job, ShelfBook settings) {
    const DownloadRequest& request = job.request();
    settings.source = request.source.id();
    settings.name = request.book_name;
    settings.author = request.book_author;
    const std::int64_t id = shelf.save_book(settings, request.chapters);
    if (id == 0) {
        return 0;
    }
    return store_job_texts(shelf, id, job) >= 0 ? id : 0;
}

int store_job_texts(Shelf& shelf, std::int64_t book, const DownloadJob& job) {
    const std::vector<ChapterEntry>& chapters = job.request().chapters;
    const int total = static_cast<int>(chapters.size());
    int n = 0;
    int stored = 0;
    const bool ok = shelf.store_texts(book, [&](std::string& link, std::string& text, bool&) {
        // Only files this download completed: a chapter that failed has none.
        while (++n <= total) {
            const std::string path = job.chapter_file(n);
            if (file_exists(path) && read_file(path, text)) {
                link = chapters[static_cast<std::size_t>(n - 1)].link;
                ++stored;
                return true;
            }
        }
        return false;
    });
    return ok ? stored : -1;
}

std::string fetch_cover(const BookSource& source, const std::string& url,
                        const Fetchers& fetchers) {
    if (url.empty()) {
        return {};
    }
    const FetchedPage page = fetchers.page(url, source.rule.politeness.page_timeout);
    return fetch_outcome(page).ok() ? page.body : std::string();
}

DownloadEnd finish_download(DownloadJob& job, const std::string& book_link,
                            const BookFormats& formats, bool book_files, const std::string& cover) {
    const DownloadRequest& request = job.request();
    DownloadEnd end;
    ShelfBook settings;
    settings.link = book_link;
    settings.base_folder = request.base_folder;
    settings.formats = book_files ? formats.names() : std::string();
    settings.encoding = encoding_name(formats.encoding);
    settings.convert = conversion_name(formats.convert);
    settings.cover = cover;
    std::string error;
    const std::unique_ptr<Shelf> shelf = Shelf::open(Shelf::default_path(), &error);
    if (!shelf || record_download(*shelf, job, settings) == 0) {
        end.shelf_error = shelf ? shelf->last_error() : error;
    }
    if (book_files) {
        JobChapters chapters(job);
        const BookInfo info{request.book_name, request.book_author,
                            book_identifier(request.source.id(), book_link), cover,
                            std::time(nullptr)};
        end.files = write_book_files(request.base_folder, info, chapters, formats);
        // Only whole book files let this book's chapter files go.
        if (end.files.ok) {
            job.remove_chapter_files();
        }
    }
    return end;
}

std::string book_identifier(int source, const std::string& book_link) {
    return "tovani:" + std::to_string(source) + ":" + book_link;
}

std::shared_ptr<HostGate> HostGates::gate(const BookSource& source) {
    std::lock_guard lock(mutex_);
    std::shared_ptr<HostGate>& gate = gates_[source.host];
    if (!gate) {
        gate = std::make_shared<HostGate>(source.rule.politeness);
    }
    return gate;
}

} // namespace tovani
