// The main window's small views and the about box.
#include "app/main_window_views.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QVBoxLayout>

#include "app/desktop_services.h"
#include "foundation/resource_fork.h"
#include "platform/resource_dir.h"

namespace {

// The first local path of a drag, or nothing.
QString FirstDropItem(const QMimeData* data) {
    if (!data || !data->hasUrls()) return {};
    const QList<QUrl> urls = data->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile()) return {};
    return urls.first().toLocalFile();
}

// Where the about box draws its texts: the image's points measured from its
// top-left corner (the baselines lie this far above the image's bottom).
constexpr int kVersionX = 420, kVersionAboveBottom = 152;
constexpr int kCountX = 215, kCountAboveBottom = 4;
const QColor kVersionColour = QColor::fromRgbF(0.1484375f, 0.58984375f, 0.8515625f);
const QColor kCountColour = QColor::fromRgbF(0.234375f, 0.3203125f, 0.37109375f);

}  // namespace

QPixmap ProgramImage(const QString& name) {
    return QPixmap(QString::fromStdString(platform::ResourcePath("images/" + name.toStdString() + ".png")));
}

QString QuotedTypeCode(const QString& path) {
    uint32_t type = 0, creator = 0;
    if (GetFinderInfo(path.toStdString(), &type, &creator) != 0 || type == 0) return {};
    QString code;
    for (int shift = 24; shift >= 0; shift -= 8) code += QChar(char((type >> shift) & 0xff));
    return "'" + code + "'";
}

// ---------------------------------------------------------------- FileDropView

FileDropView::FileDropView(QWidget* parent)
    : QWidget(parent), filename_(Tr("<drop a file or folder here>")), icon_(ProgramImage("Zeriv")) {
    setAcceptDrops(true);
}

bool FileDropView::acceptsPath(const QString& path) const {
    if (path.isEmpty()) return false;
    const QFileInfo info(path);
    if (!info.exists()) return false;
    if (info.isDir()) return acceptsDirectories_;
    if (!acceptsFiles_) return false;
    if (!acceptableTypes_) return true;
    const QString code = QuotedTypeCode(path);
    const QString extension = info.suffix();
    for (const QString& type : *acceptableTypes_) {
        if ((!code.isEmpty() && type == code) || (!extension.isEmpty() && type == extension))
            return true;
    }
    return false;
}

void FileDropView::setupCell() {
    cellIcon_ = icon_;
    cellTitle_ = fullPath_ ? filename_ : QFileInfo(filename_).fileName();
}

void FileDropView::setDragSession(bool on) {
    dragSessionInProgress_ = on;
    update();
}

void FileDropView::dragEnterEvent(QDragEnterEvent* event) {
    if (!acceptsPath(FirstDropItem(event->mimeData()))) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    setDragSession(true);
}

void FileDropView::dragLeaveEvent(QDragLeaveEvent* event) {
    setDragSession(false);
    event->accept();
}

void FileDropView::dropEvent(QDropEvent* event) {
    const QString path = FirstDropItem(event->mimeData());
    // The drag was checked on entry; the item may have gone since.
    if (!acceptsPath(path)) {
        setDragSession(false);
        event->ignore();
        return;
    }
    filename_ = path;
    if (workspace_) icon_ = workspace_->icon(path);
    if (!onlyNotifyOnDrop_) setupCell();
    event->setDropAction(Qt::CopyAction);
    event->accept();
    emit fileDropped(this);
    setDragSession(false);
}

