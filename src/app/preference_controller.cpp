#include "app/preference_controller.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QIntValidator>
#include <QLineEdit>
#include <QStandardItemModel>
#include <QStyle>
#include <QStyleOptionButton>
#include <QtDebug>
#include <algorithm>
#include <cmath>

#include "formats/chunk_reader.h"
#include "platform/user_defaults.h"
#include "soundfile/raw_settings.h"
#include "soundfile/type_codes.h"
#include "ui_preferences.h"

namespace {

// Each checkbox and the boolean key it shows and writes.
struct CheckboxKey {
    const char* outlet;
    const char* key;
};
constexpr char kSaveLogKey[] = "Save Log";
constexpr char kOpenLogKey[] = "Open Log";
constexpr char kBlipAtEndKey[] = "Blip At End";
constexpr char kAutoPlayNextKey[] = "Auto Play Next";
constexpr char kSkipBadRegionKey[] = "Skip Bad Region";
const CheckboxKey kCheckboxes[] = {
    {"ignoreRegionsContainingWholeFileCheckbox", "Ignore Regions Containing Whole File"},
    {"useNumberFilesCheckBox", "Recognize number files as split"},
    {"processFileIfNoRegionsCheckbox", "Process File If No Regions"},
    {"easyThruCheckbox", "Easy Thru"},
    {"saveLogCheckbox", kSaveLogKey},
    {"onlySaveWhenErrorsCheckbox", "Only Save When Errors"},
    {"openLogCheckbox", kOpenLogKey},
    {"onlyOpenWhenErrorsCheckbox", "Only Open When Errors"},
    {"beepWhenDoneCheckbox", "Beep When Done"},
    {"fullPathsIntoLogCheckbox", "Full Paths Into Log"},
    {"blipAtEndCheckbox", kBlipAtEndKey},
    {"autoPlayNextCheckbox", kAutoPlayNextKey},
    {"preserveFinderCommentsCheckbox", "Preserve Finder Comments"},
};

// The keys a factory reset removes; the channel count is not among them.
const char* const kFactoryResetKeys[] = {
    "Ignore Regions Containing Whole File", "Recognize number files as split",
    "Process File If No Regions", kSkipBadRegionKey, "Easy Thru", kSaveLogKey,
    "Only Save When Errors", kOpenLogKey, "Only Open When Errors", "Beep When Done",
    "Full Paths Into Log", kBlipAtEndKey, kAutoPlayNextKey, "Copy All Files",
    "Preserve Finder Comments", kRawActionKey, kRawFileTypeKey, kRawBigEndianKey,
    kRawSampleRateKey, kRawWordSizeKey,
};

// The order of the type popup's items on screen (by tag): the PCM forms, the
// other readable types, then the G.72x types, which cannot be chosen.
constexpr int kFileTypeItemOrder[] = {0, 1, 2, 3, 15, 16, 17, 18, 4, 5, 6, 14, 7, 8, 9, 10, 11, 12, 13};

constexpr int k8000HzTag = 17;
constexpr int k6000HzTag = 18;

bool IsFixedTo8000(OSType type) {
    for (const char* code : {"21-4", "23-2", "23-3", "23-5", "26-3", "26-4", "26-5", "DALW",
                             "DULW", "G729"})
        if (type == HFSTypeCode(code)) return true;
    return false;
}

int IndexOfTag(const QComboBox* popup, int tag) { return popup->findData(tag); }

void SetItemEnabled(QComboBox* popup, int tag, bool enabled) {
    auto* model = qobject_cast<QStandardItemModel*>(popup->model());
    const int index = IndexOfTag(popup, tag);
    if (model && index >= 0) model->item(index)->setEnabled(enabled);
}

bool ItemEnabled(const QComboBox* popup, int tag) {
    const auto* model = qobject_cast<const QStandardItemModel*>(popup->model());
    const int index = IndexOfTag(popup, tag);
    return model && index >= 0 && model->item(index)->isEnabled();
}

QString RateTitle(double rate) { return QString::number(rate / 1000.0, 'g', 6) + " kHz"; }

}  // namespace

