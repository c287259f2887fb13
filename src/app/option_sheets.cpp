// The option sheets of the Define Conversion dialog.
#include "app/option_sheets.h"

#include <pwd.h>
#include <unistd.h>

#include <QButtonGroup>
#include <QDate>
#include <QDialog>
#include <QHeaderView>
#include <QLocale>
#include <QPushButton>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/define_conversion_dialog.h"
#include "conversion/conv_spec.h"
#include "foundation/string_utils.h"
#include "ui_bwf_annotation_sheet.h"
#include "ui_g729_options_sheet.h"
#include "ui_lame_options_sheet.h"
#include "ui_mpeg_options_sheet.h"
#include "ui_voc_sample_rate_sheet.h"

namespace {

// Option keys of the mp3 sheet.
constexpr char kUseInputFileNameAsTitle[] = "LAMEUseInputFileNameAsTitle";
constexpr char kTitle[] = "LAMETitle";
constexpr char kArtist[] = "LAMEArtist";
constexpr char kAlbum[] = "LAMEAlbum";
constexpr char kTrack[] = "LAMETrack";
constexpr char kYear[] = "LAMEYear";
constexpr char kGenre[] = "LAMEGenre";
constexpr char kComment[] = "LAMEComment";
constexpr char kEncodingMode[] = "LAMEEncodingMode";
constexpr char kCopyrighted[] = "LAMECopyrighted";
constexpr char kCopy[] = "LAMECopy";
constexpr char kUseCRC[] = "LAMEUseCRC";
constexpr char kISOCompliant[] = "LAMEISOCompliant";
constexpr char kUseBitReservoir[] = "LAMEUseBitReservoir";
constexpr char kVBRQuality[] = "LAMEVBRQuality";
constexpr char kQuality[] = "LAMEQuality";
constexpr char kWriteID3Tags[] = "LAMEWriteID3Tags";
constexpr char kFramePadding[] = "Use MPEG Frame Padding";
constexpr char kAnnotationText[] = "AnnotationText";

// The highest rate a Creative Voice cell offers.
constexpr double kVOCHighestRate = 20000;
// A cell shows the conversion's rate when it lies this close.
constexpr double kVOCCellTolerance = 0.5;

QButtonGroup* MakeMatrix(QDialog& window, std::initializer_list<QAbstractButton*> cells) {
    auto* group = new QButtonGroup(&window);
    int tag = 0;
    for (QAbstractButton* cell : cells) group->addButton(cell, tag++);
    return group;
}

void SelectCell(QButtonGroup* matrix, int tag) {
    if (QAbstractButton* cell = matrix->button(tag)) cell->setChecked(true);
}

// A text option: strings as they stand, numbers as their decimal text.
QString TextOption(const plist::Value& value, const QString& fallback) {
    if (value.isString()) return QString::fromStdString(value.asString());
    if (value.isNumber()) return QString::number(value.asInteger());
    return fallback;
}

}  // namespace

std::string UserFullName() {
    const passwd* entry = getpwuid(getuid());
    if (!entry) return std::string();
    std::string name = entry->pw_gecos ? entry->pw_gecos : "";
    name = name.substr(0, name.find(','));
    if (name.empty() && entry->pw_name) name = entry->pw_name;
    return name;
}

int OptionSheet::run() {
    QDialog window(owner_);
    awakeFromNib(window);
    if (auto* ok = window.findChild<QPushButton*>(QStringLiteral("okButton"))) {
        QObject::connect(ok, &QPushButton::clicked, &window, [this, &window] {
            doOK();
            window.done(1);
        });
    }
    if (auto* cancel = window.findChild<QPushButton*>(QStringLiteral("cancelButton")))
        QObject::connect(cancel, &QPushButton::clicked, &window, [&window] { window.done(0); });
    const int result = owner_->runSheet(window);
    unload();
    return result == 1 ? 1 : 0;
}

// ---------------------------------------------------------------------------
// mp3 encoder options

LAMEOptionsController::LAMEOptionsController(DefineConvController* owner) : OptionSheet(owner) {}
LAMEOptionsController::~LAMEOptionsController() = default;
void LAMEOptionsController::unload() { ui_.reset(); }

QString LAMEOptionsController::genreWithID(int id) const {
    for (const auto& [name, number] : genreDict_)
        if (number == id) return QString::fromStdString(name);
    return QString();
}

