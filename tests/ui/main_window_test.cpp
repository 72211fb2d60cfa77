// The search window: placeholder, searches from the button and from Enter, every outcome's
// message, the result menu ("查看章节", "书籍详情", "复制链接") and a window that keeps turning
// while a slow site answers.

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <map>

#include <gtest/gtest.h>

#include "sources/search.h"
#include "ui/chapter_window.h"
#include "ui/details_window.h"
#include "ui/health_window.h"
#include "ui/main_window.h"
#include "ui/qt_text.h"
#include "ui/reader_window.h"
#include "ui/shelf_window.h"
#include "ui_test_support.h"

namespace tovani::ui::test {
namespace {

using demo::PageKind;

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        demo_sites().clear_faults();
        demo_sites().set_latency(std::chrono::milliseconds(0));
        window = std::make_unique<MainWindow>(*env.state, prompter);
        window->show();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        edit = window->findChild<QLineEdit*>(QStringLiteral("编辑框1"));
        button = window->findChild<QPushButton*>(QStringLiteral("按钮1"));
        sources = window->findChild<QComboBox*>(QStringLiteral("组合框1"));
        list = window->findChild<QTreeWidget*>(QStringLiteral("超级列表框1"));
        ASSERT_TRUE(edit && button && sources && list);
    }
    void TearDown() override {
        window.reset();
        delete_windows();
    }

    // Types `keyword` into the box (as the user would, leaving the placeholder first).
    void type(const QString& keyword) {
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        edit->setFocus();
        ASSERT_TRUE(wait_until([&] { return edit->hasFocus(); }));
        edit->setText(keyword);
    }

    void search(int source, const QString& keyword) {
        sources->setCurrentIndex(source - 1);
        type(keyword);
        QTest::mouseClick(button, Qt::LeftButton);
        ASSERT_TRUE(wait_until([&] { return !window->is_busy(); }));
    }

    std::uint64_t search_requests() const {
        std::uint64_t n = 0;
        for (int s = 1; s <= 8; ++s) {
            n += demo_sites().counts(s).of(PageKind::search);
        }
        return n;
    }

    QStringList column(int c) const {
        QStringList cells;
        for (int row = 0; row < list->topLevelItemCount(); ++row) {
            cells << list->topLevelItem(row)->text(c);
        }
        return cells;
    }

    void select_row(int row) {
        list->setCurrentItem(list->topLevelItem(row));
        ASSERT_EQ(list->selectedItems().size(), 1);
    }

    StateOnDemo env;
    RecordingPrompter prompter;
    std::unique_ptr<MainWindow> window;
    QLineEdit* edit = nullptr;
    QPushButton* button = nullptr;
    QComboBox* sources = nullptr;
    QTreeWidget* list = nullptr;
};

TEST_F(MainWindowTest, HasTheWindowsControlsAndMenu) {
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Tovani小说下载器    By:Wexlo    V1.3"));
    EXPECT_EQ(button->text(), QStringLiteral("搜索"));
    // The eight sources, then the entry that searches them all.
    ASSERT_EQ(sources->count(), 9);
    EXPECT_EQ(sources->currentText(), QStringLiteral("书源二"));
    EXPECT_EQ(sources->itemText(8), QStringLiteral("全部书源"));
    EXPECT_EQ(list->headerItem()->text(0), QStringLiteral("序号"));
    EXPECT_EQ(list->headerItem()->text(3), QStringLiteral("链接"));
    QStringList items;
    for (QAction* a : window->result_menu()->actions()) {
        items << a->text();
    }
    EXPECT_EQ(items, (QStringList{QStringLiteral("查看章节"), QStringLiteral("书籍详情"),
                                  QStringLiteral("复制链接"), QString(), QStringLiteral("书架"),
                                  QStringLiteral("检查书源")}));
    EXPECT_NE(env.state->hotkey_id, 0);

    // A right click on the list pops the menu up.
    QSignalSpy requested(list, &QWidget::customContextMenuRequested);
    QContextMenuEvent right_click(QContextMenuEvent::Mouse, QPoint(20, 20),
                                  list->viewport()->mapToGlobal(QPoint(20, 20)));
    QApplication::sendEvent(list->viewport(), &right_click);
    EXPECT_EQ(requested.count(), 1);
    EXPECT_TRUE(wait_until([&] { return window->result_menu()->isVisible(); }));
    window->result_menu()->hide();
}

