#include "app/conversion_list_controller.h"

#include <QItemSelectionModel>
#include <QTableView>
#include <QUndoStack>

#include "app/desktop_services.h"
#include "app/table_sorting.h"
#include "platform/user_defaults.h"

namespace {

constexpr char kSortKeyDefaultsKey[] = "ConvSpecs Sort Key";
constexpr char kSortAscendingDefaultsKey[] = "ConvSpecs Sort Ascending";

}  // namespace

ConversionListController::ConversionListController(platform::UserDefaults& defaults,
                                                   ConvSpecList conversions,
                                                   ConversionListHooks hooks, QObject* parent)
    : QObject(parent),
      defaults_(defaults),
      hooks_(std::move(hooks)),
      model_(new ConversionListModel(std::move(conversions), this)),
      selection_(new QItemSelectionModel(model_, this)) {
    model_->setSelectionModel(selection_);
    if (!hooks_.readLegacyConversions) hooks_.readLegacyConversions = legacyConvSpecsFromFile;
}

ConversionListController::~ConversionListController() = default;

QUndoStack* ConversionListController::undoStack() const { return model_->undoStack(); }

void ConversionListController::attachView(QTableView* view) {
    view->setModel(model_);
    view->setSelectionModel(selection_);
    if (!hooks_.alertParent) hooks_.alertParent = view->window();
    connect(view, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { editConvAt(index.row()); });
    connect(model_, &ConversionListModel::scrollToRowRequested, view, [view, this](int row) {
        if (row >= 0) view->scrollTo(model_->index(row, ConversionListModel::kNameColumn));
    });
    sorter_ = new TableSorter(
        view, defaults_, {kSortKeyDefaultsKey, kSortAscendingDefaultsKey},
        ConversionListModel::ColumnIdentifiers(),
        {&ConvSpec::setSortKey, &ConvSpec::setAscendingSort, [this] { model_->sortConvSpecs(); }});
}

void ConversionListController::encodeConvSpecs() {
    defaults_.Set(kConversionsDefaultsKey, EncodeConvSpecs(model_->convSpecs()));
}

int ConversionListController::runDefineConversionDialog(const ConvSpecPtr& spec) {
    const int result = hooks_.runDefineConversionDialog
                           ? hooks_.runDefineConversionDialog(spec, model_->convSpecNames())
                           : 0;
    if (result == 1) encodeConvSpecs();
    return result;
}

void ConversionListController::addConv() {
    if (hooks_.showConversions) hooks_.showConversions();
    auto spec = std::make_shared<ConvSpec>();
    if (runDefineConversionDialog(spec) != 1) return;
    auto* command = new InsertConvSpecCommand(model_, spec, -1, nullptr, true);
    command->setText(tr("Add Conversion"));
    undoStack()->push(command);
    encodeConvSpecs();
}

void ConversionListController::editConv() {
    const std::vector<int> rows = SelectedRows(selection_);
    if (!rows.empty()) editConvAt(rows.front());
}

void ConversionListController::editConvAt(int row) {
    const ConvSpecPtr old = model_->at(row);
    if (!old) return;
    const ConvSpecPtr edited = old->copy();
    // The dialog refuses listed names: the conversion's own name is free while it runs.
    const std::string name = old->conversionName();
    model_->releaseName(name);
    const int result = runDefineConversionDialog(edited);
    model_->reserveName(name);
    if (result != 1) return;
    auto* command = new UpdateConvSpecCommand(model_, old, edited);
    command->setText(tr("Edit Conversion"));
    undoStack()->push(command);
    encodeConvSpecs();
}

void ConversionListController::duplicateConv() {
    const ConvSpecList selected = model_->selectedConvSpecs();
    if (selected.empty()) return;
    const std::string tail = " " + tr("copy").toStdString();
    undoStack()->beginMacro(tr("Duplicate Conversion(s)"));
    for (const ConvSpecPtr& spec : selected) {
        ConvSpecPtr copy = spec->copy();
        copy->setConversionName(
            FreeConversionName(spec->conversionName(), tail, model_->convSpecNames()));
        undoStack()->push(new InsertConvSpecCommand(model_, copy, -1));
    }
    undoStack()->endMacro();
    model_->updateConversionView();
    encodeConvSpecs();
}

void ConversionListController::removeConvFromArray(const ConvSpecList& conversions) {
    if (conversions.empty()) return;
    undoStack()->beginMacro(tr("Delete Conversion(s)"));
    for (const ConvSpecPtr& spec : conversions)
        undoStack()->push(new DeleteConvSpecCommand(model_, spec));
    undoStack()->endMacro();
}

void ConversionListController::removeConv() {
    const ConvSpecList selected = model_->selectedConvSpecs();
    if (selected.empty()) return;
    removeConvFromArray(selected);
    encodeConvSpecs();
}

void ConversionListController::doMarkConv(bool active) {
    for (const ConvSpecPtr& spec : model_->selectedConvSpecs()) spec->setActive(active);
    model_->updateConversionView();
}

void ConversionListController::markConv() { doMarkConv(true); }

void ConversionListController::unmarkConv() { doMarkConv(false); }

int ConversionListController::runAlert(const QString& title, const QString& message,
                                       const QString& defaultButton,
                                       const QString& alternateButton,
                                       const QString& otherButton) {
    if (!hooks_.alerts) return 0;
    return hooks_.alerts->run(hooks_.alertParent, title, message, defaultButton, alternateButton,
                              otherButton);
}

void ConversionListController::importConversions() {
    const int answer = runAlert(
        tr("Import Conversions from Corvane version 3"),
        tr("Do you want Corvane to look for existing conversions automatically, or do you want "
           "to tell Corvane explicitly from which Corvane version 3 Preferences file to import "
           "conversions from?"),
        tr("Auto Import"), tr("Cancel"), tr("Open File..."));
    std::string path;
    if (answer == 1) {
        path = LegacyPreferencesPath();
    } else if (answer == -1) {
        if (hooks_.chooseLegacyPreferencesFile) path = hooks_.chooseLegacyPreferencesFile();
        if (path.empty()) return;
    } else {
        return;
    }
    importLegacyConversionsFromArray(hooks_.readLegacyConversions(QFPath(path)));
}

void ConversionListController::importLegacyConversionsFromArray(const ConvSpecList& conversions) {
    ConvSpecList specs;
    for (const ConvSpecPtr& spec : conversions)
        if (spec) specs.push_back(spec);
    if (specs.empty()) {
        runAlert(tr("No Conversions Found"), tr("There were no conversions found in the file."));
        return;
    }
    const std::string tail = tr(" (imported from Corvane 3)").toStdString();
    undoStack()->beginMacro(tr("Import Conversions"));
    for (const ConvSpecPtr& spec : specs) {
        spec->setConversionName(
            FreeConversionName(spec->conversionName(), tail, model_->convSpecNames()));
        undoStack()->push(new InsertConvSpecCommand(model_, spec, -1));
    }
    undoStack()->endMacro();
    model_->sortConvSpecs();
    if (hooks_.showConversions) hooks_.showConversions();
}
