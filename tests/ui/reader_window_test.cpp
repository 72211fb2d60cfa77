// The reader: opening on the selected chapter, jumping, next chapter (and past the end), font
// size, the three colour schemes, and saving the shown chapter (and a save that fails).

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include "download/download_store.h"
#include "ui/chapter_save.h"
#include "ui/chapter_window.h"
#include "ui/qt_text.h"
#include "ui/reader_window.h"
#include "ui_test_support.h"

namespace tovani::ui::test {
namespace {

class ReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        demo_sites().clear_faults();
        demo_sites().set_latency(std::chrono::milliseconds(0));
    }
    void TearDown() override { delete_windows(); }

    // Opens the chapter window on the book and a reader on row `row`.
    ReaderWindow* open_reader(int source, int book_id, int row) {
        book = demo_sites().library().find(book_id);
        this->source = source;
        env.state->selected_source = source;
        env.state->book_link = demo_sites().book_link(source, book_id);
        env.state->book_name = book->title;
        env.state->book_author = book->author;
        chapters = new ChapterWindow(*env.state, prompter);
        chapters->show();
        EXPECT_TRUE(wait_until([&] { return !chapters->is_loading(); }));
        auto* list = chapters->findChild<QTreeWidget*>(QStringLiteral("超级列表框1"));
        list->setCurrentItem(list->topLevelItem(row));
        QSignalSpy opened(chapters, &ChapterWindow::reader_opened);
        chapters->chapter_menu()->actions()[0]->trigger();
        EXPECT_EQ(opened.count(), 1);
        auto* reader = opened.at(0).at(0).value<ReaderWindow*>();
        EXPECT_TRUE(wait_until([&] { return !reader->is_busy(); }));
        number = reader->findChild<QLineEdit*>(QStringLiteral("chapter_number"));
        text = reader->findChild<QPlainTextEdit*>(QStringLiteral("text_box"));
        return reader;
    }

    void press(ReaderWindow* reader, const char* button) {
        QTest::mouseClick(reader->findChild<QPushButton*>(QString::fromLatin1(button)),
                          Qt::LeftButton);
        ASSERT_TRUE(wait_until([&] { return !reader->is_busy(); }));
    }

    std::string chapter_text(int n) const {
        return demo_sites().library().expected_chapter_text(source, *book, n);
    }
    QString chapter_name(int n) const { return q(demo_sites().library().chapter_name(*book, n)); }

    StateOnDemo env;
    RecordingPrompter prompter;
    const demo::DemoBook* book = nullptr;
    int source = 0;
    ChapterWindow* chapters = nullptr;
    QLineEdit* number = nullptr;
    QPlainTextEdit* text = nullptr;
};

TEST_F(ReaderTest, OpensTheSelectedChapterWithSpacesForNbsp) {
    for (int s : {1, 3, 6}) {
        SCOPED_TRACE(s);
        ReaderWindow* reader = open_reader(s, 104, 0);
        EXPECT_EQ(reader->windowTitle(), chapter_name(1));
        EXPECT_EQ(number->text(), QStringLiteral("1"));
        EXPECT_EQ(reader->findChild<QLabel*>(QStringLiteral("count_label"))->text(),
                  QStringLiteral("共%1章").arg(book->chapter_count));
        EXPECT_EQ(reader->shown_text(), chapter_text(1));
        EXPECT_EQ(text->toPlainText(), q(chapter_text(1)).replace("\r\n", "\n"));
        EXPECT_TRUE(text->isReadOnly());
        TearDown();
    }
}

TEST_F(ReaderTest, JumpsAndRefusesNumbersOutsideTheList) {
    ReaderWindow* reader = open_reader(1, 104, 2);
    ASSERT_EQ(number->text(), QStringLiteral("3"));

    number->setText(QStringLiteral("5"));
    press(reader, "jump");
    EXPECT_EQ(reader->windowTitle(), chapter_name(5));
    EXPECT_EQ(reader->shown_text(), chapter_text(5)); // as the download would save it
    EXPECT_TRUE(prompter.messages.empty());

    for (const QString& typed : {QStringLiteral("0"), QString::number(book->chapter_count + 1),
                                 QStringLiteral("abc"), QStringLiteral("-2"), QString()}) {
        SCOPED_TRACE(typed.toStdString());
        prompter.messages.clear();
        number->setText(typed);
        press(reader, "jump");
        ASSERT_EQ(prompter.messages.size(), 1u);
        EXPECT_EQ(prompter.messages[0].text, QStringLiteral("请输入正确的章节数！"));
        EXPECT_EQ(prompter.messages[0].icon, MessageIcon::error);
        EXPECT_EQ(prompter.messages[0].title, QStringLiteral("系统提示"));
        EXPECT_EQ(reader->windowTitle(), chapter_name(5));
        EXPECT_EQ(reader->shown_text(), chapter_text(5));
    }
}

