#include "ui/chapter_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <mutex>

#include "download/thread_pool.h"
#include "sources/chapter_list.h"
#include "text/encoding.h"
#include "ui/app_state.h"
#include "ui/companion_window.h"
#include "ui/list_rows.h"
#include "ui/outcome_messages.h"
#include "ui/prompter.h"
#include "ui/qt_text.h"
#include "ui/reader_window.h"

namespace tovani::ui {
namespace {

// How many failed chapters the end-of-download message names before it says "……".
constexpr std::size_t failed_names_shown = 10;

} // namespace

MessageBoxMergeQuestion::MessageBoxMergeQuestion(Prompter& prompter, QWidget* parent)
    : prompter_(prompter), parent_(parent)
{
}

bool MessageBoxMergeQuestion::ask_merge(const DownloadSummary&)
{
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

    void deliver(const std::shared_ptr<ProgressRelay>& self, const DownloadProgress& progress)
    {
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

    void detach()
    {
        std::lock_guard lock(mutex);
        window = nullptr;
    }
};

ChapterWindow::ChapterWindow(AppState& state, Prompter& prompter, QWidget* parent)
    : QWidget(parent), state_(state), prompter_(prompter), book_link_(state.book_link), book_name_(state.book_name), book_author_(state.book_author)
{
    setObjectName(QStringLiteral("章节窗口"));
    setWindowTitle(QStringLiteral("Tovani小说下载器    By:Wexlo"));
    companion_ = new CompanionWindow(this, 120);

    list_ = make_report_list(this, {{QStringLiteral("序号"), 80},
                                    {QStringLiteral("章节名"), 380},
                                    {QStringLiteral("章节链接"), 200}});
    list_->setObjectName(QStringLiteral("超级列表框1"));
    list_->setGeometry(-8, 0, 664, 336);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint&) { menu_->popup(QCursor::pos()); });

    path_label_ = new QLabel(QStringLiteral("下载地址："), this);
    path_label_->setObjectName(QStringLiteral("标签1"));
    path_label_->setGeometry(0, 336, 368, 40);
    path_label_->setTextFormat(Qt::PlainText);

    button_ = new QPushButton(QStringLiteral("多线程下载"), this);
    button_->setObjectName(QStringLiteral("按钮1"));
    button_->setGeometry(0, 376, 120, 40);
    connect(button_, &QPushButton::clicked, this, &ChapterWindow::start_download);

    threads_label_ = new QLabel(QStringLiteral("线程数"), this);
    threads_label_->setObjectName(QStringLiteral("标签3"));
    threads_label_->setGeometry(120, 376, 72, 40);

    threads_ = new QComboBox(this);
    threads_->setObjectName(QStringLiteral("组合框1"));
    threads_->setGeometry(192, 384, 72, 20);
    threads_->addItems({QStringLiteral("5"), QStringLiteral("10"), QStringLiteral("15"),
                        QStringLiteral("20"), QStringLiteral("30"), QStringLiteral("50")});
    threads_->setCurrentIndex(2);

    progress_label_ = new QLabel(QStringLiteral("暂无下载"), this);
    progress_label_->setObjectName(QStringLiteral("标签2"));
    progress_label_->setGeometry(264, 376, 256, 40);
    progress_label_->setTextFormat(Qt::PlainText);

    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("时钟1"));
    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, &ChapterWindow::check_download_done);

    menu_ = new QMenu(QStringLiteral("菜单"), this);
    menu_->setObjectName(QStringLiteral("菜单"));
    connect(menu_->addAction(QStringLiteral("在线阅读")), &QAction::triggered, this,
            &ChapterWindow::open_reader);

    move(50, 50);
    resize(665, 451);

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
    runner_.run(
        [source = source_, link = book_link_] { return list_chapters(source, link); },
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

ChapterWindow::~ChapterWindow()
{
    if (relay_) {
        relay_->detach();
    }
    if (job_) {
        // Chapters not yet begun are dropped; the job's shared state outlives running ones.
        job_->cancel();
        job_.reset();
    }
}

void ChapterWindow::closeEvent(QCloseEvent* event)
{
    timer_->stop(); // a download cut short is neither reported nor merged
    QWidget::closeEvent(event);
}

int ChapterWindow::row_count() const { return list_->topLevelItemCount(); }

int ChapterWindow::selected_row() const
{
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    return selected.isEmpty() ? -1 : list_->indexOfTopLevelItem(selected.front());
}

ChapterEntry ChapterWindow::chapter_at(int row) const
{
    ChapterEntry entry;
    if (row >= 0 && row < row_count()) {
        entry.number = row + 1;
        entry.name = cell_text(list_, row, 1);
        entry.link = cell_text(list_, row, 2);
    }
    return entry;
}

void ChapterWindow::start_download()
{
    if (job_ != nullptr || loading_) {
        return; // one download per window at a time
    }
    if (state_.pool.state() != ThreadPool::idle) {
        // Another window's download holds the one pool; nothing is written for this book.
        prompter_.inform(this, ui_message("已有下载正在进行，请等它结束后再试！",
                                          MessageIcon::error));
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
            prompter_.inform(this, ui_message("已有下载正在进行，请等它结束后再试！",
                                              MessageIcon::error));
            break;
        case StartStatus::write_failed:
            prompter_.inform(this, Message{gbk("无法写入下载文件夹：") + folder,
                                           MessageIcon::error, gbk("系统提示")});
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
    downloading_ = true;
    timer_->start(1000);
}

void ChapterWindow::show_progress(const DownloadProgress& progress)
{
    state_.progress_percent = progress.percent;
    const QString text = from_gbk(progress.text);
    progress_label_->setText(text);
    emit progress_shown(text);
}

bool ChapterWindow::check_download_done()
{
    if (job_ == nullptr || !downloading_ || !job_->check_download_done()) {
        return false;
    }
    downloading_ = false;
    timer_->stop();
    button_->setEnabled(true);
    progress_label_->setText(QStringLiteral("暂无下载"));
    relay_->detach();
    relay_.reset();
    end_download();
    return true;
}

void ChapterWindow::end_download()
{
    std::unique_ptr<DownloadJob> job = std::move(job_);
    const DownloadSummary summary = job->summary();
    if (!summary.failed.empty()) {
        std::string text = gbk("有") + std::to_string(summary.failed.size()) +
                           gbk("个章节下载失败：");
        for (std::size_t i = 0; i < summary.failed.size() && i < failed_names_shown; ++i) {
            text += "\n" + summary.failed[i].name;
        }
        if (summary.failed.size() > failed_names_shown) {
            text += "\n" + gbk("……");
        }
        prompter_.inform(this, Message{text, MessageIcon::error, gbk("系统提示")});
    }
    MessageBoxMergeQuestion question(prompter_, this);
    if (question.ask_merge(summary)) {
        const MergeResult merged = job->merge_chapters();
        if (!merged.ok) {
            prompter_.inform(this, Message{merged.error.empty() ? gbk("章节整合错误！")
                                                                : merged.error,
                                           MessageIcon::error, gbk("系统提示")});
        }
    }
    emit download_finished();
}

ReaderWindow* ChapterWindow::open_reader()
{
    auto* reader = new ReaderWindow(state_, prompter_, this);
    reader->setAttribute(Qt::WA_DeleteOnClose);
    reader->show();
    emit reader_opened(reader);
    return reader;
}

} // namespace tovani::ui
