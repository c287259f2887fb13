// Draws the program's images at build time: the about box, the drop target,
// the loudspeakers, play and stop, the sort indicators, the window background,
// the application and log-document icons in the hicolor sizes; and typesets the
// short manual from its text into a PDF.
// Usage: corvane_make_artwork <share folder> <manual text> <icon folder>
#include <QFile>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QTextDocument>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

const QColor kInk(0x1f, 0x3b, 0x4d);
const QColor kBlue(0x26, 0x97, 0xda);
const QColor kDeep(0x12, 0x4e, 0x78);

using Draw = std::function<void(QPainter&, int w, int h)>;

bool Write(const QString& path, int w, int h, const Draw& draw) {
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p, w, h);
    p.end();
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (image.save(path, "PNG")) return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

// A sound wave: `cycles` periods of a decaying sine across the rectangle.
QPainterPath Wave(const QRectF& r, double cycles) {
    QPainterPath path;
    const int steps = 200;
    for (int i = 0; i <= steps; ++i) {
        const double t = double(i) / steps;
        const double envelope = std::sin(M_PI * t);
        const double y = r.center().y() - envelope * std::sin(2 * M_PI * cycles * t) * r.height() / 2;
        const QPointF pt(r.left() + t * r.width(), y);
        if (i == 0)
            path.moveTo(pt);
        else
            path.lineTo(pt);
    }
    return path;
}

