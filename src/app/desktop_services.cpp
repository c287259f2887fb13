#include "app/desktop_services.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPointer>
#include <QPushButton>
#include <QUrl>
#include <algorithm>

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

namespace {

// Fills `box` with the title, message and buttons of an alert; the answer of
// the button clicked (see Alerts::run) comes from AnswerOf.
void SetUpAlertBox(QMessageBox& box, const QString& title, const QString& message,
                   const QString& defaultButton, const QString& alternateButton,
                   const QString& otherButton) {
    box.setWindowTitle(title);
    box.setText(title);
    box.setInformativeText(message);
    QPushButton* first =
        box.addButton(defaultButton.isEmpty() ? Tr("OK") : defaultButton, QMessageBox::AcceptRole);
    if (!alternateButton.isEmpty()) box.addButton(alternateButton, QMessageBox::RejectRole);
    if (!otherButton.isEmpty()) box.addButton(otherButton, QMessageBox::DestructiveRole);
    box.setDefaultButton(first);
}

int AnswerOf(const QMessageBox& box) {
    const QList<QAbstractButton*> buttons = box.buttons();
    QAbstractButton* clicked = box.clickedButton();
    if (clicked && box.buttonRole(clicked) == QMessageBox::AcceptRole) return 1;
    if (clicked && box.buttonRole(clicked) == QMessageBox::DestructiveRole) return -1;
    // Closed another way: the alternate button's answer, or the only button's.
    const bool alternate = std::any_of(buttons.begin(), buttons.end(), [&box](auto* b) {
        return box.buttonRole(b) == QMessageBox::RejectRole;
    });
    return alternate ? 0 : 1;
}

class BoxQuestion : public AlertQuestion {
public:
    BoxQuestion(QMessageBox* box, QMetaObject::Connection answer) : box_(box), answer_(answer) {}
    ~BoxQuestion() override { dismiss(); }
    void dismiss() override {
        QObject::disconnect(answer_);
        if (QMessageBox* box = box_.data()) {
            box_.clear();
            box->hide();
            box->deleteLater();
        }
    }
    bool isUp() const override { return box_ && box_->isVisible(); }

private:
    QPointer<QMessageBox> box_;
    QMetaObject::Connection answer_;
};

}  // namespace

int QtAlerts::run(QWidget* parent, const QString& title, const QString& message,
                  const QString& defaultButton, const QString& alternateButton,
                  const QString& otherButton) {
    QMessageBox box(parent);
    SetUpAlertBox(box, title, message, defaultButton, alternateButton, otherButton);
    if (parent) box.setWindowModality(Qt::WindowModal);
    box.exec();
    return AnswerOf(box);
}

std::unique_ptr<AlertQuestion> QtAlerts::ask(QWidget* parent, const QString& title,
                                             const QString& message, const QString& defaultButton,
                                             const QString& alternateButton,
                                             const QString& otherButton,
                                             std::function<void(int)> answered) {
    auto* box = new QMessageBox(parent);
    SetUpAlertBox(*box, title, message, defaultButton, alternateButton, otherButton);
    const QMetaObject::Connection answer =
        QObject::connect(box, &QDialog::finished, box, [box, answered = std::move(answered)] {
            box->deleteLater();
            answered(AnswerOf(*box));
        });
    // Window-modal over its parent; the call returns at once.
    box->open();
    return std::make_unique<BoxQuestion>(box, answer);
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
