#pragma once
// What a download becomes: the book files in the formats the reader chose, written from the
// download's chapter files or from the shelf's texts, and the book's record on the shelf.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "download/book_writer.h"
#include "download/download_job.h"
#include "download/shelf.h"

namespace tovani {

/// The book files to write and how.
struct BookFormats {
    bool txt = true;
    bool epub = false;
    TextEncoding encoding = TextEncoding::gbk; ///< of the text book
    ScriptConversion convert = ScriptConversion::none;

    bool any() const { return txt || epub; }
    /// "txt", "epub", "txt,epub" or "".
    std::string names() const;
    /// The formats a shelf book was saved in.
    static BookFormats of(const ShelfBook& book);
};

/// The chapters of a finished download, read from its chapter files.
class JobChapters final : public ChapterSource {
public:
    explicit JobChapters(const DownloadJob& job) : job_(job) {}
    int count() const override;
    std::string name(int number) const override;
    bool read(int number, BookChapter& chapter) override;

private:
    const DownloadJob& job_;
};

/// The chapters of a shelf book, as last seen, with the shelf's texts.
class ShelfChapters final : public ChapterSource {
public:
    ShelfChapters(const Shelf& shelf, std::int64_t book);
    int count() const override;
    std::string name(int number) const override;
    bool read(int number, BookChapter& chapter) override;
    /// Every chapter has its text on the shelf.
    bool complete() const;

private:
    const Shelf& shelf_;
    std::int64_t book_;
    std::vector<Shelf::Chapter> chapters_;
};

struct BookFilesResult {
    bool ok = false;
    std::vector<std::string> files; ///< GBK paths written
    std::string error;              ///< GBK, when not ok
};

/// Writes the book files `formats` asks for beside the book's folder under `base_folder` (the
/// desktop when it is ""): "书名  作者.txt" and "书名  作者.epub". Each is written whole or not
/// at all.
BookFilesResult write_book_files(const std::string& base_folder, const BookInfo& info,
                                 ChapterSource& chapters, const BookFormats& formats);

/// Records a download on the shelf: the book with `settings` (its formats and folder), its
/// chapter list, and the texts of the chapters whose files the download wrote. One
/// transaction each for the list and the texts. Returns the book's id, 0 on failure.
std::int64_t record_download(Shelf& shelf, const DownloadJob& job, ShelfBook settings);

/// The cover picture at `url`, or "" when there is none or it cannot be fetched: a missing or
/// broken cover never stops a book.
std::string fetch_cover(const BookSource& source, const std::string& url,
                        const Fetchers& fetchers = network_fetchers());

/// What the end of a download did.
struct DownloadEnd {
    std::string shelf_error; ///< UTF-8; empty when the book is on the shelf
    BookFilesResult files;   ///< the book files, when they were asked for
};

/// The end of a download: records the book on the shelf (with the formats of its book files
/// when `book_files`), then, when `book_files`, writes them from the chapter files and lets
/// those go once the book files are whole. `cover` is the cover picture's bytes or "".
DownloadEnd finish_download(DownloadJob& job, const std::string& book_link,
                            const BookFormats& formats, bool book_files, const std::string& cover);

/// Stores on the shelf, under `book` and by their links, the texts of the chapters whose files
/// `job` wrote, in one transaction. Returns how many, or -1 when the shelf could not be written.
int store_job_texts(Shelf& shelf, std::int64_t book, const DownloadJob& job);

/// The stable identifier a book file carries: the source and the book's link.
std::string book_identifier(int source, const std::string& book_link);

/// One politeness gate per site, shared by every download from it.
class HostGates {
public:
    std::shared_ptr<HostGate> gate(const BookSource& source);

private:
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<HostGate>> gates_;
};

} // namespace tovani
