#include "app/file_info_panel.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFontDialog>
#include <QMenu>
#include <QFontMetricsF>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <cmath>

#include "app/desktop_services.h"
#include "conversion/qf_sound_file.h"
#include "foundation/formatters.h"
#include "foundation/string_utils.h"
#include "platform/resource_dir.h"

namespace {

constexpr char kSpecificsPrefix[] = "specifics:";
constexpr int kPointSize = 11;
// The value column starts this far right of the labels' tab.
constexpr double kValueGap = 8;
// Font sizes outside this range are refused by setFont (the current size stays).
constexpr double kLargestPointSize = 288;
const QColor kTextGrey = QColor::fromRgbF(0.2f, 0.2f, 0.2f);
const QColor kBackgroundGrey = QColor::fromRgbF(0.8f, 0.8f, 0.8f);

QFont Bold(QFont f) {
    f.setBold(true);
    return f;
}

}  // namespace

SoundFileInfoTextView::SoundFileInfoTextView(QWidget* parent) : QTextEdit(parent) {
    chooseFont_ = [](QWidget* owner, const QFont& current) -> std::optional<QFont> {
        bool ok = false;
        const QFont font = QFontDialog::getFont(&ok, current, owner, Tr("Font"),
                                                QFontDialog::DontUseNativeDialog);
        return ok ? std::optional<QFont>(font) : std::nullopt;
    };
}

void SoundFileInfoTextView::chooseFont() {
    if (!chooseFont_) return;
    if (const std::optional<QFont> font = chooseFont_(this, this->font())) changeFont(*font);
}

void SoundFileInfoTextView::contextMenuEvent(QContextMenuEvent* event) {
    std::unique_ptr<QMenu> menu(createStandardContextMenu(event->pos()));
    menu->addSeparator();
    QAction* font = menu->addAction(Tr("Font…"));
    font->setObjectName("fontAction");
    connect(font, &QAction::triggered, this, &SoundFileInfoTextView::chooseFont);
    menu->exec(event->globalPos());
}

void SoundFileInfoTextView::changeFont(const QFont& font) {
    setFont(font);
    platform::NotificationCenter::Default().Post(SoundFileInfoTextViewFontChangeNotification);
}

const std::map<std::string, SoundFileInfoViewController::Accessor>&
SoundFileInfoViewController::Accessors() {
    using F = const QFSoundFile&;
    static const std::map<std::string, Accessor> accessors{
        {"name", [](F f) { return f.name(); }},
        {"path", [](F f) { return f.path(); }},
        {"descriptor", [](F f) { return f.descriptor(); }},
        {"description", [](F f) { return f.description(); }},
        {"info", [](F f) { return f.info(); }},
        {"displaySize", [](F f) { return f.displaySize(); }},
        {"displaySampleRate", [](F f) { return f.displaySampleRate(); }},
        {"displayChannels", [](F f) { return f.displayChannels(); }},
        {"displayWordSize", [](F f) { return f.displayWordSize(); }},
        {"displayBitRate", [](F f) { return f.displayBitRate(); }},
        {"displayBits", [](F f) { return f.displayBits(); }},
        {"displayRegions", [](F f) { return f.displayRegions(); }},
        {"displayMarkers", [](F f) { return f.displayMarkers(); }},
        {"displayLoops", [](F f) { return f.displayLoops(); }},
        {"displayHFSType", [](F f) { return f.displayHFSType(); }},
        {"displayHFSCreator", [](F f) { return f.displayHFSCreator(); }},
        {"displayCreationDate", [](F f) { return f.displayCreationDate(); }},
        {"displayModificationDate", [](F f) { return f.displayModificationDate(); }},
        {"displayPermissions", [](F f) { return f.displayPermissions(); }},
        {"lengthStr", [](F f) { return f.lengthStr(); }},
        {"timestamps", [](F f) { return f.timestamps(); }},
        {"surroundSetName", [](F f) { return f.surroundSetName(); }},
        {"owner", [](F f) { return f.owner(); }},
        {"group", [](F f) { return f.group(); }},
    };
    return accessors;
}

plist::Array SoundFileInfoViewController::LoadAttributes() {
    const plist::Value rows = plist::ReadFile(platform::ResourcePath("attributes.plist"));
    return rows.array() ? *rows.array() : plist::Array();
}

SoundFileInfoViewController::SoundFileInfoViewController(QTextEdit* view, plist::Array attributes,
                                                         QObject* parent)
    : QObject(parent), view_(view), attributes_(std::move(attributes)) {
    QFont font = view_ ? view_->font() : QApplication::font();
    font.setPointSize(kPointSize);
    textFormat_.setFont(font);
    textFormat_.setForeground(kTextGrey);
    textFormat_.setBackground(kBackgroundGrey);
    labelFormat_ = textFormat_;
    labelFormat_.setFont(Bold(font));
    labelFormat_.setForeground(Qt::black);
    if (view_) {
        // The view's own font is the one its values show in, so that a font
        // chooser opened on the view starts from what the user sees.
        view_->setFont(font);
        view_->setReadOnly(true);
        QPalette palette = view_->palette();
        palette.setColor(QPalette::Base, kBackgroundGrey);
        palette.setColor(QPalette::Text, kTextGrey);
        view_->setPalette(palette);
    }
    fontChangeToken_ = platform::NotificationCenter::Default().AddObserver(
        SoundFileInfoTextViewFontChangeNotification, nullptr,
        [this](const platform::Notification&) {
            if (view_) setFont(view_->font());
        });
    updateInfo();
}

SoundFileInfoViewController::~SoundFileInfoViewController() {
    platform::NotificationCenter::Default().RemoveObserver(fontChangeToken_);
}

