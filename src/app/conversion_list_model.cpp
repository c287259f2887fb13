#include "app/conversion_list_model.h"

#include <QColor>
#include <QDragEnterEvent>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QUndoStack>
#include <QtDebug>
#include <algorithm>

#include "app/table_sorting.h"

namespace {

QString Text(const std::string& s) { return QString::fromStdString(s); }

// In a remembered selection, one conversion takes another's place.
void Replace(ConvSpecList& list, const ConvSpec* from, const ConvSpecPtr& to) {
    for (ConvSpecPtr& p : list)
        if (p.get() == from) p = to;
}

}  // namespace

// ---------------------------------------------------------------------------
// The model

const std::vector<std::string>& ConversionListModel::ColumnIdentifiers() {
    static const std::vector<std::string> identifiers{"active", "convName", "comment"};
    return identifiers;
}

ConversionListModel::ConversionListModel(ConvSpecList conversions, QObject* parent)
    : QAbstractTableModel(parent), convSpecs_(std::move(conversions)), undoStack_(new QUndoStack(this)) {
    convSpecs_.erase(std::remove(convSpecs_.begin(), convSpecs_.end(), nullptr), convSpecs_.end());
    for (const ConvSpecPtr& spec : convSpecs_) convSpecNames_.insert(spec->conversionName());
    std::stable_sort(convSpecs_.begin(), convSpecs_.end(),
                     [](const ConvSpecPtr& a, const ConvSpecPtr& b) { return a->compare(*b) < 0; });
}

ConvSpecPtr ConversionListModel::at(int row) const {
    if (row < 0 || static_cast<size_t>(row) >= convSpecs_.size()) return nullptr;
    return convSpecs_[static_cast<size_t>(row)];
}

int ConversionListModel::rowOf(const ConvSpec* spec) const {
    for (size_t i = 0; i < convSpecs_.size(); ++i)
        if (convSpecs_[i].get() == spec) return static_cast<int>(i);
    return -1;
}

int ConversionListModel::activeCount() const {
    return static_cast<int>(std::count_if(convSpecs_.begin(), convSpecs_.end(),
                                          [](const ConvSpecPtr& s) { return s->active(); }));
}

ConvSpecList ConversionListModel::selectedConvSpecs() const {
    ConvSpecList out;
    for (int row : SelectedRows(selection_))
        if (ConvSpecPtr spec = at(row)) out.push_back(spec);
    return out;
}

void ConversionListModel::selectConvSpecs(const ConvSpecList& specs) {
    if (!selection_) return;
    std::vector<int> rows;
    for (const ConvSpecPtr& spec : specs)
        if (int row = rowOf(spec.get()); row >= 0) rows.push_back(row);
    SelectRows(selection_, rows);
}

void ConversionListModel::insertConvSpec(const ConvSpecPtr& spec, int index) {
    if (!spec) return;
    const ConvSpecList remembered = selectedConvSpecs();
    beginResetModel();
    const size_t at = index < 0 || static_cast<size_t>(index) > convSpecs_.size()
                          ? convSpecs_.size()
                          : static_cast<size_t>(index);
    convSpecs_.insert(convSpecs_.begin() + static_cast<std::ptrdiff_t>(at), spec);
    std::stable_sort(convSpecs_.begin(), convSpecs_.end(),
                     [](const ConvSpecPtr& a, const ConvSpecPtr& b) { return a->compare(*b) < 0; });
    convSpecNames_.insert(spec->conversionName());
    endResetModel();
    selectConvSpecs(remembered);
    updateConversionView();
}

int ConversionListModel::deleteConvSpec(const ConvSpecPtr& spec) {
    const int row = spec ? rowOf(spec.get()) : -1;
    if (row < 0) return -1;
    ConvSpecList remembered = selectedConvSpecs();
    beginResetModel();
    convSpecs_.erase(convSpecs_.begin() + row);
    convSpecNames_.erase(spec->conversionName());
    endResetModel();
    remembered.erase(std::remove(remembered.begin(), remembered.end(), spec), remembered.end());
    selectConvSpecs(remembered);
    updateConversionView();
    return row;
}

int ConversionListModel::updateConvSpec(const ConvSpecPtr& spec, int index) {
    const ConvSpecPtr old = at(index);
    if (!old || !spec) return -1;
    ConvSpecList remembered = selectedConvSpecs();
    beginResetModel();
    convSpecs_[static_cast<size_t>(index)] = spec;
    convSpecNames_.erase(old->conversionName());
    convSpecNames_.insert(spec->conversionName());
    std::stable_sort(convSpecs_.begin(), convSpecs_.end(),
                     [](const ConvSpecPtr& a, const ConvSpecPtr& b) { return a->compare(*b) < 0; });
    endResetModel();
    Replace(remembered, old.get(), spec);
    updateConversionView();
    selectConvSpecs(remembered);
    const int row = rowOf(spec.get());
    emit scrollToRowRequested(row);
    return row;
}

