#pragma once
// The bookshelf: every book downloaded, with its chapter list as last seen, the texts of the
// chapters downloaded so far, and how its book files are made, so that `update` can fetch only
// what is new and write the book files again without fetching old chapters.
//
// SQLite at $XDG_DATA_HOME/tovani/shelf.db (default ~/.local/share/tovani/shelf.db), in WAL
// mode, with a schema version and migrations. Every change is one transaction: a program
// killed half-way leaves the shelf as it was before the change. Chapters are matched by link,
// so a site that inserts or renumbers chapters keeps every text that was downloaded.
// Thread-safe: one connection, one operation at a time.

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sources/book_source.h"

struct sqlite3;

namespace tovani {

/// A book on the shelf. Texts are GBK.
struct ShelfBook {
    std::int64_t id = 0;
    int source = 0;
    std::string link;
    std::string name;
    std::string author;
    std::string base_folder;      ///< folder holding "小说下载"; "" means the desktop
    std::string formats;          ///< "txt", "epub", "txt,epub", or "" when only chapter files
    std::string encoding = "gbk"; ///< of the text book: "gbk" or "utf-8"
    std::string convert;          ///< "", "t2s" or "s2t"
    std::string cover;            ///< the cover picture's bytes, for the EPUB
    std::time_t last_check = 0;   ///< when its chapter list was last read
    std::time_t last_update = 0;  ///< when chapters were last added
    int last_read = 0;            ///< the chapter the reader showed last
    int chapters_known = 0;       ///< in the chapter list as last seen
    int chapters_downloaded = 0;  ///< of those, with their text on the shelf
};

class Shelf {
public:
    /// The path for this environment.
    static std::string default_path();

    /// Opens (creating it when missing) and brings the schema up to date. Null with `error`
    /// set when the file cannot be opened, or was written by a newer version of the program.
    static std::unique_ptr<Shelf> open(const std::string& utf8_path, std::string* error = nullptr);
    ~Shelf();
    Shelf(const Shelf&) = delete;
    Shelf& operator=(const Shelf&) = delete;

    /// The schema version this program writes.
    static constexpr int schema_version = 2;

    std::vector<ShelfBook> books() const;
    std::optional<ShelfBook> find(int source, std::string_view link) const;
    std::optional<ShelfBook> find(std::int64_t id) const;

    /// Records `book` (found by source and link; its settings replaced) with `chapters` as its
    /// chapter list now. Texts stay with their links. Returns the book's id, 0 on failure.
    std::int64_t save_book(const ShelfBook& book, const std::vector<ChapterEntry>& chapters);

    /// The chapter list as last seen, numbered from 1; `downloaded` tells which have a text.
    struct Chapter {
        ChapterEntry entry;
        bool downloaded = false;
    };
    std::vector<Chapter> chapters(std::int64_t book) const;

    /// Stores texts in one transaction: `next(link, text)` fills the next chapter's link and
    /// text and returns false when there are no more (or when reading one failed: then nothing
    /// is stored and the call gives false).
    using NextText = std::function<bool(std::string& link, std::string& text, bool& failed)>;
    bool store_texts(std::int64_t book, const NextText& next);

    /// The text of the chapter at `link`; false when there is none.
    bool text(std::int64_t book, std::string_view link, std::string& text) const;

    bool set_checked(std::int64_t book, std::time_t when);
    bool set_updated(std::int64_t book, std::time_t when);
    bool set_last_read(std::int64_t book, int chapter);
    bool remove(std::int64_t book);

    /// The message of the last failed operation.
    std::string last_error() const;

private:
    explicit Shelf(sqlite3* db);
    bool migrate(std::string* error);

    sqlite3* db_;
    mutable std::mutex mutex_;
    mutable std::string error_;
};

} // namespace tovani
