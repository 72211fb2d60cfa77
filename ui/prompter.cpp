#include "ui/prompter.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QPushButton>
#include <QUrl>

#include "text/encoding.h"
#include "ui/qt_text.h"

namespace tovani::ui {

void Prompter::inform(QWidget* parent, const Message& message) {
    prompt(parent, message, QMessageBox::Ok);
}

bool Prompter::ask(QWidget* parent, const Message& message) {
    return prompt(parent, message, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

bool Prompter::inform_with_action(QWidget* parent, const Message& message, const QString&) {
    prompt(parent, message, QMessageBox::Ok);
    return false;
}

void Prompter::open_folder(const QString& folder) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

QString Prompter::choose_folder(QWidget* parent, const QString& title, const QString& start) {
    return QFileDialog::getExistingDirectory(parent, title, start);
}

QMessageBox::Icon to_qt_icon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::error:
        return QMessageBox::Critical;
    case MessageIcon::information:
        return QMessageBox::Information;
    case MessageIcon::question:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButton MessageBoxPrompter::prompt(QWidget* parent, const Message& message,
                                                       QMessageBox::StandardButtons buttons) {
    QMessageBox box(to_qt_icon(message.icon), from_gbk(message.title), from_gbk(message.text),
                    buttons, parent);
    // Texts may come from web sites: never interpret them as markup.
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

bool MessageBoxPrompter::inform_with_action(QWidget* parent, const Message& message,
                                            const QString& action) {
    QMessageBox box(to_qt_icon(message.icon), from_gbk(message.title), from_gbk(message.text),
                    QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    QPushButton* extra = box.addButton(action, QMessageBox::ActionRole);
    box.exec();
    return box.clickedButton() == extra;
}

Message ui_message(const char* text_utf8, MessageIcon icon, const char* title_utf8) {
    return Message{gbk(text_utf8), icon, gbk(title_utf8)};
}

} // namespace tovani::ui
