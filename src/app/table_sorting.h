// Column-header sorting shared by the input and conversion tables: a click on a
// header picks that column as the sort key, a click on the column already
// sorting reverses the direction. Key and direction are kept in the user
// defaults and shown by the header's sort indicator; the table's model sorts
// its own list and keeps the selection (SelectedRows / SelectRows).
#pragma once

#include <QObject>
#include <functional>
#include <set>
#include <string>
#include <vector>

class QItemSelectionModel;
class QTableView;

namespace platform {
class UserDefaults;
}

class TableSorter : public QObject {
    Q_OBJECT
public:
    // The user-defaults keys of one table ("ConvSpecs Sort Key" and
    // "ConvSpecs Sort Ascending", for example).
    struct Keys {
        std::string sortKey;
        std::string ascending;
    };
    // The model class's sort state, and the sort of the table's list.
    struct ModelSort {
        std::function<void(const std::string&)> setSortKey;
        std::function<void(bool)> setAscendingSort;
        std::function<void()> sort;
    };

    // `columns` holds each column's identifier by section; clicks on the
    // sections named in `unsortable` are ignored. The stored key and direction
    // are given to the model class at once, so that the header's indicator and
    // the list's order agree from the start.
    TableSorter(QTableView* view, platform::UserDefaults& defaults, Keys keys,
                std::vector<std::string> columns, ModelSort modelSort,
                std::set<std::string> unsortable = {});

    // A click on the header of `section`: a new key keeps the direction, the
    // current key reverses it; both are stored, given to the model class, and
    // the list is sorted again.
    void doTableColumnHeaderClick(int section);
    // Shows the stored key and direction on the header (no indicator when no
    // column has the stored key).
    void updateTableHeaderToMatchCurrentSort();

    std::string storedKey() const;
    bool storedAscending() const;

private:
    QTableView* view_;
    platform::UserDefaults& defaults_;
    Keys keys_;
    std::vector<std::string> columns_;
    ModelSort modelSort_;
    std::set<std::string> unsortable_;
};

// The selected rows, ascending (selectedRowsFromArray); and a selection of
// exactly the given rows (selectRows). Rows outside the model are skipped.
std::vector<int> SelectedRows(const QItemSelectionModel* selection);
void SelectRows(QItemSelectionModel* selection, const std::vector<int>& rows);
