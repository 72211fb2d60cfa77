// Drives the chapter window through the download of a 2000-chapter book from the demo sites:
// the list is fetched, "多线程下载" is pressed, the timer notices the end and the merge question
// is answered Yes. Checks that the progress label reached the end and that the merged book file
// holds every chapter, and reports the process's peak resident memory.

#include <sys/resource.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <functional>
#include <memory>

#include "demo/demo_sites.h"
#include "download/download_job.h"
#include "download/download_store.h"
#include "tests/support/demo_site_table.h"
#include "ui/app_state.h"
#include "ui/chapter_window.h"
#include "ui/fonts.h"
#include "ui/prompter.h"
#include "ui/qt_text.h"

namespace {

using namespace tovani;

constexpr int chapter_count = 2000;
constexpr int source = 7; // a GBK site over plain HTTP

QApplication& application() {
    static int argc = 1;
    static char name[] = "ui_chapter_download_bench";
    static char* argv[] = {name, nullptr};
    static std::unique_ptr<QApplication> app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        // Settings and the shelf of the run's own, never the user's.
        static QTemporaryDir home;
        qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toUtf8());
        qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());
        auto a = std::make_unique<QApplication>(argc, argv);
        ui::install_font_substitutions();
        return a;
    }();
    return *app;
}

demo::DemoSites& demo_sites() {
    static std::unique_ptr<demo::DemoSites> sites = [] {
        demo::DemoOptions options;
        options.free_ports = true;
        options.library.scale_chapters = chapter_count;
        options.library.scale_chapter_bytes = 20000; // pages of a realistic size
        return demo::DemoSites::start(options);
    }();
    return *sites;
}

class AnswerYes final : public ui::Prompter {
public:
    QMessageBox::StandardButton prompt(QWidget*, const tovani::ui::Message& message,
                                       QMessageBox::StandardButtons buttons) override {
        shown.push_back(message);
        questions += buttons.testFlag(QMessageBox::Yes) ? 1 : 0;
        return buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
    }
    void open_folder(const QString&) override {}
    std::vector<tovani::ui::Message> shown;
    int questions = 0;
};

bool wait_until(const std::function<bool()>& done, int timeout_ms) {
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

// Compares the book file with the expected chapters piece by piece, so the check itself does
// not hold the whole book in memory.
bool book_file_is_complete(const QString& path, const demo::DemoLibrary& library,
                           const demo::DemoBook& book) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    for (int n = 1; n <= book.chapter_count; ++n) {
        const std::string piece = library.chapter_name(book, n) + "\r\n" +
                                  library.expected_chapter_text(source, book, n) + "\r\n\r\n";
        const QByteArray read = file.read(static_cast<qint64>(piece.size()));
        if (read.size() != static_cast<qsizetype>(piece.size()) ||
            std::memcmp(read.constData(), piece.data(), piece.size()) != 0) {
            return false;
        }
    }
    return file.atEnd();
}

void BM_ChapterWindowDownloadsAndMerges(benchmark::State& state) {
    application();
    demo::DemoSites& demo = demo_sites();
    const demo::DemoBook& book = demo.library().scale_book();

    float sum = 0;
    for (int i = 0; i < chapter_count; ++i) {
        sum += static_cast<float>(100.0 / chapter_count);
    }
    const QString last_progress = ui::from_gbk(progress_text(sum));

    for (auto _ : state) {
        QTemporaryDir folder;
        ui::AppState app_state(tovani::test::demo_site_table(demo));
        app_state.download_base = ui::to_gbk(folder.path() + QStringLiteral("/"));
        app_state.selected_source = source;
        app_state.book_link = demo.book_link(source, book.id);
        app_state.book_name = book.title;
        app_state.book_author = book.author;
        AnswerYes prompter;

        auto window = std::make_unique<ui::ChapterWindow>(app_state, prompter);
        window->show();
        if (!wait_until([&] { return !window->is_loading(); }, 60000) ||
            window->row_count() != chapter_count) {
            state.SkipWithError("the chapter list did not load");
            return;
        }
        window->findChild<QComboBox*>(QStringLiteral("组合框1"))
            ->setCurrentText(QStringLiteral("30"));
        QString shown;
        QObject::connect(window.get(), &ui::ChapterWindow::progress_shown,
                         [&](const QString& text) { shown = text; });
        bool finished = false;
        QObject::connect(window.get(), &ui::ChapterWindow::download_finished,
                         [&] { finished = true; });
        window->start_download();
        if (!wait_until([&] { return finished; }, 600000)) {
            state.SkipWithError("the download did not finish");
            return;
        }
        state.PauseTiming();
        const QString book_file =
            ui::from_gbk(book_file_path(app_state.download_base, book.title, book.author));
        if (shown != last_progress) {
            state.SkipWithError(("progress label ended on " + shown.toStdString()).c_str());
            return;
        }
        if (prompter.questions != 1 || !book_file_is_complete(book_file, demo.library(), book)) {
            state.SkipWithError("the merged book file is not complete");
            return;
        }
        state.counters["book_file_mb"] = static_cast<double>(QFile(book_file).size()) / (1 << 20);
        window.reset();
        state.ResumeTiming();
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_mb"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
    state.counters["chapters_per_s"] = benchmark::Counter(
        static_cast<double>(chapter_count), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ChapterWindowDownloadsAndMerges)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

} // namespace
