#include "ui/reader_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QShortcut>

#include <algorithm>

#include "download/shelf.h"
#include "sources/chapter_text.h"
#include "text/encoding.h"
#include "ui/app_state.h"
#include "ui/chapter_save.h"
#include "ui/chapter_window.h"
#include "ui/fonts.h"
#include "ui/outcome_messages.h"
#include "ui/prompter.h"
#include "ui/qt_text.h"
#include "ui/window_places.h"

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

constexpr int default_font_size = 18;

// Chapter texts break lines with CR LF; the text box wants LF alone.
QString display_text(const std::string& text) {
    QString shown = from_gbk(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

QPushButton* make_button(const QString& text, const char* name, QWidget* parent,
                         const QRect& place) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(place);
    // The keys page through the text: buttons never keep the focus from it.
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

// Remembers that `number` is the chapter read last of the book, when the book is on the shelf.
void remember_last_read(int source, const std::string& book_link, int number) {
    const std::unique_ptr<Shelf> shelf = Shelf::open(Shelf::default_path());
    if (!shelf) {
        return;
    }
    if (const auto book = shelf->find(source, book_link)) {
        shelf->set_last_read(book->id, number);
    }
}

struct Loaded {
    ChapterTextResult chapter;
    int number = 0;
};

} // namespace

ReaderWindow::ReaderWindow(AppState& state, Prompter& prompter, ChapterWindow* chapters,
                           QWidget* parent)
    : QWidget(parent), state_(state), prompter_(prompter), chapters_(chapters),
      source_(chapters != nullptr ? chapters->source() : BookSource{}) {
    setObjectName(QStringLiteral("阅读窗口"));
    if (parent != nullptr) {
        setWindowFlag(Qt::Window);
    }
    setAutoFillBackground(true);
    QSettings settings;

    title_ = new QLabel(this);
    title_->setObjectName(QStringLiteral("chapter_title"));
    title_->setGeometry(0, 0, 770, 36);
    title_->setAlignment(Qt::AlignCenter);
    title_->setTextFormat(Qt::PlainText);
    title_->setFont(hei_font(14));

    text_ = new QPlainTextEdit(this);
    text_->setObjectName(QStringLiteral("text_box"));
    text_->setGeometry(0, 36, 770, 664);
    text_->setReadOnly(true);
    text_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont font = kai_font(default_font_size);
    font.setPointSize(
        std::max(1, settings.value(QStringLiteral("reader/font_size"), default_font_size).toInt()));
    text_->setFont(font);
    text_->installEventFilter(this);

    group_ = new QGroupBox(this);
    group_->setObjectName(QStringLiteral("toolbar"));
    group_->setGeometry(0, 700, 775, 51);

    count_label_ = new QLabel(group_);
    count_label_->setObjectName(QStringLiteral("count_label"));
    count_label_->setGeometry(8, 8, 96, 40);
    di_label_ = new QLabel(QStringLiteral("第"), group_);
    di_label_->setGeometry(104, 8, 24, 40);
    number_ = new QLineEdit(group_);
    number_->setObjectName(QStringLiteral("chapter_number"));
    number_->setGeometry(128, 8, 56, 40);
    jump_button_ = make_button(QStringLiteral("跳转"), "jump", group_, {188, 8, 52, 40});
    previous_button_ = make_button(QStringLiteral("上一章"), "previous", group_, {244, 8, 72, 40});
    next_button_ = make_button(QStringLiteral("下一章"), "next", group_, {320, 8, 72, 40});
    font_label_ = new QLabel(QStringLiteral("字体大小"), group_);
    font_label_->setGeometry(400, 8, 70, 40);
    larger_ = make_button(QStringLiteral("+"), "larger", group_, {470, 8, 38, 40});
    smaller_ = make_button(QStringLiteral("-"), "smaller", group_, {510, 8, 38, 40});
    save_button_ = make_button(QStringLiteral("下载本章"), "save", group_, {552, 8, 96, 40});
    colours_ = new QComboBox(group_);
    colours_->setObjectName(QStringLiteral("colours"));
    colours_->setGeometry(652, 8, 116, 32);
    colours_->setFocusPolicy(Qt::NoFocus);
    colours_->addItems(
        {QStringLiteral("默认色"), QStringLiteral("护眼色"), QStringLiteral("夜间色")});

    connect(jump_button_, &QPushButton::clicked, this, &ReaderWindow::jump);
    connect(number_, &QLineEdit::returnPressed, this, &ReaderWindow::jump);
    connect(previous_button_, &QPushButton::clicked, this, &ReaderWindow::previous_chapter);
    connect(next_button_, &QPushButton::clicked, this, &ReaderWindow::next_chapter);
    connect(larger_, &QPushButton::clicked, this, [this] { change_font_size(1); });
    connect(smaller_, &QPushButton::clicked, this, [this] { change_font_size(-1); });
    connect(save_button_, &QPushButton::clicked, this, &ReaderWindow::save_chapter);
    connect(colours_, &QComboBox::activated, this, &ReaderWindow::apply_colour_scheme);

    // Keys of a reader: chapters with Ctrl and the arrows, the font with Ctrl and = or -.
    const std::pair<QKeySequence, std::function<void()>> keys[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_Left), [this] { previous_chapter(); }},
        {QKeySequence(Qt::CTRL | Qt::Key_Right), [this] { next_chapter(); }},
        {QKeySequence(Qt::CTRL | Qt::Key_Equal), [this] { change_font_size(1); }},
        {QKeySequence(Qt::CTRL | Qt::Key_Plus), [this] { change_font_size(1); }},
        {QKeySequence(Qt::CTRL | Qt::Key_Minus), [this] { change_font_size(-1); }},
    };
    for (const auto& [sequence, action] : keys) {
        auto* shortcut = new QShortcut(sequence, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, action);
    }

    const int scheme =
        std::clamp(settings.value(QStringLiteral("reader/colours"), 0).toInt(), 0, 2);
    colours_->setCurrentIndex(scheme);
    apply_colour_scheme(scheme);

    move(50, 50);
    resize(775, 751);
    place_window(this, chapters);

    const int row = chapters != nullptr ? chapters->selected_row() : -1;
    count_label_->setText(QStringLiteral("共%1章").arg(chapter_count()));
    number_->setText(QString::number(row + 1));
    text_->setFocus();
    if (row >= 0) {
        open_chapter(row + 1);
    }
}