TEST_F(MainWindowTest, PlaceholderFollowsTheFocus) {
    const QString hint = QStringLiteral("可搜书名和作者，请您少字也别输错字。");
    struct Look {
        QString text;
        QColor colour;
        int point_size;
    };
    const Look placeholder{hint, QColor(128, 128, 128), 12};
    const Look typing{QString(), Qt::black, 16};
    auto expect_look = [&](const Look& look, const char* step) {
        SCOPED_TRACE(step);
        EXPECT_EQ(edit->text(), look.text);
        EXPECT_EQ(edit->palette().color(QPalette::Text), look.colour);
        EXPECT_EQ(edit->font().pointSize(), look.point_size);
    };
    auto focus_edit = [&] {
        edit->setFocus();
        ASSERT_TRUE(wait_until([&] { return edit->hasFocus(); }));
    };
    auto leave_edit = [&] {
        list->setFocus();
        ASSERT_TRUE(wait_until([&] { return !edit->hasFocus(); }));
    };

    expect_look(placeholder, "at start");
    focus_edit();
    expect_look(typing, "focus in");
    leave_edit();
    expect_look(placeholder, "left empty");

    focus_edit();
    edit->setText(QStringLiteral("剑"));
    leave_edit();
    expect_look({QStringLiteral("剑"), Qt::black, 16}, "typed text kept");
    focus_edit();
    expect_look({QStringLiteral("剑"), Qt::black, 16}, "typed text kept on coming back");

    edit->setText(QStringLiteral("  "));
    leave_edit();
    expect_look({QStringLiteral("  "), Qt::black, 16}, "spaces are not empty");
}

TEST_F(MainWindowTest, SearchesEverySourceFromTheButton) {
    const std::string keyword = g("青衫客");
    const auto books = demo_sites().library().search(keyword);
    ASSERT_GE(books.size(), 4u); // source 5 then pages its results
    for (int source = 1; source <= 8; ++source) {
        SCOPED_TRACE(source);
        search(source, q(keyword));
        EXPECT_TRUE(prompter.messages.empty());
        EXPECT_EQ(env.state->selected_source, source);
        ASSERT_EQ(list->topLevelItemCount(), static_cast<int>(books.size()));
        for (std::size_t i = 0; i < books.size(); ++i) {
            const QTreeWidgetItem* row = list->topLevelItem(static_cast<int>(i));
            EXPECT_EQ(row->text(0), QString::number(i + 1));
            EXPECT_EQ(row->text(1), q(books[i]->title));
            EXPECT_EQ(row->text(2), q(books[i]->author));
            EXPECT_EQ(row->text(3), q(demo_sites().book_link(source, books[i]->id)));
        }
    }
}

