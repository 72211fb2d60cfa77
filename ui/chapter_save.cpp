#include "ui/chapter_save.h"

#include "download/download_store.h"
#include "text/encoding.h"

namespace tovani::ui {

SaveOutcome save_chapter_file(const SavedBook& book, const std::string& number_text,
                              const std::string& chapter_name, const std::string& text) {
    const std::string base = chosen_or_desktop(book.base_folder);
    const std::string folder = book_folder(base, book.name, book.author);
    // The typed number stands in for the chapter number, under the same naming rule the
    // download uses, so neither a typed text nor a chapter name can leave the folder.
    const std::string stem = gbk("【") + number_text + gbk("】") + chapter_name;
    SaveOutcome outcome;
    outcome.path = folder + "/" + safe_file_name(stem, ".txt");
    outcome.ok = create_directory(folder) && write_file(outcome.path, text);
    return outcome;
}

} // namespace tovani::ui
