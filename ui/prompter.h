#pragma once
// Message boxes go through a Prompter, so tests can record them and answer questions instead
// of showing them.

#include <QMessageBox>

#include <string>

class QWidget;

namespace tovani::ui {

enum class MessageIcon { error, information, question };

/// A message box the program shows: text, icon and title (GBK).
struct Message {
    std::string text;
    MessageIcon icon = MessageIcon::error;
    std::string title;
    bool operator==(const Message&) const = default;
};

class Prompter {
public:
    virtual ~Prompter() = default;

    /// Shows `message` (GBK texts) with `buttons`, modal to the program; returns the button
    /// chosen.
    virtual QMessageBox::StandardButton prompt(QWidget* parent, const Message& message,
                                               QMessageBox::StandardButtons buttons) = 0;

    /// A box with only an OK button.
    void inform(QWidget* parent, const Message& message);
    /// A Yes/No question; true on Yes.
    bool ask(QWidget* parent, const Message& message);

    /// A box with OK and one more button, `action`; true when that one was chosen. By default
    /// the box of prompt() with OK alone.
    virtual bool inform_with_action(QWidget* parent, const Message& message, const QString& action);
    /// Shows `folder` (a UTF-8 path) in the desktop's file manager.
    virtual void open_folder(const QString& folder);
    /// Asks for a folder, starting at `start`; empty when the reader changed their mind.
    virtual QString choose_folder(QWidget* parent, const QString& title, const QString& start);
};

/// The program's prompter: a real QMessageBox whose text is never read as rich text.
class MessageBoxPrompter final : public Prompter {
public:
    QMessageBox::StandardButton prompt(QWidget* parent, const Message& message,
                                       QMessageBox::StandardButtons buttons) override;
    bool inform_with_action(QWidget* parent, const Message& message,
                            const QString& action) override;
};

QMessageBox::Icon to_qt_icon(MessageIcon icon);

/// A message of the program's own (texts given in UTF-8).
Message ui_message(const char* text_utf8, MessageIcon icon, const char* title_utf8 = "系统提示");

} // namespace tovani::ui
