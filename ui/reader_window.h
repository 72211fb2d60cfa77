#pragma once
// Reads one chapter of the book open in a chapter window, fetched live from the site: jump to a
// chapter number, next chapter, font size, three colour schemes, and saving the shown chapter.

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
    void change_font_size(int delta);
    /// 0 默认色, 1 护眼色, 2 夜间色; any other index changes nothing.
    void apply_colour_scheme(int index);
    /// Writes the shown chapter as a chapter file and says whether that worked.
    void save_chapter();

    bool is_busy() const { return busy_; }
    /// The shown chapter's text as the site gave it (GBK).
    const std::string& shown_text() const { return shown_text_; }

signals:
    /// A chapter's text has been put into the text box.
    void chapter_shown();

private:
    void load(const std::string& link);
    void set_busy(bool busy);

    AppState& state_;
    Prompter& prompter_;
    QPointer<ChapterWindow> chapters_;
    BookSource source_;
    std::string shown_text_;
    std::string caption_; ///< GBK name of the chapter shown

    QPlainTextEdit* text_ = nullptr;
    QGroupBox* group_ = nullptr;
    QLabel* count_label_ = nullptr;
    QLabel* di_label_ = nullptr;
    QLineEdit* number_ = nullptr;
    QPushButton* jump_button_ = nullptr;
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
