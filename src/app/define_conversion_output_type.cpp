// The Define Conversion dialog's output type: the type popup's menu and item
// enabling, applying a type's row to the controls, the closest valid word
// length and channel handling, choosing a type with its forcing, and the
// convert-file-type checkbox.
#include "app/define_conversion_dialog.h"

#include <QAbstractButton>

#include "app/define_conversion_support.h"
#include "conversion/cconv_spec.h"
#include "conversion/conv_spec.h"
#include "conversion/type_rules.h"
#include "platform/resource_dir.h"
#include "soundfile/registry.h"
#include "soundfile/type_codes.h"
#include "ui_define_conversion_dialog.h"

using namespace dialog_support;

// ---------------------------------------------------------------------------
// The type popup

const plist::Dictionary* DefineConvController::rowForType(OSType type) const {
    auto it = fileTypeInfo_.find(HFSTypeString(type));
    return it == fileTypeInfo_.end() ? nullptr : it->second.dict();
}

void DefineConvController::fillPopUp(QComboBox* popup, const plist::Value* items) {
    popup->clear();
    const plist::Array* array = items ? items->array() : nullptr;
    if (!array) return;
    for (const plist::Value& item : *array) {
        const std::string text = item.find("text") ? item.find("text")->asString() : std::string();
        if (text == "-") {
            popup->insertSeparator(popup->count());
            continue;
        }
        const plist::Value* tag = item.find("tag");
        popup->addItem(QString::fromStdString(text),
                       QVariant(tag ? static_cast<int>(tag->asInteger()) : 0));
    }
}

void DefineConvController::buildFileTypeMenu() {
    QComboBox* popup = ui_->fileTypePopUp;
    popup->clear();
    const plist::Value menus = plist::ReadFile(platform::ResourcePath("menus.plist"));
    const plist::Value* items = menus.find("popup");
    if (!items || !items->array()) return;
    for (const plist::Value& item : *items->array()) {
        const std::string text = item.asString();
        if (text == "-") {
            popup->insertSeparator(popup->count());
            continue;
        }
        uint32_t tag = 0;
        for (const auto& [key, row] : fileTypeInfo_) {
            const plist::Value* rowText = row.find("text");
            if (rowText && rowText->asString() == text) {
                tag = HFSTypeCode(key);
                break;
            }
        }
        popup->addItem(QString::fromStdString(text), QVariant(tag));
    }
    refreshFileTypeItemEnabling();
}

void DefineConvController::refreshFileTypeItemEnabling() {
    QComboBox* popup = ui_->fileTypePopUp;
    for (int i = 0; i < popup->count(); ++i) {
        if (IsSeparator(popup, i)) continue;
        const OSType tag = popup->itemData(i).toUInt();
        SetItemEnabled(popup, i, tag != 0 && RowBool(rowForType(tag), "canBeWritten"));
    }
}
// ---------------------------------------------------------------------------
// Applying a type

const plist::Dictionary* DefineConvController::updateUIForFileType(OSType type) {
    static const plist::Dictionary kEmptyRow;
    const plist::Dictionary* found = rowForType(type);
    const plist::Dictionary& row = found ? *found : kEmptyRow;
    Ui::DefineConversion& u = *ui_;

    selectClosestValidSampleRate(row);
    syncSampleRatePopUpWithField();
    updateSampleRateTextField();
    refreshSampleRateItemEnabling();

    u.numOfBitsCheckBox->setText(RowString(&row, "numBitsCheckBoxTitle"));
    fillPopUp(u.numBitsPopUp, RowValue(&row, "numBitsPopup"));
    selectClosestValidWordLength(row);

    fillPopUp(u.channelHandlingPopUp, RowValue(&row, "channelHandlingPopup"));
    selectClosestValidChannelHandling(row);

    u.optionsButton->setText(RowString(&row, "optionsButtonTitle"));
    u.optionsTabView->setCurrentIndex(RowBool(&row, "optionsButtonEnabled") ? 0 : 1);

    if (convSpec_ && !convSpec_->specificsValid())
        convSpec_->setSpecificsValid(!RowBool(&row, "specificsMustBeValid"));
    return found;
}

void DefineConvController::selectClosestValidWordLength(const plist::Dictionary& row) {
    QComboBox* popup = ui_->numBitsPopUp;
    if (convSpec_) {
        CConvSpec facade(convSpec_);
        SoundFileDispatcherPtr dispatcher = GetSoundFileDispatcher(curFileType_);
        if (dispatcher && dispatcher->hasWordLengthIndexFunc()) {
            const int index = dispatcher->callWordLengthIndexFunc(&facade);
            if (index != -1 && index >= 0 && index < popup->count()) {
                popup->setCurrentIndex(index);
                return;
            }
        }
        const int found = popup->findData(static_cast<int>(convSpec_->wordLength()));
        if (found >= 0) {
            popup->setCurrentIndex(found);
            return;
        }
    }
    SelectIndex(popup, RowInteger(&row, "numBitsPopupDefault"));
}