TEST_F(MainWindowTest, EveryOutcomeClearsTheListAndShowsItsMessage) {
    struct Case {
        const char* name;
        QString keyword;
        int source;
        bool fetches;
        int rows;
        QString message; // empty: no message box
    };
    const QString hint = QStringLiteral("可搜书名和作者，请您少字也别输错字。");
    const Case cases[] = {
        {"found", QStringLiteral("星河渡舟"), 1, true, 1, {}},
        {"nothing found", QStringLiteral("无此书名"), 2, true, 0, QStringLiteral("搜索不到！")},
        {"nothing found, paged source", QStringLiteral("无此书名"), 5, true, 0,
         QStringLiteral("搜索不到！")},
        {"placeholder", hint, 1, false, 0, {}},
        {"ascii spaces", QStringLiteral("   "), 1, false, 0, {}},
        {"full-width spaces", QStringLiteral("\u3000 \u3000"), 1, false, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        search(1, QStringLiteral("青衫客")); // rows that every outcome must clear
        ASSERT_GT(list->topLevelItemCount(), 0);
        prompter.messages.clear();
        demo_sites().reset_counts();

        search(c.source, c.keyword);
        EXPECT_EQ(search_requests() > 0, c.fetches);
        EXPECT_EQ(list->topLevelItemCount(), c.rows);
        if (c.message.isEmpty()) {
            EXPECT_TRUE(prompter.messages.empty());
        } else {
            ASSERT_EQ(prompter.messages.size(), 1u);
            EXPECT_EQ(prompter.messages[0].text, c.message);
            EXPECT_EQ(prompter.messages[0].icon, MessageIcon::error);
            EXPECT_EQ(prompter.messages[0].title, QStringLiteral("信息："));
            EXPECT_EQ(prompter.messages[0].buttons, QMessageBox::Ok);
        }
    }
}

TEST_F(MainWindowTest, UnreachableSiteSaysWhichAndWhy) {
    std::map<int, std::string> hosts;
    for (int id = 1; id <= 8; ++id) {
        hosts[id] = "127.0.0.1:1"; // nothing listens on port 1
    }
    env.state->sources = builtin_source_table(hosts);
    search(3, QStringLiteral("青衫客"));
    EXPECT_EQ(list->topLevelItemCount(), 0);
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(prompter.messages[0].text,
              QStringLiteral("书源三（127.0.0.1:1）无法连接：Connection refused"));
    EXPECT_EQ(prompter.messages[0].icon, MessageIcon::error);
    EXPECT_EQ(env.state->selected_source, 3);
}

TEST_F(MainWindowTest, EnterSearchesOnlyWhileTheWindowIsActive) {
    sources->setCurrentIndex(0);
    type(QStringLiteral("青衫客"));
    QTest::keyClick(edit, Qt::Key_Return);
    ASSERT_TRUE(wait_until([&] { return !window->is_busy() && list->topLevelItemCount() > 0; }));
    EXPECT_EQ(env.state->selected_source, 1);

    // Another window is active: its own Enter stays its own and nothing is searched here.
    list->clear();
    demo_sites().reset_counts();
    QWidget other;
    auto* other_edit = new QLineEdit(&other);
    QSignalSpy returned(other_edit, &QLineEdit::returnPressed);
    other.show();
    QApplication::setActiveWindow(&other);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    other_edit->setFocus();
    QTest::keyClick(other_edit, Qt::Key_Return);
    QTest::qWait(200);
    EXPECT_EQ(returned.count(), 1);
    EXPECT_EQ(search_requests(), 0u);
    EXPECT_EQ(list->topLevelItemCount(), 0);

    // An identifier that is not the window's own starts nothing.
    window->on_enter(env.state->hotkey_id + 1);
    QTest::qWait(100);
    EXPECT_EQ(search_requests(), 0u);
}

TEST_F(MainWindowTest, EnterWithThePlaceholderClearsTheListAndFetchesNothing) {
    search(1, QStringLiteral("青衫客"));
    ASSERT_GT(list->topLevelItemCount(), 0);
    type(QString());
    list->setFocus();
    ASSERT_TRUE(wait_until([&] { return window->placeholder_shown(); }));
    demo_sites().reset_counts();
    QTest::keyClick(list, Qt::Key_Return);
    QTest::qWait(100);
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_EQ(search_requests(), 0u);
    EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(MainWindowTest, KeepsTurningWhileASlowSiteAnswers) {
    demo_sites().set_latency(std::chrono::milliseconds(2000));
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(50);

    sources->setCurrentIndex(0);
    type(QStringLiteral("星河渡舟"));
    demo_sites().reset_counts();
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_TRUE(window->is_busy());
    EXPECT_FALSE(button->isEnabled());
    EXPECT_FALSE(edit->isEnabled());
    EXPECT_EQ(window->cursor().shape(), Qt::BusyCursor);

    // Neither the button nor Enter starts a second search meanwhile.
    QTest::qWait(300);
    window->run_search();
    window->on_enter(env.state->hotkey_id);
    ASSERT_TRUE(wait_until([&] { return !window->is_busy(); }, 20000));

    EXPECT_GE(ticks, 10); // about 40 in two seconds; a blocked loop gives 0 or 1
    EXPECT_EQ(search_requests(), 1u);
    EXPECT_EQ(list->topLevelItemCount(), 1);
    EXPECT_TRUE(button->isEnabled());
    EXPECT_NE(window->cursor().shape(), Qt::BusyCursor);
    demo_sites().set_latency(std::chrono::milliseconds(0));
}

TEST_F(MainWindowTest, ViewChaptersNeedsARow) {
    env.state->book_link = g("old");
    window->view_chapters();
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(prompter.messages[0].text, QStringLiteral("章节不存在！"));
    EXPECT_EQ(prompter.messages[0].icon, MessageIcon::error);
    EXPECT_EQ(prompter.messages[0].title, QStringLiteral("系统提示"));
    EXPECT_TRUE(env.state->book_link.empty());
    EXPECT_TRUE(env.state->book_name.empty());
    EXPECT_TRUE(env.state->book_author.empty());

    search(4, QStringLiteral("青衫客"));
    select_row(1);
    QSignalSpy opened(window.get(), &MainWindow::chapter_window_opened);
    window->result_menu()->actions()[0]->trigger();
    ASSERT_EQ(opened.count(), 1);
    auto* chapters = opened.at(0).at(0).value<ChapterWindow*>();
    ASSERT_NE(chapters, nullptr);
    EXPECT_EQ(q(env.state->book_name), list->topLevelItem(1)->text(1));
    EXPECT_EQ(q(env.state->book_author), list->topLevelItem(1)->text(2));
    EXPECT_EQ(q(env.state->book_link), list->topLevelItem(1)->text(3));
    ASSERT_TRUE(wait_until([&] { return !chapters->is_loading(); }));
    const auto books = demo_sites().library().search(g("青衫客"));
    EXPECT_EQ(chapters->row_count(), books[1]->chapter_count);
}

TEST_F(MainWindowTest, BookDetailsOfEverySource) {
    const demo::DemoBook& book = *demo_sites().library().find(102);
    const demo::DemoLibrary& library = demo_sites().library();
    for (int source = 1; source <= 8; ++source) {
        SCOPED_TRACE(source);
        search(source, q(book.title));
        ASSERT_EQ(list->topLevelItemCount(), 1);
        select_row(0);
        prompter.messages.clear();
        env.state->details_title = g("earlier");
        QSignalSpy opened(window.get(), &MainWindow::details_window_opened);
        window->result_menu()->actions()[1]->trigger();
        ASSERT_TRUE(wait_until([&] { return !window->is_busy(); }));
        if (source == 2) {
            ASSERT_EQ(prompter.messages.size(), 1u);
            EXPECT_EQ(prompter.messages[0].text, QStringLiteral("暂不支持！"));
            EXPECT_EQ(prompter.messages[0].icon, MessageIcon::information);
            EXPECT_EQ(prompter.messages[0].title, QStringLiteral("系统提示"));
            EXPECT_EQ(opened.count(), 0);
            EXPECT_EQ(env.state->details_title, g("earlier")); // left as it was
            continue;
        }
        EXPECT_TRUE(prompter.messages.empty());
        ASSERT_EQ(opened.count(), 1);
        EXPECT_EQ(env.state->details_title, book.title);
        EXPECT_EQ(env.state->details_author, book.author);
        EXPECT_EQ(env.state->details_update_time, book.update_time);
        EXPECT_EQ(env.state->details_latest_chapter,
                  library.chapter_name(book, book.chapter_count));
        EXPECT_EQ(env.state->details_status, source == 5 ? std::string() : book.status);
        EXPECT_FALSE(env.state->details_description.empty());
        EXPECT_FALSE(env.state->details_cover_url.empty());
        auto* details = opened.at(0).at(0).value<DetailsWindow*>();
        ASSERT_NE(details, nullptr);
        EXPECT_EQ(details->details(), env.state->details());
        ASSERT_TRUE(wait_until([&] { return !details->cover_pending(); }));
        EXPECT_FALSE(details->cover_label()->pixmap().isNull());
        details->close();
    }
}

TEST_F(MainWindowTest, DetailsNeverShowAnotherBook) {
    search(6, QStringLiteral("青衫客"));
    ASSERT_GE(list->topLevelItemCount(), 2);
    select_row(0);
    window->show_book_details();
    ASSERT_TRUE(wait_until([&] { return !window->is_busy(); }));
    EXPECT_EQ(q(env.state->details_title), list->topLevelItem(0)->text(1));

    // The second book's page cannot be had: the failure is told and nothing of the first book
    // remains.
    demo_sites().set_faults_on_all_pages(true);
    demo::FaultRates always;
    always.http_500 = 1;
    demo_sites().set_fault_rates(always);
    select_row(1);
    prompter.messages.clear();
    QSignalSpy opened(window.get(), &MainWindow::details_window_opened);
    window->show_book_details();
    ASSERT_TRUE(wait_until([&] { return !window->is_busy(); }));
    demo_sites().clear_faults();
    demo_sites().set_faults_on_all_pages(false);
    EXPECT_EQ(opened.count(), 0);
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_TRUE(prompter.messages[0].text.endsWith(QStringLiteral("网站出错：HTTP 500")))
        << prompter.messages[0].text.toStdString();
    EXPECT_EQ(env.state->details(), BookDetails{});
}

TEST_F(MainWindowTest, CopyLinkPutsTheRowsLinkOnTheClipboard) {
    search(7, QStringLiteral("青衫客"));
    select_row(2);
    window->result_menu()->actions()[2]->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), list->topLevelItem(2)->text(3));
    EXPECT_FALSE(QGuiApplication::clipboard()->text().isEmpty());

    list->clearSelection();
    window->copy_link();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString());

    ASSERT_EQ(prompter.messages.size(), 2u);
    for (const ShownMessage& m : prompter.messages) {
        EXPECT_EQ(m.text, QStringLiteral("链接复制成功，可在浏览器中打开！"));
        EXPECT_EQ(m.icon, MessageIcon::information);
        EXPECT_EQ(m.title, QStringLiteral("系统提示"));
        EXPECT_EQ(m.buttons, QMessageBox::Ok);
    }
}

