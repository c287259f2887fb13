// The custom-sample-rates window and its add sheet.
#include "app/custom_sample_rates_window.h"

#include <QHeaderView>
#include <QPushButton>
#include <QRegularExpression>
#include <QUndoStack>
#include <algorithm>
#include <cmath>

#include "app/define_conversion_dialog.h"
#include "ui_custom_sample_rate_add_sheet.h"
#include "ui_custom_sample_rates_window.h"

namespace {

constexpr char kFrameKey[] = "Window Frame CustomSampleRates";

// An undo step whose first redo is the change already made.
class StepCommand : public QUndoCommand {
public:
    StepCommand(const QString& name, std::function<void()> undo, std::function<void()> redo)
        : QUndoCommand(name), undo_(std::move(undo)), redo_(std::move(redo)) {}
    void undo() override { undo_(); }
    void redo() override {
        if (first_) {
            first_ = false;
            return;
        }
        redo_();
    }

private:
    std::function<void()> undo_, redo_;
    bool first_ = true;
};

}  // namespace

CustomSRController::CustomSRController(QWidget* parent, platform::UserDefaults& defaults,
                                       platform::NotificationCenter& notifications,
                                       std::function<int(QDialog&)> sheetRunner)
    : QDialog(parent),
      defaults_(defaults),
      notifications_(notifications),
      sheetRunner_(std::move(sheetRunner)),
      ui_(std::make_unique<Ui::CustomSampleRates>()),
      undoStack_(new QUndoStack(this)) {
    ui_->setupUi(this);
    setWindowModality(Qt::ApplicationModal);
    static const QRegularExpression frameForm(
        QStringLiteral("^\\{(-?\\d+), (-?\\d+), (\\d+), (\\d+)\\}$"));
    const auto match = frameForm.match(QString::fromStdString(defaults_.GetString(kFrameKey)));
    if (match.hasMatch())
        setGeometry(match.captured(1).toInt(), match.captured(2).toInt(),
                    match.captured(3).toInt(), match.captured(4).toInt());

    QTableWidget* table = ui_->csrTableView;
    table->setColumnCount(1);
    table->setHorizontalHeaderLabels({tr("Sample Rate (Hz)")});
    table->horizontalHeaderItem(0)->setData(Qt::UserRole, QStringLiteral("srs"));
    table->horizontalHeader()->setStretchLastSection(true);
    table->verticalHeader()->hide();
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table->setEditTriggers(QAbstractItemView::EditKeyPressed);

    connect(table, &QTableWidget::cellDoubleClicked, this, &CustomSRController::doAdd);
    connect(table, &QTableWidget::itemSelectionChanged, this, &CustomSRController::updateButtons);
    connect(table, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (reloading_) return;
        // Only a positive rate replaces the entry; anything else shows the old one again.
        if (auto rate = ParseSampleRate(item->text()))
            updateObject(*rate, item->row());
        else
            reloadTable();
    });
    connect(ui_->addButton, &QAbstractButton::clicked, this, &CustomSRController::doAdd);
    connect(ui_->deleteButton, &QAbstractButton::clicked, this,
            &CustomSRController::deleteSelected);
    connect(ui_->okButton, &QAbstractButton::clicked, this, &CustomSRController::doOK);
    connect(ui_->cancelButton, &QAbstractButton::clicked, this, &CustomSRController::doCancel);

    auto* undo = undoStack_->createUndoAction(this);
    undo->setShortcut(QKeySequence::Undo);
    addAction(undo);
    auto* redo = undoStack_->createRedoAction(this);
    redo->setShortcut(QKeySequence::Redo);
    addAction(redo);

    token_ = notifications_.AddObserver(kCustomSampleRatesUpdatedNotification, nullptr,
                                        [this](const platform::Notification&) { csrUpdated(); });
    csrUpdated();
}

CustomSRController::~CustomSRController() { notifications_.RemoveObserver(token_); }

void CustomSRController::csrUpdated() {
    customSampleRates_.clear();
    const plist::Value stored = defaults_.Get(kCustomSampleRatesKey);
    if (const plist::Array* array = stored.array()) {
        for (const plist::Value& v : *array) {
            const double rate = v.asReal(-1);
            if (v.isNumber() && std::isfinite(rate) && rate > 0) customSampleRates_.push_back(rate);
        }
    }
    reloadTable();
}

void CustomSRController::reloadTable() {
    reloading_ = true;
    QTableWidget* table = ui_->csrTableView;
    table->setRowCount(static_cast<int>(customSampleRates_.size()));
    for (size_t i = 0; i < customSampleRates_.size(); ++i)
        table->setItem(static_cast<int>(i), 0,
                       new QTableWidgetItem(FormatSampleRate(customSampleRates_[i])));
    reloading_ = false;
    updateButtons();
}