ReaderWindow::~ReaderWindow() = default;

int ReaderWindow::chapter_count() const {
    return chapters_ != nullptr ? chapters_->row_count() : 0;
}

int ReaderWindow::font_size() const {
    return text_->font().pointSize();
}

void ReaderWindow::set_busy(bool busy) {
    busy_ = busy;
    for (QWidget* w : {static_cast<QWidget*>(number_), static_cast<QWidget*>(jump_button_),
                       static_cast<QWidget*>(previous_button_), static_cast<QWidget*>(next_button_),
                       static_cast<QWidget*>(save_button_)}) {
        w->setEnabled(!busy);
    }
    if (busy) {
        setCursor(Qt::BusyCursor);
    } else {
        unsetCursor();
    }
}

void ReaderWindow::open_chapter(int number) {
    const ChapterEntry entry = chapters_->chapter_at(number - 1);
    caption_ = entry.name;
    setWindowTitle(from_gbk(caption_));
    title_->setText(from_gbk(caption_));
    number_->setText(QString::number(number));
    load(entry.link, number);
}

void ReaderWindow::load(const std::string& link, int number) {
    set_busy(true);
    const std::string book_link = chapters_ != nullptr ? chapters_->book_link() : std::string();
    runner_.run(
        [source = source_, link, number, book_link] {
            Loaded loaded{fetch_chapter_text(source, link), number};
            if (loaded.chapter.outcome.ok()) {
                remember_last_read(source.id(), book_link, number);
            }
            return loaded;
        },
        [this](const Loaded& loaded) {
            shown_text_ = loaded.chapter.text;
            shown_number_ = loaded.number;
            text_->setPlainText(display_text(shown_text_));
            // Every chapter starts at its top.
            text_->verticalScrollBar()->setValue(0);
            set_busy(false);
            if (!loaded.chapter.outcome.ok()) {
                prompter_.inform(this, failure_message(source_, loaded.chapter.outcome));
            }
            emit chapter_shown();
        });
}

