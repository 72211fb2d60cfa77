#pragma once
// Saving the chapter shown in the reader as a chapter file of the download folder.

#include <string>

namespace tovani::ui {

struct SaveOutcome {
    bool ok = false;
    std::string path; ///< GBK path of the chapter file, written or not
};

/// Writes `text` (GBK) whole as the chapter file "【" + `number_text` + "】" + `chapter_name`
/// + ".txt" of the download folder under `base_folder` (empty: the desktop folder), with the
/// store's safe naming. Creates the folder when missing.
SaveOutcome save_chapter_file(const std::string& base_folder, const std::string& number_text,
                              const std::string& chapter_name, const std::string& text);

} // namespace tovani::ui
