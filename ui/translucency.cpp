#include "ui/translucency.h"

#include <QGuiApplication>
#include <QString>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace tovani::ui {
namespace {

// The screen of $DISPLAY (":0.1" is screen 1); 0 when it names none.
int display_screen() {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr) {
        return 0;
    }
    const std::string text(display);
    const auto colon = text.rfind(':');
    const auto dot = text.find('.', colon == std::string::npos ? 0 : colon);
    return dot == std::string::npos ? 0 : std::atoi(text.c_str() + dot + 1);
}

bool x11_compositor_running(xcb_connection_t* connection) {
    const std::string name = "_NET_WM_CM_S" + std::to_string(display_screen());
    const xcb_intern_atom_cookie_t atom_cookie =
        xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.c_str());
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(connection, atom_cookie, nullptr), &std::free);
    if (!atom) {
        return false;
    }
    const xcb_get_selection_owner_cookie_t owner_cookie =
        xcb_get_selection_owner(connection, atom->atom);
    std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
        xcb_get_selection_owner_reply(connection, owner_cookie, nullptr), &std::free);
    return owner && owner->owner != XCB_NONE;
}

} // namespace

bool translucency_available() {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) {
        return true;
    }
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr && x11->connection() != nullptr &&
           x11_compositor_running(x11->connection());
}

} // namespace tovani::ui