void ReaderWindow::jump() {
    if (busy_) {
        return;
    }
    const int n = number_->text().trimmed().toInt(); // 0 when it is not a number
    if (n < 1 || n > chapter_count()) {
        prompter_.inform(this, ui_message("请输入正确的章节数！", MessageIcon::error));
        return;
    }
    open_chapter(n);
}

void ReaderWindow::next_chapter() {
    if (busy_) {
        return;
    }
    const int current = shown_number_ > 0 ? shown_number_ : number_->text().trimmed().toInt();
    if (current >= chapter_count()) {
        // The last chapter stays; the box keeps its number.
        number_->setText(QString::number(std::max(1, std::min(current, chapter_count()))));
        prompter_.inform(this, ui_message("已是最后一章", MessageIcon::information));
        return;
    }
    open_chapter(current + 1);
}

void ReaderWindow::previous_chapter() {
    if (busy_) {
        return;
    }
    const int current = shown_number_ > 0 ? shown_number_ : number_->text().trimmed().toInt();
    if (current <= 1 || chapter_count() == 0) {
        number_->setText(QString::number(chapter_count() == 0 ? 0 : 1));
        prompter_.inform(this, ui_message("已是第一章", MessageIcon::information));
        return;
    }
    open_chapter(std::min(current - 1, chapter_count()));
}

void ReaderWindow::change_font_size(int delta) {
    QFont font = text_->font();
    // A point size below 1 is no font at all; stop there.
    font.setPointSize(std::max(1, font.pointSize() + delta));
    text_->setFont(font);
    QSettings().setValue(QStringLiteral("reader/font_size"), font.pointSize());
}

void ReaderWindow::apply_colour_scheme(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(colour_schemes))) {
        return;
    }
    const ColourScheme& scheme = colour_schemes[index];
    // The whole window takes the scheme, its toolbar included.
    QPalette palette = this->palette();
    for (QPalette::ColorRole role : {QPalette::Window, QPalette::Base, QPalette::Button}) {
        palette.setColor(role, role == QPalette::Base ? scheme.background
                                                      : scheme.background.darker(110));
    }
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(role, scheme.text);
    }
    setPalette(palette);
    QSettings().setValue(QStringLiteral("reader/colours"), index);
}

void ReaderWindow::save_chapter() {
    if (busy_) {
        return;
    }
    const SavedBook book{state_.download_base, chapters_ ? chapters_->book_name() : std::string(),
                         chapters_ ? chapters_->book_author() : std::string()};
    const SaveOutcome saved =
        save_chapter_file(book, to_gbk(number_->text()), caption_, shown_text_);
    if (saved.ok) {
        prompter_.inform(this, Message{gbk("已下载此章节！") + "\n" + saved.path,
                                       MessageIcon::information, gbk("系统提示")});
    } else {
        prompter_.inform(
            this, Message{gbk("本章保存失败：") + saved.path, MessageIcon::error, gbk("系统提示")});
    }
}

bool ReaderWindow::eventFilter(QObject* watched, QEvent* event) {
    // Space pages down and Shift+Space up, as in every reader; the text box does the rest.
    if (watched == text_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Space) {
            text_->verticalScrollBar()->triggerAction(key->modifiers() & Qt::ShiftModifier
                                                          ? QAbstractSlider::SliderPageStepSub
                                                          : QAbstractSlider::SliderPageStepAdd);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ReaderWindow::closeEvent(QCloseEvent* event) {
    remember_window_place(this);
    QWidget::closeEvent(event);
}

} // namespace tovani::ui
