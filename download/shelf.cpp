#include "download/shelf.h"

#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>

namespace tovani {
namespace {

// Each step takes the schema from version i to i + 1; the last one ends at schema_version.
// Texts are stored as blobs: names, links and chapters are GBK bytes, kept exactly.
const char* const migrations[] = {
    // 0 -> 1: books, their chapter lists, and chapter texts by link.
    R"(CREATE TABLE books(
         id INTEGER PRIMARY KEY,
         source INTEGER NOT NULL,
         link BLOB NOT NULL,
         name BLOB NOT NULL,
         author BLOB NOT NULL,
         base_folder BLOB NOT NULL DEFAULT x'',
         formats TEXT NOT NULL DEFAULT '',
         encoding TEXT NOT NULL DEFAULT 'gbk',
         convert TEXT NOT NULL DEFAULT '',
         cover BLOB,
         last_check INTEGER NOT NULL DEFAULT 0,
         last_update INTEGER NOT NULL DEFAULT 0,
         UNIQUE(source, link));
       CREATE TABLE chapters(
         book INTEGER NOT NULL REFERENCES books(id) ON DELETE CASCADE,
         position INTEGER NOT NULL,
         name BLOB NOT NULL,
         link BLOB NOT NULL,
         PRIMARY KEY(book, position));
       CREATE TABLE texts(
         book INTEGER NOT NULL REFERENCES books(id) ON DELETE CASCADE,
         link BLOB NOT NULL,
         text BLOB NOT NULL,
         PRIMARY KEY(book, link));)",
    // 1 -> 2: the reader remembers the last chapter shown of each book.
    R"(ALTER TABLE books ADD COLUMN last_read INTEGER NOT NULL DEFAULT 0;)",
};
static_assert(std::size(migrations) == Shelf::schema_version);

// One prepared statement, finalised on every path.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
            stmt_ = nullptr;
        }
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return stmt_ != nullptr; }
    Statement& bind(int i, std::int64_t v) {
        if (stmt_) {
            sqlite3_bind_int64(stmt_, i, v);
        }
        return *this;
    }
    Statement& bind(int i, std::string_view v) {
        if (stmt_) {
            sqlite3_bind_blob64(stmt_, i, v.data(), v.size(), SQLITE_TRANSIENT);
        }
        return *this;
    }
    Statement& bind_text(int i, std::string_view v) {
        if (stmt_) {
            sqlite3_bind_text64(stmt_, i, v.data(), v.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
        }
        return *this;
    }
    /// SQLITE_ROW, SQLITE_DONE or an error.
    int step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
    bool run() { return step() == SQLITE_DONE; }
    void reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    std::int64_t integer(int i) const { return sqlite3_column_int64(stmt_, i); }
    std::string bytes(int i) const {
        const void* p = sqlite3_column_blob(stmt_, i);
        const int n = sqlite3_column_bytes(stmt_, i);
        return p ? std::string(static_cast<const char*>(p), static_cast<std::size_t>(n))
                 : std::string();
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

bool exec(sqlite3* db, const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        error = message ? message : sqlite3_errmsg(db);
        sqlite3_free(message);
        return false;
    }
    return true;
}

// A transaction rolled back unless committed.
class Transaction {
public:
    Transaction(sqlite3* db, std::string& error)
        : db_(db), error_(error), open_(exec(db, "BEGIN IMMEDIATE", error)) {}
    ~Transaction() {
        if (open_) {
            std::string ignored;
            exec(db_, "ROLLBACK", ignored);
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    bool ok() const { return open_; }
    bool commit() {
        if (!open_) {
            return false;
        }
        open_ = false;
        return exec(db_, "COMMIT", error_);
    }

private:
    sqlite3* db_;
    std::string& error_;
    bool open_;
};

const char* const book_columns =
    "b.id, b.source, b.link, b.name, b.author, b.base_folder, b.formats, b.encoding, b.convert, "
    "b.cover, b.last_check, b.last_update, b.last_read, "
    "(SELECT count(*) FROM chapters c WHERE c.book = b.id), "
    "(SELECT count(*) FROM chapters c JOIN texts t ON t.book = c.book AND t.link = c.link "
    " WHERE c.book = b.id)";

ShelfBook read_book(const Statement& s) {
    ShelfBook b;
    b.id = s.integer(0);
    b.source = static_cast<int>(s.integer(1));
    b.link = s.bytes(2);
    b.name = s.bytes(3);
    b.author = s.bytes(4);
    b.base_folder = s.bytes(5);
    b.formats = s.bytes(6);
    b.encoding = s.bytes(7);
    b.convert = s.bytes(8);
    b.cover = s.bytes(9);
    b.last_check = static_cast<std::time_t>(s.integer(10));
    b.last_update = static_cast<std::time_t>(s.integer(11));
    b.last_read = static_cast<int>(s.integer(12));
    b.chapters_known = static_cast<int>(s.integer(13));
    b.chapters_downloaded = static_cast<int>(s.integer(14));
    return b;
}

} // namespace

std::string Shelf::default_path() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && *data == '/') {
        return std::string(data) + "/tovani/shelf.db";
    }
    const char* home = std::getenv("HOME");
    return std::string(home ? home : ".") + "/.local/share/tovani/shelf.db";
}

