// The Define Conversion dialog's Options button with its option sheets, and
// the consistency check: the types' rules run again and OK is enabled, or the
// first reason it cannot be is shown.
#include "app/define_conversion_dialog.h"

#include <QDialog>

#include "app/define_conversion_support.h"
#include "app/option_sheets.h"
#include "conversion/cconv_spec.h"
#include "conversion/conv_spec.h"
#include "conversion/type_rules.h"
#include "formats/mpeg/drop_mp3_file.h"
#include "soundfile/registry.h"
#include "soundfile/type_codes.h"
#include "ui_define_conversion_dialog.h"

using namespace dialog_support;

namespace {

// Clears a record's validity verdict and answers it (absent: valid) with its message.
struct Verdict {
    bool invalid = false;
    QString message;
};
Verdict TakeVerdict(ConvSpec& spec, const char* flagKey, const char* messageKey) {
    Verdict verdict;
    const plist::Value flag = spec.specificsValue(flagKey);
    verdict.invalid = !flag.isNull() && !flag.asBool();
    verdict.message = QString::fromStdString(spec.specificsValue(messageKey).asString());
    spec.setSpecificsValue(flagKey, plist::Value());
    spec.setSpecificsValue(messageKey, plist::Value());
    return verdict;
}

}  // namespace

// ---------------------------------------------------------------------------
// Options and validation

void DefineConvController::doOptionsButton() {
    if (!convSpec_) return;
    int result = 0;
    switch (curFileType_) {
        case FourCC("BWLN"):
        case FourCC("BWMP"):
            if (!bwfAnnotationController_)
                bwfAnnotationController_ = std::make_unique<BWFAnnotationController>(this);
            result = bwfAnnotationController_->run();
            break;
        case FourCC("DMP3"):
            if (!lameOptionsController_)
                lameOptionsController_ = std::make_unique<LAMEOptionsController>(this);
            result = lameOptionsController_->run();
            break;
        case FourCC("G729"):
            if (!g729Controller_) g729Controller_ = std::make_unique<G729Controller>(this);
            result = g729Controller_->run();
            break;
        case FourCC("MPG1"):
        case FourCC("MPG2"):
            if (!mpegOptionsController_)
                mpegOptionsController_ = std::make_unique<MPEGOptionsController>(this);
            result = mpegOptionsController_->run();
            break;
        case FourCC("VOC "):
            if (!vocSampleRateController_)
                vocSampleRateController_ = std::make_unique<VOCSampleRateController>(this);
            result = vocSampleRateController_->run();
            break;
        case FourCC("Mp3 "):
        case FourCC("QTQ2"):
        case FourCC("QTQP"): setFileTypeSpecificsValid(true); return;
        default: return;
    }
    // A sheet may have replaced the per-type block: the rules write their part again.
    if (result == 1) checkConsistency();
}

int DefineConvController::runSheet(QDialog& sheet) {
    sheet.setWindowModality(Qt::WindowModal);
    return services_.sheetRunner ? services_.sheetRunner(sheet) : sheet.exec();
}

std::map<std::string, int> DefineConvController::genreList() const {
    if (services_.genreList) return services_.genreList();
    const std::string path = CDropMP3File::LAMEEncoderPath();
    if (path.empty()) return {};
    return CDropMP3File::LAMEEncoderGenreList(path);
}

void DefineConvController::setFileTypeSpecificsValid(bool valid) {
    if (!convSpec_) return;
    convSpec_->setSpecificsValid(valid);
    checkConsistency();
}

void DefineConvController::checkConsistency() {
    if (!convSpec_) return;
    handleSampleRateSettings();
    handleNumOfBitsSettings();
    handleChannelHandlingSettings();
    validateOK();
}

void DefineConvController::validateOK() {
    const QString refusal = okRefusal();
    ui_->infoTextField->setText(refusal);
    ui_->okButton->setEnabled(refusal.isEmpty());
}

QString DefineConvController::okRefusal() {
    if (!convSpec_) return QString();
    ConvSpec& spec = *convSpec_;
    const plist::Dictionary* row = rowForType(curFileType_);
    const QString text = RowString(row, "text");
    const Ui::DefineConversion& u = *ui_;
    const bool rateOn = u.convertSampleRateCheckBox->isChecked();
    const double rate = sampleRateFieldValue();

    // Every verdict is taken now, so none outlives this check.
    const Verdict rateVerdict = TakeVerdict(spec, kSampleRateValidKey, kSampleRateInvalidMessageKey);
    const Verdict wordVerdict = TakeVerdict(spec, kWordSizeValidKey, kWordSizeValidMessageKey);
    const Verdict channelVerdict =
        TakeVerdict(spec, kChannelHandlingValidKey, kChannelHandlingInvalidMessageKey);
    auto either = [](const QString& own, const QString& fallback) {
        return own.isEmpty() ? fallback : own;
    };

    if (RowBool(row, "specificsMustBeValid") && !spec.specificsValid()) {
        QString title = RowString(row, "optionsButtonTitle");
        title.chop(3);
        return tr("You have to use the %1 button to specify the encoder settings.").arg(title);
    }
    const double max = RowReal(row, "sampleRateMax");
    const double min = RowReal(row, "sampleRateMin");
    // A rate shown with fewer digits than it has still counts as the limit itself.
    if (rateOn && rate > max + kSampleRateTolerance)
        return tr("The sample rate of %1 files may not exceed %2 Hz.")
            .arg(text)
            .arg(static_cast<qint64>(max));
    if (rateOn && rate < min - kSampleRateTolerance)
        return tr("The sample rate of %1 files may not be less than %2 Hz.")
            .arg(text)
            .arg(static_cast<qint64>(min));
    if (rateVerdict.invalid) return either(rateVerdict.message, tr("The sample rate is invalid."));
    if (!rateOn && RowBool(row, "forceSampleRate"))
        return tr("%1 files have a restricted number of possible sample rates, so please check "
                  "'Convert sample rate to' and select an available sample rate from the popup "
                  "menu")
            .arg(text);
    if (wordVerdict.invalid)
        return either(wordVerdict.message, tr("The number of bits or bitrate is invalid."));
    if (!u.numOfBitsCheckBox->isChecked() && RowBool(row, "forceWordSize"))
        return tr("%1 files must have a value specified for the '%2', so please check to select "
                  "a setting.")
            .arg(text, RowString(row, "numBitsCheckBoxTitle"));
    if (channelVerdict.invalid)
        return either(channelVerdict.message, tr("The setting for channel handling is invalid."));
    if (!u.channelHandlingCheckBox->isChecked() && RowBool(row, "forceChannels"))
        return tr("%1 files have a restricted number of possible channel handling methods, so "
                  "please check to use one of the given settings in the 'Channel handling' popup "
                  "menu.")
            .arg(text);
    if (!u.convertFileTypeCheckBox->isChecked() && u.filenameExtensionCheckBox->isChecked())
        return tr("You can't force a file name extension when you don't explicitly convert to a "
                  "given file type. Please select a file type to convert to, or leave the file "
                  "name extension checkbox unchecked.");
    return QString();
}
