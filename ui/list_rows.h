#pragma once
// The report-style lists of the main and chapter windows. Each cell shows its text and keeps
// the core's GBK bytes beside it, so what goes back to the core is exactly what came from it.

#include <QString>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

class QTreeWidget;
class QWidget;

namespace tovani::ui {

/// A list with the given columns (heading, width in pixels), one selected row at a time.
QTreeWidget* make_report_list(QWidget* parent,
                              std::initializer_list<std::pair<QString, int>> columns);

/// Gives `list` these columns (heading, width in pixels) instead of the ones it had.
void set_columns(QTreeWidget* list, std::initializer_list<std::pair<QString, int>> columns);

/// Appends a row of GBK cells.
void append_row(QTreeWidget* list, const std::vector<std::string>& cells);
/// Appends many rows in one go (one layout pass for the whole batch).
void append_rows(QTreeWidget* list, const std::vector<std::vector<std::string>>& rows);

/// The GBK text of a cell; "" when the row or column does not exist.
std::string cell_text(const QTreeWidget* list, int row, int column);

} // namespace tovani::ui