void LAMEOptionsController::awakeFromNib(QDialog& window) {
    ui_ = std::make_unique<Ui::LAMEOptions>();
    ui_->setupUi(&window);
    Ui::LAMEOptions& u = *ui_;
    ConvSpec& spec = *owner_->convSpec();
    genreDict_ = owner_->genreList();
    genres_.clear();
    for (const auto& entry : genreDict_) genres_.push_back(entry.first);
    std::sort(genres_.begin(), genres_.end());
    for (const std::string& name : genres_) u.genreTable->addItem(QString::fromStdString(name));

    titleMatrix_ = MakeMatrix(window, {u.titleMatrixCell0, u.titleMatrixCell1});
    encodingModeMatrix_ = MakeMatrix(
        window, {u.encodingModeMatrixCell0, u.encodingModeMatrixCell1, u.encodingModeMatrixCell2});

    auto value = [&spec](const char* key) { return spec.specificsValue(key); };
    SelectCell(titleMatrix_, value(kUseInputFileNameAsTitle).asBool(true) ? 0 : 1);
    u.titleTextField->setText(TextOption(value(kTitle), QStringLiteral("Title")));
    u.tagsFormCell0->setText(TextOption(value(kArtist), QString::fromStdString(UserFullName())));
    u.tagsFormCell1->setText(TextOption(value(kAlbum), QStringLiteral("Album")));
    u.tagsFormCell2->setText(TextOption(value(kTrack), QStringLiteral("1")));
    u.tagsFormCell3->setText(
        TextOption(value(kYear), QString::number(QDate::currentDate().year())));
    u.commentTextField->setText(TextOption(value(kComment), QString()));

    const plist::Value genre = value(kGenre);
    int row = 1;
    if (!genre.isNull()) {
        const QString name = genreWithID(static_cast<int>(genre.asInteger()));
        auto it = std::find(genres_.begin(), genres_.end(), name.toStdString());
        row = name.isEmpty() || it == genres_.end() ? -1 : static_cast<int>(it - genres_.begin());
    }
    if (row >= 0 && row < u.genreTable->count()) {
        u.genreTable->setCurrentRow(row);
        u.genreTable->scrollToItem(u.genreTable->item(row));
    }

    SelectCell(encodingModeMatrix_, static_cast<int>(value(kEncodingMode).asInteger(0)));
    u.copyrightedCheckbox->setChecked(value(kCopyrighted).asBool(false));
    u.copyCheckbox->setChecked(value(kCopy).asBool(true));
    u.crcCheckbox->setChecked(value(kUseCRC).asBool(false));
    u.isoCheckbox->setChecked(value(kISOCompliant).asBool(false));
    u.bitReservoirCheckbox->setChecked(value(kUseBitReservoir).asBool(true));
    u.writeID3TagsCheckbox->setChecked(value(kWriteID3Tags).asBool(true));
    const auto vbr = value(kVBRQuality).asInteger(4);
    if (vbr >= 0 && vbr < u.vbrQualityPopup->count()) u.vbrQualityPopup->setCurrentIndex(int(vbr));
    const auto quality = value(kQuality).asInteger(2);
    if (quality >= 0 && quality < u.qualityPopup->count())
        u.qualityPopup->setCurrentIndex(int(quality));

    QObject::connect(titleMatrix_, &QButtonGroup::idClicked, &window, [this] { doTitleMatrix(); });
    QObject::connect(encodingModeMatrix_, &QButtonGroup::idClicked, &window,
                     [this] { doVBRQualityMatrix(); });
    QObject::connect(u.writeID3TagsCheckbox, &QAbstractButton::clicked, &window,
                     [this] { doID3TagsCheckbox(); });
    doTitleMatrix();
    doVBRQualityMatrix();
    doID3TagsCheckbox();
}

void LAMEOptionsController::doTitleMatrix() {
    ui_->titleTextField->setEnabled(ui_->writeID3TagsCheckbox->isChecked() &&
                                    titleMatrix_->checkedId() == 1);
}

void LAMEOptionsController::doVBRQualityMatrix() {
    const bool variable = encodingModeMatrix_->checkedId() == 2;
    ui_->vbrQualityPopup->setEnabled(variable);
    ui_->vbrQualityLabel->setEnabled(variable);
}

void LAMEOptionsController::doID3TagsCheckbox() {
    Ui::LAMEOptions& u = *ui_;
    const bool on = u.writeID3TagsCheckbox->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{
             u.titleMatrixCell0, u.titleMatrixCell1, u.tagsFormCell0, u.tagsFormCell1,
             u.tagsFormCell2, u.tagsFormCell3, u.tagsFormLabel0, u.tagsFormLabel1, u.tagsFormLabel2,
             u.tagsFormLabel3, u.commentTextField, u.genreLabel, u.commentLabel, u.genreTable})
        w->setEnabled(on);
    doTitleMatrix();
}