Shelf::Shelf(sqlite3* db) : db_(db) {}

Shelf::~Shelf() {
    sqlite3_close_v2(db_);
}

std::unique_ptr<Shelf> Shelf::open(const std::string& utf8_path, std::string* error) {
    std::error_code ec;
    const std::filesystem::path path(utf8_path);
    if (path.has_parent_path()) {
        std::filesystem::create_directories(path.parent_path(), ec);
    }
    sqlite3* db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(utf8_path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        if (error) {
            *error = "cannot open the shelf " + utf8_path + ": " +
                     (db ? sqlite3_errmsg(db) : "out of memory");
        }
        sqlite3_close_v2(db);
        return nullptr;
    }
    std::unique_ptr<Shelf> shelf(new Shelf(db));
    sqlite3_busy_timeout(db, 10000); // another tovani may be writing for a moment
    std::string message;
    if (!exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;",
              message) ||
        !shelf->migrate(&message)) {
        if (error) {
            *error = "the shelf " + utf8_path + ": " + message;
        }
        return nullptr;
    }
    return shelf;
}

bool Shelf::migrate(std::string* error) {
    Statement version(db_, "PRAGMA user_version");
    const int from = version.step() == SQLITE_ROW ? static_cast<int>(version.integer(0)) : -1;
    if (from < 0) {
        *error = sqlite3_errmsg(db_);
        return false;
    }
    if (from > schema_version) {
        *error = "written by a newer version of tovani (schema " + std::to_string(from) +
                 ", this one knows " + std::to_string(schema_version) + ")";
        return false;
    }
    for (int v = from; v < schema_version; ++v) {
        Transaction t(db_, *error);
        const std::string bump = "PRAGMA user_version = " + std::to_string(v + 1);
        if (!t.ok() || !exec(db_, migrations[v], *error) || !exec(db_, bump.c_str(), *error) ||
            !t.commit()) {
            return false;
        }
    }
    return true;
}

std::vector<ShelfBook> Shelf::books() const {
    std::lock_guard lock(mutex_);
    std::vector<ShelfBook> out;
    Statement s(db_, (std::string("SELECT ") + book_columns +
                      " FROM books b ORDER BY b.last_update DESC, b.id")
                         .c_str());
    while (s.step() == SQLITE_ROW) {
        out.push_back(read_book(s));
    }
    return out;
}

std::optional<ShelfBook> Shelf::find(int source, std::string_view link) const {
    std::lock_guard lock(mutex_);
    Statement s(db_, (std::string("SELECT ") + book_columns +
                      " FROM books b WHERE b.source = ?1 AND b.link = ?2")
                         .c_str());
    s.bind(1, std::int64_t{source}).bind(2, link);
    if (s.step() != SQLITE_ROW) {
        return std::nullopt;
    }
    return read_book(s);
}

std::optional<ShelfBook> Shelf::find(std::int64_t id) const {
    std::lock_guard lock(mutex_);
    Statement s(db_,
                (std::string("SELECT ") + book_columns + " FROM books b WHERE b.id = ?1").c_str());
    s.bind(1, id);
    if (s.step() != SQLITE_ROW) {
        return std::nullopt;
    }
    return read_book(s);
}

