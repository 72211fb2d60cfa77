#include "ui/chapter_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QTreeWidget>

#include <ctime>
#include <mutex>

#include "download/download_store.h"
#include "download/thread_pool.h"
#include "sources/book_details.h"
#include "sources/chapter_list.h"
#include "text/encoding.h"
#include "ui/app_state.h"
#include "ui/companion_window.h"
#include "ui/list_rows.h"
#include "ui/outcome_messages.h"
#include "ui/prompter.h"
#include "ui/qt_text.h"
#include "ui/reader_window.h"
#include "ui/window_places.h"

namespace tovani::ui {
namespace {

// How many failed chapters the end-of-download message names before it says "……".
constexpr std::size_t failed_names_shown = 10;

// What the end of a download wrote: the book files and whether the shelf has the book.
struct FinishResult {
    BookFilesResult files;
    bool merged = false;
    bool complete = true;
    std::string shelf_error;
};

} // namespace

MessageBoxMergeQuestion::MessageBoxMergeQuestion(Prompter& prompter, QWidget* parent)
    : prompter_(prompter), parent_(parent) {}

bool MessageBoxMergeQuestion::ask_merge(const DownloadSummary&) {
    return prompter_.ask(parent_,
                         ui_message("下载完毕，是否整合全部章节！", MessageIcon::question));
}

// Progress from the workers reaches the window through here. A worker only stores the latest
// figures and posts one wake-up while none is pending, so it never waits for the window and a
// fast download does not flood the event queue.
struct ChapterWindow::ProgressRelay {
    std::mutex mutex;
    ChapterWindow* window = nullptr; // cleared before the window is destroyed
    DownloadProgress latest;
    bool posted = false;

    void deliver(const std::shared_ptr<ProgressRelay>& self, const DownloadProgress& progress) {
        std::lock_guard lock(mutex);
        if (progress.finished >= latest.finished) {
            latest = progress;
        }
        if (!posted && window != nullptr) {
            posted = true;
            ChapterWindow* target = window;
            QMetaObject::invokeMethod(
                target,
                [self, target] {
                    DownloadProgress shown;
                    {
                        std::lock_guard relay_lock(self->mutex);
                        self->posted = false;
                        shown = self->latest;
                    }
                    if (target->relay_ == self) { // not a finished download's late news
                        target->show_progress(shown);
                    }
                },
                Qt::QueuedConnection);
        }
    }