void FileDropView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (dragSessionInProgress_) {
        constexpr int kFrame = 3;
        QPen pen(palette().color(QPalette::Highlight), kFrame);
        pen.setJoinStyle(Qt::MiterJoin);
        p.setPen(pen);
        p.drawRect(QRectF(rect()).adjusted(kFrame / 2.0, kFrame / 2.0, -kFrame / 2.0, -kFrame / 2.0));
    }
    if (onlyNotifyOnDrop_) {
        // A view that only reports drops shows what it takes: its icon and tip.
        constexpr int kHint = 48;
        const QPoint c = rect().center();
        icon_.paint(&p, QRect(c.x() - kHint / 2, c.y() - kHint / 2 - 10, kHint, kHint));
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(QRect(0, c.y() + kHint / 2 - 4, width(), 24), Qt::AlignHCenter | Qt::AlignTop,
                   toolTip());
        return;
    }
    constexpr int kIcon = 16;
    const QRect r = rect().adjusted(4, 0, -4, 0);
    const int y = r.center().y() - kIcon / 2;
    cellIcon_.paint(&p, QRect(r.left(), y, kIcon, kIcon));
    QFont font = this->font();
    font.setPointSize(13);
    p.setFont(font);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(r.adjusted(kIcon + 4, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, cellTitle_);
}

// ------------------------------------------------------------------ PlayerView

PlayerView::PlayerView(QWidget* parent) : QWidget(parent) { setFocusPolicy(Qt::StrongFocus); }

bool PlayerView::performKeyEquivalent(QKeyEvent* event) {
    if (!event->text().contains(' ') && event->key() != Qt::Key_Space) return false;
    if (playStopButton_ && playStopButton_->isEnabled()) playStopButton_->click();
    return true;
}

void PlayerView::keyPressEvent(QKeyEvent* event) {
    if (!performKeyEquivalent(event)) QWidget::keyPressEvent(event);
}

bool PlayerView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        // Text fields and the spin boxes keep their spaces.
        const bool typesText = qobject_cast<QLineEdit*>(watched) || qobject_cast<QTextEdit*>(watched) ||
                               qobject_cast<QPlainTextEdit*>(watched) ||
                               qobject_cast<QAbstractSpinBox*>(watched);
        if (!typesText && performKeyEquivalent(static_cast<QKeyEvent*>(event))) return true;
    }
    return QWidget::eventFilter(watched, event);
}

// --------------------------------------------------------- BackgroundImageView

BackgroundImageView::BackgroundImageView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void BackgroundImageView::setImage(const QPixmap& image) {
    image_ = image;
    update();
}

void BackgroundImageView::paintEvent(QPaintEvent*) {
    if (image_.isNull() || image_.height() == 0 || height() == 0) return;
    const double scale = double(height()) / image_.height();
    const int w = qRound(image_.width() * scale);
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setOpacity(0.1);
    p.drawPixmap(QRect(width() - w, 0, w, height()), image_);
}

// ------------------------------------------------------------------- About box

CustomView::CustomView(QString version, quint64 filesConverted, QWidget* parent)
    : QWidget(parent),
      aboutImage_(ProgramImage("aboutbox")),
      version_(std::move(version)),
      filesConverted_(filesConverted) {
    setAttribute(Qt::WA_TranslucentBackground);
}

QSize CustomView::sizeHint() const {
    return aboutImage_.isNull() ? QSize(500, 180) : aboutImage_.size() / aboutImage_.devicePixelRatio();
}

void CustomView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(rect(), Qt::transparent);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.drawPixmap(0, 0, aboutImage_);
    const int h = sizeHint().height();
    QFont font = this->font();
    font.setBold(true);
    font.setPointSize(9);
    p.setFont(font);
    p.setPen(kVersionColour);
    p.drawText(QPoint(kVersionX, h - kVersionAboveBottom), version_);
    p.setPen(kCountColour);
    p.drawText(QPoint(kCountX, h - kCountAboveBottom),
               FormatObjects(Tr("You converted a total of %@ files."),
                             {QString::number(filesConverted_)}));
}

void CustomView::mousePressEvent(QMouseEvent*) { emit clicked(); }

CustomWindow::CustomWindow(QString version, quint64 filesConverted, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      view_(new CustomView(std::move(version), filesConverted, this)) {
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowTitle(Tr("About Corvane"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
    setFixedSize(view_->sizeHint());
    connect(view_, &CustomView::clicked, this, &QDialog::accept);
}
