// The Define Conversion dialog: output type, forcing and closest-valid
// selections, the processing controls, validation of OK and the Options button.
#include "app/define_conversion_dialog.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QLocale>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScreen>
#include <QStandardItemModel>
#include <QUndoStack>
#include <algorithm>
#include <cmath>

#include "app/desktop_services.h"
#include "app/option_sheets.h"
#include "app/processing_rules.h"
#include "conversion/cconv_spec.h"
#include "conversion/conv_spec.h"
#include "conversion/type_rules.h"
#include "formats/mpeg/drop_mp3_file.h"
#include "platform/resource_dir.h"
#include "soundfile/registry.h"
#include "soundfile/type_codes.h"
#include "ui_define_conversion_dialog.h"

namespace {

// The comment area's height: opening it grows the window by this much.
constexpr int kCommentAreaHeight = 115;

const plist::Value* RowValue(const plist::Dictionary* row, const char* key) {
    if (!row) return nullptr;
    auto it = row->find(key);
    return it == row->end() ? nullptr : &it->second;
}
bool RowBool(const plist::Dictionary* row, const char* key) {
    const plist::Value* v = RowValue(row, key);
    return v && v->asBool();
}
double RowReal(const plist::Dictionary* row, const char* key) {
    const plist::Value* v = RowValue(row, key);
    return v ? v->asReal() : 0;
}
int64_t RowInteger(const plist::Dictionary* row, const char* key) {
    const plist::Value* v = RowValue(row, key);
    return v ? v->asInteger() : 0;
}
QString RowString(const plist::Dictionary* row, const char* key) {
    const plist::Value* v = RowValue(row, key);
    return v ? QString::fromStdString(v->asString()) : QString();
}
const plist::Array* RowArray(const plist::Dictionary* row, const char* key) {
    const plist::Value* v = RowValue(row, key);
    return v ? v->array() : nullptr;
}

// The text of a number in the fields of the dialog (C locale).
QString FormatNumber(double value) { return QLocale::c().toString(value, 'g', 6); }
// The value of a field: single precision, 0 when it holds no number.
float FieldValue(const QLineEdit* field) {
    bool ok = false;
    const float v = QLocale::c().toFloat(field->text().trimmed(), &ok);
    return ok && std::isfinite(v) ? v : 0.0f;
}

int ItemTag(const QComboBox* popup, int index) {
    if (index < 0 || index >= popup->count()) return 0;
    return popup->itemData(index).toInt();
}
int SelectedTag(const QComboBox* popup) { return ItemTag(popup, popup->currentIndex()); }
void SelectIndex(QComboBox* popup, int64_t index) {
    if (index >= 0 && index < popup->count()) popup->setCurrentIndex(static_cast<int>(index));
}
void SetItemEnabled(QComboBox* popup, int index, bool enabled) {
    auto* model = qobject_cast<QStandardItemModel*>(popup->model());
    if (!model) return;
    if (QStandardItem* item = model->item(index)) item->setEnabled(enabled);
}
bool IsSeparator(const QComboBox* popup, int index) {
    return popup->itemData(index, Qt::AccessibleDescriptionRole).toString() ==
           QLatin1String("separator");
}

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

// Sets one undoable name change; the record keeps its name rules.
class NameCommand : public QUndoCommand {
public:
    NameCommand(std::function<void(const QString&)> apply, QString before, QString after)
        : QUndoCommand(QObject::tr("Automatic Conversion Name")),
          apply_(std::move(apply)),
          before_(std::move(before)),
          after_(std::move(after)) {}
    void redo() override { apply_(after_); }
    void undo() override { apply_(before_); }

private:
    std::function<void(const QString&)> apply_;
    QString before_, after_;
};

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

}  // namespace

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
// Creation and window load

