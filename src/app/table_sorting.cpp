#include "app/table_sorting.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTableView>
#include <algorithm>

#include "platform/user_defaults.h"

TableSorter::TableSorter(QTableView* view, platform::UserDefaults& defaults, Keys keys,
                         std::vector<std::string> columns, ModelSort modelSort,
                         std::set<std::string> unsortable)
    : QObject(view),
      view_(view),
      defaults_(defaults),
      keys_(std::move(keys)),
      columns_(std::move(columns)),
      modelSort_(std::move(modelSort)),
      unsortable_(std::move(unsortable)) {
    view_->setSortingEnabled(false);
    QHeaderView* header = view_->horizontalHeader();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    connect(header, &QHeaderView::sectionClicked, this, &TableSorter::doTableColumnHeaderClick);
    // Without a stored key the model class keeps its own.
    if (modelSort_.setSortKey && !storedKey().empty()) modelSort_.setSortKey(storedKey());
    if (modelSort_.setAscendingSort) modelSort_.setAscendingSort(storedAscending());
    updateTableHeaderToMatchCurrentSort();
    if (modelSort_.sort) modelSort_.sort();
}

std::string TableSorter::storedKey() const { return defaults_.GetString(keys_.sortKey); }

bool TableSorter::storedAscending() const { return defaults_.GetBool(keys_.ascending, true); }

void TableSorter::doTableColumnHeaderClick(int section) {
    if (section < 0 || static_cast<size_t>(section) >= columns_.size()) return;
    const std::string& identifier = columns_[static_cast<size_t>(section)];
    if (unsortable_.count(identifier)) {
        updateTableHeaderToMatchCurrentSort();
        return;
    }
    if (identifier != storedKey()) {
        defaults_.Set(keys_.sortKey, identifier);
        if (modelSort_.setSortKey) modelSort_.setSortKey(identifier);
    } else {
        const bool ascending = !storedAscending();
        defaults_.Set(keys_.ascending, ascending);
        if (modelSort_.setAscendingSort) modelSort_.setAscendingSort(ascending);
    }
    updateTableHeaderToMatchCurrentSort();
    if (modelSort_.sort) modelSort_.sort();
}

void TableSorter::updateTableHeaderToMatchCurrentSort() {
    QHeaderView* header = view_->horizontalHeader();
    const auto it = std::find(columns_.begin(), columns_.end(), storedKey());
    // The header flips its own indicator on a click: always set it from the defaults.
    if (it == columns_.end()) {
        header->setSortIndicator(-1, Qt::AscendingOrder);
        return;
    }
    header->setSortIndicator(static_cast<int>(it - columns_.begin()),
                             storedAscending() ? Qt::AscendingOrder : Qt::DescendingOrder);
}

std::vector<int> SelectedRows(const QItemSelectionModel* selection) {
    std::vector<int> rows;
    if (!selection) return rows;
    for (const QModelIndex& index : selection->selectedRows()) rows.push_back(index.row());
    // selectedRows() sees only fully selected rows; a cell selection counts too.
    for (const QModelIndex& index : selection->selectedIndexes()) rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void SelectRows(QItemSelectionModel* selection, const std::vector<int>& rows) {
    if (!selection || !selection->model()) return;
    const QAbstractItemModel* model = selection->model();
    QItemSelection items;
    for (int row : rows) {
        if (row < 0 || row >= model->rowCount()) continue;
        items.select(model->index(row, 0), model->index(row, model->columnCount() - 1));
    }
    selection->select(items, QItemSelectionModel::ClearAndSelect);
}
