// The Define Conversion dialog's sample rate: the built-in and custom rates of
// the popup, the closest valid rate of a type, the checkbox, popup and field
// with the custom rates typed into it, the quality popup and the type's rule.
#include "app/define_conversion_dialog.h"

#include <QComboBox>
#include <QLineEdit>
#include <QLocale>
#include <algorithm>
#include <cmath>

#include "app/define_conversion_support.h"
#include "app/processing_rules.h"
#include "conversion/cconv_spec.h"
#include "conversion/conv_spec.h"
#include "conversion/type_rules.h"
#include "soundfile/registry.h"
#include "ui_define_conversion_dialog.h"

using namespace dialog_support;

namespace dialog_support {

std::vector<double> ReadCustomRates(const platform::UserDefaults& defaults) {
    std::vector<double> rates;
    const plist::Value stored = defaults.Get(kCustomSampleRatesKey);
    if (const plist::Array* array = stored.array()) {
        for (const plist::Value& v : *array) {
            const double rate = v.asReal(-1);
            // A rate that no conversion could use is left out.
            if (v.isNumber() && std::isfinite(rate) && rate > 0) rates.push_back(rate);
        }
    }
    return rates;
}

}  // namespace dialog_support

QString FormatSampleRate(double rate) { return QLocale::c().toString(rate, 'g', 12); }

std::optional<double> ParseSampleRate(const QString& text) {
    bool ok = false;
    const double v = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(v) || v <= 0) return std::nullopt;
    return v;
}

const std::vector<double>& BuiltInSampleRates() {
    static const std::vector<double> rates = {
        192000, 176400, 96000, 88200, 48000, 47952, 44100, 44055.9, 37800, 32000,
        24000,  22554.545454545456, 22050, 18900, 16000, 12000, 11025, 8000, 6000, 5512.5};
    return rates;
}

// ---------------------------------------------------------------------------
// The popup's items

void DefineConvController::cacheBuiltInSampleRates() {
    if (!sampleRates_.empty()) return;
    QComboBox* popup = ui_->sampleRatePopUp;
    for (int i = 0; i < popup->count(); ++i) {
        if (IsSeparator(popup, i))
            sampleRates_.push_back({QStringLiteral("-"), 0});
        else
            sampleRates_.push_back({popup->itemText(i), i});
    }
}

void DefineConvController::setupSampleRatePopUp() {
    QComboBox* popup = ui_->sampleRatePopUp;
    popup->clear();
    for (const BuiltInItem& item : sampleRates_) {
        if (item.text == QLatin1String("-"))
            popup->insertSeparator(popup->count());
        else
            popup->addItem(item.text, item.tag);
    }
    if (!customSampleRates_.empty()) {
        popup->insertSeparator(popup->count());
        for (double rate : customSampleRates_) popup->addItem(FormatSampleRate(rate), -1);
    }
    popup->setCurrentIndex(0);
    refreshSampleRateItemEnabling();
}

void DefineConvController::refreshSampleRateItemEnabling() {
    QComboBox* popup = ui_->sampleRatePopUp;
    const plist::Array* discrete = RowArray(rowForType(curFileType_), "discreteSampleRates");
    const std::vector<double>& builtIn = BuiltInSampleRates();
    for (int i = 0; i < popup->count(); ++i) {
        if (IsSeparator(popup, i)) continue;
        bool enabled = true;
        if (discrete) {
            const int tag = ItemTag(popup, i);
            enabled = false;
            if (tag >= 0 && tag < static_cast<int>(builtIn.size())) {
                for (const plist::Value& rate : *discrete)
                    if (std::fabs(rate.asReal() - builtIn[tag]) < kSampleRateTolerance)
                        enabled = true;
            }
        }
        SetItemEnabled(popup, i, enabled);
    }
}
void DefineConvController::selectClosestValidSampleRate(const plist::Dictionary& row) {
    const double r = sampleRateFieldValue();
    const double max = RowReal(&row, "sampleRateMax");
    const double min = RowReal(&row, "sampleRateMin");
    const QString fallback = FormatSampleRate(RowReal(&row, "sampleRateDefault"));
    if (const plist::Array* discrete = RowArray(&row, "discreteSampleRates")) {
        const double current = convSpec_ ? convSpec_->sampleRate() : r;
        bool matches = false;
        for (const plist::Value& rate : *discrete)
            if (std::fabs(rate.asReal() - current) < kSampleRateTolerance) matches = true;
        if (!matches) {
            ui_->sampleRateTextField->setText(fallback);
            return;
        }
    }
    if (!(r <= max + kSampleRateTolerance && r >= min - kSampleRateTolerance))
        ui_->sampleRateTextField->setText(fallback);
}

// ---------------------------------------------------------------------------
// The sample-rate controls

double DefineConvController::sampleRateFieldValue() const {
    bool ok = false;
    const double v = QLocale::c().toDouble(ui_->sampleRateTextField->text().trimmed(), &ok);
    return ok && std::isfinite(v) ? v : 0;
}