void ConversionListModel::sortConvSpecs() {
    const ConvSpecList remembered = selectedConvSpecs();
    beginResetModel();
    std::stable_sort(convSpecs_.begin(), convSpecs_.end(),
                     [](const ConvSpecPtr& a, const ConvSpecPtr& b) { return a->compare(*b) < 0; });
    endResetModel();
    selectConvSpecs(remembered);
}

void ConversionListModel::updateConversionView() {
    if (!convSpecs_.empty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, kColumnCount - 1));
    emit headerDataChanged(Qt::Horizontal, kActiveColumn, kActiveColumn);
    emit conversionViewUpdated();
}

int ConversionListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(convSpecs_.size());
}

int ConversionListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant ConversionListModel::data(const QModelIndex& index, int role) const {
    const ConvSpecPtr spec = at(index.row());
    if (!spec || !index.isValid()) return {};
    switch (index.column()) {
        case kActiveColumn:
            if (role == Qt::CheckStateRole) return spec->active() ? Qt::Checked : Qt::Unchecked;
            break;
        case kNameColumn:
            if (role == Qt::DisplayRole || role == Qt::EditRole) return Text(spec->conversionName());
            if (role == Qt::ForegroundRole && !spec->valid()) return QColor(Qt::gray);
            break;
        case kCommentColumn:
            if (role == Qt::DisplayRole || role == Qt::EditRole) return Text(spec->comment());
            break;
        default:
            break;
    }
    return {};
}

bool ConversionListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    const ConvSpecPtr spec = at(index.row());
    if (!spec || index.column() != kActiveColumn || role != Qt::CheckStateRole || !spec->valid())
        return false;
    // Saved with the next save of the list; not undoable.
    spec->setActive(value.toInt() == Qt::Checked);
    sortConvSpecs();
    updateConversionView();
    return true;
}

Qt::ItemFlags ConversionListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::ItemIsDropEnabled;
    const ConvSpecPtr spec = at(index.row());
    if (!spec) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsEnabled;
    if (index.column() == kActiveColumn) {
        if (spec->valid())
            f |= Qt::ItemIsUserCheckable;
        else
            f &= ~Qt::ItemIsEnabled;
    }
    return f;
}

QVariant ConversionListModel::headerData(int section, Qt::Orientation orientation,
                                         int role) const {
    if (orientation != Qt::Horizontal) return {};
    // The column's identifier, under which the window saves the table's layout.
    if (role == Qt::UserRole && section >= 0 && section < kColumnCount)
        return QString::fromStdString(ColumnIdentifiers()[static_cast<size_t>(section)]);
    if (role != Qt::DisplayRole) return {};
    switch (section) {
        case kActiveColumn:
            return tr("%d Active").replace(QLatin1String("%d"), QString::number(activeCount()));
        case kNameColumn:
            return tr("Name");
        case kCommentColumn:
            return tr("Comment");
        default:
            return {};
    }
}

// ---------------------------------------------------------------------------
// Drag and drop

QStringList ConversionListModel::mimeTypes() const {
    return {QString::fromLatin1(kConversionsMimeType), QStringLiteral("text/plain")};
}

QMimeData* ConversionListModel::mimeData(const QModelIndexList& indexes) const {
    std::vector<int> rows;
    for (const QModelIndex& index : indexes) rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    ConvSpecList dragged;
    for (int row : rows)
        if (ConvSpecPtr spec = at(row)) dragged.push_back(spec);
    if (dragged.empty()) return nullptr;
    const std::string payload = EncodeDraggedConversions(dragged);
    auto* data = new QMimeData;
    data->setData(QString::fromLatin1(kConversionsMimeType),
                  QByteArray(payload.data(), static_cast<qsizetype>(payload.size())));
    data->setText(QString::fromStdString(payload));
    return data;
}

Qt::DropActions ConversionListModel::supportedDragActions() const { return Qt::CopyAction; }

Qt::DropActions ConversionListModel::supportedDropActions() const { return Qt::CopyAction; }