DefineConvController::DefineConvController(const plist::Dictionary& fileTypeInfo, QWidget* parent,
                                           Services services)
    : QDialog(parent),
      fileTypeInfo_(fileTypeInfo),
      services_(std::move(services)),
      defaults_(services_.defaults ? services_.defaults : &platform::UserDefaults::Standard()),
      notifications_(services_.notifications ? services_.notifications
                                             : &platform::NotificationCenter::Default()),
      ui_(std::make_unique<Ui::DefineConversion>()),
      undoStack_(new QUndoStack(this)),
      curFileType_(FourCC("AIFF")) {
    customSampleRates_ = ReadCustomRates(*defaults_);
    customRatesToken_ = notifications_->AddObserver(
        kUpdatedCustomSampleRatesNotification, nullptr,
        [this](const platform::Notification&) { updatedCustomSampleRates(); });
    loadWindow();
}

DefineConvController::~DefineConvController() { notifications_->RemoveObserver(customRatesToken_); }

void DefineConvController::loadWindow() {
    ui_->setupUi(this);
    setWindowModality(Qt::ApplicationModal);

    static const QRegularExpression pointForm(
        QStringLiteral("^\\{\\s*(-?\\d+(?:\\.\\d+)?)\\s*,\\s*(-?\\d+(?:\\.\\d+)?)\\s*\\}$"));
    const auto match =
        pointForm.match(QString::fromStdString(defaults_->GetString(kDefineConversionFrameKey)));
    if (match.hasMatch()) {
        move(qRound(match.captured(1).toDouble()), qRound(match.captured(2).toDouble()));
    } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(sizeHint().width() / 2, sizeHint().height() / 2));
    }

    expanded_ = true;
    QFont commentFont = ui_->commentTextView->font();
    commentFont.setPointSize(11);
    ui_->commentTextView->setFont(commentFont);
    ui_->commentTextView->setTabChangesFocus(false);

    buildFileTypeMenu();
    cacheBuiltInSampleRates();
    setupSampleRatePopUp();
    handleConvertSampleRateCheckboxDependencies();
    for (int i = 0; i < ui_->polyphasePopUp->count(); ++i) ui_->polyphasePopUp->setItemData(i, i);

    auto doubleSet = [this](void (ConvSpec::*setter)(double)) {
        return [this, setter](float v) { (convSpec_.get()->*setter)(v); };
    };
    auto floatSet = [this](void (ConvSpec::*setter)(float)) {
        return [this, setter](float v) { (convSpec_.get()->*setter)(v); };
    };
    pairs_ = {
        {ui_->safetyMarginSlider, ui_->safetyMarginTextField,
         [this] { return double(convSpec_->stripMargin()); }, floatSet(&ConvSpec::setStripMargin), 1},
        {ui_->fadeInSlider, ui_->fadeInTextField, [this] { return double(convSpec_->fadeInTime()); },
         floatSet(&ConvSpec::setFadeInTime), 1},
        {ui_->fadeOutSlider, ui_->fadeOutTextField,
         [this] { return double(convSpec_->fadeOutTime()); }, floatSet(&ConvSpec::setFadeOutTime), 1},
        {ui_->lowerThanSlider, ui_->lowerThanTextField,
         [this] { return convSpec_->gateThreshold(); }, doubleSet(&ConvSpec::setGateThreshold), 1},
        {ui_->longerThanSlider, ui_->longerThanTextField,
         [this] { return convSpec_->gateGapLength(); }, doubleSet(&ConvSpec::setGateGapLength),
         1000},
        {ui_->attenuateSlider, ui_->attenuateTextField,
         [this] { return convSpec_->gateAttenuation(); }, doubleSet(&ConvSpec::setGateAttenuation),
         1},
        {ui_->limitSlider, ui_->limitTextField, [this] { return convSpec_->ceiling(); },
         doubleSet(&ConvSpec::setCeiling), 1},
        {ui_->amplifySlider, ui_->amplifyTextField, [this] { return convSpec_->compressionBoost(); },
         doubleSet(&ConvSpec::setCompressionBoost), 1},
        {ui_->ceilingSlider, ui_->ceilingTextField, [this] { return convSpec_->ceiling(); },
         doubleSet(&ConvSpec::setCeiling), 1},
    };
    connectActions();

    auto* undo = undoStack_->createUndoAction(this);
    undo->setShortcut(QKeySequence::Undo);
    addAction(undo);
    auto* redo = undoStack_->createRedoAction(this);
    redo->setShortcut(QKeySequence::Redo);
    addAction(redo);

    windowLoaded_ = true;
    if (convSpec_ && !uiUpdated_) updateUI();
}