QList<int> CustomSRController::selectedRows() const {
    QList<int> rows;
    for (const QModelIndex& index : ui_->csrTableView->selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void CustomSRController::updateButtons() {
    const qsizetype selected = selectedRows().size();
    ui_->deleteButton->setEnabled(selected >= 1);
    ui_->addButton->setEnabled(selected < 2);
    ui_->addButton->setText(selected == 1 ? tr("Edit...") : tr("Add..."));
}

void CustomSRController::registerUndo(const QString& name, std::function<void()> undo,
                                      std::function<void()> redo) {
    if (undoing_) return;
    auto guarded = [this](std::function<void()> step) {
        return [this, step] {
            undoing_ = true;
            step();
            undoing_ = false;
        };
    };
    undoStack_->push(new StepCommand(name, guarded(std::move(undo)), guarded(std::move(redo))));
}

void CustomSRController::sort() {
    std::sort(customSampleRates_.begin(), customSampleRates_.end(), std::greater<double>());
}

void CustomSRController::insertObject(double rate, int index) {
    if (index < 0 || index > static_cast<int>(customSampleRates_.size()))
        customSampleRates_.push_back(rate);
    else
        customSampleRates_.insert(customSampleRates_.begin() + index, rate);
    sort();
    registerUndo(tr("Add Custom Sample Rate"), [this, rate] { deleteObject(rate); },
                 [this, rate, index] { insertObject(rate, index); });
    reloadTable();
}

void CustomSRController::deleteObject(double rate) {
    auto it = std::find(customSampleRates_.begin(), customSampleRates_.end(), rate);
    if (it == customSampleRates_.end()) return;
    const int index = static_cast<int>(it - customSampleRates_.begin());
    customSampleRates_.erase(it);
    registerUndo(tr("Delete Custom Sample Rate(s)"), [this, rate, index] { insertObject(rate, index); },
                 [this, rate] { deleteObject(rate); });
    reloadTable();
}

void CustomSRController::updateObject(double rate, int index) {
    if (index < 0 || index >= static_cast<int>(customSampleRates_.size())) return;
    QItemSelectionModel* selection = ui_->csrTableView->selectionModel();
    auto isSelected = [this, selection](int row) {
        return selection->isRowSelected(row, ui_->csrTableView->rootIndex());
    };
    const double old = customSampleRates_[index];
    customSampleRates_[index] = rate;
    sort();
    const int newIndex = static_cast<int>(
        std::find(customSampleRates_.begin(), customSampleRates_.end(), rate) -
        customSampleRates_.begin());
    const bool oldRowSelected = isSelected(index);
    const bool newRowSelected = isSelected(newIndex);
    registerUndo(tr("Edit Custom Sample Rate"), [this, old, newIndex] { updateObject(old, newIndex); },
                 [this, rate, index] { updateObject(rate, index); });
    reloadTable();
    // The selection travels with the entry.
    auto select = [this, selection](int row, bool on) {
        const QModelIndex cell = ui_->csrTableView->model()->index(row, 0);
        selection->select(cell, (on ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                                    QItemSelectionModel::Rows);
    };
    select(index, newRowSelected);
    select(newIndex, oldRowSelected);
    updateButtons();
}

void CustomSRController::doAdd() {
    const QList<int> rows = selectedRows();
    if (rows.size() > 1) return;
    QDialog sheet(this);
    sheet.setWindowModality(Qt::WindowModal);
    Ui::addSheet ui;
    ui.setupUi(&sheet);
    isEditing_ = rows.size() == 1;
    ui.srTextField->setText(isEditing_ ? FormatSampleRate(customSampleRates_[rows.front()])
                                       : QString());
    connect(ui.okButton, &QAbstractButton::clicked, &sheet, [&sheet] { sheet.done(1); });
    connect(ui.cancelButton, &QAbstractButton::clicked, &sheet, [&sheet] { sheet.done(0); });
    const int result = sheetRunner_ ? sheetRunner_(sheet) : sheet.exec();
    if (result != 1) return;
    const std::optional<double> rate = ParseSampleRate(ui.srTextField->text());
    if (!rate) return;  // only a positive rate can be used
    if (isEditing_)
        updateObject(*rate, rows.front());
    else
        insertObject(*rate, -1);
}

void CustomSRController::deleteSelected() {
    std::vector<double> doomed;
    for (int row : selectedRows()) doomed.push_back(customSampleRates_[row]);
    for (double rate : doomed) deleteObject(rate);
}

void CustomSRController::doOK() {
    plist::Array stored;
    for (double rate : customSampleRates_) stored.push_back(plist::Value(rate));
    defaults_.Set(kCustomSampleRatesKey, plist::Value(std::move(stored)));
    notifications_.Post(kUpdatedCustomSampleRatesNotification, this);
    const QRect frame = geometry();
    defaults_.Set(kFrameKey, plist::Value(QStringLiteral("{%1, %2, %3, %4}")
                                              .arg(frame.x())
                                              .arg(frame.y())
                                              .arg(frame.width())
                                              .arg(frame.height())
                                              .toStdString()));
    done(1);
}

void CustomSRController::doCancel() { done(0); }
