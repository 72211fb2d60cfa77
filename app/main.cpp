// tovani-gui: start-up, the main window's message loop and the exit clean-up.

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QMessageBox>
#include <QSettings>

#include <cstdlib>
#include <memory>
#include <utility>

#include "sources/source_table.h"
#include "ui/app_state.h"
#include "ui/background_runner.h"
#include "ui/exit_clean_up.h"
#include "ui/fonts.h"
#include "ui/main_window.h"
#include "ui/prompter.h"
#include "ui/qt_text.h"

namespace {

// Runs the program; sets `workers_left` when threads were still inside a site request or a
// chapter at the end.
int run(int argc, char** argv, bool& workers_left) {
    QApplication app(argc, argv);
    // Closing the main window ends the program, whatever other windows are open.
    QApplication::setQuitOnLastWindowClosed(false);
    tovani::ui::set_up_application();
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/tovani-%1.png").arg(size), QSize(size, size));
    }
    QApplication::setWindowIcon(icon);

    tovani::SourceTable sources = tovani::load_source_table();
    if (!sources.problems().empty()) {
        // A rule file or a line of the sites file was left out; every other source works.
        QString text = QStringLiteral("以下书源设置有问题，已跳过：");
        for (const std::string& problem : sources.problems()) {
            text += QStringLiteral("\n") + QString::fromStdString(problem);
        }
        QMessageBox box(QMessageBox::Warning, QStringLiteral("系统提示"), text, QMessageBox::Ok);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    }

    auto state = std::make_unique<tovani::ui::AppState>(std::move(sources));
    // The download folder chosen last time, if it still exists.
    const QString base = QSettings().value(QStringLiteral("books/base_folder")).toString();
    if (!base.isEmpty() && QDir(base).exists()) {
        state->download_base = tovani::ui::to_gbk(base);
    }
    tovani::ui::MessageBoxPrompter prompter;
    auto* main_window = new tovani::ui::MainWindow(*state, prompter);
    QObject::connect(main_window, &tovani::ui::MainWindow::closing, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    main_window->show();
    const int code = app.exec();

    tovani::ui::exit_clean_up(*state);
    workers_left = tovani::ui::background_threads_running() > 0 || state->pool.busy_count() > 0;
    state.reset();
    return code;
}

} // namespace

int main(int argc, char** argv) {
    bool workers_left = false;
    const int code = run(argc, argv, workers_left);
    if (workers_left) {
        // A chapter or a search still waits for a site on a detached thread; leave without
        // running static destructors it might still be using.
        std::quick_exit(code);
    }
    return code;
}