const PreferenceController::FileTypeItem
    PreferenceController::kFileTypeItems[PreferenceController::kFileTypeItemCount] = {
        {FourCC("DPCM"), 16, true, true, "16-bit PCM, big-endian"},
        {FourCC("DPCM"), 8, true, true, "8-bit PCM, signed"},
        {FourCC("DPCM"), 16, false, true, "16-bit PCM, little-endian"},
        {FourCC("DPCM"), 8, false, true, "8-bit PCM, unsigned"},
        {FourCC("DADP"), 16, true, false, "Dialogic ADPCM"},
        {FourCC("DULW"), 16, true, false, "Dialogic \xC2\xB5-law"},
        {FourCC("DALW"), 16, true, false, "Dialogic A-law"},
        {FourCC("21-4"), 16, true, false, "G.721"},
        {FourCC("23-2"), 16, true, false, "G.723, 2 bits"},
        {FourCC("23-3"), 16, true, false, "G.723, 3 bits"},
        {FourCC("23-5"), 16, true, false, "G.723, 5 bits"},
        {FourCC("26-3"), 16, true, false, "G.726, 3 bits"},
        {FourCC("26-4"), 16, true, false, "G.726, 4 bits"},
        {FourCC("26-5"), 16, true, false, "G.726, 5 bits"},
        {FourCC("G729"), 16, true, false, "G.729"},
        {FourCC("DPCM"), 24, true, true, "24-bit PCM, big-endian"},
        {FourCC("DPCM"), 32, true, true, "32-bit PCM, big-endian"},
        {FourCC("DPCM"), 24, false, true, "24-bit PCM, little-endian"},
        {FourCC("DPCM"), 32, false, true, "32-bit PCM, little-endian"},
};

const double PreferenceController::kSampleRates[PreferenceController::kSampleRateItemCount] = {
    192000, 176400, 96000, 88200, 48000, 47952.1, 44100, 44055.9, 37800, 32000,
    24000,  22554.545454545456, 22050, 18900, 16000, 12000, 11025, 8000, 6000, 5512.5,
};

PreferenceController::PreferenceController(platform::UserDefaults& defaults, QWidget* parent)
    : QDialog(parent), defaults_(defaults), ui_(std::make_unique<Ui::Preferences>()) {
    ui_->setupUi(this);
    // Each "only when there were errors" box starts at least where the text of the
    // box it qualifies starts, whatever the style draws before a box's text.
    QStyleOptionButton boxOption;
    boxOption.initFrom(ui_->saveLogCheckbox);
    const int textIndent =
        style()->subElementRect(QStyle::SE_CheckBoxContents, &boxOption, ui_->saveLogCheckbox).left();
    for (QBoxLayout* row : {ui_->onlySaveWhenErrorsRow, ui_->onlyOpenWhenErrorsRow}) {
        QMargins margins = row->contentsMargins();
        margins.setLeft(std::max(margins.left(), textIndent));
        row->setContentsMargins(margins);
    }
    for (int tag : kFileTypeItemOrder)
        ui_->fileTypePopup->addItem(tr(kFileTypeItems[tag].title), tag);
    for (int tag = 0; tag < kSampleRateItemCount; ++tag)
        ui_->sampleRatePopup->addItem(RateTitle(kSampleRates[tag]), tag);
    ui_->channelTextField->setValidator(
        new QIntValidator(1, static_cast<int>(kMaxSoundFileChannels), ui_->channelTextField));
    for (QButtonGroup* group : {ui_->badRegionRadioGroup, ui_->unrecognizedFilesMatrix})
        for (QAbstractButton* button : group->buttons())
            group->setId(button, button->property("tag").toInt());
    connectControls();

    auto& center = platform::NotificationCenter::Default();
    const auto follow = [this](const platform::Notification& note) { followNotification(note); };
    blipToken_ = center.AddObserver(XWBlipAtEndChanged, nullptr, follow);
    autoPlayToken_ = center.AddObserver(XWAutoPlayNextChanged, nullptr, follow);
    updateUI();
}

PreferenceController::~PreferenceController() {
    auto& center = platform::NotificationCenter::Default();
    center.RemoveObserver(blipToken_);
    center.RemoveObserver(autoPlayToken_);
}

void PreferenceController::syncRawSettings(const platform::UserDefaults& defaults) {
    SyncRawSettings(defaults);
}

void PreferenceController::connectControls() {
    for (const CheckboxKey& c : kCheckboxes) {
        auto* box = findChild<QCheckBox*>(QLatin1String(c.outlet));
        const char* key = c.key;
        connect(box, &QCheckBox::clicked, this, [this, key](bool on) { doCheckbox(key, on); });
    }
    connect(ui_->badRegionRadioGroup, &QButtonGroup::idClicked, this, &PreferenceController::doBadRegion);
    connect(ui_->unrecognizedFilesMatrix, &QButtonGroup::idClicked, this,
            &PreferenceController::doUnrecognizedFilesMatrix);
    connect(ui_->fileTypePopup, &QComboBox::activated, this,
            [this](int index) { doFileTypePopup(ui_->fileTypePopup->itemData(index).toInt()); });
    connect(ui_->sampleRatePopup, &QComboBox::activated, this,
            [this](int index) { doSampleRatePopup(ui_->sampleRatePopup->itemData(index).toInt()); });
    connect(ui_->channelTextField, &QLineEdit::textEdited, this, &PreferenceController::doChannelTextField);
    connect(ui_->channelTextField, &QLineEdit::editingFinished, this,
            &PreferenceController::doChannelTextField);
    connect(ui_->factoryDefaultsButton, &QPushButton::clicked, this,
            &PreferenceController::doFactoryDefaults);
}

