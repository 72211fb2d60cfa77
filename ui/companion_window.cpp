#include "ui/companion_window.h"

#include <QEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <QWindow>

#include "ui/translucency.h"

namespace tovani::ui {

const QPixmap& decorative_picture() {
    static const QPixmap picture = [] {
        // 16:9 like a photograph; drawn at half size and scaled when shown.
        const int w = 960;
        const int h = 540;
        QPixmap pixmap(w, h);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient sky(0, 0, w, h);
        sky.setColorAt(0.0, QColor(255, 214, 170));
        sky.setColorAt(0.5, QColor(244, 170, 190));
        sky.setColorAt(1.0, QColor(150, 160, 230));
        p.fillRect(pixmap.rect(), sky);
        struct Blob {
            double x, y, r;
            QColor colour;
        };
        const Blob blobs[] = {
            {0.18, 0.25, 0.22, QColor(255, 255, 255, 150)},
            {0.70, 0.30, 0.28, QColor(255, 240, 200, 120)},
            {0.45, 0.80, 0.35, QColor(200, 220, 255, 130)},
            {0.90, 0.85, 0.20, QColor(255, 200, 230, 140)},
            {0.05, 0.90, 0.18, QColor(255, 255, 230, 110)},
        };
        p.setPen(Qt::NoPen);
        for (const Blob& b : blobs) {
            const QPointF centre(b.x * w, b.y * h);
            QRadialGradient glow(centre, b.r * w);
            glow.setColorAt(0.0, b.colour);
            QColor edge = b.colour;
            edge.setAlpha(0);
            glow.setColorAt(1.0, edge);
            p.setBrush(glow);
            p.drawEllipse(centre, b.r * w, b.r * w);
        }
        return pixmap;
    }();
    return picture;
}

CompanionWindow::CompanionWindow(QWidget* owner, int alpha)
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowTransparentForInput |
                         Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint),
      owner_(owner), alpha_(alpha) {
    setObjectName(QStringLiteral("companion"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setWindowOpacity(alpha / 255.0);
    setGeometry(50, 50, 0, 0);
    owner_->installEventFilter(this);
}

void CompanionWindow::follow_position() {
    move(owner_->geometry().topLeft());
}

void CompanionWindow::follow_size() {
    setGeometry(owner_->geometry());
    sized_ = true;
    if (owner_->isVisible() && !owner_->isMinimized()) {
        show_if_translucent();
    }
}

void CompanionWindow::show_if_translucent() {
    // Without a compositor the picture would be drawn opaque over the whole owner. Asked at
    // every showing, so a compositor started or stopped meanwhile is followed.
    if (translucency_available()) {
        show();
    } else {
        hide();
    }
}

void CompanionWindow::watch_native_window() {
    QWindow* native = owner_->windowHandle();
    if (native == nullptr || native == watched_window_) {
        return;
    }
    // The window system may still place the owner after it is shown (frame margins, a window
    // manager's placement) without a move or resize event reaching the widget.
    watched_window_ = native;
    connect(native, &QWindow::xChanged, this, &CompanionWindow::follow_position);
    connect(native, &QWindow::yChanged, this, &CompanionWindow::follow_position);
    connect(native, &QWindow::widthChanged, this, &CompanionWindow::follow_size);
    connect(native, &QWindow::heightChanged, this, &CompanionWindow::follow_size);
}

bool CompanionWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == owner_) {
        switch (event->type()) {
        case QEvent::Move:
            follow_position();
            break;
        case QEvent::Resize:
            follow_size();
            break;
        case QEvent::Show:
            watch_native_window();
            if (sized_) {
                setGeometry(owner_->geometry());
                show_if_translucent();
            }
            break;
        case QEvent::Hide:
            hide();
            break;
        case QEvent::WindowStateChange:
            if (owner_->isMinimized()) {
                hide();
            } else if (sized_ && owner_->isVisible()) {
                show_if_translucent();
            }
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CompanionWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPixmap& picture = decorative_picture();
    // Fill the window, cropping the picture rather than stretching it.
    const QSize shown = picture.size().scaled(size(), Qt::KeepAspectRatioByExpanding);
    const QRect target((width() - shown.width()) / 2, (height() - shown.height()) / 2,
                       shown.width(), shown.height());
    p.drawPixmap(target, picture);
}

} // namespace tovani::ui
