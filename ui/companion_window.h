#pragma once
// The faint picture that lies over the main window and over the chapter window. It never takes
// the focus, shows no task-bar entry and lets every click through to its owner's controls.

#include <QPixmap>
#include <QWidget>

class QWindow;

namespace tovani::ui {

/// The decorative picture, drawn once on first use (a gradient with soft shapes).
const QPixmap& decorative_picture();

class CompanionWindow final : public QWidget {
    Q_OBJECT
public:
    /// `alpha` 0..255 is the opacity of the whole window. The companion follows `owner`'s
    /// position and size, shows itself at the owner's first resize and hides with it, and
    /// stays hidden while the window system cannot show it translucent.
    CompanionWindow(QWidget* owner, int alpha);

    int alpha() const { return alpha_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void follow_position();
    void follow_size();
    void show_if_translucent();
    void watch_native_window();

    QWidget* owner_;
    int alpha_;
    bool sized_ = false;
    QWindow* watched_window_ = nullptr;
};

} // namespace tovani::ui
