// Drives the program's windows against the demo sites into the states worth showing and saves
// a PNG of each: the main window with results, the chapter window during a download, the reader
// in each colour scheme and the details window. Run by scripts/screenshots under Xvfb.
//
// Xvfb has no compositing manager, so window opacity is not blended on its screen; the pictures
// of the main and chapter windows blend their companion over them as a compositing desktop does.

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <array>
#include <cstdio>
#include <functional>
#include <memory>

#include "demo/demo_sites.h"
#include "ui/app_state.h"
#include "ui/chapter_window.h"
#include "ui/companion_window.h"
#include "ui/details_window.h"
#include "ui/exit_clean_up.h"
#include "ui/fonts.h"
#include "ui/main_window.h"
#include "ui/prompter.h"
#include "ui/qt_text.h"
#include "ui/reader_window.h"
#include "tests/support/demo_site_table.h"

namespace {

using namespace tovani;

// Answers every box without showing it, and prints it for the record.
class QuietPrompter final : public ui::Prompter {
public:
    QMessageBox::StandardButton prompt(QWidget*, const tovani::ui::Message& message,
                                       QMessageBox::StandardButtons buttons) override
    {
        std::fprintf(stderr, "message: %s\n", to_utf8(message.text).c_str());
        return buttons.testFlag(QMessageBox::No) ? QMessageBox::No : QMessageBox::Ok;
    }
};

bool wait_until(const std::function<bool()>& done, int timeout_ms = 30000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeout_ms) {
            return false;
        }
        QTest::qWait(20);
    }
    QTest::qWait(200); // let the last paint land
    return true;
}

bool save(QWidget* window, const QString& folder, const char* name)
{
    QPixmap picture = window->grab();
    auto* companion = window->findChild<ui::CompanionWindow*>();
    if (companion != nullptr && companion->isVisible()) {
        QPainter p(&picture);
        p.setOpacity(companion->alpha() / 255.0);
        p.drawPixmap(0, 0, companion->grab());
    }
    const QString path = folder + QLatin1Char('/') + QLatin1String(name);
    const bool ok = picture.save(path, "PNG");
    std::fprintf(stderr, "%s %s\n", ok ? "saved" : "FAILED", qPrintable(path));
    return ok;
}

int run(const QString& out)
{
    demo::DemoOptions options;
    options.free_ports = true;
    std::string error;
    auto demo = demo::DemoSites::start(options, &error);
    if (!demo) {
        std::fprintf(stderr, "demo sites: %s\n", error.c_str());
        return 1;
    }
    QTemporaryDir downloads;
    ui::AppState state(tovani::test::demo_site_table(*demo));
    state.download_base = ui::to_gbk(downloads.path() + QStringLiteral("/"));
    QuietPrompter prompter;
    bool ok = true;

    // The main window with the results of a search for an author.
    auto* main_window = new ui::MainWindow(state, prompter);
    main_window->show();
    QApplication::setActiveWindow(main_window);
    main_window->findChild<QComboBox*>(QStringLiteral("组合框1"))->setCurrentIndex(0);
    auto* edit = main_window->findChild<QLineEdit*>(QStringLiteral("编辑框1"));
    edit->setFocus();
    wait_until([&] { return edit->hasFocus(); }, 2000);
    edit->setText(QStringLiteral("青衫客"));
    main_window->run_search();
    auto* results = main_window->findChild<QTreeWidget*>(QStringLiteral("超级列表框1"));
    ok &= wait_until([&] { return !main_window->is_busy() && results->topLevelItemCount() > 0; });
    results->setCurrentItem(results->topLevelItem(1));
    ok &= save(main_window, out, "main_window_results.png");

    // The details of the selected book.
    ui::DetailsWindow* details = nullptr;
    QObject::connect(main_window, &ui::MainWindow::details_window_opened,
                     [&](ui::DetailsWindow* w) { details = w; });
    main_window->show_book_details();
    ok &= wait_until([&] { return details != nullptr && !details->cover_pending(); });
    if (details != nullptr) {
        ok &= save(details, out, "details_window.png");
        details->close();
    }

    // The chapter window while a download runs (slowed down so it can be seen).
    ui::ChapterWindow* chapters = nullptr;
    QObject::connect(main_window, &ui::MainWindow::chapter_window_opened,
                     [&](ui::ChapterWindow* w) { chapters = w; });
    results->setCurrentItem(results->topLevelItem(2));
    main_window->view_chapters();
    ok &= wait_until([&] { return chapters != nullptr && !chapters->is_loading(); });
    if (chapters == nullptr) {
        return 1;
    }
    chapters->findChild<QComboBox*>(QStringLiteral("组合框1"))->setCurrentIndex(0);
    demo->set_latency(std::chrono::milliseconds(400));
    QString progress;
    QObject::connect(chapters, &ui::ChapterWindow::progress_shown,
                     [&](const QString& text) { progress = text; });
    chapters->start_download();
    ok &= wait_until([&] { return progress.startsWith(QStringLiteral("当前进度：")) && state.progress_percent > 30; });
    auto* list = chapters->findChild<QTreeWidget*>(QStringLiteral("超级列表框1"));
    list->setCurrentItem(list->topLevelItem(0));
    ok &= save(chapters, out, "chapter_window_downloading.png");
    demo->set_latency(std::chrono::milliseconds(0));

    // The reader on the first chapter, in each colour scheme.
    ui::ReaderWindow* reader = chapters->open_reader();
    ok &= wait_until([&] { return !reader->is_busy(); });
    const char* names[] = {"reader_default.png", "reader_eye_care.png", "reader_night.png"};
    for (int scheme = 0; scheme < 3; ++scheme) {
        reader->findChild<QComboBox*>(QStringLiteral("colours"))->setCurrentIndex(scheme);
        reader->apply_colour_scheme(scheme);
        QTest::qWait(200);
        ok &= save(reader, out, names[scheme]);
    }

    ui::exit_clean_up(state);
    wait_until([&] { return state.pool.is_all_done(); }, 30000);
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ui::install_font_substitutions();
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    QDir().mkpath(out);
    return run(out);
}
