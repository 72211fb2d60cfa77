#include "ui/chapter_save.h"

namespace tovani::ui {

SaveOutcome save_chapter_file(const std::string&, const std::string&, const std::string&,
                              const std::string&)
{
    return {}; // filled in once the download store has landed
}

} // namespace tovani::ui
