// The file-info panel beside the add-files dialog's tree: one line per property
// of the selected sound file or folder, a bold label right-aligned on a computed
// tab stop and the value after it. Which properties show, under which labels,
// comes from the resource "attributes.plist" (rows of "key", the label, and
// "value": an accessor name of the fixed map below, "specifics:" and a key of
// the file's specifics, or for "Status" a literal text). Fonts and colours of
// labels and values can be changed; a font picked for the text view reaches it.
#pragma once

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextEdit>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/notification_center.h"
#include "platform/property_list.h"

class QFSoundFile;
class QTextDocument;

// Posted, with no object, when the user picks a font for a file-info text view.
inline constexpr char SoundFileInfoTextViewFontChangeNotification[] =
    "SoundFileInfoTextViewFontChangeNotification";

// The panel's text view. A font picked for it (its context menu's "Font…")
// becomes the view's font and is announced to the panels, which take it for
// their lines.
class SoundFileInfoTextView : public QTextEdit {
    Q_OBJECT
public:
    // Asks the user for a font, starting at `current`; none when cancelled.
    using FontChooser = std::function<std::optional<QFont>(QWidget* parent, const QFont& current)>;

    explicit SoundFileInfoTextView(QWidget* parent = nullptr);
    // Replaces Qt's font dialog (tests script the choice).
    void setFontChooser(FontChooser chooser) { chooseFont_ = std::move(chooser); }

public slots:
    // Takes `font` as the view's font and posts
    // SoundFileInfoTextViewFontChangeNotification with no object.
    void changeFont(const QFont& font);
    // Asks for a font; a chosen one goes through changeFont.
    void chooseFont();

protected:
    // The text view's own menu (copy, select all) with "Font…" at its end.
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    FontChooser chooseFont_;
};

class SoundFileInfoViewController : public QObject {
    Q_OBJECT
public:
    struct Line {
        QString key;
        QString value;
        bool operator==(const Line&) const = default;
    };
    using Accessor = std::function<std::string(const QFSoundFile&)>;

    // The accessors an "attributes" row may name.
    static const std::map<std::string, Accessor>& Accessors();
    // The rows of the resource (an empty array when it cannot be read).
    static plist::Array LoadAttributes();

    // Shows its lines in `view` (none: the lines are kept but not shown), whose
    // own font follows the values' font from now on. From now until it ends, a
    // posted SoundFileInfoTextViewFontChangeNotification makes it take the
    // view's whole font (setFont).
    explicit SoundFileInfoViewController(QTextEdit* view, plist::Array attributes = LoadAttributes(),
                                         QObject* parent = nullptr);
    ~SoundFileInfoViewController() override;

    void setList(std::vector<std::shared_ptr<QFSoundFile>> list);
    // Rebuilds the lines and the view.
    void updateInfo();
    const std::vector<Line>& info() const { return info_; }
    // The right-aligned tab stop of the labels (the value starts 8 points on).
    double tabStop() const { return tabStop_; }

    // Appearance; each redraws the lines. `font` holds "name" (a family) and
    // "size" (points): the values take that font, the labels its bold version;
    // a missing or unusable entry keeps the current family or size.
    void setFont(const plist::Dictionary& font);
    // The values take `font` whole (family, style, weight, size), the labels
    // its bold form; the view takes it as its own font.
    void setFont(const QFont& font);
    void setLabelColor(const QColor& colour);
    void setTextColor(const QColor& colour);
    // The view's background and the background of labels and values.
    void setBackgroundColor(const QColor& colour);
    const QTextCharFormat& textFormat() const { return textFormat_; }
    const QTextCharFormat& labelFormat() const { return labelFormat_; }

    // Appends one paragraph at the end of `storage`: "\t<key>:\t" in the label
    // format, then the value in the text format.
    void addKeyValueToTextStorage(const QString& key, const QString& value,
                                  QTextDocument* storage) const;
    // The labels end on a right-aligned tab at `location`, the values start on a
    // left-aligned tab 8 points on, where wrapped values continue too.
    void replaceTabStops(double location);

private:
    void setupInfo();
    void setupInfoForFile(const QFSoundFile& file);
    void setInfoKey(const QString& key, const QString& value);
    void recalcTabStops();

    QPointer<QTextEdit> view_;
    plist::Array attributes_;
    std::vector<std::shared_ptr<QFSoundFile>> list_;
    std::vector<Line> info_;
    QTextCharFormat textFormat_;
    QTextCharFormat labelFormat_;
    // The labels' paragraph style: the tab stops and the indent of wrapped lines.
    QTextBlockFormat labelParagraph_;
    double tabStop_ = 0;
    platform::NotificationCenter::Token fontChangeToken_ = 0;
};
