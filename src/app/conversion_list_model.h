// The conversion table's model: the user's conversions in the current sort
// order, with the "active" box (enabled only for valid conversions), the name
// (grey when not valid) and the comment. It owns the list and the set of names
// (unique within the list), keeps the selection across every change, and
// carries conversions to and from other applications by drag and drop.
//
// The three undoable primitives (insert, delete, update) are QUndoCommands made
// here; each keeps the selection on redo and brings back the selection it found
// on undo.
#pragma once

#include <QAbstractTableModel>
#include <QTableView>
#include <QUndoCommand>
#include <set>
#include <string>

#include "app/conversion_list_core.h"

class QItemSelectionModel;
class QUndoStack;

class ConversionListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { kActiveColumn = 0, kNameColumn = 1, kCommentColumn = 2, kColumnCount = 3 };
    // The columns' identifiers, which are also the sort keys of ConvSpec.
    static const std::vector<std::string>& ColumnIdentifiers();

    // The list as given, sorted by the current sort.
    explicit ConversionListModel(ConvSpecList conversions, QObject* parent = nullptr);

    const ConvSpecList& convSpecs() const { return convSpecs_; }
    const std::set<std::string>& convSpecNames() const { return convSpecNames_; }
    ConvSpecPtr at(int row) const;
    // The row of the conversion (by identity), -1 when it is not listed.
    int rowOf(const ConvSpec* spec) const;
    int activeCount() const;

    // The selection the model keeps (the table's); null for none.
    void setSelectionModel(QItemSelectionModel* selection) { selection_ = selection; }
    QItemSelectionModel* selectionModel() const { return selection_; }
    ConvSpecList selectedConvSpecs() const;
    void selectConvSpecs(const ConvSpecList& specs);

    // The conversion table's undo stack, where drops and the list's commands
    // register their undo; owned by the model.
    QUndoStack* undoStack() const { return undoStack_; }

    // The primitives, without undo (the commands below call them). Each keeps
    // the selection and ends with updateConversionView.
    // Inserts at `index` (-1 appends), then sorts.
    void insertConvSpec(const ConvSpecPtr& spec, int index);
    // Removes the conversion; its former row, -1 when it was not listed.
    int deleteConvSpec(const ConvSpecPtr& spec);
    // Replaces the conversion at `index` by `spec` (in the selection too), sorts
    // and asks for the new row to be shown; the new row, -1 for a bad index.
    int updateConvSpec(const ConvSpecPtr& spec, int index);
    // Sorts by ConvSpec::compare, keeping the selection (doTableSort).
    void sortConvSpecs();
    // Refreshes the table and the "%d Active" header, and tells the window.
    void updateConversionView();

    // The name set without, and again with, one name: the Define Conversion
    // dialog accepts the unchanged name of the conversion it edits.
    void releaseName(const std::string& name) { convSpecNames_.erase(name); }
    void reserveName(const std::string& name) { convSpecNames_.insert(name); }

    // Drag and drop. Drops of our own type or of text/plain are read as a
    // property list; every element must carry a free, distinct name.
    DroppedConversions decodeDrop(const QMimeData* data) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override;
    Qt::DropActions supportedDropActions() const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

signals:
    // After every refresh: the window updates its menus and its start button.
    void conversionViewUpdated();
    // The row the user should see (after an update, an addition).
    void scrollToRowRequested(int row);

private:
    ConvSpecList convSpecs_;
    std::set<std::string> convSpecNames_;
    QItemSelectionModel* selection_ = nullptr;
    QUndoStack* undoStack_;
};

// insertConvSpec, undone by deleteConvSpec. With `selectInserted` the new
// conversion is selected alone and shown after each redo, instead of keeping
// the selection.
class InsertConvSpecCommand : public QUndoCommand {
public:
    InsertConvSpecCommand(ConversionListModel* model, ConvSpecPtr spec, int index,
                          QUndoCommand* parent = nullptr, bool selectInserted = false);
    void redo() override;
    void undo() override;

private:
    ConversionListModel* model_;
    ConvSpecPtr spec_;
    int index_;
    bool selectInserted_;
    ConvSpecList selectionBefore_;
};

// deleteConvSpec, undone by insertConvSpec at the former row.
class DeleteConvSpecCommand : public QUndoCommand {
public:
    DeleteConvSpecCommand(ConversionListModel* model, ConvSpecPtr spec,
                          QUndoCommand* parent = nullptr);
    void redo() override;
    void undo() override;

private:
    ConversionListModel* model_;
    ConvSpecPtr spec_;
    int formerRow_ = -1;
    ConvSpecList selectionBefore_;
};

// updateConvSpec, undone by putting the old conversion back in the new one's place.
class UpdateConvSpecCommand : public QUndoCommand {
public:
    UpdateConvSpecCommand(ConversionListModel* model, ConvSpecPtr oldSpec, ConvSpecPtr newSpec,
                          QUndoCommand* parent = nullptr);
    void redo() override;
    void undo() override;

private:
    ConversionListModel* model_;
    ConvSpecPtr old_;
    ConvSpecPtr new_;
    ConvSpecList selectionBefore_;
};

// The conversion table: drags go out as copies to other applications only, and
// drops are taken only from other applications. A double click edits.
class ConversionTableView : public QTableView {
    Q_OBJECT
public:
    explicit ConversionTableView(QWidget* parent = nullptr);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
};
