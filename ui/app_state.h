#pragma once
// The process-wide state the windows share: the source of the current results, the book that
// was opened last, the figures of the running download, the last book details and the one
// worker pool. The program owns one instance from start-up to exit.

#include <string>

#include "download/thread_pool.h"
#include "sources/book_details.h"
#include "sources/source_table.h"

namespace tovani::ui {

struct AppState {
    explicit AppState(SourceTable source_table = {});
    AppState(const AppState&) = delete;
    AppState& operator=(const AppState&) = delete;

    SourceTable sources;     ///< the book sources and where they live
    int selected_source = 0; ///< the id of the source of the current results, once searched
    int hotkey_id = 0;       ///< identifier of the Enter shortcut, 0 when there is none

    // The book opened last with "查看章节" (GBK).
    std::string book_link;
    std::string book_name;
    std::string book_author;

    // The download started last.
    std::string progress_file;
    int chapter_total = 0;
    float progress_step = 0;
    float progress_percent = 0;

    ThreadPool pool;

    // What the details window shows (GBK); every request replaces all seven.
    std::string details_cover_url;
    std::string details_author;
    std::string details_title;
    std::string details_update_time;
    std::string details_status;
    std::string details_latest_chapter;
    std::string details_description;

    /// Folder that holds "小说下载" (GBK, ending in "/"); empty means the desktop folder.
    std::string download_base;

    void set_details(const BookDetails& details);
    BookDetails details() const;

    /// Exit clean-up: stops the pool without waiting for running chapters and frees the texts.
    void clean_up();
};

} // namespace tovani::ui