void DefineConvController::connectActions() {
    Ui::DefineConversion& u = *ui_;
    connect(u.fileTypePopUp, &QComboBox::activated, this, &DefineConvController::doFileTypePopUp);
    connect(u.convertFileTypeCheckBox, &QAbstractButton::clicked, this,
            &DefineConvController::doConvertFileTypeCheckbox);
    connect(u.conversionNameTextField, &QLineEdit::textEdited, this,
            [this](const QString& text) {
                if (convSpec_) convSpec_->setConversionName(text.toStdString());
            });
    connect(u.conversionNameTextField, &QLineEdit::editingFinished, this,
            &DefineConvController::doConversionNameTextField);
    connect(u.automaticNameButton, &QAbstractButton::clicked, this,
            &DefineConvController::doAutomaticName);
    connect(u.commentDisclosureTriangle, &QAbstractButton::clicked, this,
            &DefineConvController::doCommentDisclosureTriangle);
    connect(u.commentTextView, &QPlainTextEdit::textChanged, this,
            &DefineConvController::commentTextChanged);
    connect(u.optionsButton, &QAbstractButton::clicked, this,
            &DefineConvController::doOptionsButton);
    connect(u.okButton, &QAbstractButton::clicked, this, &DefineConvController::ok);
    connect(u.cancelButton, &QAbstractButton::clicked, this, &DefineConvController::cancel);

    connect(u.convertSampleRateCheckBox, &QAbstractButton::clicked, this,
            &DefineConvController::doConvertSampleRateCheckbox);
    connect(u.sampleRatePopUp, &QComboBox::activated, this,
            &DefineConvController::doSampleRatePopUp);
    connect(u.sampleRateTextField, &QLineEdit::editingFinished, this,
            &DefineConvController::doSampleRateTextField);
    connect(u.polyphasePopUp, &QComboBox::activated, this,
            &DefineConvController::doPolyphasePopUp);
    connect(u.numOfBitsCheckBox, &QAbstractButton::clicked, this,
            &DefineConvController::doNumOfBitsCheckbox);
    connect(u.numBitsPopUp, &QComboBox::activated, this, &DefineConvController::doNumOfBitsPopUp);
    connect(u.channelHandlingCheckBox, &QAbstractButton::clicked, this,
            &DefineConvController::doChannelHandlingCheckbox);
    connect(u.channelHandlingPopUp, &QComboBox::activated, this,
            &DefineConvController::doChannelHandlingPopUp);
    connect(u.extractionStripOrSnipCheckBox, &QAbstractButton::clicked, this,
            &DefineConvController::doExtractionCheckbox);
    connect(u.extractionPopUp, &QComboBox::activated, this,
            &DefineConvController::doExtractionPopUp);
    connect(u.startAtTextField, &QLineEdit::editingFinished, this,
            &DefineConvController::doStartAtTextField);
    connect(u.lengthTextField, &QLineEdit::editingFinished, this,
            &DefineConvController::doLengthTextField);
    connect(u.fadeCheckBox, &QAbstractButton::clicked, this, &DefineConvController::doFadeCheckbox);
    connect(u.filenameExtensionCheckBox, &QAbstractButton::clicked, this,
            &DefineConvController::doFilenameExtCheckbox);
    connect(u.filenameExtensionTextField, &QLineEdit::textEdited, this,
            [this](const QString& text) {
                if (convSpec_) convSpec_->setNameExtension(text.toStdString());
            });
    connect(u.filenameExtensionTextField, &QLineEdit::editingFinished, this,
            &DefineConvController::doNameExtensionTextField);
    connect(u.copyCheckBox, &QAbstractButton::clicked, this,
            &DefineConvController::doCopyExtrasCheckbox);
    connect(u.ditherCheckBox, &QAbstractButton::clicked, this,
            &DefineConvController::doDitherCheckbox);
    connect(u.gateCheckBox, &QAbstractButton::clicked, this, &DefineConvController::doGateCheckbox);
    connect(u.boostCheckBox, &QAbstractButton::clicked, this,
            &DefineConvController::doBoostCheckbox);
    connect(u.boostPopUp, &QComboBox::activated, this, &DefineConvController::doBoostPopUp);
    connect(u.firstNormalizeCheckBox, &QAbstractButton::clicked, this,
            &DefineConvController::doFirstNormalizeCheckbox);

    for (size_t i = 0; i < pairs_.size(); ++i) {
        connect(pairs_[i].slider, &QAbstractSlider::sliderMoved, this, [this, i](int value) {
            const SliderPair& pair = pairs_[i];
            if (!convSpec_) return;
            pair.set(static_cast<float>(value / pair.displayScale));
            pair.field->setText(FormatNumber(value));
            pair.field->setFocus();
        });
        connect(pairs_[i].field, &QLineEdit::editingFinished, this, [this, i] {
            const SliderPair& pair = pairs_[i];
            if (!convSpec_) return;
            const float shown = FieldValue(pair.field);
            pair.set(static_cast<float>(shown / pair.displayScale));
            pair.slider->setValue(static_cast<int>(std::lround(shown)));
        });
    }
}

