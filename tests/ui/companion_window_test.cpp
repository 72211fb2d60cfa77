// The companions: they follow their owners' position and size, hide with them, never take the
// focus, and let clicks through to the owners' controls.

#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "ui/chapter_window.h"
#include "ui/companion_window.h"
#include "ui/main_window.h"
#include "ui/translucency.h"
#include "ui_test_support.h"

namespace tovani::ui::test {
namespace {

class CompanionTest : public ::testing::Test {
protected:
    void TearDown() override { delete_windows(); }
    StateOnDemo env;
    RecordingPrompter prompter;
};

void expect_companion_flags(const CompanionWindow* companion, int alpha) {
    const Qt::WindowFlags flags = companion->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowTransparentForInput));
    EXPECT_TRUE(flags.testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(companion->windowType(), Qt::Tool); // no task-bar entry
    EXPECT_TRUE(companion->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_EQ(companion->alpha(), alpha);
    EXPECT_NEAR(companion->windowOpacity(), alpha / 255.0, 0.01);
}

TEST_F(CompanionTest, MainCompanionFollowsItsOwner) {
    MainWindow window(*env.state, prompter);
    CompanionWindow* companion = window.companion();
    ASSERT_NE(companion, nullptr);
    EXPECT_EQ(companion->parentWidget(), &window);
    expect_companion_flags(companion, 80);
    EXPECT_FALSE(companion->isVisible());

    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_TRUE(companion->isVisible());
    EXPECT_TRUE(wait_until([&] { return companion->geometry() == window.geometry(); }, 2000));
    EXPECT_EQ(QApplication::activeWindow(), &window); // the companion took no focus

    const QRect places[] = {{120, 90, 880, 540}, {300, 200, 640, 480}, {10, 20, 1000, 700}};
    for (const QRect& place : places) {
        window.move(place.topLeft());
        window.resize(place.size());
        ASSERT_TRUE(wait_until([&] { return companion->geometry() == window.geometry(); }));
        EXPECT_TRUE(companion->isVisible());
    }
    window.hide();
    EXPECT_FALSE(companion->isVisible());
    window.show();
    EXPECT_TRUE(companion->isVisible());
    EXPECT_EQ(companion->geometry(), window.geometry());
}

TEST_F(CompanionTest, EveryChapterWindowGetsItsOwn) {
    env.state->selected_source = 0; // no list fetch needed here
    for (int round = 0; round < 2; ++round) {
        QPointer<ChapterWindow> window = new ChapterWindow(*env.state, prompter);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->show();
        CompanionWindow* companion = window->companion();
        ASSERT_NE(companion, nullptr);
        expect_companion_flags(companion, 120);
        EXPECT_TRUE(companion->isVisible());
        window->move(200, 150);
        ASSERT_TRUE(wait_until([&] { return companion->geometry() == window->geometry(); }));
        QPointer<CompanionWindow> tracked(companion);
        window->close();
        ASSERT_TRUE(wait_until([&] { return window.isNull(); }));
        EXPECT_TRUE(tracked.isNull()); // destroyed with its owner
    }
}

TEST(CompanionPictureTest, IsDrawnNotEmpty) {
    const QImage picture = decorative_picture().toImage();
    ASSERT_FALSE(picture.isNull());
    EXPECT_GT(picture.width(), picture.height());
    // A gradient: the corners differ.
    EXPECT_NE(picture.pixel(0, 0), picture.pixel(picture.width() - 1, picture.height() - 1));
}

// Click-through needs a real window system: only an X server honours the input shape that
// makes the companion transparent to the mouse. Run under Xvfb with QT_QPA_PLATFORM=xcb.
// On an X server with a compositing manager (the test is run with xcompmgr under Xvfb) the
// companion lies over its owner and lets every click through to the owner's controls.
TEST_F(CompanionTest, WithACompositorClicksReachTheOwnersControls) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb") || !translucency_available()) {
        GTEST_SKIP() << "needs an X server with a compositing manager";
    }
    MainWindow window(*env.state, prompter);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    CompanionWindow* companion = window.companion();
    ASSERT_TRUE(wait_until([&] { return companion->isVisible(); }));
    QTest::qWait(300);
    auto* button = window.findChild<QPushButton*>(QStringLiteral("按钮1"));
    const QPoint point = button->mapToGlobal(button->rect().center());
    ASSERT_TRUE(companion->geometry().contains(point));

    // The same window without the transparency would catch the click...
    QWidget blocker(&window, Qt::Tool | Qt::FramelessWindowHint);
    blocker.setGeometry(window.geometry());
    blocker.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&blocker));
    ASSERT_TRUE(wait_until([&] { return QApplication::widgetAt(point) == &blocker; }, 3000));
    blocker.hide();

    // ...the companion lets it through to the button.
    companion->raise();
    QTest::qWait(300);
    EXPECT_TRUE(wait_until([&] { return QApplication::widgetAt(point) == button; }, 3000));
}

// On an X server without a compositor a translucent window would be drawn opaque over the
// main window: the companion stays hidden and the main window is seen and used.
TEST_F(CompanionTest, WithoutACompositorNoCompanionCoversTheMainWindow) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb") || translucency_available()) {
        GTEST_SKIP() << "needs an X server without a compositing manager";
    }
    MainWindow window(*env.state, prompter);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(300);
    EXPECT_FALSE(window.companion()->isVisible());
    auto* button = window.findChild<QPushButton*>(QStringLiteral("按钮1"));
    const QPoint point = button->mapToGlobal(button->rect().center());
    EXPECT_TRUE(wait_until([&] { return QApplication::widgetAt(point) == button; }, 3000));
    // What the screen shows where the button is, is the button: no picture over it.
    const QImage screen = window.grab().toImage();
    const QImage alone = button->grab().toImage();
    EXPECT_EQ(screen.pixelColor(button->geometry().center()),
              alone.pixelColor(button->rect().center()));
}

} // namespace
} // namespace tovani::ui::test