// The field takes typing only while it is editable, and shows it: a field that
// only refused keys would look, and take the focus, as if it were editable.
void DefineConvController::updateSampleRateTextField() {
    const bool editable =
        SampleRateFieldEditable(ui_->convertSampleRateCheckBox->isChecked(),
                                RowArray(rowForType(curFileType_), "discreteSampleRates"));
    ui_->sampleRateTextField->setReadOnly(!editable);
    ui_->sampleRateTextField->setEnabled(editable);
}

void DefineConvController::handleConvertSampleRateCheckboxDependencies() {
    const bool on = ui_->convertSampleRateCheckBox->isChecked();
    updateSampleRateTextField();
    ui_->sampleRatePopUp->setEnabled(on);
    ui_->polyphasePopUp->setEnabled(on);
    ui_->sampleRateToLabel->setEnabled(on);
    ui_->usingQualityLabel->setEnabled(on);
}

void DefineConvController::doConvertSampleRateCheckbox() {
    if (!convSpec_) return;
    convSpec_->setNeedsSampleRateConversion(ui_->convertSampleRateCheckBox->isChecked());
    handleConvertSampleRateCheckboxDependencies();
    checkConsistency();
}

void DefineConvController::handleSampleRatePopUpDependencies() {
    QComboBox* popup = ui_->sampleRatePopUp;
    const int tag = SelectedTag(popup);
    const std::vector<double>& builtIn = BuiltInSampleRates();
    if (tag >= 0 && tag < static_cast<int>(builtIn.size())) {
        ui_->sampleRateTextField->setText(FormatSampleRate(builtIn[tag]));
    } else if (auto rate = ParseSampleRate(popup->currentText())) {
        ui_->sampleRateTextField->setText(FormatSampleRate(*rate));
    }
}

void DefineConvController::doSampleRatePopUp() {
    handleSampleRatePopUpDependencies();
    checkConsistency();
}

// Selects the built-in or custom item of the field's rate, when there is one.
void DefineConvController::syncSampleRatePopUpWithField() {
    QComboBox* popup = ui_->sampleRatePopUp;
    const double v = sampleRateFieldValue();
    const std::vector<double>& builtIn = BuiltInSampleRates();
    for (size_t i = 0; i < builtIn.size(); ++i) {
        if (std::fabs(builtIn[i] - v) < kSampleRateTolerance) {
            const int index = popup->findData(static_cast<int>(i));
            if (index >= 0) popup->setCurrentIndex(index);
            return;
        }
    }
    for (double rate : customSampleRates_) {
        if (std::fabs(rate - v) < kSampleRateTolerance) {
            const int index = popup->findText(FormatSampleRate(rate));
            if (index >= 0) popup->setCurrentIndex(index);
            return;
        }
    }
}

void DefineConvController::handleSampleRateTextFieldDependencies() {
    const double v = sampleRateFieldValue();
    auto known = [v](double rate) { return std::fabs(rate - v) < kSampleRateTolerance; };
    const std::vector<double>& builtIn = BuiltInSampleRates();
    if (std::any_of(builtIn.begin(), builtIn.end(), known) ||
        std::any_of(customSampleRates_.begin(), customSampleRates_.end(), known)) {
        syncSampleRatePopUpWithField();
        return;
    }
    const std::optional<double> typed = ParseSampleRate(ui_->sampleRateTextField->text());
    if (!typed) return;  // not a positive rate: never offered again
    customSampleRates_.push_back(*typed);
    storeCustomSampleRates();
    setupSampleRatePopUp();
    const int index = ui_->sampleRatePopUp->findText(FormatSampleRate(*typed));
    if (index >= 0) ui_->sampleRatePopUp->setCurrentIndex(index);
}

void DefineConvController::storeCustomSampleRates() {
    std::sort(customSampleRates_.begin(), customSampleRates_.end(), std::greater<double>());
    plist::Array stored;
    for (double rate : customSampleRates_) stored.push_back(plist::Value(rate));
    defaults_->Set(kCustomSampleRatesKey, plist::Value(std::move(stored)));
    notifications_->Post(kCustomSampleRatesUpdatedNotification, this);
}

void DefineConvController::doSampleRateTextField() {
    if (!convSpec_) return;
    handleSampleRateTextFieldDependencies();
    checkConsistency();
}

void DefineConvController::doPolyphasePopUp() {
    if (convSpec_) convSpec_->setSampleRateConvertQuality(SelectedTag(ui_->polyphasePopUp));
}

void DefineConvController::updatedCustomSampleRates() {
    customSampleRates_ = ReadCustomRates(*defaults_);
    setupSampleRatePopUp();
    syncSampleRatePopUpWithField();
}

void DefineConvController::handleSampleRateSettings() {
    if (!convSpec_) return;
    convSpec_->setSampleRate(sampleRateFieldValue());
    SoundFileDispatcherPtr dispatcher = GetSoundFileDispatcher(curFileType_);
    if (!dispatcher || !dispatcher->hasSampleRateFunc()) return;
    CConvSpec facade(convSpec_);
    QComboBox* popup = ui_->sampleRatePopUp;
    dispatcher->callHandleSampleRateSettings(&facade, popup->currentIndex(),
                                             popup->currentText().toStdString(),
                                             SelectedTag(popup));
}