    void detach() {
        std::lock_guard lock(mutex);
        window = nullptr;
    }
};

ChapterWindow::ChapterWindow(AppState& state, Prompter& prompter, QWidget* parent, QWidget* opener)
    : QWidget(parent), state_(state), prompter_(prompter), book_link_(state.book_link),
      book_name_(state.book_name), book_author_(state.book_author),
      clock_(std::make_unique<QElapsedTimer>()) {
    setObjectName(QStringLiteral("章节窗口"));
    // The title names the book, so several chapter windows can be told apart.
    setWindowTitle(from_gbk(book_name_) + QStringLiteral("  ") + from_gbk(book_author_) +
                   QStringLiteral(" - Tovani小说下载器    By:Wexlo"));
    companion_ = new CompanionWindow(this, 120);

    list_ = make_report_list(this, {{QStringLiteral("序号"), 80},
                                    {QStringLiteral("章节名"), 380},
                                    {QStringLiteral("章节链接"), 200}});
    list_->setObjectName(QStringLiteral("超级列表框1"));
    list_->setGeometry(0, 0, 665, 336); // from the left edge: the 序号 column shows whole
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint&) { menu_->popup(QCursor::pos()); });

    path_label_ = new QLabel(QStringLiteral("下载地址："), this);
    path_label_->setObjectName(QStringLiteral("标签1"));
    path_label_->setGeometry(4, 336, 657, 26);
    path_label_->setTextFormat(Qt::PlainText);

    button_ = new QPushButton(QStringLiteral("多线程下载"), this);
    button_->setObjectName(QStringLiteral("按钮1"));
    button_->setGeometry(0, 364, 120, 36);
    connect(button_, &QPushButton::clicked, this, &ChapterWindow::start_download);

    threads_label_ = new QLabel(QStringLiteral("线程数"), this);
    threads_label_->setObjectName(QStringLiteral("标签3"));
    threads_label_->setGeometry(124, 364, 56, 36);

    threads_ = new QComboBox(this);
    threads_->setObjectName(QStringLiteral("组合框1"));
    threads_->setGeometry(180, 370, 64, 24);
    threads_->addItems({QStringLiteral("5"), QStringLiteral("10"), QStringLiteral("15"),
                        QStringLiteral("20"), QStringLiteral("30"), QStringLiteral("50")});
    threads_->setCurrentIndex(2);

    cancel_ = new QPushButton(QStringLiteral("取消"), this);
    cancel_->setObjectName(QStringLiteral("取消"));
    cancel_->setGeometry(250, 364, 64, 36);
    cancel_->setEnabled(false);
    connect(cancel_, &QPushButton::clicked, this, &ChapterWindow::cancel_download);

    progress_label_ = new QLabel(QStringLiteral("暂无下载"), this);
    progress_label_->setObjectName(QStringLiteral("标签2"));
    progress_label_->setGeometry(320, 364, 170, 36);
    progress_label_->setTextFormat(Qt::PlainText);

    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("进度条"));
    bar_->setGeometry(494, 370, 167, 24);
    bar_->setRange(0, 1);
    bar_->setValue(0);

    details_ = new QLabel(this);
    details_->setObjectName(QStringLiteral("进度详情"));
    details_->setGeometry(4, 402, 657, 24);
    details_->setTextFormat(Qt::PlainText);

    // How the book files are made; the choices are remembered for the next book.
    QSettings settings;
    auto* formats_label = new QLabel(QStringLiteral("整合为"), this);
    formats_label->setGeometry(4, 430, 52, 28);
    txt_ = new QCheckBox(QStringLiteral("TXT"), this);
    txt_->setObjectName(QStringLiteral("格式TXT"));
    txt_->setGeometry(56, 430, 56, 28);
    txt_->setChecked(settings.value(QStringLiteral("books/txt"), true).toBool());
    epub_ = new QCheckBox(QStringLiteral("EPUB"), this);
    epub_->setObjectName(QStringLiteral("格式EPUB"));
    epub_->setGeometry(112, 430, 64, 28);
    epub_->setChecked(settings.value(QStringLiteral("books/epub"), false).toBool());
    encoding_ = new QComboBox(this);
    encoding_->setObjectName(QStringLiteral("编码"));
    encoding_->setGeometry(180, 432, 96, 24);
    encoding_->addItem(QStringLiteral("GBK"), QStringLiteral("gbk"));
    encoding_->addItem(QStringLiteral("UTF-8"), QStringLiteral("utf-8"));
    encoding_->setCurrentIndex(
        std::max(0, encoding_->findData(settings.value(QStringLiteral("books/encoding")))));
    convert_ = new QComboBox(this);
    convert_->setObjectName(QStringLiteral("简繁"));
    convert_->setGeometry(282, 432, 96, 24);
    convert_->addItem(QStringLiteral("不转换"), QString());
    convert_->addItem(QStringLiteral("繁转简"), QStringLiteral("t2s"));
    convert_->addItem(QStringLiteral("简转繁"), QStringLiteral("s2t"));
    convert_->setCurrentIndex(
        std::max(0, convert_->findData(settings.value(QStringLiteral("books/convert")))));
    folder_ = new QPushButton(QStringLiteral("下载位置…"), this);
    folder_->setObjectName(QStringLiteral("下载位置"));
    folder_->setGeometry(384, 430, 100, 28);
    connect(folder_, &QPushButton::clicked, this, &ChapterWindow::choose_folder);
    for (QCheckBox* box : {txt_, epub_}) {
        connect(box, &QCheckBox::toggled, this, [this] { remember_choices(); });
    }
    for (QComboBox* box : {encoding_, convert_}) {
        connect(box, &QComboBox::currentIndexChanged, this, [this] { remember_choices(); });
    }

    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("时钟1"));
    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, &ChapterWindow::check_download_done);

    menu_ = new QMenu(QStringLiteral("菜单"), this);
    menu_->setObjectName(QStringLiteral("菜单"));
    connect(menu_->addAction(QStringLiteral("在线阅读")), &QAction::triggered, this,
            &ChapterWindow::open_reader);

    move(50, 50);
    resize(665, 466);
    place_window(this, opener);

    list_->clear();
    const BookSource* source = state_.sources.find(state_.selected_source);
    if (source == nullptr) {
        return;
    }
    source_ = *source;
    loading_ = true;
    button_->setEnabled(false);
    list_->setEnabled(false);
    setCursor(Qt::BusyCursor);
    runner_.run([source = source_, link = book_link_] { return list_chapters(source, link); },
                [this](const ChapterListResult& result) {
                    std::vector<std::vector<std::string>> rows;
                    rows.reserve(result.chapters.size());
                    for (const ChapterEntry& c : result.chapters) {
                        rows.push_back({std::to_string(c.number), c.name, c.link});
                    }
                    append_rows(list_, rows);
                    loading_ = false;
                    button_->setEnabled(true);
                    list_->setEnabled(true);
                    unsetCursor();
                    if (auto m = chapter_list_message(source_, result)) {
                        prompter_.inform(this, m->message);
                        if (m->closes_window) {
                            close();
                        }
                    }
                    emit chapters_loaded();
                });
}

