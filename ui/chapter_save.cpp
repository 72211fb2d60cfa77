#include "ui/chapter_save.h"

#include "download/download_store.h"
#include "text/encoding.h"

namespace tovani::ui {

SaveOutcome save_chapter_file(const std::string& base_folder, const std::string& number_text,
                              const std::string& chapter_name, const std::string& text)
{
    const std::string base = base_folder.empty() ? desktop_folder() : base_folder;
    const std::string folder = download_folder(base);
    // The typed number stands in for the chapter number, under the same naming rule the
    // download uses, so neither a typed text nor a chapter name can leave the folder.
    const std::string stem = gbk("【") + number_text + gbk("】") + chapter_name;
    SaveOutcome outcome;
    outcome.path = folder + "/" + safe_file_name(stem, ".txt");
    outcome.ok = create_directory(folder) && write_file(outcome.path, text);
    return outcome;
}

} // namespace tovani::ui
