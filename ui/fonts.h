#pragma once
// The two font faces the windows name, mapped to CJK faces installed on the system.

#include <QFont>

namespace tovani::ui {

/// Maps "黑体" and "楷体" to installed CJK faces (WenQuanYi Zen Hei, AR PL UKai), so the names
/// used by the windows render Chinese instead of boxes. Safe to call more than once.
void install_font_substitutions();

/// Names the program (for QSettings and the desktop), maps the font faces and gives menus,
/// dialogs and labels one font: "黑体" at 11 points. Call once after the QApplication exists.
void set_up_application();

/// "黑体" at `point_size`.
QFont hei_font(int point_size);
/// "楷体" at `point_size`.
QFont kai_font(int point_size);

} // namespace tovani::ui