// ---------------------------------------------------------------------------
// Menus

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

// ---------------------------------------------------------------------------
// Filling the controls

void DefineConvController::setConvSpec(std::shared_ptr<ConvSpec> spec) {
    convSpec_ = std::move(spec);
    undoStack_->clear();
    if (convSpec_ && windowLoaded_) updateUI();
}

QLineEdit* DefineConvController::sampleRateTextField() const { return ui_->sampleRateTextField; }

void DefineConvController::updateUI() {
    uiUpdated_ = true;
    if (!convSpec_) return;
    ConvSpec& spec = *convSpec_;
    Ui::DefineConversion& u = *ui_;
    sampleRateForced_ = wordSizeForced_ = channelsForced_ = false;
    refreshFileTypeItemEnabling();

    // The rate field first, so that the type's closest valid rate starts from
    // this conversion's rate and not from the one shown before.
    u.sampleRateTextField->setText(FormatSampleRate(spec.sampleRate()));

    curFileType_ = spec.outputFileType();
    updateUIForFileType(curFileType_);
    u.conversionNameTextField->setText(QString::fromStdString(spec.conversionName()));

    u.convertFileTypeCheckBox->setChecked(spec.needsStrictFileType());
    handleConvertFileTypeCheckboxDependencies();
    u.convertSampleRateCheckBox->setChecked(spec.needsSampleRateConversion());
    handleConvertSampleRateCheckboxDependencies();
    u.numOfBitsCheckBox->setChecked(spec.needsNewWordLength());
    handleNumOfBitsCheckboxDependencies();
    u.channelHandlingCheckBox->setChecked(spec.needsChannelTreat());
    handleChannelHandlingCheckboxDependencies();

    const int typeIndex = u.fileTypePopUp->findData(QVariant(static_cast<uint32_t>(curFileType_)));
    if (typeIndex >= 0) u.fileTypePopUp->setCurrentIndex(typeIndex);

    // Sample rate and quality.
    syncSampleRatePopUpWithField();
    const int qualityIndex =
        u.polyphasePopUp->findData(static_cast<int>(spec.sampleRateConvertQuality()));
    if (qualityIndex >= 0) u.polyphasePopUp->setCurrentIndex(qualityIndex);

    const ExtractionControls extraction =
        ExtractionControlsFor({spec.needsExtraction(), spec.needsStrip(), spec.needsSnip()});
    u.extractionPopUp->setCurrentIndex(extraction.mode);
    u.extractionStripOrSnipCheckBox->setChecked(extraction.ticked);
    handleExtractionCheckboxDependencies();
    doExtractionPopUp();
    u.startAtTextField->setText(FormatNumber(spec.snipFrom()));
    u.lengthTextField->setText(FormatNumber(spec.snipTo() - spec.snipFrom()));

    u.fadeCheckBox->setChecked(spec.needsFades());
    handleFadeCheckboxDependencies();

    u.filenameExtensionCheckBox->setChecked(spec.needsNameExtension());
    handleFilenameExtCheckboxDependencies();
    u.filenameExtensionTextField->setText(
        QString::fromStdString(NameExtensionFormatter::stringForObjectValue(spec.nameExtension())));
    u.copyCheckBox->setChecked(spec.copyExtras());
    u.ditherCheckBox->setChecked(spec.needsRedither());

    const GainControls gain = GainControlsFor(
        {spec.needsGate(), spec.needsGain(), spec.needsCompressor(), spec.needsNormalize()});
    u.gateCheckBox->setChecked(gain.gate);
    handleGateCheckboxDependencies();

    u.boostPopUp->setCurrentIndex(gain.mode);
    u.boostCheckBox->setChecked(gain.gain);
    u.firstNormalizeCheckBox->setChecked(gain.firstNormalize);
    handleBoostPopUpDependencies();
    handleBoostCheckboxDependencies();
    handleFirstNormalizeCheckboxDependencies();

    for (const SliderPair& pair : pairs_) fillPair(pair);

    fillingComment_ = true;
    u.commentTextView->setPlainText(QString::fromStdString(spec.comment()));
    fillingComment_ = false;
    const bool open = !spec.comment().empty();
    u.commentDisclosureTriangle->setChecked(open);
    setCommentAreaOpen(open);

    checkConsistency();
}