TEST(MessageBoxPrompterTest, ShowsSiteTextsAsPlainText) {
    MessageBoxPrompter prompter;
    const std::string text = g("<b>粗体</b><img src=\"http://127.0.0.1:1/x.png\">");
    QMessageBox* seen = nullptr;
    QString seen_text;
    Qt::TextFormat seen_format = Qt::AutoText;
    QTimer::singleShot(0, [&] {
        seen = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (seen != nullptr) {
            seen_text = seen->text();
            seen_format = seen->textFormat();
            seen->button(QMessageBox::No)->click();
        }
    });
    const auto answer =
        prompter.prompt(nullptr, Message{text, MessageIcon::question, g("系统提示")},
                        QMessageBox::Yes | QMessageBox::No);
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(seen_format, Qt::PlainText);
    EXPECT_EQ(seen_text, q(text));
    EXPECT_EQ(answer, QMessageBox::No);
}

// 全部书源: every source at once, the rows tagged with their source, and each row opened with
// its own source.
TEST_F(MainWindowTest, AllSourcesSearchTagsAndOpensEachRowWithItsSource) {
    search(9, QStringLiteral("星河渡舟"));
    ASSERT_EQ(list->columnCount(), 5);
    EXPECT_EQ(list->headerItem()->text(1), QStringLiteral("书源"));
    ASSERT_EQ(list->topLevelItemCount(), 8);
    EXPECT_EQ(column(1), (QStringList{QStringLiteral("书源一"), QStringLiteral("书源二"),
                                      QStringLiteral("书源三"), QStringLiteral("书源四"),
                                      QStringLiteral("书源五"), QStringLiteral("书源六"),
                                      QStringLiteral("书源七"), QStringLiteral("书源八")}));
    EXPECT_EQ(column(2), QStringList(8, QStringLiteral("星河渡舟")));
    EXPECT_TRUE(prompter.messages.empty());

    select_row(4);
    EXPECT_EQ(window->row_source(4), 5);
    QSignalSpy opened(window.get(), &MainWindow::chapter_window_opened);
    window->view_chapters();
    ASSERT_EQ(opened.count(), 1);
    auto* chapters = opened.at(0).at(0).value<ChapterWindow*>();
    EXPECT_EQ(chapters->source().id(), 5);
    EXPECT_EQ(chapters->book_link(), demo_sites().book_link(5, 102));
    ASSERT_TRUE(wait_until([&] { return !chapters->is_loading(); }));
    EXPECT_EQ(chapters->row_count(), demo_sites().library().find(102)->chapter_count);

    window->copy_link();
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              QString::fromStdString(demo_sites().book_link(5, 102)));

    // Back to one source: the list looks as before.
    search(3, QStringLiteral("星河渡舟"));
    EXPECT_EQ(list->columnCount(), 4);
    EXPECT_EQ(list->headerItem()->text(1), QStringLiteral("书名"));
    EXPECT_EQ(column(1), QStringList{QStringLiteral("星河渡舟")});
}

