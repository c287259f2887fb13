#include "app/file_info_panel.h"

#include <QFontMetricsF>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <algorithm>

#include "app/desktop_services.h"
#include "conversion/qf_sound_file.h"
#include "foundation/formatters.h"
#include "platform/resource_dir.h"

namespace {

constexpr char kSpecificsPrefix[] = "specifics:";
constexpr int kPointSize = 11;
// The value column starts this far right of the labels' tab.
constexpr double kValueGap = 8;

QFont LabelFont(const QFont& base) {
    QFont f = base;
    f.setPointSize(kPointSize);
    f.setBold(true);
    return f;
}

std::string LastComponent(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

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
    if (view_) {
        view_->setReadOnly(true);
        QPalette palette = view_->palette();
        palette.setColor(QPalette::Base, QColor::fromRgbF(0.8f, 0.8f, 0.8f));
        palette.setColor(QPalette::Text, QColor::fromRgbF(0.2f, 0.2f, 0.2f));
        view_->setPalette(palette);
    }
    updateInfo();
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
                                            {QString::fromStdString(LastComponent(only->path())),
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
    QTextCursor cursor(view_->document());
    QTextBlockFormat block;
    block.setTabPositions({QTextOption::Tab(tabStop_, QTextOption::RightTab),
                           QTextOption::Tab(tabStop_ + kValueGap, QTextOption::LeftTab)});
    // Wrapped values stay in the value column.
    block.setLeftMargin(tabStop_ + kValueGap);
    block.setTextIndent(-(tabStop_ + kValueGap));
    QTextCharFormat labelFormat, textFormat;
    labelFormat.setFont(LabelFont(view_->font()));
    labelFormat.setForeground(Qt::black);
    QFont text = view_->font();
    text.setPointSize(kPointSize);
    textFormat.setFont(text);
    for (size_t i = 0; i < info_.size(); ++i) {
        if (i == 0)
            cursor.setBlockFormat(block);
        else
            cursor.insertBlock(block);
        cursor.insertText("\t" + info_[i].key + ":\t", labelFormat);
        cursor.insertText(info_[i].value, textFormat);
    }
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
    const QFontMetricsF metrics(LabelFont(view_ ? view_->font() : QFont()));
    double widest = 0;
    for (const Line& line : info_)
        widest = std::max(widest, metrics.horizontalAdvance(line.key + ":"));
    tabStop_ = widest + metrics.horizontalAdvance("  ");
}
