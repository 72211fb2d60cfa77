#pragma once
// What the window tests share: an offscreen QApplication, a prompter that records message boxes
// and answers questions, waiting on the event loop, and the demo sites on free ports.

#include <QMessageBox>
#include <QString>
#include <QTemporaryDir>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "demo/demo_sites.h"
#include "sources/source_table.h"
#include "ui/app_state.h"
#include "ui/prompter.h"

namespace tovani::ui::test {

/// One message box as it would have been shown.
struct ShownMessage {
    QString text;
    MessageIcon icon = MessageIcon::error;
    QString title;
    QMessageBox::StandardButtons buttons;
    QString action; ///< the extra button of inform_with_action, if there was one
};

class RecordingPrompter final : public Prompter {
public:
    QMessageBox::StandardButton prompt(QWidget* parent, const Message& message,
                                       QMessageBox::StandardButtons buttons) override;

    bool inform_with_action(QWidget* parent, const Message& message,
                            const QString& action) override;
    void open_folder(const QString& folder) override;
    QString choose_folder(QWidget* parent, const QString& title, const QString& start) override;

    std::vector<ShownMessage> messages;
    /// Answers to Yes/No questions, taken in order; Yes when none is left.
    std::deque<bool> answers;
    /// Whether the extra button of a message is chosen; OK when none is left.
    std::deque<bool> action_answers;
    /// Folders that would have been shown in the file manager.
    QStringList opened_folders;
    /// What choose_folder answers.
    QString folder_answer;
};

/// Turns the event loop until `done()` holds or `timeout_ms` has passed; returns `done()`.
bool wait_until(const std::function<bool()>& done, int timeout_ms = 15000);

/// UTF-8 literal to the GBK text the core uses.
std::string g(const char* utf8);
/// GBK text to a QString.
QString q(const std::string& gbk_text);

/// The demo sites on free ports, started once per test program.
demo::DemoSites& demo_sites();
/// A site table pointing at the demo sites.
SourceTable demo_site_table();

/// AppState on the demo sites, downloading into a fresh temporary folder.
struct StateOnDemo {
    StateOnDemo();
    QTemporaryDir folder;
    std::unique_ptr<AppState> state;
    /// The download folder (UTF-8 path for Qt's file classes).
    QString download_folder() const;
};

/// Deletes every top-level window that has no parent (those deleted along the way are skipped).
void delete_windows();

/// Reads a whole file (bytes).
std::string read_bytes(const QString& path);

} // namespace tovani::ui::test
