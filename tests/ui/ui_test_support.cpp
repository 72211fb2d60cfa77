#include "ui_test_support.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QSettings>
#include <QTest>

#include <gtest/gtest.h>

#include <array>

#include "download/shelf.h"
#include "tests/support/demo_site_table.h"
#include "text/encoding.h"
#include "ui/fonts.h"
#include "ui/qt_text.h"

namespace tovani::ui::test {
namespace {

// One QApplication for the whole test program, on the offscreen platform unless the run asks
// for another (the click-through test runs under Xvfb).
class QtEnvironment final : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        // Settings, rule files and the shelf of the tests' own, never the user's.
        qputenv("XDG_CONFIG_HOME", (home_.path() + QStringLiteral("/config")).toUtf8());
        qputenv("XDG_DATA_HOME", (home_.path() + QStringLiteral("/data")).toUtf8());
        app_ = std::make_unique<QApplication>(argc_, argv_);
        QApplication::setQuitOnLastWindowClosed(false);
        set_up_application();
    }
    void TearDown() override {
        delete_windows();
        app_.reset();
    }

private:
    int argc_ = 1;
    char name_[16] = "tovani-ui-test";
    char* argv_[2] = {name_, nullptr};
    QTemporaryDir home_;
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const qt_environment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

} // namespace

QMessageBox::StandardButton RecordingPrompter::prompt(QWidget*, const Message& message,
                                                      QMessageBox::StandardButtons buttons) {
    messages.push_back(
        {from_gbk(message.text), message.icon, from_gbk(message.title), buttons, {}});
    if (buttons.testFlag(QMessageBox::Yes)) {
        bool yes = true;
        if (!answers.empty()) {
            yes = answers.front();
            answers.pop_front();
        }
        return yes ? QMessageBox::Yes : QMessageBox::No;
    }
    return QMessageBox::Ok;
}

bool RecordingPrompter::inform_with_action(QWidget*, const Message& message,
                                           const QString& action) {
    messages.push_back(
        {from_gbk(message.text), message.icon, from_gbk(message.title), QMessageBox::Ok, action});
    bool chosen = false;
    if (!action_answers.empty()) {
        chosen = action_answers.front();
        action_answers.pop_front();
    }
    return chosen;
}

void RecordingPrompter::open_folder(const QString& folder) {
    opened_folders << folder;
}

QString RecordingPrompter::choose_folder(QWidget*, const QString&, const QString&) {
    return folder_answer;
}

bool wait_until(const std::function<bool()>& done, int timeout_ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeout_ms) {
            return false;
        }
        QTest::qWait(10);
    }
    return true;
}

std::string g(const char* utf8) {
    return gbk(utf8);
}

QString q(const std::string& gbk_text) {
    return from_gbk(gbk_text);
}

demo::DemoSites& demo_sites() {
    static const std::unique_ptr<demo::DemoSites> sites = [] {
        demo::DemoOptions options;
        options.free_ports = true;
        options.library.scale_chapters = 120;
        std::string error;
        auto started = demo::DemoSites::start(options, &error);
        if (!started) {
            ADD_FAILURE() << "demo sites did not start: " << error;
            std::abort();
        }
        return started;
    }();
    return *sites;
}

SourceTable demo_site_table() {
    return tovani::test::demo_site_table(demo_sites());
}

StateOnDemo::StateOnDemo() : state(std::make_unique<AppState>(demo_site_table())) {
    // Each test starts from no remembered settings and an empty shelf.
    QSettings().clear();
    for (const char* part : {"", "-wal", "-shm"}) {
        QFile::remove(QString::fromStdString(Shelf::default_path() + part));
    }
    state->download_base = to_gbk(folder.path() + QStringLiteral("/"));
}

QString StateOnDemo::download_folder() const {
    return folder.path() + QStringLiteral("/小说下载");
}

void delete_windows() {
    QList<QPointer<QWidget>> windows;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->parentWidget() == nullptr) {
            windows.append(w);
        }
    }
    for (const QPointer<QWidget>& w : windows) {
        delete w.data();
    }
}

std::string read_bytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray bytes = file.readAll();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

} // namespace tovani::ui::test
