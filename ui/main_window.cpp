#include "ui/main_window.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPalette>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QTreeWidget>

#include "sources/book_details.h"
#include "sources/search.h"
#include "sources/source_table.h"
#include "ui/app_state.h"
#include "ui/chapter_window.h"
#include "ui/companion_window.h"
#include "ui/details_window.h"
#include "ui/fonts.h"
#include "ui/health_window.h"
#include "ui/list_rows.h"
#include "ui/outcome_messages.h"
#include "ui/prompter.h"
#include "ui/qt_text.h"
#include "ui/shelf_window.h"
#include "ui/window_places.h"

namespace tovani::ui {
namespace {

const QColor placeholder_colour(128, 128, 128);

// Identifiers handed to the Enter shortcuts of main windows; 0 stays "none".
int next_shortcut_id = 0;

void set_text_colour(QLineEdit* edit, const QColor& colour) {
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Text, colour);
    palette.setColor(QPalette::Base, Qt::white);
    edit->setPalette(palette);
}

} // namespace

MainWindow::MainWindow(AppState& state, Prompter& prompter, QWidget* parent)
    : QWidget(parent), state_(state), prompter_(prompter) {
    setObjectName(QStringLiteral("主窗口"));
    setWindowTitle(QStringLiteral("Tovani小说下载器    By:Wexlo    V1.3"));
    companion_ = new CompanionWindow(this, 80);

    // The list is made first so it leads the tab order: it, not the search box, takes the
    // focus when the window opens, and the hint stays visible.
    list_ = make_report_list(this, {{QStringLiteral("序号"), 80},
                                    {QStringLiteral("书名"), 280},
                                    {QStringLiteral("作者"), 280},
                                    {QStringLiteral("链接"), 230}});
    list_->setObjectName(QStringLiteral("超级列表框1"));
    list_->setGeometry(0, 48, 875, 440);
    list_->setFont(hei_font(20));
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint&) { menu_->popup(QCursor::pos()); });

    edit_ = new QLineEdit(this);
    edit_->setObjectName(QStringLiteral("编辑框1"));
    edit_->setGeometry(136, 8, 528, 40);
    edit_->installEventFilter(this);

    button_ = new QPushButton(QStringLiteral("搜索"), this);
    button_->setObjectName(QStringLiteral("按钮1"));
    button_->setGeometry(664, 8, 80, 40);
    button_->setFont(hei_font(16));
    connect(button_, &QPushButton::clicked, this, &MainWindow::run_search);

    sources_ = new QComboBox(this);
    sources_->setObjectName(QStringLiteral("组合框1"));
    sources_->setGeometry(744, 8, 128, 32);
    sources_->setFont(hei_font(20));
    // Every loaded source, by its id: 书源一 to 书源八, then added sources by their names, then
    // the entry that searches them all. The last choice comes back at the next start.
    for (const BookSource& source : state_.sources.sources()) {
        sources_->addItem(from_gbk(source_label(source)), source.id());
    }
    sources_->addItem(QStringLiteral("全部书源"), all_sources);
    const int remembered = sources_->findData(QSettings().value(QStringLiteral("main/source"), 2));
    sources_->setCurrentIndex(remembered >= 0 ? remembered : std::min(1, sources_->count() - 1));
    connect(sources_, &QComboBox::currentIndexChanged, this, [this] {
        QSettings().setValue(QStringLiteral("main/source"), sources_->currentData());
    });

    by_label_ = new QLabel(QStringLiteral("By:Wexlo"), this);
    by_label_->setObjectName(QStringLiteral("标签1"));
    by_label_->setGeometry(0, 8, 136, 40);
    by_label_->setFont(hei_font(16));

    // Kept for its place in the window; Enter is a window shortcut, not a system-wide key.
    enter_label_ = new QLabel(this);
    enter_label_->setObjectName(QStringLiteral("标签回车"));
    enter_label_->setGeometry(0, -24, 48, 40);

    menu_ = new QMenu(QStringLiteral("菜单"), this);
    menu_->setObjectName(QStringLiteral("菜单"));
    connect(menu_->addAction(QStringLiteral("查看章节")), &QAction::triggered, this,
            &MainWindow::view_chapters);
    connect(menu_->addAction(QStringLiteral("书籍详情")), &QAction::triggered, this,
            &MainWindow::show_book_details);
    connect(menu_->addAction(QStringLiteral("复制链接")), &QAction::triggered, this,
            &MainWindow::copy_link);
    menu_->addSeparator();
    // The shelf is also a key away: the action belongs to the window too, so its key works
    // wherever the focus is in it.
    QAction* shelf = menu_->addAction(QStringLiteral("书架"));
    shelf->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    shelf->setShortcutContext(Qt::WindowShortcut);
    addAction(shelf);
    connect(shelf, &QAction::triggered, this, &MainWindow::show_shelf);
    connect(menu_->addAction(QStringLiteral("检查书源")), &QAction::triggered, this,
            &MainWindow::check_sources);

    // Enter searches only while this window is the active one; other programs keep their key.
    enter_ = new QShortcut(QKeySequence(Qt::Key_Return), this);
    keypad_enter_ = new QShortcut(QKeySequence(Qt::Key_Enter), this);
    for (QShortcut* s : {enter_, keypad_enter_}) {
        s->setContext(Qt::WindowShortcut);
        s->setAutoRepeat(false);
        connect(s, &QShortcut::activated, this, [this] { on_enter(state_.hotkey_id); });
    }
    state_.hotkey_id = ++next_shortcut_id;

    placeholder_on();
    move(50, 50);
    resize(880, 540);
    place_window(this);
}