void PreferenceController::selectInputTab() { ui_->tabView->setCurrentWidget(ui_->input); }

void PreferenceController::selectLoggingTab() { ui_->tabView->setCurrentWidget(ui_->logging); }

// ---------------------------------------------------------------------------
// Filling the window

void PreferenceController::updateUI() {
    for (const CheckboxKey& c : kCheckboxes)
        findChild<QCheckBox*>(QLatin1String(c.outlet))->setChecked(defaults_.GetBool(c.key));
    const auto check = [](QButtonGroup* group, int64_t tag) {
        if (QAbstractButton* button = group->button(static_cast<int>(tag))) button->setChecked(true);
    };
    check(ui_->badRegionRadioGroup, defaults_.GetInteger(kSkipBadRegionKey));
    const int64_t action = defaults_.GetInteger(kRawActionKey);
    check(ui_->unrecognizedFilesMatrix, action);
    enableLogElements();
    enableFileTypeElements(action == RawSettings::kRawReadAsRaw);
    syncRawSettings(defaults_);
    ui_->channelTextField->setText(QString::number(defaults_.GetInteger(kRawNumChannelsKey, 1)));
    setupFileTypePopup();
    setupSampleRatePopup();
}

void PreferenceController::enableLogElements() {
    const bool save = ui_->saveLogCheckbox->isChecked();
    ui_->onlySaveWhenErrorsCheckbox->setEnabled(save);
    ui_->openLogCheckbox->setEnabled(save);
    ui_->onlyOpenWhenErrorsCheckbox->setEnabled(ui_->openLogCheckbox->isChecked() &&
                                                ui_->openLogCheckbox->isEnabled());
}

void PreferenceController::enableFileTypeElements(bool enable) {
    for (QWidget* w : std::initializer_list<QWidget*>{
             ui_->fileTypePopup, ui_->sampleRatePopup, ui_->channelTextField, ui_->label1TextField,
             ui_->label2TextField, ui_->label3TextField})
        w->setEnabled(enable);
}

int PreferenceController::fileTypeTagFromDefaults() const {
    const OSType type = HFSTypeCode(defaults_.GetString(kRawFileTypeKey));
    const int64_t wordSize = defaults_.GetInteger(kRawWordSizeKey);
    const bool bigEndian = defaults_.GetBool(kRawBigEndianKey);
    for (int tag = 0; tag < kFileTypeItemCount; ++tag) {
        const FileTypeItem& item = kFileTypeItems[tag];
        if (item.type != type) continue;
        // PCM by word size and byte order; every other type by its code alone.
        if (item.type != FourCC("DPCM") || (item.wordSize == wordSize && item.bigEndian == bigEndian))
            return tag;
    }
    return 0;
}

void PreferenceController::setupFileTypePopup() {
    const int tag = fileTypeTagFromDefaults();
    ui_->fileTypePopup->setCurrentIndex(IndexOfTag(ui_->fileTypePopup, tag));
    // The keys are written back in their canonical form.
    applyFileTypeTag(tag, true);
}

void PreferenceController::setupSampleRatePopup() {
    const double stored = defaults_.GetReal(kRawSampleRateKey);
    for (int tag = 0; tag < kSampleRateItemCount; ++tag) {
        if (std::fabs(kSampleRates[tag] - stored) < 0.5) {
            ui_->sampleRatePopup->setCurrentIndex(IndexOfTag(ui_->sampleRatePopup, tag));
            break;
        }
    }
    validatePopupItems();
}

// ---------------------------------------------------------------------------
// Actions

void PreferenceController::doCheckbox(const char* key, bool on) {
    defaults_.Set(key, on);
    const std::string k = key;
    if (k == kSaveLogKey || k == kOpenLogKey) enableLogElements();
    if (k == kBlipAtEndKey) platform::NotificationCenter::Default().Post(XWBlipAtEndChanged, this);
    if (k == kAutoPlayNextKey)
        platform::NotificationCenter::Default().Post(XWAutoPlayNextChanged, this);
}

void PreferenceController::doBadRegion(int tag) { defaults_.Set(kSkipBadRegionKey, tag); }

void PreferenceController::doUnrecognizedFilesMatrix(int tag) {
    defaults_.Set(kRawActionKey, tag);
    if (tag >= 0 && tag <= 2) enableFileTypeElements(tag == RawSettings::kRawReadAsRaw);
    syncRawSettings(defaults_);
}

void PreferenceController::doFileTypePopup(int tag) { applyFileTypeTag(tag, false); }

