// The chapter window: its list, the thread choices, whole downloads with the progress label and
// the timer, the merge question answered Yes and No, failed chapters, and closing it (or the
// whole program) while chapters are still being fetched.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include "download/download_job.h"
#include "download/download_store.h"
#include "download/shelf.h"
#include "ui/chapter_window.h"
#include "ui/exit_clean_up.h"
#include "ui/main_window.h"
#include "ui/qt_text.h"
#include "ui_test_support.h"

namespace tovani::ui::test {
namespace {

class ChapterWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        demo_sites().clear_faults();
        demo_sites().set_latency(std::chrono::milliseconds(0));
    }
    void TearDown() override {
        delete_windows();
        // Workers of a cancelled download finish on their own; let them before the next test.
        EXPECT_TRUE(wait_until([&] { return env.state->pool.is_all_done(); }, 30000));
    }

    // Opens the chapter window on `book_id` of `source`, as "查看章节" does.
    ChapterWindow* open(int source, int book_id) {
        const demo::DemoBook& book = *demo_sites().library().find(book_id);
        env.state->selected_source = source;
        env.state->book_link = demo_sites().book_link(source, book_id);
        env.state->book_name = book.title;
        env.state->book_author = book.author;
        auto* window = new ChapterWindow(*env.state, prompter);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->show();
        EXPECT_TRUE(wait_until([&] { return !window->is_loading(); }));
        return window;
    }