MainWindow::~MainWindow() = default;

bool MainWindow::placeholder_shown() const {
    return edit_->text() == from_gbk(search_placeholder());
}

void MainWindow::placeholder_on() {
    edit_->setText(from_gbk(search_placeholder()));
    edit_->setFont(hei_font(12));
    set_text_colour(edit_, placeholder_colour);
}

void MainWindow::placeholder_off() {
    edit_->clear();
    edit_->setFont(hei_font(16));
    set_text_colour(edit_, Qt::black);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edit_) {
        if (event->type() == QEvent::FocusIn && placeholder_shown()) {
            placeholder_off();
        } else if (event->type() == QEvent::FocusOut && edit_->text().isEmpty()) {
            placeholder_on();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    remember_window_place(this);
    emit closing();
    QWidget::closeEvent(event);
}

void MainWindow::set_busy(bool busy) {
    busy_ = busy;
    for (QWidget* w : {static_cast<QWidget*>(edit_), static_cast<QWidget*>(button_),
                       static_cast<QWidget*>(sources_), static_cast<QWidget*>(list_)}) {
        w->setEnabled(!busy);
    }
    if (busy) {
        setCursor(Qt::BusyCursor);
    } else {
        unsetCursor();
    }
}

void MainWindow::on_enter(int id) {
    if (id == 0 || id != state_.hotkey_id) {
        return;
    }
    QString keyword = edit_->text();
    keyword.remove(QChar(u' ')).remove(QChar(u'\u3000'));
    if (!keyword.isEmpty() && button_->isEnabled()) {
        run_search();
    }
}

void MainWindow::run_search() {
    if (busy_) {
        return; // one search at a time
    }
    list_->clear();
    const std::string keyword = to_gbk(edit_->text());
    if (!is_searchable_keyword(keyword, search_placeholder())) {
        return;
    }
    if (sources_->currentData().toInt() == all_sources) {
        run_search_all(keyword);
        return;
    }
    use_columns(false);
    const BookSource* source = state_.sources.find(sources_->currentData().toInt());
    if (source == nullptr) {
        return;
    }
    state_.selected_source = source->id();
    set_busy(true);
    runner_.run([source = *source, keyword] { return search_source(source, keyword); },
                [this, source = *source](const SearchOutcome& outcome) {
                    append_hits(outcome.hits);
                    set_busy(false);
                    if (auto m = search_message(source, outcome)) {
                        prompter_.inform(this, *m);
                    }
                    emit work_finished();
                });
}

void MainWindow::run_search_all(const std::string& keyword) {
    use_columns(true);
    std::vector<BookSource> sources(state_.sources.sources());
    set_busy(true);
    runner_.run(
        [sources, keyword] { return search_all_sources(source_pointers(sources), keyword); },
        [this](const AllSearchOutcome& outcome) {
            append_source_hits(outcome.hits);
            set_busy(false);
            if (!outcome.any_rows()) {
                // Nothing anywhere: the sources that failed say why, else "搜索不到！".
                std::string failures;
                for (const SourceSearch& s : outcome.per_source) {
                    const BookSource* source = state_.sources.find(s.source);
                    if (source != nullptr && !s.result.outcome.ok() &&
                        s.result.outcome.kind != OutcomeKind::no_match) {
                        failures += (failures.empty() ? "" : "\n") +
                                    failure_text(*source, s.result.outcome);
                    }
                }
                prompter_.inform(this, failures.empty()
                                           ? ui_message("搜索不到！", MessageIcon::error, "信息：")
                                           : Message{gbk("搜索不到！") + "\n" + failures,
                                                     MessageIcon::error, gbk("信息：")});
            }
            emit work_finished();
        });
}

void MainWindow::use_columns(bool with_source) {
    if (with_source == source_column_ && list_->columnCount() > 0) {
        return;
    }
    source_column_ = with_source;
    if (with_source) {
        set_columns(list_, {{QStringLiteral("序号"), 70},
                            {QStringLiteral("书源"), 100},
                            {QStringLiteral("书名"), 240},
                            {QStringLiteral("作者"), 220},
                            {QStringLiteral("链接"), 230}});
    } else {
        set_columns(list_, {{QStringLiteral("序号"), 80},
                            {QStringLiteral("书名"), 280},
                            {QStringLiteral("作者"), 280},
                            {QStringLiteral("链接"), 230}});
    }
}

void MainWindow::append_source_hits(const std::vector<SourceHit>& hits) {
    std::vector<std::vector<std::string>> rows;
    for (const SourceHit& h : hits) {
        const BookSource* source = state_.sources.find(h.source);
        rows.push_back({std::to_string(h.hit.number), source ? source_label(*source) : "",
                        h.hit.name, h.hit.author, h.hit.link});
    }
    append_rows(list_, rows);
    for (std::size_t i = 0; i < hits.size(); ++i) {
        list_->topLevelItem(static_cast<int>(i))->setData(0, Qt::UserRole, hits[i].source);
    }
}

int MainWindow::row_source(int row) const {
    const QTreeWidgetItem* item = row >= 0 ? list_->topLevelItem(row) : nullptr;
    if (item != nullptr && source_column_) {
        return item->data(0, Qt::UserRole).toInt();
    }
    return state_.selected_source;
}

void MainWindow::append_hits(const std::vector<SearchHit>& hits) {
    for (const SearchHit& hit : hits) {
        append_row(list_, {std::to_string(hit.number), hit.name, hit.author, hit.link});
    }
}

int MainWindow::selected_row() const {
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    return selected.isEmpty() ? -1 : list_->indexOfTopLevelItem(selected.front());
}

SearchHit MainWindow::row_hit(int row) const {
    SearchHit hit;
    if (row >= 0 && row < list_->topLevelItemCount()) {
        const int shift = source_column_ ? 1 : 0; // the 书源 column of an all-source search
        hit.number = row + 1;
        hit.name = cell_text(list_, row, 1 + shift);
        hit.author = cell_text(list_, row, 2 + shift);
        hit.link = cell_text(list_, row, 3 + shift);
    }
    return hit;
}

void MainWindow::view_chapters() {
    if (busy_) {
        return;
    }
    const SearchHit hit = row_hit(selected_row());
    state_.selected_source = row_source(selected_row());
    state_.book_link = hit.link;
    state_.book_name = hit.name;
    state_.book_author = hit.author;
    if (hit.link.empty() && hit.name.empty() && hit.author.empty()) {
        prompter_.inform(this, ui_message("章节不存在！", MessageIcon::error));
        return;
    }
    auto* window = new ChapterWindow(state_, prompter_, nullptr, this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    emit chapter_window_opened(window);
}

void MainWindow::show_book_details() {
    if (busy_) {
        return;
    }
    const SearchHit hit = row_hit(selected_row());
    const BookSource* source = state_.sources.find(row_source(selected_row()));
    if (source == nullptr) {
        return;
    }
    set_busy(true);
    runner_.run([source = *source, hit] { return request_book_details(source, hit); },
                [this, source = *source](const DetailsOutcome& outcome) {
                    set_busy(false);
                    if (auto m = details_message(source, outcome)) {
                        if (!outcome.refused) {
                            state_.set_details({}); // no earlier book's facts stay behind
                        }
                        prompter_.inform(this, *m);
                    } else if (outcome.details) {
                        state_.set_details(*outcome.details);
                        auto* window = new DetailsWindow(state_);
                        window->setAttribute(Qt::WA_DeleteOnClose);
                        window->show();
                        emit details_window_opened(window);
                    }
                    emit work_finished();
                });
}

void MainWindow::copy_link() {
    const int row = selected_row();
    const QString link =
        row >= 0 ? list_->topLevelItem(row)->text(source_column_ ? 4 : 3) : QString();
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(link);
    if (clipboard->text() == link) {
        prompter_.inform(this,
                         ui_message("链接复制成功，可在浏览器中打开！", MessageIcon::information));
    }
}

void MainWindow::check_sources() {
    auto* window = new HealthWindow(state_.sources, this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    emit health_window_opened(window);
}

void MainWindow::show_shelf() {
    auto* window = new ShelfWindow(state_, prompter_, this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    emit shelf_window_opened(window);
}

} // namespace tovani::ui
