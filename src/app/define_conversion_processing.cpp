// The Define Conversion dialog's other processing controls: word length and
// channel handling with their types' rules, compact/extract/snip, fades, the
// name extension, extras, dither, gate and gain.
#include "app/define_conversion_dialog.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "app/define_conversion_support.h"
#include "app/processing_rules.h"
#include "conversion/cconv_spec.h"
#include "conversion/conv_spec.h"
#include "conversion/type_rules.h"
#include "soundfile/registry.h"
#include "ui_define_conversion_dialog.h"

using namespace dialog_support;

// ---------------------------------------------------------------------------
// Word length and channels

void DefineConvController::handleNumOfBitsCheckboxDependencies() {
    ui_->numBitsPopUp->setEnabled(ui_->numOfBitsCheckBox->isChecked());
}

void DefineConvController::doNumOfBitsCheckbox() {
    if (!convSpec_) return;
    const bool on = ui_->numOfBitsCheckBox->isChecked();
    convSpec_->setNeedsNewWordLength(on);
    handleNumOfBitsCheckboxDependencies();
    handleNumOfBitsSettings();
    if (on) doNumOfBitsPopUp();
    checkConsistency();
}

void DefineConvController::doNumOfBitsPopUp() {
    if (!convSpec_) return;
    convSpec_->setWordLength(SelectedTag(ui_->numBitsPopUp));
    checkConsistency();
}

void DefineConvController::handleNumOfBitsSettings() {
    SoundFileDispatcherPtr dispatcher = GetSoundFileDispatcher(curFileType_);
    if (!convSpec_ || !dispatcher || !dispatcher->hasHandleWordLengthFunc()) return;
    CConvSpec facade(convSpec_);
    QComboBox* popup = ui_->numBitsPopUp;
    dispatcher->callHandleWordLengthSettings(&facade, popup->currentIndex(),
                                             popup->currentText().toStdString(),
                                             SelectedTag(popup));
}

void DefineConvController::handleChannelHandlingCheckboxDependencies() {
    ui_->channelHandlingPopUp->setEnabled(ui_->channelHandlingCheckBox->isChecked());
}

void DefineConvController::doChannelHandlingCheckbox() {
    if (!convSpec_) return;
    const bool on = ui_->channelHandlingCheckBox->isChecked();
    convSpec_->setNeedsChannelTreat(on);
    if (on)
        doChannelHandlingPopUp();
    else
        convSpec_->setChannelTreat(0);
    handleChannelHandlingCheckboxDependencies();
    handleChannelHandlingSettings();
    checkConsistency();
}

void DefineConvController::doChannelHandlingPopUp() {
    if (!convSpec_) return;
    convSpec_->setChannelTreat(SelectedTag(ui_->channelHandlingPopUp));
    checkConsistency();
}

void DefineConvController::handleChannelHandlingSettings() {
    SoundFileDispatcherPtr dispatcher = GetSoundFileDispatcher(curFileType_);
    if (!convSpec_ || !dispatcher || !dispatcher->hasHandleChannelFunc()) return;
    CConvSpec facade(convSpec_);
    QComboBox* popup = ui_->channelHandlingPopUp;
    dispatcher->callHandleChannelSettings(&facade, popup->currentIndex(),
                                          popup->currentText().toStdString(), SelectedTag(popup));
}

// ---------------------------------------------------------------------------
// Compact, extract, snip; fades; extension, extras, dither

void DefineConvController::handleExtractionCheckboxDependencies() {
    Ui::DefineConversion& u = *ui_;
    const bool on = u.extractionStripOrSnipCheckBox->isChecked();
    // The popup is the box's title and stays enabled with it, so that the box
    // never looks disabled; only the chosen mode's fields follow the box.
    for (QWidget* w : std::initializer_list<QWidget*>{
             u.startAtTextField, u.lengthTextField, u.safetyMarginTextField, u.safetyMarginSlider,
             u.safetyMarginLabel, u.safetyMarginUnitLabel, u.startAtLabel, u.startAtUnitLabel,
             u.lengthLabel, u.lengthUnitLabel})
        w->setEnabled(on);
}

void DefineConvController::doExtractionCheckbox() {
    if (!convSpec_) return;
    handleExtractionCheckboxDependencies();
    storeExtractionFlags();
}

void DefineConvController::handleExtractionPopUpDependencies() {
    // The Tab key keeps the window's order from top to bottom: the fields of
    // the pages not shown are passed over.
    ui_->extractionTabView->setCurrentIndex(ui_->extractionPopUp->currentIndex());
}

void DefineConvController::doExtractionPopUp() {
    handleExtractionPopUpDependencies();
    if (!convSpec_) return;
    // Choosing a mode asks for it: the box is ticked.
    if (!ui_->extractionStripOrSnipCheckBox->isChecked()) {
        ui_->extractionStripOrSnipCheckBox->setChecked(true);
        handleExtractionCheckboxDependencies();
    }
    storeExtractionFlags();
}

void DefineConvController::storeExtractionFlags() {
    const ExtractionFlags flags = ExtractionFlagsFor(
        {ui_->extractionStripOrSnipCheckBox->isChecked(), ui_->extractionPopUp->currentIndex()});
    convSpec_->setNeedsExtraction(flags.needsExtraction);
    convSpec_->setNeedsStrip(flags.needsStrip);
    convSpec_->setNeedsSnip(flags.needsSnip);
}

