// The Define Conversion dialog: the one place where a conversion is edited.
// Every control writes straight into the edited record; what a chosen output
// type offers, forces and checks comes from its row of the file-type table and
// the rule functions of its dispatcher. OK stays disabled, with the reason in
// the information line, while the conversion cannot be confirmed.
//
// The caller makes one dialog, gives it the names of the other conversions and
// the record to edit, and runs it modally:
//     dialog.setNames(otherNames);
//     dialog.setConvSpec(record);            // a new record or a copy
//     if (dialog.exec() == 1) store(record);  // the record carries every edit
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/notification_center.h"
#include "platform/property_list.h"
#include "platform/user_defaults.h"
#include "soundfile/core_audio_types.h"

class Alerts;
class ConvSpec;
struct GainControls;
class QAbstractSlider;
class QComboBox;
class QLineEdit;
class QUndoStack;
class LAMEOptionsController;
class MPEGOptionsController;
class G729Controller;
class BWFAnnotationController;
class VOCSampleRateController;
namespace Ui {
class DefineConversion;
}

// Names of the notifications between the dialog and the custom-rates window.
inline constexpr char kUpdatedCustomSampleRatesNotification[] = "XWUpdatedCustomSampleRates";
inline constexpr char kCustomSampleRatesUpdatedNotification[] = "XWCustomSampleRatesUpdated";
// User-defaults keys of the dialog.
inline constexpr char kCustomSampleRatesKey[] = "Custom Sample Rates";
inline constexpr char kDefineConversionFrameKey[] = "Define Conversion Dialog Frame";

// The text of a sample rate as the rate fields and popup items show it (C
// locale, up to 12 significant digits), and its reading: only a positive,
// finite number is a rate.
QString FormatSampleRate(double rate);
std::optional<double> ParseSampleRate(const QString& text);
// Two rates are the same when they differ by less than this.
inline constexpr double kSampleRateTolerance = 0.00005;
// The 20 built-in rates, in the order of their popup tags 0 to 19.
const std::vector<double>& BuiltInSampleRates();

// What the dialog uses of the application, replaceable in tests.
struct DefineConvServices {
    platform::UserDefaults* defaults = nullptr;         // null: the standard store
    platform::NotificationCenter* notifications = nullptr;  // null: the default centre
    Alerts* alerts = nullptr;                           // null: message boxes
    // The mp3 encoder's genres (name -> number); unset: asked of the
    // encoder program that the probe finds (empty without one).
    std::function<std::map<std::string, int>()> genreList;
    // Runs a sheet or a small window modally and answers its result; unset:
    // QDialog::exec(). Tests drive the sheet's controls in here.
    std::function<int(QDialog&)> sheetRunner;
};

class DefineConvController : public QDialog {
    Q_OBJECT

public:
    using Services = DefineConvServices;

    // `fileTypeInfo` is the file-type table (quoted type code -> row); it must
    // outlive the dialog.
    DefineConvController(const plist::Dictionary& fileTypeInfo, QWidget* parent,
                         Services services = Services());
    ~DefineConvController() override;

    // The names of the other conversions; OK refuses a name among them.
    void setNames(std::set<std::string> names) { names_ = std::move(names); }
    // The record to edit (null between openings): clears the dialog's undo
    // actions and fills the controls from it.
    void setConvSpec(std::shared_ptr<ConvSpec> spec);
    const std::shared_ptr<ConvSpec>& convSpec() const { return convSpec_; }

    QUndoStack* undoStack() const { return undoStack_; }
    OSType currentFileType() const { return curFileType_; }
    QLineEdit* sampleRateTextField() const;
    platform::UserDefaults& defaults() const { return *defaults_; }
    std::map<std::string, int> genreList() const;
    // Runs a sheet over this dialog, window-modal.
    int runSheet(QDialog& sheet);

    // Building blocks, public for the option sheets and tests.
    const plist::Dictionary* rowForType(OSType type) const;
    const plist::Dictionary* updateUIForFileType(OSType type);
    void updateUI();
    void setConversionName(const QString& name);
    void setFileTypeSpecificsValid(bool valid);
    void checkConsistency();
    void handleSampleRateTextFieldDependencies();
    void handleSampleRateSettings();
    const std::vector<double>& customSampleRates() const { return customSampleRates_; }

public slots:
    void doFileTypePopUp();
    void doConvertFileTypeCheckbox();
    void doConversionNameTextField();
    void doAutomaticName();
    void doCommentDisclosureTriangle();
    void doOptionsButton();
    void ok();
    void cancel();