// Next at the last chapter keeps it and says so; previous at the first likewise.
TEST_F(ReaderTest, NextAndPreviousStopAtTheEnds) {
    const int last = demo_sites().library().find(104)->chapter_count;
    ReaderWindow* reader = open_reader(5, 104, last - 2);
    press(reader, "next");
    EXPECT_EQ(number->text(), QString::number(last));
    EXPECT_EQ(reader->windowTitle(), chapter_name(last));
    EXPECT_EQ(reader->findChild<QLabel*>(QStringLiteral("chapter_title"))->text(),
              chapter_name(last));
    EXPECT_EQ(reader->shown_text(), chapter_text(last));
    EXPECT_TRUE(prompter.messages.empty());

    press(reader, "next");
    EXPECT_EQ(number->text(), QString::number(last)) << "the box keeps a valid number";
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(prompter.messages[0].text, QStringLiteral("已是最后一章"));
    EXPECT_EQ(prompter.messages[0].icon, MessageIcon::information);
    EXPECT_EQ(reader->shown_text(), chapter_text(last));

    press(reader, "previous");
    EXPECT_EQ(reader->shown_number(), last - 1);
    EXPECT_EQ(reader->shown_text(), chapter_text(last - 1));

    number->setText(QStringLiteral("1"));
    press(reader, "jump");
    prompter.messages.clear();
    press(reader, "previous");
    EXPECT_EQ(number->text(), QStringLiteral("1"));
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(prompter.messages[0].text, QStringLiteral("已是第一章"));
}

// The keys of a reader: Ctrl+arrows change chapter, Enter in the box jumps, Ctrl+= and Ctrl+-
// change the font, Space pages down; every chapter opens at its top.
TEST_F(ReaderTest, KeysTurnPagesAndChapters) {
    ReaderWindow* reader = open_reader(2, 103, 3);
    reader->show();
    QApplication::setActiveWindow(reader);
    ASSERT_TRUE(QTest::qWaitForWindowActive(reader));
    auto key = [&](QWidget* to, Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) {
        QTest::keyClick(to, k, m);
        ASSERT_TRUE(wait_until([&] { return !reader->is_busy(); }));
    };
    key(text, Qt::Key_Right, Qt::ControlModifier);
    EXPECT_EQ(reader->shown_number(), 5);
    key(text, Qt::Key_Left, Qt::ControlModifier);
    key(text, Qt::Key_Left, Qt::ControlModifier);
    EXPECT_EQ(reader->shown_number(), 3);

    number->setText(QStringLiteral("7"));
    key(number, Qt::Key_Return);
    EXPECT_EQ(reader->shown_number(), 7);
    EXPECT_EQ(reader->shown_text(), chapter_text(7));

    const int size = reader->font_size();
    key(text, Qt::Key_Equal, Qt::ControlModifier);
    EXPECT_EQ(reader->font_size(), size + 1);
    key(text, Qt::Key_Minus, Qt::ControlModifier);
    key(text, Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_EQ(reader->font_size(), size - 1);

    // A big font makes the chapter longer than the window: Space scrolls, a new chapter starts
    // at the top.
    for (int i = 0; i < 20; ++i) {
        reader->change_font_size(1);
    }
    QScrollBar* bar = text->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), 0);
    key(text, Qt::Key_Space);
    EXPECT_GT(bar->value(), 0);
    key(text, Qt::Key_Right, Qt::ControlModifier);
    EXPECT_EQ(bar->value(), 0);
}

// HTML references in a chapter are shown as the characters they stand for, the first time
// and after next or a jump alike.
TEST_F(ReaderTest, ShowsReferencesAsCharacters) {
    ReaderWindow* reader = open_reader(3, demo::DemoLibrary::markup_book_id, 1);
    number->setText(QStringLiteral("1"));
    press(reader, "jump");
    EXPECT_TRUE(text->toPlainText().contains(QStringLiteral("他在册页边写下<山&海>三字")));
    EXPECT_FALSE(text->toPlainText().contains(QStringLiteral("&nbsp;")));
    EXPECT_FALSE(text->toPlainText().contains(QStringLiteral("&lt;")));
}

// Font size, colour scheme and the window's place come back in the next reader.
TEST_F(ReaderTest, SettingsAreRemembered) {
    ReaderWindow* reader = open_reader(2, 104, 0);
    reader->change_font_size(3);
    reader->apply_colour_scheme(2);
    reader->move(230, 140);
    reader->resize(700, 740);
    const QRect place = reader->geometry();
    reader->close();
    delete_windows();

    ReaderWindow* again = open_reader(2, 104, 1);
    EXPECT_EQ(again->font_size(), 21);
    EXPECT_EQ(again->findChild<QComboBox*>(QStringLiteral("colours"))->currentIndex(), 2);
    EXPECT_EQ(text->palette().color(QPalette::Base), QColor(25, 25, 33));
    EXPECT_EQ(again->size(), place.size());
}

