#pragma once
// A book's details: cover, title, author, last update, status, latest chapter and description,
// copied once from AppState when the window opens. The small red picture closes it.

#include <QImage>
#include <QLabel>
#include <QWidget>

#include "sources/book_details.h"
#include "ui/background_runner.h"

class QPlainTextEdit;

namespace tovani::ui {

struct AppState;

/// The close picture: a red square with a white cross, 256 x 256, drawn on first use.
const QPixmap& close_picture();

/// Fetches a cover picture (a plain GET without the default request headers) and decodes it;
/// a null image when the address is empty, unreachable or not a picture.
QImage fetch_cover(const std::string& url);

class DetailsWindow final : public QWidget {
    Q_OBJECT
public:
    explicit DetailsWindow(const AppState& state, QWidget* parent = nullptr);
    ~DetailsWindow() override;

    /// The texts this window shows (GBK), as copied at its opening.
    const BookDetails& details() const { return details_; }
    bool cover_pending() const { return cover_pending_; }
    QLabel* cover_label() const { return cover_; }

signals:
    /// The cover fetch has ended (the cover may be empty).
    void cover_loaded();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* add_label(const QString& text, const char* name, const QRect& place);

    BookDetails details_;
    QWidget* panel_ = nullptr;
    QLabel* cover_ = nullptr;
    QLabel* close_ = nullptr;
    QPlainTextEdit* description_ = nullptr;
    bool cover_pending_ = false;
    BackgroundRunner runner_{this};
};

} // namespace tovani::ui
