#include "ui/list_rows.h"

#include <QHeaderView>
#include <QTreeWidget>

#include "ui/qt_text.h"

namespace tovani::ui {
namespace {

constexpr int gbk_role = Qt::UserRole + 1;

QTreeWidgetItem* make_item(const std::vector<std::string>& cells) {
    auto* item = new QTreeWidgetItem;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const int column = static_cast<int>(i);
        // Item views draw their text as plain text; nothing here is read as markup.
        item->setText(column, from_gbk(cells[i]));
        item->setData(column, gbk_role, gbk_bytes(cells[i]));
    }
    return item;
}

} // namespace

QTreeWidget* make_report_list(QWidget* parent,
                              std::initializer_list<std::pair<QString, int>> columns) {
    auto* list = new QTreeWidget(parent);
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    set_columns(list, columns);
    list->header()->setStretchLastSection(false);
    return list;
}

void set_columns(QTreeWidget* list, std::initializer_list<std::pair<QString, int>> columns) {
    list->setColumnCount(static_cast<int>(columns.size()));
    QStringList headings;
    for (const auto& column : columns) {
        headings << column.first;
    }
    list->setHeaderLabels(headings);
    int i = 0;
    for (const auto& column : columns) {
        list->setColumnWidth(i++, column.second);
    }
}

void append_row(QTreeWidget* list, const std::vector<std::string>& cells) {
    list->addTopLevelItem(make_item(cells));
}

void append_rows(QTreeWidget* list, const std::vector<std::vector<std::string>>& rows) {
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(rows.size()));
    for (const auto& cells : rows) {
        items.append(make_item(cells));
    }
    list->addTopLevelItems(items);
}

std::string cell_text(const QTreeWidget* list, int row, int column) {
    const QTreeWidgetItem* item = list->topLevelItem(row);
    if (item == nullptr || column < 0 || column >= list->columnCount()) {
        return {};
    }
    const QVariant bytes = item->data(column, gbk_role);
    return bytes.isValid() ? from_bytes(bytes.toByteArray()) : to_gbk(item->text(column));
}

} // namespace tovani::ui