void DefineConvController::fillPair(const SliderPair& pair) {
    const double shown = pair.get() * pair.displayScale;
    pair.field->setText(FormatNumber(shown));
    pair.slider->setValue(static_cast<int>(std::lround(shown)));
}

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
// Output type

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
    const QString extension = RowString(row, "extension");
    convSpec_->setNameExtension(extension.toStdString());
    u.filenameExtensionTextField->setText(QString::fromStdString(
        NameExtensionFormatter::stringForObjectValue(convSpec_->nameExtension())));
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

void DefineConvController::doConvertFileTypeCheckbox() {
    if (!convSpec_) return;
    convSpec_->setNeedsStrictFileType(ui_->convertFileTypeCheckBox->isChecked());
    handleConvertFileTypeCheckboxDependencies();
    ui_->filenameExtensionCheckBox->setChecked(ui_->convertFileTypeCheckBox->isChecked());
    doFilenameExtCheckbox();
}

void DefineConvController::handleConvertFileTypeCheckboxDependencies() {
    const bool on = ui_->convertFileTypeCheckBox->isChecked();
    ui_->fileTypePopUp->setEnabled(on);
    ui_->fileTypeToLabel->setEnabled(on);
}

// ---------------------------------------------------------------------------
// Name, comment, OK and Cancel

void DefineConvController::doConversionNameTextField() {
    if (!convSpec_) return;
    convSpec_->setConversionName(ui_->conversionNameTextField->text().toStdString());
    ui_->conversionNameTextField->setText(QString::fromStdString(convSpec_->conversionName()));
}

void DefineConvController::setConversionName(const QString& name) {
    if (!convSpec_) return;
    std::shared_ptr<ConvSpec> spec = convSpec_;
    QLineEdit* field = ui_->conversionNameTextField;
    auto apply = [spec, field](const QString& text) {
        spec->setConversionName(text.toStdString());
        field->setText(QString::fromStdString(spec->conversionName()));
    };
    undoStack_->push(
        new NameCommand(apply, QString::fromStdString(spec->conversionName()), name));
}

void DefineConvController::doAutomaticName() {
    if (!convSpec_) return;
    setConversionName(QString::fromStdString(convSpec_->descriptionForAutoName()));
}

void DefineConvController::commentTextChanged() {
    if (fillingComment_ || !convSpec_) return;
    QString text = ui_->commentTextView->toPlainText();
    if (text.endsWith(QLatin1Char('\t'))) {
        text.chop(1);
        fillingComment_ = true;
        ui_->commentTextView->setPlainText(text);
        ui_->commentTextView->moveCursor(QTextCursor::End);
        fillingComment_ = false;
        ui_->conversionNameTextField->setFocus();
    }
    convSpec_->setComment(text.toStdString());
}

