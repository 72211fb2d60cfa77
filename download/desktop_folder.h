#pragma once
// The user's desktop, where the download folder lives unless another base folder is chosen.

#include <string>

namespace tovani {

/// The user's desktop folder, ending in "/" (GBK): $XDG_DESKTOP_DIR, else XDG_DESKTOP_DIR from
/// $XDG_CONFIG_HOME/user-dirs.dirs (default ~/.config), else $HOME/Desktop. Looked up anew on
/// every call; "" when there is no home folder at all (paths are then relative).
std::string desktop_folder();

} // namespace tovani
