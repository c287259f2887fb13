// The Define Conversion dialog: creation and window load, the controls'
// connections, filling the controls from a conversion, the name, the comment
// area, OK and Cancel. The output type, the sample rate, the other processing
// controls and the validation of OK have files of their own beside this one.
#include "app/define_conversion_dialog.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QLocale>
#include <QRegularExpression>
#include <QScreen>
#include <QUndoStack>
#include <algorithm>
#include <cmath>

#include "app/define_conversion_support.h"
#include "app/desktop_services.h"
#include "app/option_sheets.h"
#include "app/processing_rules.h"
#include "conversion/conv_spec.h"
#include "soundfile/type_codes.h"
#include "ui_define_conversion_dialog.h"

using namespace dialog_support;

namespace {

// The comment area's height: opening it grows the window by this much.
constexpr int kCommentAreaHeight = 115;

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

}  // namespace

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
    handleExtractionPopUpDependencies();
    // The flags follow the popup only while the box is ticked, so showing a
    // conversion that uses none of the three leaves them all off.
    storeExtractionFlags();
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
