// A log file in a window of its own: shown in a monospace font, editable,
// saved as UTF-8, printed as wide as the paper. Reading a log always succeeds
// (bytes that are not UTF-8 show as replacement characters). Closing an edited
// log asks whether to save it.
#pragma once

#include <QMainWindow>
#include <memory>

class Alerts;
class FileDialogs;
class QPrinter;
class QPlainTextEdit;

namespace Ui {
class LogWindow;
}

class LogWindow : public QMainWindow {
    Q_OBJECT
public:
    LogWindow(const QString& path, Alerts* alerts, FileDialogs* dialogs, QWidget* parent = nullptr);
    ~LogWindow() override;

    const QString& path() const { return path_; }
    // The text shown (taken from the view).
    QString logText() const;
    void setLogText(const QString& text);
    // Reads the file at path() into the view; the document is then unchanged.
    void loadDataRepresentation();
    bool isDocumentEdited() const;
    QPlainTextEdit* logView() const;
    // Shows the window above the others as the active one, the keyboard in
    // its text.
    void present();

    // The UTF-8 bytes of the text.
    QByteArray dataRepresentation() const;
    // Writes the text to `path` (path() when empty); false when it cannot.
    bool saveTo(const QString& path = QString());
    // Prints the text in a 9-point monospace font as wide as the printer's page.
    void printTo(QPrinter* printer) const;

public slots:
    bool save();
    bool saveAs();
    void printShowingPrintPanel();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<Ui::LogWindow> ui_;
    QString path_;
    Alerts* alerts_;
    FileDialogs* dialogs_;
};
