#pragma once
// What runs when the main window has closed and the message loop has ended.

namespace tovani::ui {

struct AppState;

/// Tells the pool to stop without waiting for the chapters in progress (their job's shared
/// state keeps them safe), frees the state's texts, then closes and deletes every remaining
/// top-level window (chapter windows, readers, details), whose clean-up then finds the pool
/// already stopping and waits for nothing.
void exit_clean_up(AppState& state);

} // namespace tovani::ui