DroppedConversions ConversionListModel::decodeDrop(const QMimeData* data) const {
    if (!data) return {};
    QByteArray bytes;
    if (data->hasFormat(QString::fromLatin1(kConversionsMimeType)))
        bytes = data->data(QString::fromLatin1(kConversionsMimeType));
    else if (data->hasText())
        bytes = data->text().toUtf8();
    else
        return {};
    return DecodeDroppedConversions(bytes.toStdString(), convSpecNames_);
}

bool ConversionListModel::canDropMimeData(const QMimeData* data, Qt::DropAction action, int, int,
                                          const QModelIndex&) const {
    return action == Qt::CopyAction && decodeDrop(data).acceptable;
}

bool ConversionListModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int,
                                       const QModelIndex& parent) {
    if (action != Qt::CopyAction) return false;
    if (!data || (!data->hasFormat(QString::fromLatin1(kConversionsMimeType)) && !data->hasText())) {
        qWarning("No correct conv spec property list in dragging pasteboard");
        return false;
    }
    const DroppedConversions dropped = decodeDrop(data);
    if (!dropped.acceptable) return false;
    const int at = row >= 0 ? row : parent.isValid() ? parent.row() : -1;
    undoStack_->beginMacro(tr("Drag Conversion(s)"));
    for (const ConvSpecPtr& spec : MakeDroppedConversions(dropped))
        undoStack_->push(new InsertConvSpecCommand(this, spec, at));
    undoStack_->endMacro();
    updateConversionView();
    return true;
}

// ---------------------------------------------------------------------------
// The primitives as commands

InsertConvSpecCommand::InsertConvSpecCommand(ConversionListModel* model, ConvSpecPtr spec,
                                             int index, QUndoCommand* parent, bool selectInserted)
    : QUndoCommand(parent),
      model_(model),
      spec_(std::move(spec)),
      index_(index),
      selectInserted_(selectInserted) {}

void InsertConvSpecCommand::redo() {
    selectionBefore_ = model_->selectedConvSpecs();
    model_->insertConvSpec(spec_, index_);
    if (selectInserted_) {
        model_->selectConvSpecs({spec_});
        emit model_->scrollToRowRequested(model_->rowOf(spec_.get()));
    }
}

void InsertConvSpecCommand::undo() {
    model_->deleteConvSpec(spec_);
    model_->selectConvSpecs(selectionBefore_);
}

DeleteConvSpecCommand::DeleteConvSpecCommand(ConversionListModel* model, ConvSpecPtr spec,
                                             QUndoCommand* parent)
    : QUndoCommand(parent), model_(model), spec_(std::move(spec)) {}

void DeleteConvSpecCommand::redo() {
    selectionBefore_ = model_->selectedConvSpecs();
    formerRow_ = model_->deleteConvSpec(spec_);
}

void DeleteConvSpecCommand::undo() {
    if (formerRow_ < 0) return;
    model_->insertConvSpec(spec_, formerRow_);
    model_->selectConvSpecs(selectionBefore_);
}

UpdateConvSpecCommand::UpdateConvSpecCommand(ConversionListModel* model, ConvSpecPtr oldSpec,
                                             ConvSpecPtr newSpec, QUndoCommand* parent)
    : QUndoCommand(parent), model_(model), old_(std::move(oldSpec)), new_(std::move(newSpec)) {}

void UpdateConvSpecCommand::redo() {
    selectionBefore_ = model_->selectedConvSpecs();
    model_->updateConvSpec(new_, model_->rowOf(old_.get()));
}

void UpdateConvSpecCommand::undo() {
    model_->updateConvSpec(old_, model_->rowOf(new_.get()));
    model_->selectConvSpecs(selectionBefore_);
}

// ---------------------------------------------------------------------------
// The table

ConversionTableView::ConversionTableView(QWidget* parent) : QTableView(parent) {
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::CopyAction);
    setDropIndicatorShown(true);
}

// A drag that starts in this application has a source; only drops from other
// applications are taken.
void ConversionTableView::dragEnterEvent(QDragEnterEvent* event) {
    if (event->source()) {
        event->ignore();
        return;
    }
    QTableView::dragEnterEvent(event);
}

void ConversionTableView::dragMoveEvent(QDragMoveEvent* event) {
    if (event->source()) {
        event->ignore();
        return;
    }
    QTableView::dragMoveEvent(event);
}

void ConversionTableView::dropEvent(QDropEvent* event) {
    if (event->source()) {
        event->ignore();
        return;
    }
    QTableView::dropEvent(event);
}

void ConversionTableView::startDrag(Qt::DropActions supportedActions) {
    QTableView::startDrag(supportedActions & Qt::CopyAction);
}