TEST_F(MainWindowTest, TheChosenSourceIsRemembered) {
    sources->setCurrentIndex(6);
    window.reset();
    MainWindow again(*env.state, prompter);
    EXPECT_EQ(again.findChild<QComboBox*>(QStringLiteral("组合框1"))->currentText(),
              QStringLiteral("书源七"));
}

// 检查书源: one row per source with each step's result.
TEST_F(MainWindowTest, CheckSourcesShowsEveryStep) {
    demo_sites().fail_chapter(102, 1, -1, demo::Fault::challenge, 6);
    QSignalSpy opened(window.get(), &MainWindow::health_window_opened);
    window->check_sources();
    ASSERT_EQ(opened.count(), 1);
    auto* health = qobject_cast<HealthWindow*>(opened.at(0).at(0).value<QWidget*>());
    ASSERT_NE(health, nullptr);
    ASSERT_TRUE(wait_until([&] { return !health->is_checking(); }, 30000));
    demo_sites().clear_faults();
    QTreeWidget* table = health->table();
    ASSERT_EQ(table->topLevelItemCount(), 8);
    EXPECT_EQ(table->topLevelItem(0)->text(0), QStringLiteral("书源一"));
    EXPECT_TRUE(table->topLevelItem(0)->text(4).startsWith(QStringLiteral("正常")));
    EXPECT_TRUE(table->topLevelItem(5)->text(3).startsWith(QStringLiteral("正常")));
    EXPECT_EQ(table->topLevelItem(5)->text(4), QStringLiteral("网站拒绝访问：人机验证页面"));
    EXPECT_EQ(health->findChild<QLabel*>(QStringLiteral("检查摘要"))->text(),
              QStringLiteral("7 个书源正常，1 个有问题"));
}