ChapterWindow::~ChapterWindow() {
    if (relay_) {
        relay_->detach();
    }
    if (job_) {
        // Chapters not yet begun are dropped; the job's shared state outlives running ones.
        job_->cancel();
        job_.reset();
    }
}

void ChapterWindow::closeEvent(QCloseEvent* event) {
    timer_->stop(); // a download cut short is neither reported nor merged
    remember_window_place(this);
    QWidget::closeEvent(event);
}

int ChapterWindow::row_count() const {
    return list_->topLevelItemCount();
}

int ChapterWindow::selected_row() const {
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    return selected.isEmpty() ? -1 : list_->indexOfTopLevelItem(selected.front());
}

void ChapterWindow::select_row(int row) {
    if (QTreeWidgetItem* item = list_->topLevelItem(row)) {
        list_->setCurrentItem(item);
        list_->scrollToItem(item);
    }
}

ChapterEntry ChapterWindow::chapter_at(int row) const {
    ChapterEntry entry;
    if (row >= 0 && row < row_count()) {
        entry.number = row + 1;
        entry.name = cell_text(list_, row, 1);
        entry.link = cell_text(list_, row, 2);
    }
    return entry;
}

BookFormats ChapterWindow::chosen_formats() const {
    BookFormats f;
    f.txt = txt_->isChecked();
    f.epub = epub_->isChecked();
    if (!f.any()) {
        f.txt = true; // joining always makes a book file
    }
    f.encoding = encoding_named(encoding_->currentData().toString().toStdString());
    f.convert = conversion_named(convert_->currentData().toString().toStdString());
    return f;
}

void ChapterWindow::remember_choices() const {
    QSettings settings;
    settings.setValue(QStringLiteral("books/txt"), txt_->isChecked());
    settings.setValue(QStringLiteral("books/epub"), epub_->isChecked());
    settings.setValue(QStringLiteral("books/encoding"), encoding_->currentData());
    settings.setValue(QStringLiteral("books/convert"), convert_->currentData());
}

void ChapterWindow::choose_folder() {
    const QString start = from_gbk(chosen_or_desktop(state_.download_base));
    const QString chosen =
        prompter_.choose_folder(this, QStringLiteral("选择下载位置（其中会建“小说下载”）"), start);
    if (chosen.isEmpty()) {
        return;
    }
    state_.download_base = to_gbk(QDir(chosen).absolutePath() + QStringLiteral("/"));
    QSettings().setValue(QStringLiteral("books/base_folder"), from_gbk(state_.download_base));
    path_label_->setText(QStringLiteral("下载地址：") +
                         from_gbk(download_folder(state_.download_base)));
}

