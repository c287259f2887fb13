// The file-info panel beside the add-files dialog's tree: one line per property
// of the selected sound file or folder, a bold label right-aligned on a computed
// tab stop and the value after it. Which properties show, under which labels,
// comes from the resource "attributes.plist" (rows of "key", the label, and
// "value": an accessor name of the fixed map below, "specifics:" and a key of
// the file's specifics, or for "Status" a literal text).
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/property_list.h"

class QFSoundFile;
class QTextEdit;

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

    explicit SoundFileInfoViewController(QTextEdit* view, plist::Array attributes = LoadAttributes(),
                                         QObject* parent = nullptr);

    void setList(std::vector<std::shared_ptr<QFSoundFile>> list);
    // Rebuilds the lines and the view.
    void updateInfo();
    const std::vector<Line>& info() const { return info_; }
    // The right-aligned tab stop of the labels (the value starts 8 points on).
    double tabStop() const { return tabStop_; }

private:
    void setupInfo();
    void setupInfoForFile(const QFSoundFile& file);
    void setInfoKey(const QString& key, const QString& value);
    void recalcTabStops();

    QTextEdit* view_;
    plist::Array attributes_;
    std::vector<std::shared_ptr<QFSoundFile>> list_;
    std::vector<Line> info_;
    double tabStop_ = 0;
};