void PreferenceController::applyFileTypeTag(int tag, bool onlyChanges) {
    OSType type = FourCC("None");
    int wordSize = 16;
    bool bigEndian = true;
    uint32_t channels = channelFieldValue();
    if (tag >= 0 && tag < kFileTypeItemCount) {
        const FileTypeItem& item = kFileTypeItems[tag];
        type = item.type;
        wordSize = item.wordSize;
        bigEndian = item.bigEndian;
        if (!item.takesChannelField) channels = 1;
    } else {
        qWarning("Unknown tag (%ld) from file type popup in preferences dialog (input tab)",
                 static_cast<long>(tag));
    }
    const auto store = [this, onlyChanges](const char* key, plist::Value value) {
        if (!onlyChanges || defaults_.Get(key) != value) defaults_.Set(key, std::move(value));
    };
    store(kRawFileTypeKey, HFSTypeString(type));
    store(kRawBigEndianKey, bigEndian);
    store(kRawWordSizeKey, wordSize);
    store(kRawNumChannelsKey, static_cast<int64_t>(channels));
    ui_->channelTextField->setText(QString::number(channels));
    validatePopupItems();
    syncRawSettings(defaults_);
}

void PreferenceController::doSampleRatePopup(int tag) {
    if (tag < 0 || tag >= kSampleRateItemCount) return;
    // Kept in single precision.
    defaults_.Set(kRawSampleRateKey, static_cast<double>(static_cast<float>(kSampleRates[tag])));
    syncRawSettings(defaults_);
}

void PreferenceController::doChannelTextField() {
    // Only a channel count a sound file can have is stored.
    bool ok = false;
    const int channels = ui_->channelTextField->text().toInt(&ok);
    if (!ok || channels < 1 || static_cast<uint32_t>(channels) > kMaxSoundFileChannels) return;
    if (defaults_.Get(kRawNumChannelsKey) != plist::Value(channels))
        defaults_.Set(kRawNumChannelsKey, channels);
}

uint32_t PreferenceController::channelFieldValue() const {
    bool ok = false;
    const int typed = ui_->channelTextField->text().toInt(&ok);
    if (ok && typed >= 1 && static_cast<uint32_t>(typed) <= kMaxSoundFileChannels)
        return static_cast<uint32_t>(typed);
    const int64_t stored = defaults_.GetInteger(kRawNumChannelsKey, 1);
    return stored >= 1 && static_cast<uint64_t>(stored) <= kMaxSoundFileChannels
               ? static_cast<uint32_t>(stored)
               : 1;
}

void PreferenceController::validatePopupItems() {
    for (int tag = 0; tag < kFileTypeItemCount; ++tag)
        SetItemEnabled(ui_->fileTypePopup, tag, tag <= 6 || tag >= 14);

    const OSType type = HFSTypeCode(defaults_.GetString(kRawFileTypeKey));
    const bool fixed = IsFixedTo8000(type);
    const bool dialogicADPCM = type == FourCC("DADP");
    // The popup shows the rate such a file is read at; the key is not written.
    const int shown = selectedSampleRateTag();
    if (fixed || (dialogicADPCM && shown != k8000HzTag && shown != k6000HzTag))
        ui_->sampleRatePopup->setCurrentIndex(IndexOfTag(ui_->sampleRatePopup, k8000HzTag));
    for (int tag = 0; tag < kSampleRateItemCount; ++tag) {
        bool enabled = true;
        if (fixed) enabled = tag == k8000HzTag;
        if (dialogicADPCM) enabled = tag == k8000HzTag || tag == k6000HzTag;
        SetItemEnabled(ui_->sampleRatePopup, tag, enabled);
    }
}

bool PreferenceController::isFileTypeItemEnabled(int tag) const {
    return ItemEnabled(ui_->fileTypePopup, tag);
}

bool PreferenceController::isSampleRateItemEnabled(int tag) const {
    return ItemEnabled(ui_->sampleRatePopup, tag);
}

int PreferenceController::selectedSampleRateTag() const {
    const int index = ui_->sampleRatePopup->currentIndex();
    return index < 0 ? -1 : ui_->sampleRatePopup->itemData(index).toInt();
}

void PreferenceController::doFactoryDefaults() {
    for (const char* key : kFactoryResetKeys) defaults_.Remove(key);
    updateUI();
    auto& center = platform::NotificationCenter::Default();
    center.Post(XWBlipAtEndChanged, this);
    center.Post(XWAutoPlayNextChanged, this);
}

void PreferenceController::followNotification(const platform::Notification& note) {
    // This window's own changes are already shown.
    if (note.sender == this) return;
    if (note.name == XWBlipAtEndChanged)
        ui_->blipAtEndCheckbox->setChecked(defaults_.GetBool(kBlipAtEndKey));
    else if (note.name == XWAutoPlayNextChanged)
        ui_->autoPlayNextCheckbox->setChecked(defaults_.GetBool(kAutoPlayNextKey));
}