void ChapterWindow::start_download() {
    if (job_ != nullptr || loading_ || finishing_) {
        return; // one download per window at a time
    }
    if (state_.pool.state() != ThreadPool::idle) {
        // Another window's download holds the one pool; nothing is written for this book.
        prompter_.inform(this,
                         ui_message("已有下载正在进行，请等它结束后再试！", MessageIcon::error));
        return;
    }
    button_->setEnabled(false);

    DownloadRequest request;
    request.source = source_;
    request.book_name = book_name_;
    request.book_author = book_author_;
    request.chapters.reserve(static_cast<std::size_t>(row_count()));
    for (int row = 0; row < row_count(); ++row) {
        request.chapters.push_back(chapter_at(row));
    }
    request.thread_count = threads_->currentText().toInt();
    request.base_folder = state_.download_base;
    const int total = static_cast<int>(request.chapters.size());

    job_ = std::make_unique<DownloadJob>(state_.pool, std::move(request));
    relay_ = std::make_shared<ProgressRelay>();
    relay_->window = this;
    const StartStatus status =
        job_->start([relay = relay_](const DownloadProgress& p) { relay->deliver(relay, p); });
    path_label_->setText(QStringLiteral("下载路径：") + from_gbk(job_->download_folder()));

    if (status != StartStatus::started) {
        relay_->detach();
        relay_.reset();
        const std::string folder = job_->download_folder();
        job_.reset();
        button_->setEnabled(true);
        switch (status) {
        case StartStatus::no_chapters:
            prompter_.inform(this, ui_message("未找到章节信息！", MessageIcon::error));
            break;
        case StartStatus::pool_busy:
            prompter_.inform(
                this, ui_message("已有下载正在进行，请等它结束后再试！", MessageIcon::error));
            break;
        case StartStatus::write_failed:
            prompter_.inform(this, Message{gbk("无法写入下载文件夹：") + folder, MessageIcon::error,
                                           gbk("系统提示")});
            break;
        case StartStatus::started:
            break;
        }
        return;
    }

    state_.progress_file = job_->summary().progress_file;
    state_.chapter_total = total;
    state_.progress_step = static_cast<float>(100.0 / total);
    state_.progress_percent = 0;
    bar_->setRange(0, total);
    bar_->setValue(0);
    details_->setText(QStringLiteral("0/%1 章").arg(total));
    cancel_->setEnabled(true);
    clock_->start();
    downloading_ = true;
    timer_->start(1000);
}

void ChapterWindow::show_progress(const DownloadProgress& progress) {
    state_.progress_percent = progress.percent;
    const QString text = from_gbk(progress.text);
    progress_label_->setText(text);
    bar_->setValue(progress.finished);
    const double seconds = clock_->isValid() ? clock_->elapsed() / 1000.0 : 0;
    const DownloadPace pace = download_pace(progress, seconds);
    QString details = QStringLiteral("%1/%2 章").arg(progress.finished).arg(progress.total);
    if (pace.rate > 0) {
        details += QStringLiteral("  %1 章/秒").arg(pace.rate, 0, 'f', 1);
        if (pace.seconds_left > 0) {
            details += QStringLiteral("  剩余 ") +
                       QString::fromStdString(duration_text(pace.seconds_left));
        }
    }
    details += QStringLiteral("  失败 %1").arg(progress.failed);
    details_->setText(details);
    emit progress_shown(text);
}

bool ChapterWindow::check_download_done() {
    if (job_ == nullptr || !downloading_ || !job_->check_download_done()) {
        return false;
    }
    reset_after_download();
    end_download();
    return true;
}

void ChapterWindow::reset_after_download() {
    downloading_ = false;
    timer_->stop();
    button_->setEnabled(true);
    cancel_->setEnabled(false);
    progress_label_->setText(QStringLiteral("暂无下载"));
    if (relay_) {
        relay_->detach();
        relay_.reset();
    }
}

void ChapterWindow::cancel_download() {
    if (job_ == nullptr || !downloading_) {
        return;
    }
    job_->cancel();
    reset_after_download();
    const DownloadSummary summary = job_->summary();
    std::shared_ptr<DownloadJob> job(std::move(job_));
    prompter_.inform(this, Message{gbk("已取消下载：已下载的") +
                                       std::to_string(summary.downloaded + summary.skipped) +
                                       gbk("章保留在") + summary.download_folder +
                                       gbk("，再次点“多线程下载”会接着下载。"),
                                   MessageIcon::information, gbk("系统提示")});
    // What was saved goes to the shelf, so an update can fetch the rest.
    finish_in_background(std::move(job), false);
}

