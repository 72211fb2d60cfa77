#include "ui/details_window.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QPlainTextEdit>

#include "http/fetch.h"
#include "ui/app_state.h"
#include "ui/fonts.h"
#include "ui/qt_text.h"

namespace tovani::ui {
namespace {

const QColor panel_colour(128, 128, 255);
const QSize cover_size(140, 170);

} // namespace

const QPixmap& close_picture() {
    static const QPixmap picture = [] {
        QPixmap pixmap(256, 256);
        pixmap.fill(QColor(220, 30, 30));
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Qt::white, 36, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(64, 64, 192, 192);
        p.drawLine(192, 64, 64, 192);
        return pixmap;
    }();
    return picture;
}

QImage fetch_cover(const std::string& url) {
    if (url.empty()) {
        return {};
    }
    FetchPageArgs args;
    args.add_default_headers = false;
    const std::string bytes = fetch_page(url, args);
    QImage image;
    if (!bytes.empty()) {
        image.loadFromData(reinterpret_cast<const uchar*>(bytes.data()),
                           static_cast<int>(bytes.size()));
    }
    return image;
}

DetailsWindow::DetailsWindow(const AppState& state, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), details_(state.details()) {
    setObjectName(QStringLiteral("详情窗口"));
    setWindowTitle(from_gbk(details_.title));
    move(50, 50);
    resize(525, 400);

    panel_ = new QWidget(this);
    panel_->setObjectName(QStringLiteral("panel"));
    panel_->setGeometry(0, 0, 525, 400);
    panel_->setAutoFillBackground(true);
    QPalette palette = panel_->palette();
    palette.setColor(QPalette::Window, panel_colour);
    panel_->setPalette(palette);

    cover_ = new QLabel(panel_);
    cover_->setObjectName(QStringLiteral("cover"));
    cover_->setGeometry(QRect(QPoint(8, 24), cover_size));
    cover_->setScaledContents(true);

    add_label(from_gbk(details_.title), "title", {160, 16, 304, 40});
    add_label(QStringLiteral("作者："), "author_heading", {160, 55, 50, 40});
    add_label(from_gbk(details_.author), "author", {216, 55, 300, 40});
    add_label(QStringLiteral("更新："), "update_heading", {160, 85, 50, 40});
    add_label(from_gbk(details_.update_time), "update_time", {216, 85, 300, 40});
    add_label(QStringLiteral("状态："), "status_heading", {160, 115, 50, 40});
    add_label(from_gbk(details_.status), "status", {216, 115, 300, 40});
    add_label(QStringLiteral("最新章节："), "latest_heading", {160, 145, 88, 40});
    add_label(from_gbk(details_.latest_chapter), "latest_chapter", {256, 145, 260, 40});
    add_label(QStringLiteral("内容简介："), "description_heading", {10, 200, 90, 40});

    description_ = new QPlainTextEdit(panel_);
    description_->setObjectName(QStringLiteral("description"));
    description_->setGeometry(10, 240, 510, 150);
    description_->setReadOnly(true);
    description_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont font = hei_font(12);
    font.setPixelSize(19);
    description_->setFont(font);
    QPalette text_palette = description_->palette();
    text_palette.setColor(QPalette::Base, panel_colour);
    description_->setPalette(text_palette);
    description_->setPlainText(from_gbk(details_.description));

    close_ = new QLabel(panel_);
    close_->setObjectName(QStringLiteral("close"));
    close_->setGeometry(500, 0, 25, 25);
    close_->setScaledContents(true);
    close_->setPixmap(close_picture());
    close_->installEventFilter(this);

    cover_pending_ = true;
    runner_.run([url = details_.cover_url] { return fetch_cover(url); },
                [this](const QImage& image) {
                    if (!image.isNull()) {
                        cover_->setPixmap(QPixmap::fromImage(image.scaled(
                            cover_size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
                    }
                    cover_pending_ = false;
                    emit cover_loaded();
                });
}

DetailsWindow::~DetailsWindow() = default;

QLabel* DetailsWindow::add_label(const QString& text, const char* name, const QRect& place) {
    auto* label = new QLabel(text, panel_);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(place);
    label->setTextFormat(Qt::PlainText); // site texts are never markup
    return label;
}

bool DetailsWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == close_ && event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        close();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace tovani::ui
