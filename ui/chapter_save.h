#pragma once
// Saving the chapter shown in the reader as a chapter file in its book's folder.

#include <string>

namespace tovani::ui {

struct SaveOutcome {
    bool ok = false;
    std::string path; ///< GBK path of the chapter file, written or not
};

/// The book a saved chapter belongs to (GBK).
struct SavedBook {
    std::string base_folder; ///< folder holding "小说下载"; empty: the desktop folder
    std::string name;
    std::string author;
};

/// Writes `text` (GBK) whole as the chapter file "【" + `number_text` + "】" + `chapter_name`
/// + ".txt" in the folder of `book`, with the store's safe naming, so chapters of two books
/// never meet. Creates the folder when missing.
SaveOutcome save_chapter_file(const SavedBook& book, const std::string& number_text,
                              const std::string& chapter_name, const std::string& text);

} // namespace tovani::ui