void SoundFileInfoViewController::setList(std::vector<std::shared_ptr<QFSoundFile>> list) {
    list_ = std::move(list);
    updateInfo();
}

void SoundFileInfoViewController::updateInfo() {
    info_.clear();
    setupInfo();
}

void SoundFileInfoViewController::setupInfo() {
    const QFSoundFile* only = list_.size() == 1 ? list_.front().get() : nullptr;
    const QString label = !only ? Tr("Selection") : only->isDirectory() ? Tr("Folder") : Tr("File");
    if (list_.empty()) {
        setInfoKey(label, Tr("Nothing selected."));
    } else if (only) {
        if (only->isDirectory() || only->isPlayable()) {
            setInfoKey(label, QString::fromStdString(only->name()));
        } else {
            setInfoKey(label, FormatObjects("'%@', %@, %@",
                                            {QString::fromStdString(filename(only->path())),
                                             QString::fromStdString(
                                                 ByteFormatter().stringForObjectValue(only->size())),
                                             QString::fromStdString(only->descriptor())}));
        }
        if (only->isPlayable() && !only->isDirectory()) setupInfoForFile(*only);
    } else {
        setInfoKey(label, FormatObjects(Tr("%d items."), {QString::number(list_.size())}));
    }
    recalcTabStops();
    if (!view_) return;
    view_->clear();
    for (const Line& line : info_)
        addKeyValueToTextStorage(line.key, line.value, view_->document());
    view_->viewport()->update();
}

void SoundFileInfoViewController::addKeyValueToTextStorage(const QString& key, const QString& value,
                                                           QTextDocument* storage) const {
    if (!storage) return;
    QTextCursor cursor(storage);
    cursor.movePosition(QTextCursor::End);
    // A paragraph of its own: the document's last paragraph when it is still empty.
    if (cursor.block().length() > 1)
        cursor.insertBlock(labelParagraph_);
    else
        cursor.setBlockFormat(labelParagraph_);
    cursor.insertText("\t" + key + ":\t", labelFormat_);
    cursor.insertText(value, textFormat_);
}

void SoundFileInfoViewController::setupInfoForFile(const QFSoundFile& file) {
    for (const plist::Value& row : attributes_) {
        const plist::Value* keyValue = row.find("key");
        const plist::Value* valueValue = row.find("value");
        if (!keyValue) continue;
        const std::string key = keyValue->asString();
        const std::string value = valueValue ? valueValue->asString() : std::string();
        std::string text;
        if (value.rfind(kSpecificsPrefix, 0) == 0) {
            const auto it = file.specifics().find(value.substr(sizeof kSpecificsPrefix - 1));
            if (it != file.specifics().end()) text = it->second.asString();
        } else if (key == "Status") {
            text = value;
        } else if (const auto it = Accessors().find(value); it != Accessors().end()) {
            text = it->second(file);
        }
        if (text.empty()) continue;
        QString label = Tr(key.c_str());
        if (key == "Bits") label = file.useBitRate() ? Tr("Bit Rate") : Tr("Word Size");
        setInfoKey(label, QString::fromStdString(text));
    }
}

void SoundFileInfoViewController::setInfoKey(const QString& key, const QString& value) {
    for (Line& line : info_) {
        if (line.key == key) {
            line.value = value;
            return;
        }
    }
    info_.push_back({key, value});
}

void SoundFileInfoViewController::recalcTabStops() {
    const QFontMetricsF metrics(labelFormat_.font());
    double widest = 0;
    for (const Line& line : info_)
        widest = std::max(widest, metrics.horizontalAdvance(line.key + ":"));
    replaceTabStops(widest + metrics.horizontalAdvance("  "));
}

void SoundFileInfoViewController::replaceTabStops(double location) {
    tabStop_ = location;
    labelParagraph_.setTabPositions({QTextOption::Tab(location, QTextOption::RightTab),
                                     QTextOption::Tab(location + kValueGap, QTextOption::LeftTab)});
    // Wrapped values stay in the value column.
    labelParagraph_.setLeftMargin(location + kValueGap);
    labelParagraph_.setTextIndent(-(location + kValueGap));
}

void SoundFileInfoViewController::setFont(const plist::Dictionary& font) {
    QFont value = textFormat_.font();
    if (const auto name = font.find("name"); name != font.end() && name->second.isString()) {
        const std::string family = name->second.asString();
        if (!family.empty()) value.setFamily(QString::fromStdString(family));
    }
    if (const auto size = font.find("size"); size != font.end() && size->second.isNumber() &&
                                             size->second.type() != plist::Value::Type::Boolean) {
        const double points = size->second.asReal(0);
        if (std::isfinite(points) && points > 0 && points <= kLargestPointSize)
            value.setPointSizeF(points);
    }
    setFont(value);
}

void SoundFileInfoViewController::setFont(const QFont& font) {
    textFormat_.setFont(font);
    labelFormat_.setFont(Bold(font));
    if (view_) view_->setFont(font);
    // The labels' tab stop follows the new font: setupInfo measures it again.
    setupInfo();
}

void SoundFileInfoViewController::setLabelColor(const QColor& colour) {
    labelFormat_.setForeground(colour);
    setupInfo();
}

void SoundFileInfoViewController::setTextColor(const QColor& colour) {
    textFormat_.setForeground(colour);
    setupInfo();
}

void SoundFileInfoViewController::setBackgroundColor(const QColor& colour) {
    if (view_) {
        QPalette palette = view_->palette();
        palette.setColor(QPalette::Base, colour);
        view_->setPalette(palette);
    }
    textFormat_.setBackground(colour);
    labelFormat_.setBackground(colour);
    setupInfo();
}
