#pragma once
// "书架": the books downloaded so far, with how many chapters each has, and the buttons that keep
// them current (更新, 全部更新), show their files (打开文件夹) and go on reading (继续阅读).

#include <QWidget>

#include <vector>

#include "download/shelf.h"
#include "ui/background_runner.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace tovani::ui {

struct AppState;
class ChapterWindow;
class Prompter;
class ReaderWindow;

class ShelfWindow final : public QWidget {
    Q_OBJECT
public:
    ShelfWindow(AppState& state, Prompter& prompter, QWidget* opener = nullptr);

    /// Reads the shelf again into the list.
    void refresh();
    /// 更新: the selected book. 全部更新: every book.
    void update_selected();
    void update_all();
    /// 打开文件夹: the folder of the selected book's files.
    void open_folder();
    /// 继续阅读: opens the selected book at the chapter read last.
    void continue_reading();

    bool is_busy() const { return busy_; }
    QTreeWidget* list() const { return list_; }
    /// The books as listed, row by row.
    const std::vector<ShelfBook>& books() const { return books_; }

signals:
    /// An update has ended and the list shows its result.
    void updated();
    void reader_opened(tovani::ui::ReaderWindow* reader);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void update_books(std::vector<ShelfBook> books);
    int selected_row() const;
    void set_busy(bool busy);

    AppState& state_;
    Prompter& prompter_;
    std::vector<ShelfBook> books_;
    QTreeWidget* list_ = nullptr;
    QLabel* status_ = nullptr;
    std::vector<QPushButton*> buttons_;
    bool busy_ = false;
    BackgroundRunner runner_{this};
};

} // namespace tovani::ui