void DefineConvController::doStartAtTextField() {
    if (!convSpec_) return;
    const float start = FieldValue(ui_->startAtTextField);
    convSpec_->setSnipFrom(start);
    convSpec_->setSnipTo(start + FieldValue(ui_->lengthTextField));
}

void DefineConvController::doLengthTextField() {
    if (!convSpec_) return;
    convSpec_->setSnipTo(convSpec_->snipFrom() + FieldValue(ui_->lengthTextField));
}

void DefineConvController::handleFadeCheckboxDependencies() {
    Ui::DefineConversion& u = *ui_;
    const bool on = u.fadeCheckBox->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{
             u.fadeInSlider, u.fadeInTextField, u.fadeOutSlider, u.fadeOutTextField, u.fadeInLabel,
             u.fadeInMsecLabel, u.fadeOutLabel, u.fadeOutMsecLabel})
        w->setEnabled(on);
}

void DefineConvController::doFadeCheckbox() {
    if (!convSpec_) return;
    handleFadeCheckboxDependencies();
    convSpec_->setNeedsFades(ui_->fadeCheckBox->isChecked());
}

void DefineConvController::handleFilenameExtCheckboxDependencies() {
    ui_->filenameExtensionTextField->setEnabled(ui_->filenameExtensionCheckBox->isChecked());
}

void DefineConvController::doFilenameExtCheckbox() {
    if (!convSpec_) return;
    handleFilenameExtCheckboxDependencies();
    convSpec_->setNeedsNameExtension(ui_->filenameExtensionCheckBox->isChecked());
    checkConsistency();
}

void DefineConvController::doNameExtensionTextField() {
    if (!convSpec_) return;
    convSpec_->setNameExtension(ui_->filenameExtensionTextField->text().toStdString());
    ui_->filenameExtensionTextField->setText(QString::fromStdString(
        NameExtensionFormatter::stringForObjectValue(convSpec_->nameExtension())));
}

void DefineConvController::doCopyExtrasCheckbox() {
    if (convSpec_) convSpec_->setCopyExtras(ui_->copyCheckBox->isChecked());
}

void DefineConvController::doDitherCheckbox() {
    if (convSpec_) convSpec_->setNeedsRedither(ui_->ditherCheckBox->isChecked());
}

// ---------------------------------------------------------------------------
// Gate and gain

void DefineConvController::handleGateCheckboxDependencies() {
    Ui::DefineConversion& u = *ui_;
    const bool on = u.gateCheckBox->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{
             u.lowerThanSlider, u.lowerThanTextField, u.longerThanSlider, u.longerThanTextField,
             u.attenuateSlider, u.attenuateTextField, u.longerLabel, u.longerUnitLabel,
             u.lowerLabel, u.lowerUnitLabel, u.attenuateLabel, u.attenuateUnitLabel})
        w->setEnabled(on);
    u.boostLabel->setText(on ? tr("non-silences with") : tr("with"));
}

void DefineConvController::doGateCheckbox() {
    if (!convSpec_) return;
    handleGateCheckboxDependencies();
    const GainFlags flags = GainFlagsFor(gainControls());
    convSpec_->setNeedsGate(flags.needsGate);
    convSpec_->setNeedsGain(flags.needsGain);
}

GainControls DefineConvController::gainControls() const {
    return {ui_->gateCheckBox->isChecked(), ui_->boostCheckBox->isChecked(),
            ui_->boostPopUp->currentIndex(), ui_->firstNormalizeCheckBox->isChecked()};
}

void DefineConvController::handleBoostCheckboxDependencies() {
    Ui::DefineConversion& u = *ui_;
    const bool on = u.boostCheckBox->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{
             u.boostPopUp, u.firstNormalizeCheckBox, u.amplifySlider, u.amplifyTextField,
             u.limitSlider, u.limitTextField, u.ceilingSlider, u.ceilingTextField, u.amplifyLabel,
             u.amplifyUnitLabel, u.limitLabel, u.limitUnitLabel, u.ceilingLabel,
             u.ceilingUnitLabel, u.boostLabel})
        w->setEnabled(on);
}

void DefineConvController::doBoostCheckbox() {
    if (!convSpec_) return;
    handleBoostCheckboxDependencies();
    const GainFlags flags = GainFlagsFor(gainControls());
    convSpec_->setNeedsGain(flags.needsGain);
    convSpec_->setNeedsCompressor(flags.needsCompressor);
    convSpec_->setNeedsNormalize(flags.needsNormalize);
}

void DefineConvController::handleBoostPopUpDependencies() {
    ui_->boostTabView->setCurrentIndex(ui_->boostPopUp->currentIndex());
}

void DefineConvController::doBoostPopUp() {
    handleBoostPopUpDependencies();
    if (!convSpec_) return;
    const GainFlags flags = GainFlagsFor(gainControls());
    convSpec_->setNeedsCompressor(flags.needsCompressor);
    convSpec_->setNeedsNormalize(flags.needsNormalize);
}

void DefineConvController::handleFirstNormalizeCheckboxDependencies() {
    ui_->amplifyLabel->setText(ui_->firstNormalizeCheckBox->isChecked() ? tr("then amplify")
                                                                        : tr("amplify"));
}

void DefineConvController::doFirstNormalizeCheckbox() {
    handleFirstNormalizeCheckboxDependencies();
    if (!convSpec_) return;
    convSpec_->setNeedsNormalize(GainFlagsFor(gainControls()).needsNormalize);
}