// 书架: a downloaded book is listed; 更新 fetches its new chapters; 继续阅读 opens the chapter
// read last.
TEST_F(MainWindowTest, ShelfListsUpdatesAndContinuesReading) {
    const demo::DemoBook& book = *demo_sites().library().find(107);
    env.state->selected_source = 4;
    env.state->book_link = demo_sites().book_link(4, 107);
    env.state->book_name = book.title;
    env.state->book_author = book.author;
    {
        ChapterWindow chapters(*env.state, prompter);
        ASSERT_TRUE(wait_until([&] { return !chapters.is_loading(); }));
        prompter.answers = {true};
        QSignalSpy finished(&chapters, &ChapterWindow::download_finished);
        chapters.start_download();
        ASSERT_TRUE(wait_until([&] { return finished.count() == 1; }, 30000));
        chapters.select_row(5);
        ReaderWindow* reader = chapters.open_reader();
        ASSERT_TRUE(wait_until([&] { return !reader->is_busy(); }));
        delete reader;
    }
    demo_sites().grow_book(107, 3);

    QSignalSpy opened(window.get(), &MainWindow::shelf_window_opened);
    type(QString()); // the window active, the focus in it
    QTest::keyClick(edit, Qt::Key_B, Qt::ControlModifier);
    ASSERT_EQ(opened.count(), 1);
    auto* shelf = qobject_cast<ShelfWindow*>(opened.at(0).at(0).value<QWidget*>());
    ASSERT_NE(shelf, nullptr);
    ASSERT_EQ(shelf->list()->topLevelItemCount(), 1);
    EXPECT_EQ(shelf->list()->topLevelItem(0)->text(0), q(book.title));
    EXPECT_EQ(shelf->list()->topLevelItem(0)->text(3),
              QStringLiteral("%1/%1").arg(book.chapter_count));

    shelf->list()->setCurrentItem(shelf->list()->topLevelItem(0));
    QSignalSpy updated(shelf, &ShelfWindow::updated);
    shelf->update_selected();
    ASSERT_TRUE(wait_until([&] { return updated.count() == 1; }, 30000));
    demo_sites().reset_books();
    EXPECT_EQ(shelf->list()->topLevelItem(0)->text(3),
              QStringLiteral("%1/%1").arg(book.chapter_count + 3));
    EXPECT_TRUE(shelf->findChild<QLabel*>(QStringLiteral("书架状态"))
                    ->text()
                    .endsWith(QStringLiteral("3 个新章节")));

    shelf->list()->setCurrentItem(shelf->list()->topLevelItem(0));
    shelf->open_folder();
    EXPECT_EQ(prompter.opened_folders, QStringList{env.download_folder()});

    QSignalSpy reading(shelf, &ShelfWindow::reader_opened);
    shelf->continue_reading();
    ASSERT_TRUE(wait_until([&] { return reading.count() == 1; }));
    auto* reader = reading.at(0).at(0).value<ReaderWindow*>();
    ASSERT_TRUE(wait_until([&] { return !reader->is_busy(); }));
    EXPECT_EQ(reader->shown_number(), 6);
}

} // namespace
} // namespace tovani::ui::test
