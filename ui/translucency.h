#pragma once
// Whether the window system can show a window translucent over another. On an X server that
// only happens while a compositing manager runs; without one, a "translucent" window is drawn
// fully opaque and would hide what lies beneath it.

namespace tovani::ui {

/// True on X11 while a compositing manager owns the _NET_WM_CM_S<screen> selection, and on
/// every other platform (Wayland compositors and Windows always composite; the offscreen
/// platform of the tests draws nothing on screen). Asked anew on every call.
bool translucency_available();

} // namespace tovani::ui