void LAMEOptionsController::doOK() {
    Ui::LAMEOptions& u = *ui_;
    ConvSpec& spec = *owner_->convSpec();
    spec.setSpecificsValue(kQuality, plist::Value(u.qualityPopup->currentIndex()));
    spec.setSpecificsValue(kEncodingMode, plist::Value(std::max(0, encodingModeMatrix_->checkedId())));
    spec.setSpecificsValue(kVBRQuality, plist::Value(u.vbrQualityPopup->currentIndex()));
    spec.setSpecificsValue(kCopyrighted, plist::Value(u.copyrightedCheckbox->isChecked()));
    spec.setSpecificsValue(kCopy, plist::Value(u.copyCheckbox->isChecked()));
    spec.setSpecificsValue(kUseCRC, plist::Value(u.crcCheckbox->isChecked()));
    spec.setSpecificsValue(kISOCompliant, plist::Value(u.isoCheckbox->isChecked()));
    spec.setSpecificsValue(kUseBitReservoir, plist::Value(u.bitReservoirCheckbox->isChecked()));
    spec.setSpecificsValue(kWriteID3Tags, plist::Value(u.writeID3TagsCheckbox->isChecked()));
    if (u.writeID3TagsCheckbox->isChecked()) {
        spec.setSpecificsValue(kUseInputFileNameAsTitle,
                               plist::Value(titleMatrix_->checkedId() == 0));
        spec.setSpecificsValue(kTitle, plist::Value(u.titleTextField->text().toStdString()));
        spec.setSpecificsValue(kArtist, plist::Value(u.tagsFormCell0->text().toStdString()));
        spec.setSpecificsValue(kAlbum, plist::Value(u.tagsFormCell1->text().toStdString()));
        spec.setSpecificsValue(kTrack, plist::Value(u.tagsFormCell2->text().toStdString()));
        spec.setSpecificsValue(kYear, plist::Value(u.tagsFormCell3->text().toStdString()));
        // Without a selected genre (no encoder, or a number it does not list)
        // the stored one stays.
        const int row = u.genreTable->currentRow();
        if (row >= 0 && row < static_cast<int>(genres_.size()))
            spec.setSpecificsValue(kGenre, plist::Value(genreDict_.at(genres_[row])));
        spec.setSpecificsValue(kComment, plist::Value(u.commentTextField->text().toStdString()));
    }
    owner_->setFileTypeSpecificsValid(true);
}

// ---------------------------------------------------------------------------
// MPEG options

MPEGOptionsController::MPEGOptionsController(DefineConvController* owner) : OptionSheet(owner) {}
MPEGOptionsController::~MPEGOptionsController() = default;
void MPEGOptionsController::unload() { ui_.reset(); }

void MPEGOptionsController::awakeFromNib(QDialog& window) {
    ui_ = std::make_unique<Ui::MPEGOptions>();
    ui_->setupUi(&window);
    ui_->framePaddingCheckbox->setChecked(
        owner_->convSpec()->specificsValue(kFramePadding).asBool(true));
}

void MPEGOptionsController::doOK() {
    owner_->convSpec()->setSpecificsValue(kFramePadding,
                                          plist::Value(ui_->framePaddingCheckbox->isChecked()));
    owner_->setFileTypeSpecificsValid(true);
}

// ---------------------------------------------------------------------------
// G.729 file layout: byte 0 word order (1 little-endian), byte 1 file format
// (0 packed), byte 2 header (1 WAVE)

G729Controller::G729Controller(DefineConvController* owner) : OptionSheet(owner) {}
G729Controller::~G729Controller() = default;
void G729Controller::unload() { ui_.reset(); }

void G729Controller::awakeFromNib(QDialog& window) {
    ui_ = std::make_unique<Ui::G729Options>();
    ui_->setupUi(&window);
    Ui::G729Options& u = *ui_;
    fileFormatMatrix_ = MakeMatrix(window, {u.fileFormatMatrixCell0, u.fileFormatMatrixCell1});
    dataFormatMatrix_ = MakeMatrix(window, {u.dataFormatMatrixCell0, u.dataFormatMatrixCell1});
    headerMatrix_ = MakeMatrix(window, {u.headerMatrixCell0, u.headerMatrixCell1});
    uint8_t bytes[3];
    {
        auto block = owner_->convSpec()->fileTypeSpecifics();
        std::memcpy(bytes, block.data(), 3);
    }
    // The cells show what the writer makes of each byte.
    SelectCell(dataFormatMatrix_, bytes[0] == 1 ? 1 : 0);
    SelectCell(fileFormatMatrix_, bytes[1] == 0 ? 0 : 1);
    SelectCell(headerMatrix_, bytes[2] == 1 ? 1 : 0);
    QObject::connect(fileFormatMatrix_, &QButtonGroup::idClicked, &window,
                     [this] { doFileFormatMatrix(); });
    doFileFormatMatrix();
}

