#include "ui/exit_clean_up.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>

#include "ui/app_state.h"

namespace tovani::ui {

void exit_clean_up(AppState& state) {
    state.clean_up();
    QList<QPointer<QWidget>> windows;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->parentWidget() == nullptr) {
            windows.append(w);
        }
    }
    for (const QPointer<QWidget>& w : windows) {
        delete w.data(); // null when an earlier deletion took it along
    }
}

} // namespace tovani::ui