void DefineConvController::doCommentDisclosureTriangle() {
    setCommentAreaOpen(ui_->commentDisclosureTriangle->isChecked());
    if (expanded_)
        ui_->commentTextView->setFocus();
    else
        ui_->conversionNameTextField->setFocus();
}

void DefineConvController::setCommentAreaOpen(bool open) {
    ui_->commentDisclosureTriangle->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    ui_->commentTextView->setReadOnly(!open);
    if (open == expanded_) return;
    expanded_ = open;
    // The top edge stays where it is; the window grows or shrinks below it.
    const int height = this->height() + (open ? kCommentAreaHeight : -kCommentAreaHeight);
    ui_->commentTextView->setVisible(open);
    layout()->activate();
    resize(width(), std::max(height, minimumSizeHint().height()));
}

void DefineConvController::ok() {
    if (!convSpec_) return;
    doConversionNameTextField();
    const std::string name = convSpec_->conversionName();
    if (names_.count(name)) {
        static QtAlerts messageBoxes;
        Alerts& alerts = services_.alerts ? *services_.alerts : messageBoxes;
        alerts.run(this, tr("Conversion Name Already Exists"),
                        tr("Conversion name '%1' already exists.\nConversion names must be "
                           "unique, please specify another one.")
                            .arg(QString::fromStdString(name)),
                   tr("OK"));
        return;
    }
    closeDialog();
    done(1);
}

void DefineConvController::cancel() { reject(); }

void DefineConvController::reject() {
    closeDialog();
    QDialog::reject();
}

void DefineConvController::closeDialog() {
    const QPoint origin = pos();
    defaults_->Set(kDefineConversionFrameKey,
                   plist::Value(QStringLiteral("{%1, %2}").arg(origin.x()).arg(origin.y()).toStdString()));
    setConvSpec(nullptr);
}

// ---------------------------------------------------------------------------
// Sample rate

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
    for (QWidget* w : std::initializer_list<QWidget*>{
             u.extractionPopUp, u.startAtTextField, u.lengthTextField, u.safetyMarginTextField,
             u.safetyMarginSlider, u.safetyMarginLabel, u.safetyMarginUnitLabel, u.startAtLabel,
             u.startAtUnitLabel, u.lengthLabel, u.lengthUnitLabel})
        w->setEnabled(on);
}

void DefineConvController::doExtractionCheckbox() {
    if (!convSpec_) return;
    handleExtractionCheckboxDependencies();
    storeExtractionFlags();
}

void DefineConvController::handleExtractionPopUpDependencies() {
    Ui::DefineConversion& u = *ui_;
    const int index = u.extractionPopUp->currentIndex();
    u.extractionTabView->setCurrentIndex(index);
    switch (index) {
        case 1:
            setTabOrder(u.sampleRateTextField, u.safetyMarginTextField);
            setTabOrder(u.safetyMarginTextField, u.fadeInTextField);
            break;
        case 2:
            setTabOrder(u.sampleRateTextField, u.startAtTextField);
            setTabOrder(u.startAtTextField, u.lengthTextField);
            setTabOrder(u.lengthTextField, u.fadeInTextField);
            break;
        default: setTabOrder(u.sampleRateTextField, u.fadeInTextField); break;
    }
}

void DefineConvController::doExtractionPopUp() {
    handleExtractionPopUpDependencies();
    if (!convSpec_) return;
    // The flags follow the popup only while the box is ticked, so showing a
    // conversion that uses none of the three leaves them all off.
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
    Ui::DefineConversion& u = *ui_;
    const int index = u.boostPopUp->currentIndex();
    u.boostTabView->setCurrentIndex(index);
    if (index == 1) {
        setTabOrder(u.attenuateTextField, u.ceilingTextField);
        setTabOrder(u.ceilingTextField, u.conversionNameTextField);
    } else {
        setTabOrder(u.attenuateTextField, u.amplifyTextField);
        setTabOrder(u.amplifyTextField, u.limitTextField);
        setTabOrder(u.limitTextField, u.conversionNameTextField);
    }
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
