// The details window: every field as plain text, the cover fetched from the site or left empty,
// and the close picture.

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTest>

#include <gtest/gtest.h>

#include "ui/details_window.h"
#include "ui/qt_text.h"
#include "ui_test_support.h"

namespace tovani::ui::test {
namespace {

class DetailsWindowTest : public ::testing::Test {
protected:
    DetailsWindow* open(const BookDetails& details) {
        env.state->set_details(details);
        auto* window = new DetailsWindow(*env.state);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->show();
        EXPECT_TRUE(wait_until([&] { return !window->cover_pending(); }));
        return window;
    }
    static QString label(QWidget* window, const char* name) {
        auto* l = window->findChild<QLabel*>(QString::fromLatin1(name));
        EXPECT_NE(l, nullptr) << name;
        if (l == nullptr) {
            return {};
        }
        EXPECT_EQ(l->textFormat(), Qt::PlainText) << name;
        return l->text();
    }

    StateOnDemo env;
};

TEST_F(DetailsWindowTest, ShowsEveryFieldAsPlainTextAndTheCover) {
    // Texts from a site that look like markup must be shown as they are.
    const BookDetails details{demo_sites().cover_link(1, 101),
                              g("<b>墨池生</b>"),
                              g("青灯夜雨录<img src=x>"),
                              g("2023-11-02 21:15:00"),
                              g("已完结"),
                              g("第24章：<i>归途</i>"),
                              g("寒门书生夜读青灯。<br>&amp; <a href=\"x\">链接</a>")};
    DetailsWindow* window = open(details);
    EXPECT_EQ(window->size(), QSize(525, 400));
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(label(window, "title"), q(details.title));
    EXPECT_EQ(label(window, "author"), q(details.author));
    EXPECT_EQ(label(window, "update_time"), q(details.update_time));
    EXPECT_EQ(label(window, "status"), q(details.status));
    EXPECT_EQ(label(window, "latest_chapter"), q(details.latest_chapter));
    EXPECT_EQ(label(window, "author_heading"), QStringLiteral("作者："));
    EXPECT_EQ(label(window, "latest_heading"), QStringLiteral("最新章节："));
    auto* description = window->findChild<QPlainTextEdit*>(QStringLiteral("description"));
    ASSERT_NE(description, nullptr);
    EXPECT_EQ(description->toPlainText(), q(details.description));
    EXPECT_TRUE(description->isReadOnly());
    EXPECT_EQ(description->palette().color(QPalette::Base), QColor(128, 128, 255));
    EXPECT_EQ(
        window->findChild<QWidget*>(QStringLiteral("panel"))->palette().color(QPalette::Window),
        QColor(128, 128, 255));
    const QPixmap cover = window->cover_label()->pixmap();
    ASSERT_FALSE(cover.isNull());
    EXPECT_EQ(cover.size(), QSize(140, 170));
}

TEST_F(DetailsWindowTest, ACoverThatCannotBeHadLeavesTheBoxEmpty) {
    const std::string covers[] = {
        "",                             // no og:image tag
        "http://127.0.0.1:1/cover.png", // nothing listens
        demo_sites().book_link(2, 101), // an HTML page, no picture
    };
    for (const std::string& url : covers) {
        SCOPED_TRACE(url);
        BookDetails details;
        details.cover_url = url;
        details.title = g("雪落无声");
        DetailsWindow* window = open(details);
        EXPECT_TRUE(window->cover_label()->pixmap().isNull());
        EXPECT_EQ(label(window, "title"), QStringLiteral("雪落无声"));
        delete window;
    }
}

TEST_F(DetailsWindowTest, OnlyTheClosePictureClosesTheWindow) {
    QPointer<DetailsWindow> window = open(BookDetails{});
    auto* close = window->findChild<QLabel*>(QStringLiteral("close"));
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->geometry(), QRect(500, 0, 25, 25));
    EXPECT_FALSE(close->pixmap().isNull());
    const QImage face = close_picture().toImage();
    EXPECT_EQ(face.size(), QSize(256, 256));
    EXPECT_EQ(QColor(face.pixel(10, 10)).red(), 220);           // red square
    EXPECT_EQ(QColor(face.pixel(128, 128)), QColor(Qt::white)); // white cross

    for (const char* elsewhere : {"title", "cover", "author_heading"}) {
        QTest::mouseClick(window->findChild<QWidget*>(QString::fromLatin1(elsewhere)),
                          Qt::LeftButton);
    }
    QTest::mouseClick(window->findChild<QWidget*>(QStringLiteral("panel")), Qt::LeftButton, {},
                      QPoint(300, 300));
    QTest::mouseClick(close, Qt::RightButton);
    QTest::qWait(50);
    ASSERT_FALSE(window.isNull());
    EXPECT_TRUE(window->isVisible());

    QTest::mouseClick(close, Qt::LeftButton);
    EXPECT_TRUE(wait_until([&] { return window.isNull(); }));
}

} // namespace
} // namespace tovani::ui::test
