#include "app/desktop_services.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPushButton>
#include <QUrl>

QString Tr(const char* englishKey) { return QCoreApplication::translate("Corvane", englishKey); }

QString FormatObjects(const QString& format, const QStringList& args) {
    QString out;
    int next = 0;
    for (int i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && (format[i + 1] == '@' || format[i + 1] == 'd') &&
            next < args.size()) {
            out += args[next++];
            ++i;
        } else {
            out += format[i];
        }
    }
    return out;
}

void onMain(std::function<void()> fn) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(fn), Qt::QueuedConnection);
}

int QtAlerts::run(QWidget* parent, const QString& title, const QString& message,
                  const QString& defaultButton, const QString& alternateButton,
                  const QString& otherButton) {
    QMessageBox box(parent);
    box.setWindowTitle(title);
    box.setText(title);
    box.setInformativeText(message);
    if (parent) box.setWindowModality(Qt::WindowModal);
    QPushButton* first =
        box.addButton(defaultButton.isEmpty() ? Tr("OK") : defaultButton, QMessageBox::AcceptRole);
    QPushButton* second =
        alternateButton.isEmpty() ? nullptr
                                  : box.addButton(alternateButton, QMessageBox::RejectRole);
    QPushButton* third =
        otherButton.isEmpty() ? nullptr : box.addButton(otherButton, QMessageBox::DestructiveRole);
    box.setDefaultButton(first);
    box.exec();
    if (box.clickedButton() == first) return 1;
    if (third && box.clickedButton() == third) return -1;
    return second ? 0 : 1;
}

void AlertFolderNotShown(Alerts& alerts, QWidget* parent, const QString& folder) {
    alerts.run(parent, Tr("Could not show the folder"),
               FormatObjects(Tr("No application could open the folder '%@'."), {folder}));
}

QString QtFileDialogs::openFile(QWidget* parent, const QString& title,
                                const QStringList& extensions) {
    QStringList patterns;
    for (const QString& e : extensions) patterns << "*." + e;
    return QFileDialog::getOpenFileName(parent, title, QString(),
                                        patterns.isEmpty() ? QString() : patterns.join(' '),
                                        nullptr, QFileDialog::DontUseNativeDialog);
}

QString QtFileDialogs::saveFile(QWidget* parent, const QString& title, const QString& suggested) {
    return QFileDialog::getSaveFileName(parent, title, suggested, QString(), nullptr,
                                        QFileDialog::DontUseNativeDialog);
}

QString QtFileDialogs::chooseFolder(QWidget* parent, const QString& title) {
    // One folder; new folders may be made in the panel; "Choose" confirms.
    QFileDialog panel(parent, title);
    panel.setFileMode(QFileDialog::Directory);
    panel.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    panel.setLabelText(QFileDialog::Accept, Tr("Choose"));
    if (parent) panel.setWindowModality(Qt::WindowModal);
    if (panel.exec() != QDialog::Accepted || panel.selectedFiles().isEmpty()) return {};
    return panel.selectedFiles().first();
}

bool QtWorkspace::open(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

bool QtWorkspace::reveal(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

QIcon QtWorkspace::icon(const QString& path) {
    static QFileIconProvider provider;
    return provider.icon(QFileInfo(path));
}

QString QtWorkspace::typeName(const QString& path) {
    return QMimeDatabase().mimeTypeForFile(path).comment();
}

bool QtWorkspace::openAddress(const QString& address) {
    return QDesktopServices::openUrl(QUrl(address));
}