    template <class T> static T* child(QWidget* window, const char* name) {
        T* found = window->findChild<T*>(QString::fromUtf8(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    // The chapter files now in the download folder and the books' folders in it.
    QStringList chapter_files() const {
        QStringList found;
        QDirIterator it(env.download_folder(), {QStringLiteral("【*】*.txt")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            found << it.next();
        }
        return found;
    }

    QString book_file(const demo::DemoBook& book) const {
        return q(book_file_path(env.state->download_base, book.title, book.author));
    }
    QString progress_file(const demo::DemoBook& book) const {
        return q(progress_file_path(env.state->download_base, book.title, book.author));
    }

    StateOnDemo env;
    RecordingPrompter prompter;
};

TEST_F(ChapterWindowTest, ListsTheBooksChaptersAndOffersTheThreadCounts) {
    const demo::DemoBook& book = *demo_sites().library().find(101);
    for (int source : {1, 2, 3, 4, 5, 6, 7, 8}) {
        SCOPED_TRACE(source);
        ChapterWindow* window = open(source, 101);
        EXPECT_TRUE(prompter.messages.empty());
        ASSERT_EQ(window->row_count(), book.chapter_count);
        for (int row : {0, book.chapter_count - 1}) {
            const ChapterEntry entry = window->chapter_at(row);
            EXPECT_EQ(entry.number, row + 1);
            EXPECT_EQ(entry.name, demo_sites().library().chapter_name(book, row + 1));
            EXPECT_EQ(entry.link, demo_sites().chapter_link(source, 101, row + 1));
        }
        delete window;
    }

    ChapterWindow* window = open(2, 101);
    // The title names the book; the 序号 column starts at the window's edge.
    EXPECT_EQ(window->windowTitle(),
              QStringLiteral("青灯夜雨录  墨池生 - Tovani小说下载器    By:Wexlo"));
    EXPECT_GE(child<QTreeWidget>(window, "超级列表框1")->geometry().left(), 0);
    auto* threads = child<QComboBox>(window, "组合框1");
    QStringList choices;
    for (int i = 0; i < threads->count(); ++i) {
        choices << threads->itemText(i);
    }
    EXPECT_EQ(choices, (QStringList{"5", "10", "15", "20", "30", "50"}));
    EXPECT_EQ(threads->currentText(), QStringLiteral("15"));
    EXPECT_EQ(child<QLabel>(window, "标签1")->text(), QStringLiteral("下载地址："));
    EXPECT_EQ(child<QLabel>(window, "标签2")->text(), QStringLiteral("暂无下载"));
    EXPECT_EQ(child<QLabel>(window, "标签3")->text(), QStringLiteral("线程数"));
    EXPECT_FALSE(child<QTimer>(window, "时钟1")->isActive());
}

TEST_F(ChapterWindowTest, ListFailuresShowTheirMessages) {
    struct Case {
        const char* name;
        int source;
        std::string link;
        QString text;
        MessageIcon icon;
        QString title;
        bool closes;
    };
    const auto layout = [](int source) {
        return QStringLiteral("拉取章节失败！\n书源%1（%2）页面与书源规则不符：页面上没有找到章节")
            .arg(source == 2 ? QStringLiteral("二") : QStringLiteral("六"))
            .arg(QString::fromStdString(demo_sites().host(source)));
    };
    const Case cases[] = {
        // A page of another layout: the program's "拉取章节失败！" with the details, and its icon
        // per source.
        {"no chapters, sources 1 to 4", 2, demo_sites().book_link(7, 101), layout(2),
         MessageIcon::information, QStringLiteral("信息："), false},
        {"no chapters, sources 5 to 8", 6, demo_sites().book_link(2, 101), layout(6),
         MessageIcon::error, QStringLiteral("信息："), false},
        {"the site failed", 6, demo_sites().site_root(6) + "/no/such/book/",
         QStringLiteral("书源六（%1）网站出错：HTTP 404")
             .arg(QString::fromStdString(demo_sites().host(6))),
         MessageIcon::error, QStringLiteral("信息："), false},
        // Another site's page lacks source 4's chapter-block heading.
        {"page unsupported", 4, demo_sites().book_link(1, 101),
         QStringLiteral(
             "怎么说呢，部分小说本身会有乱码的出现，我就不处理了，所以干脆不显示，换个书源试试。"),
         MessageIcon::information, QStringLiteral("系统提示"), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        prompter.messages.clear();
        env.state->selected_source = c.source;
        env.state->book_link = c.link;
        QPointer<ChapterWindow> window = new ChapterWindow(*env.state, prompter);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->show();
        ASSERT_TRUE(wait_until([&] { return window.isNull() || !window->is_loading(); }));
        ASSERT_EQ(prompter.messages.size(), 1u);
        EXPECT_EQ(prompter.messages[0].text, c.text);
        EXPECT_EQ(prompter.messages[0].icon, c.icon);
        EXPECT_EQ(prompter.messages[0].title, c.title);
        if (c.closes) {
            EXPECT_TRUE(wait_until([&] { return window.isNull(); }));
        } else {
            QTest::qWait(50);
            ASSERT_FALSE(window.isNull());
            EXPECT_EQ(window->row_count(), 0);
            delete window.data();
        }
    }
}

TEST_F(ChapterWindowTest, ABookWithoutChaptersCannotBeDownloaded) {
    env.state->selected_source = 6;
    env.state->book_link = demo_sites().site_root(6) + "/no/such/book/";
    env.state->book_name = g("无");
    env.state->book_author = g("无名");
    auto* window = new ChapterWindow(*env.state, prompter);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    ASSERT_TRUE(wait_until([&] { return !window->is_loading(); }));
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(window->row_count(), 0);

    auto* button = child<QPushButton>(window, "按钮1");
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_EQ(prompter.messages.size(), 2u);
    EXPECT_EQ(prompter.messages[1].text, QStringLiteral("未找到章节信息！"));
    EXPECT_EQ(prompter.messages[1].icon, MessageIcon::error);
    EXPECT_EQ(prompter.messages[1].title, QStringLiteral("系统提示"));
    EXPECT_TRUE(button->isEnabled());
    EXPECT_FALSE(child<QTimer>(window, "时钟1")->isActive());
    EXPECT_FALSE(
        QFile::exists(q(progress_file_path(env.state->download_base, g("无"), g("无名")))));
}

TEST_F(ChapterWindowTest, DownloadsTheWholeBookThenAsksToJoinIt) {
    const int source = 2;
    const demo::DemoBook& book = *demo_sites().library().find(101);
    const demo::DemoLibrary& library = demo_sites().library();
    ChapterWindow* window = open(source, 101);
    ASSERT_EQ(window->row_count(), book.chapter_count);
    auto* button = child<QPushButton>(window, "按钮1");
    auto* timer = child<QTimer>(window, "时钟1");
    auto* progress = child<QLabel>(window, "标签2");
    child<QComboBox>(window, "组合框1")->setCurrentIndex(0); // 5 workers

    // The percentage the label must end on: the single-precision sum of the steps.
    float sum = 0;
    for (int i = 0; i < book.chapter_count; ++i) {
        sum += static_cast<float>(100.0 / book.chapter_count);
    }
    const QString final_text = q(progress_text(sum));

    // First download answered No: the folder stays as the download left it. The second
    // download of the same book starts again from nothing and is joined.
    for (bool merge : {false, true}) {
        SCOPED_TRACE(merge ? "Yes" : "No");
        prompter.messages.clear();
        prompter.answers = {merge};
        prompter.action_answers = {true};
        QStringList shown;
        QStringList details;
        auto* details_label = child<QLabel>(window, "进度详情");
        auto connection =
            QObject::connect(window, &ChapterWindow::progress_shown, [&](const QString& text) {
                shown << text;
                details << details_label->text();
            });
        QSignalSpy finished(window, &ChapterWindow::download_finished);
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_FALSE(button->isEnabled());
        EXPECT_TRUE(timer->isActive());
        EXPECT_EQ(timer->interval(), 1000);
        EXPECT_EQ(child<QLabel>(window, "标签1")->text(),
                  QStringLiteral("下载路径：") + env.download_folder() + "/" + q(book.title) +
                      "  " + q(book.author));
        ASSERT_TRUE(wait_until([&] { return finished.count() == 1; }, 30000));
        QObject::disconnect(connection);

        ASSERT_FALSE(shown.isEmpty());
        EXPECT_EQ(shown.last(), final_text);
        EXPECT_TRUE(shown.first().startsWith(QStringLiteral("当前进度：")));
        EXPECT_FALSE(timer->isActive());
        EXPECT_TRUE(button->isEnabled());
        EXPECT_EQ(progress->text(), QStringLiteral("暂无下载"));
        // The bar beside the label went the whole way; the line below it counted the chapters.
        auto* bar = child<QProgressBar>(window, "进度条");
        EXPECT_EQ(bar->maximum(), book.chapter_count);
        EXPECT_EQ(bar->value(), book.chapter_count);
        ASSERT_FALSE(details.isEmpty());
        EXPECT_TRUE(details.last().startsWith(QStringLiteral("%1/%1 章").arg(book.chapter_count)))
            << details.last().toStdString();
        EXPECT_TRUE(details.last().endsWith(QStringLiteral("失败 0")))
            << details.last().toStdString();
        ASSERT_EQ(prompter.messages.size(), merge ? 2u : 1u);
        EXPECT_EQ(prompter.messages[0].text, QStringLiteral("下载完毕，是否整合全部章节！"));
        EXPECT_EQ(prompter.messages[0].icon, MessageIcon::question);
        EXPECT_EQ(prompter.messages[0].title, QStringLiteral("系统提示"));
        EXPECT_EQ(prompter.messages[0].buttons, QMessageBox::Yes | QMessageBox::No);

        if (!merge) {
            EXPECT_EQ(chapter_files().size(), book.chapter_count);
            EXPECT_TRUE(QFile::exists(progress_file(book)));
            EXPECT_FALSE(QFile::exists(book_file(book)));
            const std::string path =
                chapter_file_path(book_folder(env.state->download_base, book.title, book.author), 7,
                                  library.chapter_name(book, 7));
            EXPECT_EQ(read_bytes(q(path)), library.expected_chapter_text(source, book, 7));
        } else {
            std::string expected;
            for (int n = 1; n <= book.chapter_count; ++n) {
                expected += library.chapter_name(book, n) + "\r\n" +
                            library.expected_chapter_text(source, book, n) + "\r\n\r\n";
            }
            EXPECT_EQ(read_bytes(book_file(book)), expected);
            EXPECT_TRUE(chapter_files().isEmpty());
            EXPECT_FALSE(QFile::exists(progress_file(book)));
            // The end says where the book is and offers its folder.
            EXPECT_EQ(prompter.messages[1].text,
                      QStringLiteral("整合完毕，书籍文件：\n") + book_file(book));
            EXPECT_EQ(prompter.messages[1].action, QStringLiteral("打开文件夹"));
            EXPECT_EQ(prompter.opened_folders, QStringList{env.download_folder()});
        }
    }
    EXPECT_EQ(env.state->chapter_total, book.chapter_count);
}

TEST_F(ChapterWindowTest, NoSecondDownloadWhileOneRuns) {
    const demo::DemoBook& book = *demo_sites().library().find(106);
    ChapterWindow* first = open(1, 106);
    ChapterWindow* second = open(8, 104);
    demo_sites().set_latency(std::chrono::milliseconds(200));
    prompter.answers = {true};
    QSignalSpy finished(first, &ChapterWindow::download_finished);
    first->start_download();
    ASSERT_TRUE(first->is_downloading());
    first->start_download(); // the same window: ignored while it runs

    auto* button = child<QPushButton>(second, "按钮1");
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(prompter.messages[0].text, QStringLiteral("已有下载正在进行，请等它结束后再试！"));
    EXPECT_EQ(prompter.messages[0].icon, MessageIcon::error);
    EXPECT_TRUE(button->isEnabled());
    EXPECT_FALSE(second->is_downloading());
    EXPECT_FALSE(QFile::exists(progress_file(*demo_sites().library().find(104))));

    ASSERT_TRUE(wait_until([&] { return finished.count() == 1; }, 30000));
    demo_sites().set_latency(std::chrono::milliseconds(0));
    ASSERT_EQ(prompter.messages.size(), 3u);
    EXPECT_EQ(prompter.messages[1].text, QStringLiteral("下载完毕，是否整合全部章节！"));
    EXPECT_FALSE(read_bytes(book_file(book)).empty());
}

TEST_F(ChapterWindowTest, ReportsFailedChaptersBeforeTheQuestion) {
    const demo::DemoBook& book = *demo_sites().library().find(108);
    demo_sites().fail_chapter(108, 4, -1, demo::Fault::http_500, 3);
    ChapterWindow* window = open(3, 108);
    prompter.answers = {false};
    QSignalSpy finished(window, &ChapterWindow::download_finished);
    window->start_download();
    ASSERT_TRUE(wait_until([&] { return finished.count() == 1; }, 60000));
    demo_sites().clear_faults();

    ASSERT_EQ(prompter.messages.size(), 2u);
    EXPECT_EQ(prompter.messages[0].icon, MessageIcon::error);
    EXPECT_EQ(prompter.messages[0].title, QStringLiteral("系统提示"));
    EXPECT_TRUE(prompter.messages[0].text.startsWith(QStringLiteral("有1个章节下载失败：")));
    EXPECT_TRUE(
        prompter.messages[0].text.contains(q(demo_sites().library().chapter_name(book, 4))));
    EXPECT_EQ(prompter.messages[1].text, QStringLiteral("下载完毕，是否整合全部章节！"));
}

TEST_F(ChapterWindowTest, ClosingDuringADownloadStopsItWithoutAQuestion) {
    const demo::DemoBook& book = *demo_sites().library().find(103);
    ChapterWindow* window = open(7, 103);
    QPointer<ChapterWindow> alive(window);
    child<QComboBox>(window, "组合框1")->setCurrentIndex(0); // 5 workers
    demo_sites().set_latency(std::chrono::milliseconds(300));
    QStringList shown;
    QObject::connect(window, &ChapterWindow::progress_shown,
                     [&](const QString& text) { shown << text; });
    window->start_download();
    ASSERT_TRUE(wait_until([&] { return !shown.isEmpty(); }));
    window->close();
    ASSERT_TRUE(wait_until([&] { return alive.isNull(); }));

    ASSERT_TRUE(wait_until([&] { return env.state->pool.is_all_done(); }, 30000));
    QTest::qWait(1500); // longer than a timer period: no late check may ask anything
    EXPECT_TRUE(prompter.messages.empty());
    EXPECT_TRUE(QFile::exists(progress_file(book)));
    const int written = static_cast<int>(chapter_files().size());
    EXPECT_GT(written, 0);
    EXPECT_LT(written, book.chapter_count); // the chapters not yet begun were dropped
    demo_sites().set_latency(std::chrono::milliseconds(0));
}

TEST_F(ChapterWindowTest, ClosingTheMainWindowDuringADownloadEndsWithoutWaiting) {
    const demo::DemoBook& book = *demo_sites().library().find(110);
    auto* main_window = new MainWindow(*env.state, prompter);
    main_window->show();
    QSignalSpy closing(main_window, &MainWindow::closing);
    ChapterWindow* window = open(5, 110);
    child<QComboBox>(window, "组合框1")->setCurrentIndex(0); // 5 workers
    demo_sites().set_latency(std::chrono::milliseconds(800));
    window->start_download();
    ASSERT_TRUE(wait_until([&] { return env.state->pool.busy_count() > 0; }));

    main_window->close();
    EXPECT_EQ(closing.count(), 1);
    exit_clean_up(*env.state);
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
    // The clean-up did not wait for the chapters on their way...
    EXPECT_GT(env.state->pool.busy_count(), 0);
    // ...which end on their own, and nothing queued was started.
    ASSERT_TRUE(wait_until([&] { return env.state->pool.is_all_done(); }, 30000));
    QTest::qWait(200);
    EXPECT_LT(static_cast<int>(chapter_files().size()), book.chapter_count);
    EXPECT_TRUE(prompter.messages.empty());
    demo_sites().set_latency(std::chrono::milliseconds(0));
}

// 取消 stops the download: only whole chapters stay, and the next download fetches the rest.
TEST_F(ChapterWindowTest, CancelStopsCleanlyAndTheNextDownloadResumes) {
    const demo::DemoBook& book = demo_sites().library().scale_book();
    ChapterWindow* window = open(7, book.id);
    child<QComboBox>(window, "组合框1")->setCurrentIndex(0); // 5 workers
    auto* cancel = child<QPushButton>(window, "取消");
    EXPECT_FALSE(cancel->isEnabled());
    demo_sites().set_latency(std::chrono::milliseconds(40));
    QSignalSpy finished(window, &ChapterWindow::download_finished);
    window->start_download();
    ASSERT_TRUE(cancel->isEnabled());
    ASSERT_TRUE(wait_until([&] { return chapter_files().size() >= 5; }));
    QTest::mouseClick(cancel, Qt::LeftButton);
    demo_sites().set_latency(std::chrono::milliseconds(0));
    EXPECT_FALSE(window->is_downloading());
    ASSERT_TRUE(wait_until([&] { return finished.count() == 1; }));
    ASSERT_TRUE(wait_until([&] { return env.state->pool.is_all_done(); }));
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_TRUE(prompter.messages[0].text.startsWith(QStringLiteral("已取消下载")));
    const int kept = static_cast<int>(chapter_files().size());
    EXPECT_GT(kept, 0);
    EXPECT_LT(kept, book.chapter_count);
    for (const QString& file : chapter_files()) {
        EXPECT_FALSE(read_bytes(file).empty()) << file.toStdString();
    }

    // Again, to the end: the chapters kept are not fetched a second time.
    demo_sites().reset_counts();
    prompter.messages.clear();
    prompter.answers = {false};
    window->start_download();
    ASSERT_TRUE(wait_until([&] { return finished.count() == 2; }, 60000));
    EXPECT_EQ(static_cast<int>(chapter_files().size()), book.chapter_count);
    EXPECT_EQ(demo_sites().counts(7).of(demo::PageKind::chapter),
              static_cast<std::uint64_t>(book.chapter_count - kept));
}

// The chosen formats make the book files; HTML references in the chapters come out as the
// characters they stand for; the book goes on the shelf.
TEST_F(ChapterWindowTest, JoinsIntoTheChosenFormatsAndShelvesTheBook) {
    const demo::DemoLibrary& library = demo_sites().library();
    const demo::DemoBook& book = *library.find(demo::DemoLibrary::markup_book_id);
    ChapterWindow* window = open(8, book.id);
    child<QCheckBox>(window, "格式EPUB")->setChecked(true);
    auto* encoding = child<QComboBox>(window, "编码");
    encoding->setCurrentIndex(encoding->findData(QStringLiteral("utf-8")));
    prompter.answers = {true};
    QSignalSpy finished(window, &ChapterWindow::download_finished);
    window->start_download();
    ASSERT_TRUE(wait_until([&] { return finished.count() == 1; }, 30000));
    const QString base = env.download_folder() + "/" + q(book.title) + "  " + q(book.author);
    const std::string text = read_bytes(base + ".txt");
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.rfind(to_utf8(book.title) + "\n", 0), 0u)
        << "a UTF-8 book starts with its title";
    EXPECT_NE(text.find("他在册页边写下<山&海>三字，又画了一张笑脸?。"), std::string::npos);
    EXPECT_EQ(text.find("&lt;"), std::string::npos);
    EXPECT_TRUE(QFile::exists(base + ".epub"));
    ASSERT_EQ(prompter.messages.size(), 2u);
    EXPECT_TRUE(prompter.messages[1].text.contains(base + ".epub"));

    // The choices are remembered for the next window.
    ChapterWindow* next = open(8, 101);
    EXPECT_TRUE(child<QCheckBox>(next, "格式EPUB")->isChecked());
    EXPECT_EQ(child<QComboBox>(next, "编码")->currentData().toString(), QStringLiteral("utf-8"));

    const auto shelf = Shelf::open(Shelf::default_path());
    ASSERT_NE(shelf, nullptr);
    const auto shelved = shelf->find(8, demo_sites().book_link(8, book.id));
    ASSERT_TRUE(shelved);
    EXPECT_EQ(shelved->chapters_downloaded, book.chapter_count);
    EXPECT_EQ(shelved->formats, "txt,epub");
    EXPECT_EQ(shelved->encoding, "utf-8");
}

} // namespace
} // namespace tovani::ui::test
