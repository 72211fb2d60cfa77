#pragma once
// "检查书源": every source searched with its probe keyword, its first hit's chapter list read
// and its first chapter fetched, side by side; one row per source with each step's result.

#include <QWidget>

#include "sources/source_table.h"
#include "ui/background_runner.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace tovani::ui {

class HealthWindow final : public QWidget {
    Q_OBJECT
public:
    /// Starts the check at once; the rows arrive when every source has answered.
    HealthWindow(const SourceTable& sources, QWidget* opener = nullptr);

    /// Checks every source again.
    void check();
    bool is_checking() const { return checking_; }
    QTreeWidget* table() const { return table_; }

signals:
    /// The check has ended and its rows are shown.
    void checked();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    SourceTable sources_;
    QTreeWidget* table_ = nullptr;
    QLabel* summary_ = nullptr;
    QPushButton* again_ = nullptr;
    bool checking_ = false;
    BackgroundRunner runner_{this};
};

} // namespace tovani::ui
