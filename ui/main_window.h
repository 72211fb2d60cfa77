#pragma once
// The search window: search box, book sources, search button and the result list with its
// menu ("查看章节", "书籍详情", "复制链接"). Closing it ends the program.

#include <QWidget>

#include "sources/book_source.h"
#include "sources/search_all.h"
#include "ui/background_runner.h"
#include "ui/chapter_window.h"
#include "ui/details_window.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QShortcut;
class QTreeWidget;

namespace tovani::ui {

struct AppState;
class CompanionWindow;
class Prompter;

class MainWindow final : public QWidget {
    Q_OBJECT
public:
    MainWindow(AppState& state, Prompter& prompter, QWidget* parent = nullptr);
    ~MainWindow() override;

    /// Clears the result list and searches the chosen source for the box's keyword; the rows
    /// arrive when the site has answered.
    void run_search();
    /// What Enter does while this window is active; `id` is the shortcut's identifier.
    void on_enter(int id);
    void view_chapters();
    void show_book_details();
    void copy_link();
    /// "检查书源": the health check of every source, in a window of its own.
    void check_sources();
    /// "书架": the books downloaded so far.
    void show_shelf();

    /// The source box's entry that searches every source at once.
    static constexpr int all_sources = 0;
    /// The id of the source a result row came from.
    int row_source(int row) const;

    /// True while a search or a details request waits for a site.
    bool is_busy() const { return busy_; }
    bool placeholder_shown() const;
    CompanionWindow* companion() const { return companion_; }
    QMenu* result_menu() const { return menu_; }

signals:
    /// A search, a details request or a window opening has finished its work.
    void work_finished();
    void chapter_window_opened(tovani::ui::ChapterWindow* window);
    void health_window_opened(QWidget* window);
    void shelf_window_opened(QWidget* window);
    void details_window_opened(tovani::ui::DetailsWindow* window);
    /// The window is closing: the program ends.
    void closing();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void set_busy(bool busy);
    void placeholder_on();
    void placeholder_off();
    int selected_row() const;
    SearchHit row_hit(int row) const;
    void append_hits(const std::vector<SearchHit>& hits);
    void append_source_hits(const std::vector<SourceHit>& hits);
    /// The columns of a one-source search, or those of an all-source search (with 书源).
    void use_columns(bool with_source);
    void run_search_all(const std::string& keyword);

    AppState& state_;
    Prompter& prompter_;
    CompanionWindow* companion_ = nullptr;
    QLineEdit* edit_ = nullptr;
    QPushButton* button_ = nullptr;
    QComboBox* sources_ = nullptr;
    QTreeWidget* list_ = nullptr;
    QLabel* by_label_ = nullptr;
    QLabel* enter_label_ = nullptr;
    QMenu* menu_ = nullptr;
    QShortcut* enter_ = nullptr;
    QShortcut* keypad_enter_ = nullptr;
    bool busy_ = false;
    bool source_column_ = false; ///< the rows carry their source in column 1
    BackgroundRunner runner_{this};
};

} // namespace tovani::ui
