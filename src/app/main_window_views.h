// The small view classes of the main window: the output folder's drop target
// (`FileDropView`), the player's key handling (`PlayerView`), the faint window
// background (`BackgroundImageView`) and the about box (`CustomWindow` with its
// `CustomView`).
#pragma once

#include <QDialog>
#include <QIcon>
#include <QPixmap>
#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <optional>

#include <QAbstractButton>
class QKeyEvent;
class Workspace;

// One of the program's images ("aboutbox", "Zeriv", "play" …) from the
// resource folder's "images"; a null pixmap when it is missing.
QPixmap ProgramImage(const QString& name);

// The file's type code in its quoted form ("'AIFF'"); empty when it has none.
QString QuotedTypeCode(const QString& path);

class FileDropView : public QWidget {
    Q_OBJECT
public:
    explicit FileDropView(QWidget* parent = nullptr);

    bool acceptsDirectories() const { return acceptsDirectories_; }
    void setAcceptsDirectories(bool on) { acceptsDirectories_ = on; }
    bool acceptsFiles() const { return acceptsFiles_; }
    void setAcceptsFiles(bool on) { acceptsFiles_ = on; }
    bool onlyNotifyOnDrop() const { return onlyNotifyOnDrop_; }
    void setOnlyNotifyOnDrop(bool on) { onlyNotifyOnDrop_ = on; }
    bool dragSessionInProgress() const { return dragSessionInProgress_; }
    bool fullPath() const { return fullPath_; }
    void setFullPath(bool on) { fullPath_ = on; }
    // Quoted type codes or name extensions; none accepts every file.
    const std::optional<QStringList>& acceptableTypes() const { return acceptableTypes_; }
    void setAcceptableTypes(std::optional<QStringList> types) { acceptableTypes_ = std::move(types); }
    const QString& filename() const { return filename_; }
    void setFilename(const QString& name) { filename_ = name; }
    const QIcon& icon() const { return icon_; }
    void setIcon(const QIcon& icon) { icon_ = icon; }
    // Where dropped items get their icons; none keeps the current icon.
    void setWorkspace(Workspace* workspace) { workspace_ = workspace; }

    // Whether a drag of `path` would be accepted.
    bool acceptsPath(const QString& path) const;
    // The icon and title shown when the view draws its cell.
    void setupCell();

signals:
    // A path was dropped; `filename()` holds it.
    void fileDropped(FileDropView* view);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void setDragSession(bool on);

    bool acceptsDirectories_ = false;
    bool acceptsFiles_ = false;
    bool onlyNotifyOnDrop_ = false;
    bool dragSessionInProgress_ = false;
    bool fullPath_ = false;
    std::optional<QStringList> acceptableTypes_;
    QString filename_;
    QIcon icon_;
    QIcon cellIcon_;
    QString cellTitle_;
    Workspace* workspace_ = nullptr;
};

// Gives the space key to the play/stop button: installed as an event filter on
// the widgets whose keys it watches (text fields keep their spaces).
class PlayerView : public QWidget {
    Q_OBJECT
public:
    explicit PlayerView(QWidget* parent = nullptr);
    void setPlayStopButton(QAbstractButton* button) { playStopButton_ = button; }
    QAbstractButton* playStopButton() const { return playStopButton_; }
    // A key with a space clicks the button when it is enabled; the key is
    // handled (true) either way. Any other key is not handled.
    bool performKeyEquivalent(QKeyEvent* event);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QAbstractButton> playStopButton_;
};

// Draws its image at a tenth of its opacity, scaled to the view's height and
// flush with its right edge.
class BackgroundImageView : public QWidget {
    Q_OBJECT
public:
    explicit BackgroundImageView(QWidget* parent = nullptr);
    const QPixmap& image() const { return image_; }
    void setImage(const QPixmap& image);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap image_;
};

// The about box's content: the image, the version and the count of files ever
// converted. A click ends the box.
class CustomView : public QWidget {
    Q_OBJECT
public:
    CustomView(QString version, quint64 filesConverted, QWidget* parent = nullptr);
    QSize sizeHint() const override;

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QPixmap aboutImage_;
    QString version_;
    quint64 filesConverted_;
};

// The about box's window: frameless and translucent, run modally.
class CustomWindow : public QDialog {
    Q_OBJECT
public:
    CustomWindow(QString version, quint64 filesConverted, QWidget* parent = nullptr);
    CustomView* view() const { return view_; }

private:
    CustomView* view_;
};