TEST_F(ReaderTest, FontSizeAndColourSchemes) {
    ReaderWindow* reader = open_reader(2, 104, 0);
    EXPECT_EQ(text->font().pointSize(), 18);
    press(reader, "larger");
    press(reader, "larger");
    EXPECT_EQ(text->font().pointSize(), 20);
    press(reader, "smaller");
    EXPECT_EQ(text->font().pointSize(), 19);

    struct Scheme {
        int index;
        QColor background;
        QColor text;
    };
    const Scheme schemes[] = {
        {2, QColor(25, 25, 33), QColor(133, 133, 143)}, // 夜间色
        {1, QColor(204, 232, 207), Qt::black},          // 护眼色
        {0, QColor(203, 169, 123), Qt::black},          // 默认色 brings black text back
    };
    auto* colours = reader->findChild<QComboBox*>(QStringLiteral("colours"));
    ASSERT_EQ(colours->count(), 3);
    EXPECT_EQ(text->palette().color(QPalette::Base), QColor(203, 169, 123));
    for (const Scheme& s : schemes) {
        SCOPED_TRACE(s.index);
        colours->setCurrentIndex(s.index);
        emit colours->activated(s.index);
        EXPECT_EQ(text->palette().color(QPalette::Base), s.background);
        EXPECT_EQ(text->palette().color(QPalette::Text), s.text);
        // The whole window takes the scheme, the toolbar with its buttons included.
        auto* toolbar = reader->findChild<QWidget*>(QStringLiteral("toolbar"));
        EXPECT_EQ(toolbar->palette().color(QPalette::Window), s.background.darker(110));
        EXPECT_EQ(reader->findChild<QPushButton*>(QStringLiteral("next"))
                      ->palette()
                      .color(QPalette::ButtonText),
                  s.text);
    }
    reader->apply_colour_scheme(7); // no such scheme: nothing changes
    EXPECT_EQ(text->palette().color(QPalette::Base), QColor(203, 169, 123));
}

TEST_F(ReaderTest, SavesTheShownChapterUnderTheTypedNumber) {
    ReaderWindow* reader = open_reader(8, 104, 3);
    press(reader, "save");
    const std::string folder = book_folder(env.state->download_base, book->title, book->author);
    const QString saved =
        q(chapter_file_path(folder, 4, demo_sites().library().chapter_name(*book, 4)));
    EXPECT_EQ(read_bytes(saved), reader->shown_text());
    EXPECT_FALSE(reader->shown_text().empty());

    // A number typed without jumping names the file, with the caption still shown.
    number->setText(QStringLiteral("9"));
    press(reader, "save");
    const QString typed =
        q(chapter_file_path(folder, 9, demo_sites().library().chapter_name(*book, 4)));
    EXPECT_EQ(read_bytes(typed), reader->shown_text());

    // Each save says where the chapter went.
    ASSERT_EQ(prompter.messages.size(), 2u);
    EXPECT_EQ(prompter.messages[0].text, QStringLiteral("已下载此章节！\n") + saved);
    EXPECT_EQ(prompter.messages[1].text, QStringLiteral("已下载此章节！\n") + typed);
    for (const ShownMessage& m : prompter.messages) {
        EXPECT_EQ(m.icon, MessageIcon::information);
        EXPECT_EQ(m.title, QStringLiteral("系统提示"));
    }
}

TEST_F(ReaderTest, ASaveThatCannotBeWrittenSaysSo) {
    ReaderWindow* reader = open_reader(4, 104, 0);
    // The base folder is a file: no download folder can be made under it.
    QFile blocker(env.folder.path() + QStringLiteral("/blocked"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    env.state->download_base = to_gbk(blocker.fileName() + QStringLiteral("/"));
    press(reader, "save");
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_TRUE(prompter.messages[0].text.startsWith(QStringLiteral("本章保存失败：")));
    EXPECT_EQ(prompter.messages[0].icon, MessageIcon::error);
}

TEST(ChapterSaveTest, NamesStayInsideTheBooksFolder) {
    QTemporaryDir dir;
    const std::string base = to_gbk(dir.path() + QStringLiteral("/"));
    const SavedBook book{base, g("书"), g("人")};
    struct Case {
        const char* number;
        const char* name;
    };
    const Case cases[] = {{"3", "第三章"}, {"3", "上/下"}, {"../..", "逃逸"}, {"1", ".."}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SaveOutcome saved = save_chapter_file(book, g(c.number), g(c.name), g("正文"));
        ASSERT_TRUE(saved.ok);
        const QFileInfo file(q(saved.path));
        EXPECT_EQ(file.absolutePath(), dir.path() + QStringLiteral("/小说下载/书  人"));
        EXPECT_EQ(read_bytes(file.absoluteFilePath()), g("正文"));
    }
    // An ordinary name is exactly the chapter file name the download uses.
    EXPECT_EQ(save_chapter_file(book, "3", g("第三章"), "x").path,
              chapter_file_path(book_folder(base, book.name, book.author), 3, g("第三章")));
}

TEST_F(ReaderTest, ReaderOutlivingItsChapterWindowRefusesEveryNumber) {
    ReaderWindow* reader = open_reader(6, 104, 0);
    delete chapters;
    number->setText(QStringLiteral("2"));
    press(reader, "jump");
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(prompter.messages[0].text, QStringLiteral("请输入正确的章节数！"));
}

} // namespace
} // namespace tovani::ui::test
