#include "ui/window_places.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QWidget>

namespace tovani::ui {
namespace {

QString key_of(const QWidget* window) {
    return QStringLiteral("windows/") + window->objectName() + QStringLiteral("/geometry");
}

constexpr int cascade_step = 32;

} // namespace

void place_window(QWidget* window, const QWidget* opener) {
    QSettings settings;
    const QByteArray saved = settings.value(key_of(window)).toByteArray();
    if (!saved.isEmpty() && window->restoreGeometry(saved)) {
        return;
    }
    if (opener != nullptr) {
        QPoint at = opener->frameGeometry().topLeft() + QPoint(cascade_step, cascade_step);
        // Back to the screen's corner when the cascade would leave the screen.
        if (const QScreen* screen = opener->screen()) {
            const QRect area = screen->availableGeometry();
            if (!area.contains(QRect(at, window->size()))) {
                at = area.topLeft() + QPoint(cascade_step, cascade_step);
            }
        }
        window->move(at);
    }
}

void remember_window_place(const QWidget* window) {
    QSettings settings;
    settings.setValue(key_of(window), window->saveGeometry());
}

} // namespace tovani::ui