void ChapterWindow::end_download() {
    std::shared_ptr<DownloadJob> job(std::move(job_));
    const DownloadSummary summary = job->summary();
    if (summary.stopped_by_site) {
        prompter_.inform(this, Message{gbk("网站拒绝下载（") + summary.site_reason +
                                           gbk("），为免打扰网站已提前停止。已下载的") +
                                           std::to_string(summary.downloaded + summary.skipped) +
                                           gbk("章保留着，稍后再点“多线程下载”会接着下载。"),
                                       MessageIcon::error, gbk("系统提示")});
    }
    if (!summary.failed.empty()) {
        std::string text =
            gbk("有") + std::to_string(summary.failed.size()) + gbk("个章节下载失败：");
        for (std::size_t i = 0; i < summary.failed.size() && i < failed_names_shown; ++i) {
            text += "\n" + summary.failed[i].name;
        }
        if (summary.failed.size() > failed_names_shown) {
            text += "\n" + gbk("……");
        }
        prompter_.inform(this, Message{text, MessageIcon::error, gbk("系统提示")});
    }
    MessageBoxMergeQuestion question(prompter_, this);
    finish_in_background(std::move(job), question.ask_merge(summary));
}

// The shelf and the book files are written off the window's thread: thousands of chapters take
// a moment, and the window keeps painting meanwhile.
void ChapterWindow::finish_in_background(std::shared_ptr<DownloadJob> job, bool merge) {
    finishing_ = true;
    button_->setEnabled(false);
    setCursor(Qt::BusyCursor);
    details_->setText(merge ? QStringLiteral("正在整合……") : QStringLiteral("正在记入书架……"));
    const BookFormats formats = chosen_formats();
    runner_.run(
        [job, merge, formats, link = book_link_, source = source_] {
            FinishResult result;
            const DownloadSummary summary = job->summary();
            result.complete = summary.complete();
            const bool book_files = merge && result.complete;
            std::string cover;
            if (book_files && formats.epub) {
                // The cover, when the source names one; a book never waits on a broken cover.
                const DetailsOutcome details = request_book_details(
                    source, {1, job->request().book_name, job->request().book_author, link});
                if (details.details) {
                    cover = fetch_cover(source, details.details->cover_url);
                }
            }
            const DownloadEnd end = finish_download(*job, link, formats, book_files, cover);
            result.shelf_error = end.shelf_error;
            if (book_files) {
                result.files = end.files;
                result.merged = end.files.ok;
            }
            return result;
        },
        [this, job, merge](const FinishResult& result) {
            finishing_ = false;
            button_->setEnabled(true);
            unsetCursor();
            details_->clear();
            if (merge && !result.complete) {
                prompter_.inform(this, ui_message("还有章节没有下载成功，暂不整合：再点“多线程下载”"
                                                  "补齐后即可整合。",
                                                  MessageIcon::error));
            } else if (merge && !result.merged) {
                prompter_.inform(this, Message{result.files.error.empty() ? gbk("章节整合错误！")
                                                                          : result.files.error,
                                               MessageIcon::error, gbk("系统提示")});
            } else if (merge) {
                std::string text = gbk("整合完毕，书籍文件：");
                for (const std::string& file : result.files.files) {
                    text += "\n" + file;
                }
                const std::string base = chosen_or_desktop(job->request().base_folder);
                if (prompter_.inform_with_action(
                        this, Message{text, MessageIcon::information, gbk("系统提示")},
                        QStringLiteral("打开文件夹"))) {
                    prompter_.open_folder(from_gbk(download_folder(base)));
                }
            }
            emit download_finished();
        });
}

ReaderWindow* ChapterWindow::open_reader() {
    auto* reader = new ReaderWindow(state_, prompter_, this);
    reader->setAttribute(Qt::WA_DeleteOnClose);
    reader->show();
    emit reader_opened(reader);
    return reader;
}

} // namespace tovani::ui