// The mark: a wave running into an arrow, on a rounded blue square.
void AppIcon(QPainter& p, int w, int) {
    const double s = w;
    const QRectF box(s * 0.06, s * 0.06, s * 0.88, s * 0.88);
    QLinearGradient g(box.topLeft(), box.bottomRight());
    g.setColorAt(0, kBlue);
    g.setColorAt(1, kDeep);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(box, s * 0.18, s * 0.18);
    QPen pen(Qt::white, std::max(1.0, s * 0.07), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(Wave(QRectF(s * 0.16, s * 0.3, s * 0.5, s * 0.4), 2.5));
    QPainterPath arrow;
    arrow.moveTo(s * 0.66, s * 0.5);
    arrow.lineTo(s * 0.84, s * 0.5);
    arrow.moveTo(s * 0.74, s * 0.4);
    arrow.lineTo(s * 0.84, s * 0.5);
    arrow.lineTo(s * 0.74, s * 0.6);
    p.drawPath(arrow);
}

// The log document: a page with a folded corner and lines, the wave on top.
void LogIcon(QPainter& p, int w, int) {
    const double s = w;
    QPainterPath page;
    page.moveTo(s * 0.18, s * 0.06);
    page.lineTo(s * 0.62, s * 0.06);
    page.lineTo(s * 0.82, s * 0.26);
    page.lineTo(s * 0.82, s * 0.94);
    page.lineTo(s * 0.18, s * 0.94);
    page.closeSubpath();
    p.setPen(QPen(kInk, std::max(1.0, s * 0.03)));
    p.setBrush(Qt::white);
    p.drawPath(page);
    p.setBrush(QColor(0xdd, 0xe6, 0xec));
    p.drawPolygon(QPolygonF({QPointF(s * 0.62, s * 0.06), QPointF(s * 0.62, s * 0.26),
                             QPointF(s * 0.82, s * 0.26)}));
    p.setPen(QPen(kBlue, std::max(1.0, s * 0.05), Qt::SolidLine, Qt::RoundCap));
    p.drawPath(Wave(QRectF(s * 0.26, s * 0.28, s * 0.48, s * 0.2), 2));
    p.setPen(QPen(QColor(0x8a, 0x9b, 0xa6), std::max(1.0, s * 0.03)));
    for (double y : {0.6, 0.7, 0.8}) p.drawLine(QPointF(s * 0.28, s * y), QPointF(s * 0.72, s * y));
}

void AboutBox(QPainter& p, int w, int h) {
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, QColor(0xf4, 0xf8, 0xfb));
    g.setColorAt(1, QColor(0xd6, 0xe4, 0xee));
    p.setPen(QPen(QColor(0x9f, 0xb6, 0xc6), 1));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 18, 18);
    p.save();
    p.translate(24, 28);
    AppIcon(p, 112, 112);
    p.restore();
    p.setPen(kDeep);
    QFont title("Sans", 34, QFont::Bold);
    p.setFont(title);
    p.drawText(QPointF(156, 82), "Corvane");
    p.setFont(QFont("Sans", 11));
    p.setPen(kInk);
    p.drawText(QPointF(158, 108), "Batch conversion of sound files");
    p.setPen(QPen(QColor(0x26, 0x97, 0xda, 90), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(Wave(QRectF(156, 120, 320, 26), 6));
    p.setFont(QFont("Sans", 8));
    p.setPen(QColor(0x5d, 0x72, 0x80));
    p.drawText(QPointF(158, 160), "Free software under the GNU GPL, version 3 or later");
}

// The drop target: an open folder with an arrow going in.
void DropTarget(QPainter& p, int w, int) {
    const double s = w;
    p.setPen(QPen(kDeep, s * 0.03));
    p.setBrush(QColor(0x9c, 0xc9, 0xe8));
    QPainterPath back;
    back.moveTo(s * 0.1, s * 0.3);
    back.lineTo(s * 0.38, s * 0.3);
    back.lineTo(s * 0.45, s * 0.38);
    back.lineTo(s * 0.9, s * 0.38);
    back.lineTo(s * 0.9, s * 0.88);
    back.lineTo(s * 0.1, s * 0.88);
    back.closeSubpath();
    p.drawPath(back);
    p.setBrush(QColor(0x5f, 0xaa, 0xdd));
    p.drawPolygon(QPolygonF({QPointF(s * 0.1, s * 0.88), QPointF(s * 0.18, s * 0.5),
                             QPointF(s * 0.98, s * 0.5), QPointF(s * 0.9, s * 0.88)}));
    p.setPen(QPen(kDeep, s * 0.07, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(s * 0.56, s * 0.06), QPointF(s * 0.56, s * 0.62));
    p.drawPolyline(QPolygonF({QPointF(s * 0.44, s * 0.5), QPointF(s * 0.56, s * 0.64),
                              QPointF(s * 0.68, s * 0.5)}));
}

void Loudspeaker(QPainter& p, int w, int h, bool muted) {
    const double s = std::min(w, h);
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawPolygon(QPolygonF({QPointF(s * 0.08, s * 0.36), QPointF(s * 0.3, s * 0.36),
                             QPointF(s * 0.56, s * 0.12), QPointF(s * 0.56, s * 0.88),
                             QPointF(s * 0.3, s * 0.64), QPointF(s * 0.08, s * 0.64)}));
    p.setBrush(Qt::NoBrush);
    if (muted) {
        p.setPen(QPen(QColor(0xc0, 0x39, 0x2b), s * 0.1, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(s * 0.66, s * 0.34), QPointF(s * 0.92, s * 0.66));
        p.drawLine(QPointF(s * 0.66, s * 0.66), QPointF(s * 0.92, s * 0.34));
        return;
    }
    p.setPen(QPen(kBlue, s * 0.08, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(s * 0.42, s * 0.3, s * 0.36, s * 0.4), -50 * 16, 100 * 16);
    p.drawArc(QRectF(s * 0.36, s * 0.14, s * 0.58, s * 0.72), -50 * 16, 100 * 16);
}

void Play(QPainter& p, int w, int h) {
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawPolygon(QPolygonF({QPointF(w * 0.28, h * 0.18), QPointF(w * 0.82, h * 0.5),
                             QPointF(w * 0.28, h * 0.82)}));
}

void Stop(QPainter& p, int w, int h) {
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawRoundedRect(QRectF(w * 0.22, h * 0.22, w * 0.56, h * 0.56), w * 0.06, w * 0.06);
}

void Sort(QPainter& p, int w, int h, bool ascending) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x4a, 0x5a, 0x66));
    if (ascending)
        p.drawPolygon(QPolygonF({QPointF(w / 2.0, 1), QPointF(w - 1, h - 1), QPointF(1, h - 1)}));
    else
        p.drawPolygon(QPolygonF({QPointF(1, 1), QPointF(w - 1, 1), QPointF(w / 2.0, h - 1)}));
}

// The background: the mark's wave drawn large; the windows show it faintly.
void Background(QPainter& p, int w, int h) {
    p.setPen(QPen(kDeep, w * 0.05, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(Wave(QRectF(w * 0.05, h * 0.2, w * 0.9, h * 0.6), 3));
    p.setPen(QPen(kBlue, w * 0.03, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(Wave(QRectF(w * 0.05, h * 0.3, w * 0.9, h * 0.4), 5));
}

bool WriteManual(const QString& textPath, const QString& pdfPath) {
    QFile in(textPath);
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(textPath));
        return false;
    }
    QTextDocument doc;
    doc.setDefaultFont(QFont("Sans", 10));
    doc.setMarkdown(QString::fromUtf8(in.readAll()));
    QPdfWriter pdf(pdfPath);
    pdf.setTitle("Corvane manual");
    pdf.setCreator("Corvane");
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter);
    doc.print(&pdf);
    return QFileInfo(pdfPath).size() > 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: corvane_make_artwork <share folder> <manual text> <icon folder>\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString share = QString::fromLocal8Bit(argv[1]);
    const QString images = share + "/images/";
    const QString icons = QString::fromLocal8Bit(argv[3]);
    bool ok = true;
    ok = Write(images + "aboutbox.png", 500, 180, AboutBox) && ok;
    ok = Write(images + "Zeriv.png", 128, 128, DropTarget) && ok;
    ok = Write(images + "loudspeaker-small.png", 16, 16,
               [](QPainter& p, int w, int h) { Loudspeaker(p, w, h, false); }) && ok;
    ok = Write(images + "loudspeaker-small-muted.png", 16, 16,
               [](QPainter& p, int w, int h) { Loudspeaker(p, w, h, true); }) && ok;
    ok = Write(images + "play.png", 24, 24, Play) && ok;
    ok = Write(images + "stop.png", 24, 24, Stop) && ok;
    ok = Write(images + "SortAscending.png", 9, 8,
               [](QPainter& p, int w, int h) { Sort(p, w, h, true); }) && ok;
    ok = Write(images + "SortDescending.png", 9, 8,
               [](QPainter& p, int w, int h) { Sort(p, w, h, false); }) && ok;
    ok = Write(images + "backgroundcorva.png", 480, 320, Background) && ok;
    ok = Write(images + "corvane.png", 256, 256, AppIcon) && ok;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString dir = QString("%1/%2x%2/").arg(icons).arg(size);
        ok = Write(dir + "apps/org.corvane.Corvane.png", size, size, AppIcon) && ok;
        ok = Write(dir + "mimetypes/application-x-corvane-log.png", size, size, LogIcon) && ok;
    }
    ok = WriteManual(QString::fromLocal8Bit(argv[2]), share + "/xwq_manualv5.pdf") && ok;
    return ok ? 0 : 1;
}
