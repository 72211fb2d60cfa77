#pragma once
// The user's desktop, where the download folder lives unless another base folder is chosen.

#include <string>

namespace tovani {

/// The user's desktop folder, ending in "/" (GBK): $XDG_DESKTOP_DIR, else XDG_DESKTOP_DIR from
/// $XDG_CONFIG_HOME/user-dirs.dirs (default ~/.config), else $HOME/Desktop. Looked up anew on
/// every call; "" when there is no home folder at all (paths are then relative).
std::string desktop_folder();

/// `base_folder` as chosen, or desktop_folder() when none was chosen (""): where every
/// download, book file and saved chapter of that base goes.
std::string chosen_or_desktop(const std::string& base_folder);

} // namespace tovani