void DefineConvController::selectClosestValidChannelHandling(const plist::Dictionary& row) {
    QComboBox* popup = ui_->channelHandlingPopUp;
    if (convSpec_) {
        CConvSpec facade(convSpec_);
        SoundFileDispatcherPtr dispatcher = GetSoundFileDispatcher(curFileType_);
        if (dispatcher && dispatcher->hasChannelIndexFunc()) {
            const int index = dispatcher->callChannelIndexFunc(&facade);
            if (index != -1 && index >= 0 && index < popup->count() && !IsSeparator(popup, index)) {
                popup->setCurrentIndex(index);
                return;
            }
        }
        const int found = popup->findData(static_cast<int>(convSpec_->channelTreat()));
        if (found >= 0) {
            popup->setCurrentIndex(found);
            return;
        }
    }
    SelectIndex(popup, RowInteger(&row, "channelHandlingPopupDefault"));
}

// ---------------------------------------------------------------------------
// Choosing a type

void DefineConvController::doFileTypePopUp() {
    if (!convSpec_) return;
    Ui::DefineConversion& u = *ui_;
    if (sampleRateForced_) {
        sampleRateForced_ = false;
        u.convertSampleRateCheckBox->setChecked(false);
        convSpec_->setNeedsSampleRateConversion(false);
        handleConvertSampleRateCheckboxDependencies();
    }
    if (wordSizeForced_) {
        wordSizeForced_ = false;
        u.numOfBitsCheckBox->setChecked(false);
        convSpec_->setNeedsNewWordLength(false);
        handleNumOfBitsCheckboxDependencies();
    }
    if (channelsForced_) {
        channelsForced_ = false;
        u.channelHandlingCheckBox->setChecked(false);
        convSpec_->setNeedsChannelTreat(false);
        handleChannelHandlingCheckboxDependencies();
    }
    curFileType_ = u.convertFileTypeCheckBox->isChecked()
                       ? static_cast<OSType>(u.fileTypePopUp->currentData().toUInt())
                       : FourCC("AIFF");
    convSpec_->setSpecificsValid(false);
    const plist::Dictionary* row = updateUIForFileType(curFileType_);
    convSpec_->setOutputFileType(curFileType_);
    takeNameExtensionFrom(row);
    if (RowBool(row, "forceSampleRate")) forceSampleRate();
    if (RowBool(row, "forceWordSize")) forceWordSize();
    if (RowBool(row, "forceChannels")) forceChannels();
    checkConsistency();
}

void DefineConvController::forceSampleRate() {
    QAbstractButton* box = ui_->convertSampleRateCheckBox;
    sampleRateForced_ = !box->isChecked();
    if (!box->isChecked())
        box->click();
    else
        doConvertSampleRateCheckbox();
}

void DefineConvController::forceWordSize() {
    QAbstractButton* box = ui_->numOfBitsCheckBox;
    wordSizeForced_ = !box->isChecked();
    if (!box->isChecked())
        box->click();
    else
        doNumOfBitsCheckbox();
}

void DefineConvController::forceChannels() {
    QAbstractButton* box = ui_->channelHandlingCheckBox;
    channelsForced_ = !box->isChecked();
    if (!box->isChecked())
        box->click();
    else
        doChannelHandlingCheckbox();
}

void DefineConvController::takeNameExtensionFrom(const plist::Dictionary* row) {
    convSpec_->setNameExtension(RowString(row, "extension").toStdString());
    ui_->filenameExtensionTextField->setText(QString::fromStdString(
        NameExtensionFormatter::stringForObjectValue(convSpec_->nameExtension())));
}

void DefineConvController::doConvertFileTypeCheckbox() {
    if (!convSpec_) return;
    const bool on = ui_->convertFileTypeCheckBox->isChecked();
    convSpec_->setNeedsStrictFileType(on);
    handleConvertFileTypeCheckboxDependencies();
    // Ticked, the type the popup shows is the type chosen, even when the user
    // keeps it: its extension comes with it, as when it is picked.
    if (on) takeNameExtensionFrom(rowForType(curFileType_));
    ui_->filenameExtensionCheckBox->setChecked(on);
    doFilenameExtCheckbox();
}

void DefineConvController::handleConvertFileTypeCheckboxDependencies() {
    const bool on = ui_->convertFileTypeCheckBox->isChecked();
    ui_->fileTypePopUp->setEnabled(on);
    ui_->fileTypeToLabel->setEnabled(on);
}