std::int64_t Shelf::save_book(const ShelfBook& book, const std::vector<ChapterEntry>& chapters) {
    std::lock_guard lock(mutex_);
    Transaction t(db_, error_);
    if (!t.ok()) {
        return 0;
    }
    Statement upsert(db_, R"(INSERT INTO books(source, link, name, author, base_folder, formats,
                                               encoding, convert, cover)
                             VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)
                             ON CONFLICT(source, link) DO UPDATE SET
                               name = excluded.name, author = excluded.author,
                               base_folder = excluded.base_folder, formats = excluded.formats,
                               encoding = excluded.encoding, convert = excluded.convert,
                               cover = coalesce(excluded.cover, cover))");
    upsert.bind(1, std::int64_t{book.source})
        .bind(2, book.link)
        .bind(3, book.name)
        .bind(4, book.author)
        .bind(5, book.base_folder)
        .bind_text(6, book.formats)
        .bind_text(7, book.encoding)
        .bind_text(8, book.convert);
    if (!book.cover.empty()) {
        upsert.bind(9, book.cover);
    }
    if (!upsert.run()) {
        error_ = sqlite3_errmsg(db_);
        return 0;
    }
    Statement id(db_, "SELECT id FROM books WHERE source = ?1 AND link = ?2");
    id.bind(1, std::int64_t{book.source}).bind(2, book.link);
    if (id.step() != SQLITE_ROW) {
        error_ = sqlite3_errmsg(db_);
        return 0;
    }
    const std::int64_t book_id = id.integer(0);
    Statement clear(db_, "DELETE FROM chapters WHERE book = ?1");
    clear.bind(1, book_id);
    Statement insert(db_,
                     "INSERT INTO chapters(book, position, name, link) VALUES(?1, ?2, ?3, ?4)");
    if (!clear.run() || !insert.ok()) {
        error_ = sqlite3_errmsg(db_);
        return 0;
    }
    int position = 0;
    for (const ChapterEntry& c : chapters) {
        insert.reset();
        insert.bind(1, book_id).bind(2, std::int64_t{++position}).bind(3, c.name).bind(4, c.link);
        if (!insert.run()) {
            error_ = sqlite3_errmsg(db_);
            return 0;
        }
    }
    return t.commit() ? book_id : 0;
}

std::vector<Shelf::Chapter> Shelf::chapters(std::int64_t book) const {
    std::lock_guard lock(mutex_);
    std::vector<Chapter> out;
    Statement s(db_, R"(SELECT c.position, c.name, c.link,
                               EXISTS(SELECT 1 FROM texts t WHERE t.book = c.book AND t.link = c.link)
                        FROM chapters c WHERE c.book = ?1 ORDER BY c.position)");
    s.bind(1, book);
    while (s.step() == SQLITE_ROW) {
        out.push_back(
            {{static_cast<int>(s.integer(0)), s.bytes(1), s.bytes(2)}, s.integer(3) != 0});
    }
    return out;
}

bool Shelf::store_texts(std::int64_t book, const NextText& next) {
    std::lock_guard lock(mutex_);
    Transaction t(db_, error_);
    Statement insert(db_, "INSERT OR REPLACE INTO texts(book, link, text) VALUES(?1, ?2, ?3)");
    if (!t.ok() || !insert.ok()) {
        return false;
    }
    std::string link;
    std::string text;
    bool failed = false;
    while (next(link, text, failed)) {
        insert.reset();
        insert.bind(1, book).bind(2, link).bind(3, text);
        if (!insert.run()) {
            error_ = sqlite3_errmsg(db_);
            return false;
        }
    }
    if (failed) {
        error_ = "a chapter's text could not be read";
        return false;
    }
    return t.commit();
}

bool Shelf::text(std::int64_t book, std::string_view link, std::string& text) const {
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT text FROM texts WHERE book = ?1 AND link = ?2");
    s.bind(1, book).bind(2, link);
    if (s.step() != SQLITE_ROW) {
        return false;
    }
    text = s.bytes(0);
    return true;
}

namespace {

bool set_column(sqlite3* db, const char* sql, std::int64_t book, std::int64_t value,
                std::string& error) {
    Statement s(db, sql);
    s.bind(1, value).bind(2, book);
    if (!s.run()) {
        error = sqlite3_errmsg(db);
        return false;
    }
    return true;
}

} // namespace

bool Shelf::set_checked(std::int64_t book, std::time_t when) {
    std::lock_guard lock(mutex_);
    return set_column(db_, "UPDATE books SET last_check = ?1 WHERE id = ?2", book, when, error_);
}

bool Shelf::set_updated(std::int64_t book, std::time_t when) {
    std::lock_guard lock(mutex_);
    return set_column(db_, "UPDATE books SET last_update = ?1 WHERE id = ?2", book, when, error_);
}

bool Shelf::set_last_read(std::int64_t book, int chapter) {
    std::lock_guard lock(mutex_);
    return set_column(db_, "UPDATE books SET last_read = ?1 WHERE id = ?2", book, chapter, error_);
}

bool Shelf::remove(std::int64_t book) {
    std::lock_guard lock(mutex_);
    Statement s(db_, "DELETE FROM books WHERE id = ?1");
    s.bind(1, book);
    if (!s.run()) {
        error_ = sqlite3_errmsg(db_);
        return false;
    }
    return true;
}

std::string Shelf::last_error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

} // namespace tovani
