#include "ui/shelf_window.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "download/book_update.h"
#include "download/download_store.h"
#include "ui/app_state.h"
#include "ui/chapter_window.h"
#include "ui/list_rows.h"
#include "ui/prompter.h"
#include "ui/qt_text.h"
#include "ui/reader_window.h"
#include "ui/window_places.h"

namespace tovani::ui {
namespace {

std::string date_of(std::time_t t) {
    if (t == 0) {
        return "-";
    }
    return to_gbk(QDateTime::fromSecsSinceEpoch(t).toString(QStringLiteral("yyyy-MM-dd HH:mm")));
}

} // namespace

ShelfWindow::ShelfWindow(AppState& state, Prompter& prompter, QWidget* opener)
    : QWidget(nullptr), state_(state), prompter_(prompter) {
    setObjectName(QStringLiteral("书架窗口"));
    setWindowTitle(QStringLiteral("书架 - Tovani小说下载器"));
    auto* layout = new QVBoxLayout(this);
    list_ = make_report_list(this, {{QStringLiteral("书名"), 200},
                                    {QStringLiteral("作者"), 130},
                                    {QStringLiteral("书源"), 80},
                                    {QStringLiteral("已下载/章节"), 110},
                                    {QStringLiteral("最近更新"), 150}});
    list_->setObjectName(QStringLiteral("书架列表"));
    list_->header()->setStretchLastSection(true);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, &ShelfWindow::continue_reading);
    layout->addWidget(list_);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("书架状态"));
    status_->setTextFormat(Qt::PlainText);
    status_->setWordWrap(true);
    layout->addWidget(status_);
    auto* row = new QHBoxLayout;
    const std::pair<const char*, void (ShelfWindow::*)()> actions[] = {
        {"更新", &ShelfWindow::update_selected},
        {"全部更新", &ShelfWindow::update_all},
        {"打开文件夹", &ShelfWindow::open_folder},
        {"继续阅读", &ShelfWindow::continue_reading},
    };
    for (const auto& [label, slot] : actions) {
        auto* button = new QPushButton(QString::fromUtf8(label), this);
        button->setObjectName(QString::fromUtf8(label));
        connect(button, &QPushButton::clicked, this, slot);
        row->addWidget(button);
        buttons_.push_back(button);
    }
    layout->addLayout(row);
    resize(720, 420);
    place_window(this, opener);
    refresh();
}

void ShelfWindow::refresh() {
    list_->clear();
    std::string error;
    const std::unique_ptr<Shelf> shelf = Shelf::open(Shelf::default_path(), &error);
    if (!shelf) {
        books_.clear();
        status_->setText(QString::fromStdString(error));
        return;
    }
    books_ = shelf->books();
    std::vector<std::vector<std::string>> rows;
    for (const ShelfBook& b : books_) {
        const BookSource* source = state_.sources.find(b.source);
        rows.push_back(
            {b.name, b.author, source ? source_label(*source) : std::to_string(b.source),
             std::to_string(b.chapters_downloaded) + "/" + std::to_string(b.chapters_known),
             date_of(b.last_update)});
    }
    append_rows(list_, rows);
    if (status_->text().isEmpty() || !busy_) {
        status_->setText(books_.empty() ? QStringLiteral("书架上还没有书：下载一本书后它就在这里。")
                                        : QStringLiteral("共 %1 本书").arg(books_.size()));
    }
}

int ShelfWindow::selected_row() const {
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    return selected.isEmpty() ? -1 : list_->indexOfTopLevelItem(selected.front());
}

void ShelfWindow::set_busy(bool busy) {
    busy_ = busy;
    for (QPushButton* b : buttons_) {
        b->setEnabled(!busy);
    }
    if (busy) {
        setCursor(Qt::BusyCursor);
    } else {
        unsetCursor();
    }
}

void ShelfWindow::update_selected() {
    const int row = selected_row();
    if (row < 0 || busy_) {
        return;
    }
    update_books({books_[static_cast<std::size_t>(row)]});
}

void ShelfWindow::update_all() {
    if (!busy_ && !books_.empty()) {
        update_books(books_);
    }
}

void ShelfWindow::update_books(std::vector<ShelfBook> books) {
    set_busy(true);
    status_->setText(QStringLiteral("正在更新 %1 本书……").arg(books.size()));
    runner_.run(
        [sources = state_.sources, books] {
            std::vector<UpdateReport> reports;
            std::string error;
            const std::unique_ptr<Shelf> shelf = Shelf::open(Shelf::default_path(), &error);
            if (shelf) {
                reports = tovani::update_books(*shelf, sources, books);
            }
            return std::make_pair(std::move(reports), error);
        },
        [this](const std::pair<std::vector<UpdateReport>, std::string>& result) {
            QStringList lines;
            if (!result.second.empty()) {
                lines << QString::fromStdString(result.second);
            }
            for (const UpdateReport& r : result.first) {
                QString line = from_gbk(r.name) + QStringLiteral("：");
                if (!r.error.empty()) {
                    line += from_gbk(r.error);
                } else if (!r.outcome.ok()) {
                    line += from_gbk(outcome_text(r.outcome));
                } else {
                    line += QStringLiteral("%1 个新章节").arg(r.new_chapters);
                }
                lines << line;
            }
            set_busy(false);
            refresh();
            status_->setText(lines.join(QStringLiteral("\n")));
            emit updated();
        });
}

void ShelfWindow::open_folder() {
    const int row = selected_row();
    if (row < 0) {
        return;
    }
    const ShelfBook& b = books_[static_cast<std::size_t>(row)];
    const std::string base = chosen_or_desktop(b.base_folder);
    prompter_.open_folder(from_gbk(download_folder(base)));
}

void ShelfWindow::continue_reading() {
    const int row = selected_row();
    if (row < 0) {
        return;
    }
    const ShelfBook& b = books_[static_cast<std::size_t>(row)];
    state_.selected_source = b.source;
    state_.book_link = b.link;
    state_.book_name = b.name;
    state_.book_author = b.author;
    auto* chapters = new ChapterWindow(state_, prompter_, nullptr, this);
    chapters->setAttribute(Qt::WA_DeleteOnClose);
    chapters->show();
    const int last_read = std::max(1, b.last_read);
    // The reader opens on the chapter read last once the list has come.
    connect(chapters, &ChapterWindow::chapters_loaded, this, [this, chapters, last_read] {
        if (chapters->row_count() == 0) {
            return;
        }
        chapters->select_row(std::min(last_read, chapters->row_count()) - 1);
        emit reader_opened(chapters->open_reader());
    });
}

void ShelfWindow::closeEvent(QCloseEvent* event) {
    remember_window_place(this);
    QWidget::closeEvent(event);
}

} // namespace tovani::ui
