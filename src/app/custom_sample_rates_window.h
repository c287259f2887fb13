// The custom-sample-rates window: the user's extra sample rates, highest first,
// with undoable adding, editing and deleting. OK stores the list under "Custom
// Sample Rates" and tells the Define Conversion dialog; Cancel keeps the edits
// in the window for its next opening.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <vector>

#include "platform/notification_center.h"
#include "platform/user_defaults.h"

class QUndoStack;
namespace Ui {
class CustomSampleRates;
class addSheet;
}  // namespace Ui

class CustomSRController : public QDialog {
    Q_OBJECT

public:
    // `sheetRunner` runs the add sheet (unset: exec()); tests drive it there.
    CustomSRController(QWidget* parent, platform::UserDefaults& defaults,
                       platform::NotificationCenter& notifications,
                       std::function<int(QDialog&)> sheetRunner = {});
    ~CustomSRController() override;

    const std::vector<double>& customSampleRates() const { return customSampleRates_; }
    QUndoStack* undoStack() const { return undoStack_; }

    // Reloads the list from the user defaults.
    void csrUpdated();
    // Inserts a rate (index -1 appends), keeps the list highest first.
    void insertObject(double rate, int index);
    // Removes the first equal rate.
    void deleteObject(double rate);
    // Replaces the rate at `index`; the row selection moves with it.
    void updateObject(double rate, int index);
    void sort();

public slots:
    void doAdd();
    void deleteSelected();
    void doOK();
    void doCancel();

private:
    void reloadTable();
    void updateButtons();
    QList<int> selectedRows() const;
    void registerUndo(const QString& name, std::function<void()> undo,
                      std::function<void()> redo);

    platform::UserDefaults& defaults_;
    platform::NotificationCenter& notifications_;
    std::function<int(QDialog&)> sheetRunner_;
    platform::NotificationCenter::Token token_ = 0;
    std::unique_ptr<Ui::CustomSampleRates> ui_;
    QUndoStack* undoStack_;
    std::vector<double> customSampleRates_;
    bool isEditing_ = false;
    bool reloading_ = false;
    bool undoing_ = false;
};
