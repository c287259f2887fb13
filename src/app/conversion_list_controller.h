// The conversion list's commands: add, edit (through the Define Conversion
// dialog), duplicate, remove, mark and unmark, with undo; the import of
// conversions of major version 3; and the saving of the list under
// "Conversions". The list is saved after add, edit, duplicate, remove and every
// OK of the dialog, and by the caller at quit; a tick in the table, mark,
// unmark, drops, imports and undo reach the file with the next save.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <set>
#include <string>

#include "app/conversion_list_core.h"
#include "app/conversion_list_model.h"

class Alerts;
class QItemSelectionModel;
class QWidget;
class QTableView;
class QUndoStack;
class TableSorter;

namespace platform {
class UserDefaults;
}

// What the list asks of the rest of the application. The window connects these
// to the Define Conversion dialog, its alerts and file panels and its pages;
// tests give scripted ones. A hook left empty answers "cancelled".
struct ConversionListHooks {
    // Runs the Define Conversion dialog modally on `spec`, which the dialog
    // edits in place; it refuses the names in `takenNames`, the list's own set
    // (without the edited conversion's name while an edit runs). 1 confirms.
    std::function<int(const ConvSpecPtr& spec, const std::set<std::string>& takenNames)>
        runDefineConversionDialog;
    // The application's alerts (none: every alert answers "cancelled").
    Alerts* alerts = nullptr;
    // The window the alerts belong to.
    QWidget* alertParent = nullptr;
    // The open panel for one preferences file of version 3; empty when cancelled.
    std::function<std::string()> chooseLegacyPreferencesFile;
    // The reader of version-3 preferences files; empty: legacyConvSpecsFromFile.
    std::function<ConvSpecList(const QFPath& path)> readLegacyConversions;
    // Shows the conversions page of the main window.
    std::function<void()> showConversions;
};

class ConversionListController : public QObject {
    Q_OBJECT
public:
    // The list starts as `conversions` (the start-up's), sorted.
    ConversionListController(platform::UserDefaults& defaults, ConvSpecList conversions,
                             ConversionListHooks hooks, QObject* parent = nullptr);
    ~ConversionListController() override;

    ConversionListModel* model() const { return model_; }
    QUndoStack* undoStack() const;
    QItemSelectionModel* selectionModel() const { return selection_; }
    // Shows the list in `view` (best a ConversionTableView): the model, this
    // selection, header sorting under "ConvSpecs Sort Key" and "ConvSpecs Sort
    // Ascending", a double click edits, updated rows are scrolled into view.
    void attachView(QTableView* view);

    // Stores the list under "Conversions" and writes the defaults at once.
    void encodeConvSpecs();
    // The dialog's modal result; the list is saved on 1.
    int runDefineConversionDialog(const ConvSpecPtr& spec);
    // Removes the conversions inside one undo group "Delete Conversion(s)".
    void removeConvFromArray(const ConvSpecList& conversions);
    // Sets the active flag of every selected conversion.
    void doMarkConv(bool active);
    // Inserts the conversions with their names made free inside one undo group
    // "Import Conversions"; with none, the "No Conversions Found" alert.
    void importLegacyConversionsFromArray(const ConvSpecList& conversions);
    // Edits the conversion at `row` (a double click).
    void editConvAt(int row);

private:
    int runAlert(const QString& title, const QString& message,
                 const QString& defaultButton = QString(),
                 const QString& alternateButton = QString(),
                 const QString& otherButton = QString());

public slots:
    void addConv();
    void editConv();
    void duplicateConv();
    void removeConv();
    void markConv();
    void unmarkConv();
    void importConversions();

private:
    platform::UserDefaults& defaults_;
    ConversionListHooks hooks_;
    ConversionListModel* model_;
    QItemSelectionModel* selection_;
    TableSorter* sorter_ = nullptr;
};
