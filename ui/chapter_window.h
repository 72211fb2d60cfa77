#pragma once
// The chapter list of one book: downloads the whole book on the chosen number of workers with a
// progress bar and a cancel button, watches the download with its timer, offers to join the
// chapters into the book files of the chosen formats, and opens the reader.

#include <QWidget>

#include <memory>
#include <string>
#include <vector>

#include "download/book_output.h"
#include "download/download_job.h"
#include "sources/book_source.h"
#include "ui/background_runner.h"
#include "ui/reader_window.h"

class QCheckBox;
class QComboBox;
class QElapsedTimer;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QTimer;
class QTreeWidget;

namespace tovani::ui {

struct AppState;
class CompanionWindow;
class Prompter;

/// The merge question answered with a Yes/No message box.
class MessageBoxMergeQuestion final : public MergeQuestion {
public:
    MessageBoxMergeQuestion(Prompter& prompter, QWidget* parent);
    bool ask_merge(const DownloadSummary& summary) override;

private:
    Prompter& prompter_;
    QWidget* parent_;
};

class ChapterWindow final : public QWidget {
    Q_OBJECT
public:
    /// Takes the book from `state` (source, link, name, author) and starts fetching its
    /// chapter list; the rows arrive when the site has answered. `opener` is the window it was
    /// opened from, for its first place.
    ChapterWindow(AppState& state, Prompter& prompter, QWidget* parent = nullptr,
                  QWidget* opener = nullptr);
    ~ChapterWindow() override;

    /// The "多线程下载" button.
    void start_download();
    /// The "取消" button: stops the download; the whole chapters stay for the next one.
    void cancel_download();
    /// The timer's check; true when it found the download finished and handled its end.
    bool check_download_done();
    /// "在线阅读": opens a reader on the selected row.
    ReaderWindow* open_reader();
    /// Selects row `row` (0-based) of the list.
    void select_row(int row);

    const BookSource& source() const { return source_; }
    const std::string& book_name() const { return book_name_; }
    const std::string& book_author() const { return book_author_; }
    const std::string& book_link() const { return book_link_; }
    int row_count() const;
    int selected_row() const;
    /// Row `row` (0-based) of the list; an empty entry when there is no such row.
    ChapterEntry chapter_at(int row) const;
    /// The book files the window will make, as its controls say.
    BookFormats chosen_formats() const;

    bool is_loading() const { return loading_; }
    bool is_downloading() const { return job_ != nullptr && downloading_; }
    /// True while the end of a download (the shelf, the book files) is being written.
    bool is_finishing() const { return finishing_; }
    CompanionWindow* companion() const { return companion_; }
    QMenu* chapter_menu() const { return menu_; }

signals:
    /// The chapter list has arrived (or failed).
    void chapters_loaded();
    /// 标签2 has been given a progress text.
    void progress_shown(const QString& text);
    /// A download has ended and its end has been handled (merge answered or not, files written).
    void download_finished();
    void reader_opened(tovani::ui::ReaderWindow* reader);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct ProgressRelay;
    void show_progress(const DownloadProgress& progress);
    void end_download();
    void finish_in_background(std::shared_ptr<DownloadJob> job, bool merge);
    void reset_after_download();
    void choose_folder();
    void remember_choices() const;

    AppState& state_;
    Prompter& prompter_;
    // The book this window shows, kept from its opening: later searches change nothing here.
    BookSource source_;
    std::string book_link_;
    std::string book_name_;
    std::string book_author_;

    CompanionWindow* companion_ = nullptr;
    QTreeWidget* list_ = nullptr;
    QLabel* path_label_ = nullptr;
    QPushButton* button_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QLabel* threads_label_ = nullptr;
    QComboBox* threads_ = nullptr;
    QLabel* progress_label_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QLabel* details_ = nullptr;
    QCheckBox* txt_ = nullptr;
    QCheckBox* epub_ = nullptr;
    QComboBox* encoding_ = nullptr;
    QComboBox* convert_ = nullptr;
    QPushButton* folder_ = nullptr;
    QTimer* timer_ = nullptr;
    QMenu* menu_ = nullptr;
    std::unique_ptr<QElapsedTimer> clock_;

    bool loading_ = false;
    bool downloading_ = false;
    bool finishing_ = false;
    std::unique_ptr<DownloadJob> job_;
    std::shared_ptr<ProgressRelay> relay_;
    BackgroundRunner runner_{this};
};

} // namespace tovani::ui
