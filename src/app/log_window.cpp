#include "app/log_window.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QPrintDialog>
#include <QPrinter>
#include <QSaveFile>
#include <QTextDocument>

#include "app/desktop_services.h"
#include "ui_log_window.h"

namespace {

QFont MonospaceFont(int points) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setFamily("Courier");
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    font.setPointSize(points);
    return font;
}

}  // namespace

LogWindow::LogWindow(const QString& path, Alerts* alerts, FileDialogs* dialogs, QWidget* parent)
    : QMainWindow(parent), ui_(std::make_unique<Ui::LogWindow>()), path_(path), alerts_(alerts),
      dialogs_(dialogs) {
    ui_->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    ui_->logView->setFont(MonospaceFont(12));
    connect(ui_->saveAction, &QAction::triggered, this, &LogWindow::save);
    connect(ui_->saveAsAction, &QAction::triggered, this, &LogWindow::saveAs);
    connect(ui_->printAction, &QAction::triggered, this, &LogWindow::printShowingPrintPanel);
    connect(ui_->closeAction, &QAction::triggered, this, &QWidget::close);
    connect(ui_->logView->document(), &QTextDocument::modificationChanged, this,
            &QWidget::setWindowModified);
    loadDataRepresentation();
}

LogWindow::~LogWindow() = default;

QPlainTextEdit* LogWindow::logView() const { return ui_->logView; }

void LogWindow::present() {
    show();
    raise();
    activateWindow();
    ui_->logView->setFocus(Qt::ActiveWindowFocusReason);
}

QString LogWindow::logText() const { return ui_->logView->toPlainText(); }

void LogWindow::setLogText(const QString& text) {
    ui_->logView->setPlainText(text);
    ui_->logView->document()->setModified(false);
}

void LogWindow::loadDataRepresentation() {
    QFile file(path_);
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly)) bytes = file.readAll();
    setLogText(QString::fromUtf8(bytes));
    setWindowTitle(QFileInfo(path_).fileName() + "[*]");
    setWindowModified(false);
}

bool LogWindow::isDocumentEdited() const { return ui_->logView->document()->isModified(); }

QByteArray LogWindow::dataRepresentation() const { return logText().toUtf8(); }

bool LogWindow::saveTo(const QString& target) {
    const QString path = target.isEmpty() ? path_ : target;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(dataRepresentation());
    if (!file.commit()) return false;
    if (path != path_) {
        path_ = path;
        setWindowTitle(QFileInfo(path_).fileName() + "[*]");
    }
    ui_->logView->document()->setModified(false);
    return true;
}

bool LogWindow::save() {
    if (saveTo()) return true;
    alerts_->run(this, Tr("Error"),
                 Tr("The log could not be saved to '%1'.").arg(QFileInfo(path_).filePath()));
    return false;
}

bool LogWindow::saveAs() {
    const QString path = dialogs_->saveFile(this, Tr("Save Log"), path_);
    if (path.isEmpty()) return false;
    if (saveTo(path)) return true;
    alerts_->run(this, Tr("Error"), Tr("The log could not be saved to '%1'.").arg(path));
    return false;
}

void LogWindow::printTo(QPrinter* printer) const {
    QTextDocument document;
    document.setDefaultFont(MonospaceFont(9));
    document.setPlainText(logText());
    document.setPageSize(printer->pageRect(QPrinter::Point).size());
    document.print(printer);
}

void LogWindow::printShowingPrintPanel() {
    QPrinter printer;
    QPrintDialog dialog(&printer, const_cast<LogWindow*>(this));
    if (dialog.exec() == QDialog::Accepted) printTo(&printer);
}

void LogWindow::closeEvent(QCloseEvent* event) {
    if (isDocumentEdited()) {
        const int answer = alerts_->run(
            this, Tr("Do you want to save the changes you made to this log?"),
            Tr("Your changes will be lost if you don't save them."), Tr("Save"), Tr("Cancel"),
            Tr("Don't Save"));
        if (answer == 0 || (answer == 1 && !save())) {
            event->ignore();
            return;
        }
    }
    event->accept();
}
