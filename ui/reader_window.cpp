#include "ui/reader_window.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>

#include "http/fetch.h"
#include "sources/chapter_text.h"
#include "text/encoding.h"
#include "ui/app_state.h"
#include "ui/chapter_window.h"
#include "ui/chapter_save.h"
#include "ui/fonts.h"
#include "ui/outcome_messages.h"
#include "ui/prompter.h"
#include "ui/qt_text.h"

namespace tovani::ui {
namespace {

struct ColourScheme {
    QColor background;
    QColor text;
};

const ColourScheme colour_schemes[] = {
    {QColor(203, 169, 123), Qt::black},          // 默认色
    {QColor(204, 232, 207), Qt::black},          // 护眼色
    {QColor(25, 25, 33), QColor(133, 133, 143)}, // 夜间色
};

// Chapter texts break lines with CR LF; the text box wants LF alone.
QString display_text(const std::string& text)
{
    QString shown = from_gbk(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

QPushButton* make_button(const QString& text, const char* name, QWidget* parent,
                         const QRect& place)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(place);
    return button;
}

} // namespace

ReaderWindow::ReaderWindow(AppState& state, Prompter& prompter, ChapterWindow* chapters,
                           QWidget* parent)
    : QWidget(parent), state_(state), prompter_(prompter), chapters_(chapters),
      source_(chapters != nullptr ? chapters->source() : BookSource{})
{
    setObjectName(QStringLiteral("阅读窗口"));

    text_ = new QPlainTextEdit(this);
    text_->setObjectName(QStringLiteral("text_box"));
    text_->setGeometry(0, 0, 770, 700);
    text_->setReadOnly(true);
    text_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    text_->setFont(kai_font(18));

    group_ = new QGroupBox(this);
    group_->setGeometry(0, 700, 768, 51);

    count_label_ = new QLabel(group_);
    count_label_->setObjectName(QStringLiteral("count_label"));
    count_label_->setGeometry(8, 8, 120, 40);
    di_label_ = new QLabel(QStringLiteral("第"), group_);
    di_label_->setGeometry(128, 8, 40, 40);
    number_ = new QLineEdit(group_);
    number_->setObjectName(QStringLiteral("chapter_number"));
    number_->setGeometry(168, 8, 72, 40);
    jump_button_ = make_button(QStringLiteral("跳转"), "jump", group_, {240, 8, 56, 40});
    next_button_ = make_button(QStringLiteral("下一章"), "next", group_, {296, 8, 80, 40});
    font_label_ = new QLabel(QStringLiteral("字体大小"), group_);
    font_label_->setGeometry(384, 8, 96, 40);
    larger_ = make_button(QStringLiteral("+"), "larger", group_, {480, 8, 40, 40});
    smaller_ = make_button(QStringLiteral("-"), "smaller", group_, {520, 8, 40, 40});
    save_button_ = make_button(QStringLiteral("下载本章"), "save", group_, {560, 8, 96, 40});
    colours_ = new QComboBox(group_);
    colours_->setObjectName(QStringLiteral("colours"));
    colours_->setGeometry(656, 8, 112, 32);
    colours_->addItems({QStringLiteral("默认色"), QStringLiteral("护眼色"), QStringLiteral("夜间色")});

    connect(jump_button_, &QPushButton::clicked, this, &ReaderWindow::jump);
    connect(next_button_, &QPushButton::clicked, this, &ReaderWindow::next_chapter);
    connect(larger_, &QPushButton::clicked, this, [this] { change_font_size(1); });
    connect(smaller_, &QPushButton::clicked, this, [this] { change_font_size(-1); });
    connect(save_button_, &QPushButton::clicked, this, &ReaderWindow::save_chapter);
    connect(colours_, &QComboBox::activated, this, &ReaderWindow::apply_colour_scheme);
    apply_colour_scheme(0);

    move(50, 50);
    resize(775, 781);

    const int row = chapters != nullptr ? chapters->selected_row() : -1;
    const ChapterEntry entry = chapters != nullptr ? chapters->chapter_at(row) : ChapterEntry{};
    caption_ = entry.name;
    setWindowTitle(from_gbk(caption_));
    count_label_->setText(QStringLiteral("共%1章").arg(chapters != nullptr ? chapters->row_count() : 0));
    number_->setText(QString::number(row + 1));
    if (row >= 0) {
        load(entry.link);
    }
}

ReaderWindow::~ReaderWindow() = default;

void ReaderWindow::set_busy(bool busy)
{
    busy_ = busy;
    for (QWidget* w : {static_cast<QWidget*>(number_), static_cast<QWidget*>(jump_button_),
                       static_cast<QWidget*>(next_button_), static_cast<QWidget*>(save_button_)}) {
        w->setEnabled(!busy);
    }
    if (busy) {
        setCursor(Qt::BusyCursor);
    } else {
        unsetCursor();
    }
}

void ReaderWindow::load(const std::string& link)
{
    set_busy(true);
    runner_.run([source = source_, link] { return fetch_chapter_text(source, link); },
                [this](const ChapterTextResult& chapter) {
                    shown_text_ = chapter.text;
                    text_->setPlainText(display_text(chapter.text));
                    set_busy(false);
                    if (!chapter.outcome.ok()) {
                        prompter_.inform(this, failure_message(source_, chapter.outcome));
                    }
                    emit chapter_shown();
                });
}

void ReaderWindow::jump()
{
    if (busy_) {
        return;
    }
    const int n = number_->text().trimmed().toInt(); // 0 when it is not a number
    const int count = chapters_ != nullptr ? chapters_->row_count() : 0;
    if (n < 1 || n > count) {
        prompter_.inform(this, ui_message("请输入正确的章节数！", MessageIcon::error));
        return;
    }
    const ChapterEntry entry = chapters_->chapter_at(n - 1);
    caption_ = entry.name;
    setWindowTitle(from_gbk(caption_));
    load(entry.link);
}

void ReaderWindow::next_chapter()
{
    if (busy_) {
        return;
    }
    const int n = number_->text().trimmed().toInt(); // 0 when it is not a number
    number_->setText(QString::number(n + 1));
    jump();
}

void ReaderWindow::change_font_size(int delta)
{
    QFont font = text_->font();
    // A point size below 1 is no font at all; stop there.
    font.setPointSize(std::max(1, font.pointSize() + delta));
    text_->setFont(font);
}

void ReaderWindow::apply_colour_scheme(int index)
{
    if (index < 0 || index >= static_cast<int>(std::size(colour_schemes))) {
        return;
    }
    QPalette palette = text_->palette();
    palette.setColor(QPalette::Base, colour_schemes[index].background);
    palette.setColor(QPalette::Text, colour_schemes[index].text);
    text_->setPalette(palette);
}

void ReaderWindow::save_chapter()
{
    if (busy_) {
        return;
    }
    const SavedBook book{state_.download_base, chapters_ ? chapters_->book_name() : std::string(),
                         chapters_ ? chapters_->book_author() : std::string()};
    const SaveOutcome saved = save_chapter_file(book, to_gbk(number_->text()), caption_, shown_text_);
    if (saved.ok) {
        prompter_.inform(this, ui_message("已下载此章节！", MessageIcon::information));
    } else {
        prompter_.inform(this, Message{gbk("本章保存失败：") + saved.path, MessageIcon::error,
                                       gbk("系统提示")});
    }
}

} // namespace tovani::ui
