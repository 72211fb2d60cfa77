#pragma once
// Reads the chapters of the book open in a chapter window, fetched live from the site: previous
// and next chapter, jumping to a number, font size, three colour schemes, and saving the shown
// chapter. The keyboard pages through the text (PgUp, PgDn, Space, arrows) and the chapters
// (Ctrl+Left, Ctrl+Right); Ctrl+= and Ctrl+- change the font size. Font size, colour scheme and
// the window's place are remembered, and so is the chapter read last of a book on the shelf.

#include <QPointer>
#include <QWidget>

#include <string>

#include "sources/book_source.h"
#include "ui/background_runner.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace tovani::ui {

struct AppState;
class ChapterWindow;
class Prompter;

class ReaderWindow final : public QWidget {
    Q_OBJECT
public:
    /// Opens the chapter of `chapters`' selected row. The reader reads that window's list on
    /// every jump; once the chapter window has closed, every number is out of range.
    ReaderWindow(AppState& state, Prompter& prompter, ChapterWindow* chapters,
                 QWidget* parent = nullptr);
    ~ReaderWindow() override;

    /// Opens the chapter whose number is in the chapter number box.
    void jump();
    void next_chapter();
    void previous_chapter();
    void change_font_size(int delta);
    /// 0 默认色, 1 护眼色, 2 夜间色; any other index changes nothing.
    void apply_colour_scheme(int index);
    /// Writes the shown chapter as a chapter file and says where.
    void save_chapter();

    bool is_busy() const { return busy_; }
    /// The shown chapter's text (GBK).
    const std::string& shown_text() const { return shown_text_; }
    /// The number of the chapter shown (1-based); 0 before the first one.
    int shown_number() const { return shown_number_; }
    int font_size() const;

signals:
    /// A chapter's text has been put into the text box.
    void chapter_shown();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    /// Opens chapter `number` (1-based) of the chapter window's list.
    void open_chapter(int number);
    void load(const std::string& link, int number);
    void set_busy(bool busy);
    int chapter_count() const;

    AppState& state_;
    Prompter& prompter_;
    QPointer<ChapterWindow> chapters_;
    BookSource source_;
    std::string shown_text_;
    std::string caption_; ///< GBK name of the chapter shown
    int shown_number_ = 0;

    QLabel* title_ = nullptr;
    QPlainTextEdit* text_ = nullptr;
    QGroupBox* group_ = nullptr;
    QLabel* count_label_ = nullptr;
    QLabel* di_label_ = nullptr;
    QLineEdit* number_ = nullptr;
    QPushButton* jump_button_ = nullptr;
    QPushButton* previous_button_ = nullptr;
    QPushButton* next_button_ = nullptr;
    QLabel* font_label_ = nullptr;
    QPushButton* larger_ = nullptr;
    QPushButton* smaller_ = nullptr;
    QPushButton* save_button_ = nullptr;
    QComboBox* colours_ = nullptr;
    bool busy_ = false;
    BackgroundRunner runner_{this};
};

} // namespace tovani::ui