    void doConvertSampleRateCheckbox();
    void doSampleRatePopUp();
    void doSampleRateTextField();
    void doPolyphasePopUp();
    void doNumOfBitsCheckbox();
    void doNumOfBitsPopUp();
    void doChannelHandlingCheckbox();
    void doChannelHandlingPopUp();
    void doExtractionCheckbox();
    void doExtractionPopUp();
    void doStartAtTextField();
    void doLengthTextField();
    void doFadeCheckbox();
    void doFilenameExtCheckbox();
    void doNameExtensionTextField();
    void doCopyExtrasCheckbox();
    void doDitherCheckbox();
    void doGateCheckbox();
    void doBoostCheckbox();
    void doBoostPopUp();
    void doFirstNormalizeCheckbox();
    void updatedCustomSampleRates();
    // Escape and the window's close box cancel like the Cancel button.
    void reject() override;

private:
    // One slider and field pair and the property it edits.
    struct SliderPair {
        QAbstractSlider* slider;
        QLineEdit* field;
        std::function<double()> get;
        std::function<void(float)> set;
        double displayScale;  // shown value = stored value x scale
    };

    void loadWindow();
    void connectActions();
    void buildFileTypeMenu();
    void refreshFileTypeItemEnabling();
    void cacheBuiltInSampleRates();
    void setupSampleRatePopUp();
    void refreshSampleRateItemEnabling();
    void syncSampleRatePopUpWithField();
    void updateSampleRateTextField();
    double sampleRateFieldValue() const;
    void fillPopUp(QComboBox* popup, const plist::Value* items);

    void forceSampleRate();
    void forceWordSize();
    void forceChannels();
    void selectClosestValidSampleRate(const plist::Dictionary& row);
    void selectClosestValidWordLength(const plist::Dictionary& row);
    void selectClosestValidChannelHandling(const plist::Dictionary& row);

    // The conversion and the name-extension field take the row's "extension".
    void takeNameExtensionFrom(const plist::Dictionary* row);
    void handleConvertFileTypeCheckboxDependencies();
    void handleConvertSampleRateCheckboxDependencies();
    void handleSampleRatePopUpDependencies();
    void handleNumOfBitsCheckboxDependencies();
    void handleNumOfBitsSettings();
    void handleChannelHandlingCheckboxDependencies();
    void handleChannelHandlingSettings();
    void handleExtractionCheckboxDependencies();
    void handleExtractionPopUpDependencies();
    void storeExtractionFlags();
    void handleFadeCheckboxDependencies();
    void handleFilenameExtCheckboxDependencies();
    void handleGateCheckboxDependencies();
    void handleBoostCheckboxDependencies();
    void handleBoostPopUpDependencies();
    void handleFirstNormalizeCheckboxDependencies();
    GainControls gainControls() const;
    void setCommentAreaOpen(bool open);
    void commentTextChanged();
    void validateOK();
    QString okRefusal();
    void fillPair(const SliderPair& pair);
    void storeCustomSampleRates();
    void closeDialog();

    const plist::Dictionary& fileTypeInfo_;
    Services services_;
    platform::UserDefaults* defaults_;
    platform::NotificationCenter* notifications_;
    platform::NotificationCenter::Token customRatesToken_ = 0;
    std::unique_ptr<Ui::DefineConversion> ui_;
    QUndoStack* undoStack_;
    std::set<std::string> names_;
    std::shared_ptr<ConvSpec> convSpec_;
    OSType curFileType_;
    struct BuiltInItem {
        QString text;
        int tag;
    };
    std::vector<BuiltInItem> sampleRates_;
    std::vector<double> customSampleRates_;
    bool sampleRateForced_ = false;
    bool wordSizeForced_ = false;
    bool channelsForced_ = false;
    bool windowLoaded_ = false;
    bool uiUpdated_ = false;
    bool expanded_ = true;
    bool fillingComment_ = false;
    std::vector<SliderPair> pairs_;
    std::unique_ptr<BWFAnnotationController> bwfAnnotationController_;
    std::unique_ptr<VOCSampleRateController> vocSampleRateController_;
    std::unique_ptr<LAMEOptionsController> lameOptionsController_;
    std::unique_ptr<G729Controller> g729Controller_;
    std::unique_ptr<MPEGOptionsController> mpegOptionsController_;
};
