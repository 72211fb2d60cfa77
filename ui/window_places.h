#pragma once
// Where windows open and how big: each window comes back where the reader left it; a window
// opened for the first time stands a little below and right of the window it was opened from,
// so new windows cascade instead of covering each other. Kept with QSettings.

class QWidget;

namespace tovani::ui {

/// Puts `window` at its remembered place and size, or cascades it from `opener` (or leaves it
/// where it is when there is neither). Call once the window has its default size.
void place_window(QWidget* window, const QWidget* opener = nullptr);

/// Remembers `window`'s place and size under its object name.
void remember_window_place(const QWidget* window);

} // namespace tovani::ui
