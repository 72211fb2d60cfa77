// Drives the program's windows against the demo sites into the states worth showing and saves
// a PNG of each: the main window with results (one source, then all of them), the details
// window, the chapter window during a download, the reader in each colour scheme and the
// bookshelf after an update. Run by scripts/screenshots under Xvfb.
//
// Each picture is taken from the screen, not from the widget, so it shows what a user of that
// display sees: on a display without a compositing manager that means no companion picture.

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProgressBar>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <cstdio>
#include <functional>

#include "demo/demo_sites.h"
#include "tests/support/demo_site_table.h"
#include "ui/app_state.h"
#include "ui/chapter_window.h"
#include "ui/details_window.h"
#include "ui/exit_clean_up.h"
#include "ui/fonts.h"
#include "ui/main_window.h"
#include "ui/prompter.h"
#include "ui/qt_text.h"
#include "ui/reader_window.h"
#include "ui/shelf_window.h"

namespace {

using namespace tovani;

// Answers every box without showing it (Yes to the merge question), and prints it for the record.
class QuietPrompter final : public ui::Prompter {
public:
    QMessageBox::StandardButton prompt(QWidget*, const ui::Message& message,
                                       QMessageBox::StandardButtons buttons) override {
        std::fprintf(stderr, "message: %s\n", to_utf8(message.text).c_str());
        return buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
    }
    void open_folder(const QString&) override {}
};

// Notes a step that did not come about; the run goes on to take the other pictures.
bool check(bool done, const char* step) {
    if (!done) {
        std::fprintf(stderr, "FAILED: %s\n", step);
    }
    return done;
}

bool wait_until(const std::function<bool()>& done, int timeout_ms = 30000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeout_ms) {
            return false;
        }
        QTest::qWait(20);
    }
    return true;
}

// Brings `window` to the front and saves the part of the screen it covers.
bool save(QWidget* window, const QString& folder, const char* name) {
    window->raise();
    window->activateWindow();
    QTest::qWait(400); // let the window manager (if any) and the last paint land
    QScreen* screen = window->screen();
    const QRect area = window->frameGeometry();
    const QPixmap picture =
        screen->grabWindow(0, area.x() - screen->geometry().x(), area.y() - screen->geometry().y(),
                           area.width(), area.height());
    const QString path = folder + QLatin1Char('/') + QLatin1String(name);
    const bool ok = !picture.isNull() && picture.save(path, "PNG");
    std::fprintf(stderr, "%s %s\n", ok ? "saved" : "FAILED", qPrintable(path));
    return ok;
}

int run(const QString& out) {
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

    // The main window with the results of a search for an author on one source.
    auto* main_window = new ui::MainWindow(state, prompter);
    main_window->move(40, 40);
    main_window->show();
    auto* sources = main_window->findChild<QComboBox*>(QStringLiteral("组合框1"));
    auto* edit = main_window->findChild<QLineEdit*>(QStringLiteral("编辑框1"));
    auto* results = main_window->findChild<QTreeWidget*>(QStringLiteral("超级列表框1"));
    auto search = [&](int source_index, const QString& keyword) {
        sources->setCurrentIndex(source_index);
        edit->setFocus();
        edit->setText(keyword);
        main_window->run_search();
        return wait_until(
            [&] { return !main_window->is_busy() && results->topLevelItemCount() > 0; });
    };
    ok &= check(search(0, QStringLiteral("青衫客")), "results of one source");
    results->setCurrentItem(results->topLevelItem(1));
    ok &= save(main_window, out, "main_window_results.png");

    // The details of the selected book.
    ui::DetailsWindow* details = nullptr;
    QObject::connect(main_window, &ui::MainWindow::details_window_opened,
                     [&](ui::DetailsWindow* w) { details = w; });
    main_window->show_book_details();
    ok &= check(wait_until([&] { return details != nullptr && !details->cover_pending(); }),
                "details window");
    if (details != nullptr) {
        ok &= save(details, out, "details_window.png");
        details->close();
    }

    // One title on every source at once.
    ok &= check(search(sources->count() - 1, QStringLiteral("星河渡舟")), "results of all sources");
    results->setCurrentItem(results->topLevelItem(0));
    ok &= save(main_window, out, "main_window_all_sources.png");

    // The chapter window while a download runs (slowed down so it can be seen).
    ok &= check(search(0, QStringLiteral("青衫客")), "search before the download");
    ui::ChapterWindow* chapters = nullptr;
    QObject::connect(main_window, &ui::MainWindow::chapter_window_opened,
                     [&](ui::ChapterWindow* w) { chapters = w; });
    results->setCurrentItem(results->topLevelItem(2));
    main_window->view_chapters();
    ok &= check(wait_until([&] { return chapters != nullptr && !chapters->is_loading(); }),
                "chapter list");
    if (chapters == nullptr) {
        return 1;
    }
    chapters->findChild<QComboBox*>(QStringLiteral("组合框1"))->setCurrentIndex(0);
    demo->set_latency(std::chrono::milliseconds(400));
    auto* bar = chapters->findChild<QProgressBar*>(QStringLiteral("进度条"));
    bool finished = false;
    QObject::connect(chapters, &ui::ChapterWindow::download_finished, [&] { finished = true; });
    chapters->start_download();
    ok &=
        check(wait_until([&] { return bar != nullptr && bar->value() * 10 > bar->maximum() * 3; }),
              "download under way");
    chapters->select_row(0);
    ok &= save(chapters, out, "chapter_window_downloading.png");
    demo->set_latency(std::chrono::milliseconds(0));
    ok &= check(wait_until([&] { return finished; }, 60000), "download finished");

    // The reader on the first chapter, in each colour scheme.
    ui::ReaderWindow* reader = chapters->open_reader();
    ok &= check(wait_until([&] { return !reader->is_busy(); }), "reader");
    const char* names[] = {"reader_default.png", "reader_eye_care.png", "reader_night.png"};
    for (int scheme = 0; scheme < 3; ++scheme) {
        reader->findChild<QComboBox*>(QStringLiteral("colours"))->setCurrentIndex(scheme);
        reader->apply_colour_scheme(scheme);
        ok &= save(reader, out, names[scheme]);
    }
    reader->close();

    // The bookshelf with the book just downloaded, after an update that found new chapters.
    for (const demo::DemoBook* book : demo->library().search(chapters->book_name())) {
        if (book->title == chapters->book_name()) {
            demo->grow_book(book->id, 3);
        }
    }
    ui::ShelfWindow* shelf = nullptr;
    QObject::connect(main_window, &ui::MainWindow::shelf_window_opened,
                     [&](QWidget* w) { shelf = qobject_cast<ui::ShelfWindow*>(w); });
    main_window->show_shelf();
    ok &= check(shelf != nullptr && shelf->list()->topLevelItemCount() > 0, "shelf lists the book");
    if (shelf != nullptr && shelf->list()->topLevelItemCount() > 0) {
        bool updated = false;
        QObject::connect(shelf, &ui::ShelfWindow::updated, [&] { updated = true; });
        shelf->update_all();
        ok &= check(wait_until([&] { return updated; }), "shelf updated");
        shelf->list()->setCurrentItem(shelf->list()->topLevelItem(0));
        ok &= save(shelf, out, "shelf_window.png");
    }

    ui::exit_clean_up(state);
    wait_until([&] { return state.pool.is_all_done(); }, 30000);
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    // Settings and the shelf of this run's own, never the user's.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ui::set_up_application();
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    QDir().mkpath(out);
    return run(out);
}
