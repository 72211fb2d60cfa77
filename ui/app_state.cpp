#include "ui/app_state.h"

#include <utility>

namespace tovani::ui {

AppState::AppState(SourceTable source_table) : sources(std::move(source_table)) {}

void AppState::set_details(const BookDetails& d) {
    details_cover_url = d.cover_url;
    details_author = d.author;
    details_title = d.title;
    details_update_time = d.update_time;
    details_status = d.status;
    details_latest_chapter = d.latest_chapter;
    details_description = d.description;
}

BookDetails AppState::details() const {
    return BookDetails{details_cover_url,   details_author, details_title,
                       details_update_time, details_status, details_latest_chapter,
                       details_description};
}

void AppState::clean_up() {
    book_link.clear();
    book_name.clear();
    book_author.clear();
    progress_file.clear();
    // Workers still inside a chapter keep the job's shared state alive and leave on their own.
    pool.destroy();
    set_details({});
}

} // namespace tovani::ui