void G729Controller::doFileFormatMatrix() {
    const bool unpacked = fileFormatMatrix_->checkedId() != 0;
    ui_->dataFormatBox->setEnabled(unpacked);
    ui_->headerBox->setEnabled(!unpacked);
}

void G729Controller::doOK() {
    {
        auto block = owner_->convSpec()->fileTypeSpecifics();
        block[0] = static_cast<uint8_t>(std::max(0, dataFormatMatrix_->checkedId()));
        block[1] = static_cast<uint8_t>(std::max(0, fileFormatMatrix_->checkedId()));
        block[2] = static_cast<uint8_t>(std::max(0, headerMatrix_->checkedId()));
    }
    owner_->setFileTypeSpecificsValid(true);
}

// ---------------------------------------------------------------------------
// Broadcast Wave annotation

BWFAnnotationController::BWFAnnotationController(DefineConvController* owner)
    : OptionSheet(owner) {}
BWFAnnotationController::~BWFAnnotationController() = default;
void BWFAnnotationController::unload() { ui_.reset(); }

void BWFAnnotationController::awakeFromNib(QDialog& window) {
    ui_ = std::make_unique<Ui::BWFAnnotation>();
    ui_->setupUi(&window);
    ConvSpec& spec = *owner_->convSpec();
    const plist::Value stored = spec.specificsValue(kAnnotationText);
    std::string text;
    if (stored.isString()) {
        text = stored.asString();
    } else {
        // The text the writers read: from offset 22, up to a zero byte or the
        // end of the block.
        auto block = spec.fileTypeSpecifics();
        const char* start = reinterpret_cast<const char*>(block.data()) + kAnnotationOffset;
        text.assign(start, strnlen(start, kAnnotationCapacity));
    }
    ui_->annotationTextView->setPlainText(QString::fromUtf8(text.data(), qsizetype(text.size())));
}

void BWFAnnotationController::doOK() {
    ConvSpec& spec = *owner_->convSpec();
    const std::string text = ui_->annotationTextView->toPlainText().toStdString();
    spec.setSpecificsValue(kAnnotationText, plist::Value(text));
    uint8_t block[kFileTypeSpecificsSize] = {};
    const std::string stored = utf8_prefix(text, kAnnotationCapacity);
    std::memcpy(block + kAnnotationOffset, stored.data(), stored.size());
    spec.setFileTypeSpecifics(block);
    owner_->setFileTypeSpecificsValid(true);
}

// ---------------------------------------------------------------------------
// Creative Voice sample rates

VOCSampleRateController::VOCSampleRateController(DefineConvController* owner)
    : OptionSheet(owner) {}
VOCSampleRateController::~VOCSampleRateController() = default;
void VOCSampleRateController::unload() { ui_.reset(); }

void VOCSampleRateController::awakeFromNib(QDialog& window) {
    ui_ = std::make_unique<Ui::VOCSampleRates>();
    ui_->setupUi(&window);
    loading_ = true;
    value_ = owner_->convSpec()->sampleRate();
    ui_->selectionTextField->setText(FormatSampleRate(value_));
    QTableWidget* matrix = ui_->sampleRateMatrix;
    matrix->setRowCount(kRows);
    matrix->setColumnCount(kColumns);
    matrix->setEditTriggers(QAbstractItemView::NoEditTriggers);
    matrix->setSelectionMode(QAbstractItemView::SingleSelection);
    matrix->horizontalHeader()->hide();
    matrix->verticalHeader()->hide();
    for (int column = 0; column < kColumns; ++column) {
        for (int row = 0; row < kRows; ++row) {
            const double rate = 1000000.0 / Divisor(row, column);
            auto* cell =
                new QTableWidgetItem(rate <= kVOCHighestRate ? FormatSampleRate(rate) : QString());
            matrix->setItem(row, column, cell);
            if (std::fabs(rate - value_) < kVOCCellTolerance) matrix->setCurrentCell(row, column);
        }
    }
    matrix->resizeColumnsToContents();
    QObject::connect(matrix, &QTableWidget::currentCellChanged, &window, [this] { doMatrix(); });
    loading_ = false;
}

void VOCSampleRateController::doMatrix() {
    if (loading_) return;
    const QTableWidgetItem* cell = ui_->sampleRateMatrix->currentItem();
    if (!cell) return;
    if (auto rate = ParseSampleRate(cell->text())) {
        value_ = *rate;
        ui_->selectionTextField->setText(FormatSampleRate(value_));
    }
}

void VOCSampleRateController::doOK() {
    owner_->convSpec()->setSampleRate(value_);
    owner_->sampleRateTextField()->setText(FormatSampleRate(value_));
    owner_->handleSampleRateTextFieldDependencies();
    owner_->handleSampleRateSettings();
}
