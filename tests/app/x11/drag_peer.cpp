// The other application of the drag tests under a real X server: a small
// window that either starts a drag when pressed (source) or takes a drop and
// writes what it got (target). xdotool drives the mouse between it and Corvane.
//   drag_peer source <x> <y> --url <path>
//   drag_peer source <x> <y> --data <mime type> <file with the bytes>
//   drag_peer target <x> <y> <output file>
// A target writes one line per format, "<format> <size>", then for the
// conversions' format its bytes after a line "--".
#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <cstdio>

namespace {

constexpr char kConversionsMime[] = "application/x-corvane-conversions+xml";

class Source : public QWidget {
public:
    explicit Source(QMimeData* payload) : payload_(payload) {}

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), QColor(0x30, 0x90, 0x30)); }
    void mousePressEvent(QMouseEvent*) override {
        // The drag lives on the heap: a drag on the stack can leave the drop
        // empty once the event loop of exec() hands the data over.
        auto* drag = new QDrag(this);
        drag->setMimeData(payload_);
        const Qt::DropAction done = drag->exec(Qt::CopyAction);
        std::printf("drag ended: %d\n", int(done));
        std::fflush(stdout);
        QTimer::singleShot(200, qApp, &QApplication::quit);
    }

private:
    QMimeData* payload_;
};

class Target : public QWidget {
public:
    explicit Target(QString out) : out_(std::move(out)) { setAcceptDrops(true); }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), QColor(0x90, 0x30, 0x30)); }
    void dragEnterEvent(QDragEnterEvent* e) override { e->acceptProposedAction(); }
    void dragMoveEvent(QDragMoveEvent* e) override { e->acceptProposedAction(); }
    void dropEvent(QDropEvent* e) override {
        QFile f(out_);
        if (f.open(QIODevice::WriteOnly)) {
            const QMimeData* data = e->mimeData();
            for (const QString& format : data->formats())
                f.write(QString("%1 %2\n").arg(format).arg(data->data(format).size()).toUtf8());
            if (data->hasFormat(kConversionsMime)) f.write("--\n" + data->data(kConversionsMime));
        }
        e->acceptProposedAction();
        QTimer::singleShot(200, qApp, &QApplication::quit);
    }

private:
    QString out_;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 5) {
        std::fprintf(stderr, "usage: drag_peer source|target <x> <y> …\n");
        return 2;
    }
    std::unique_ptr<QWidget> window;
    if (args[1] == "source" && args[4] == "--url" && args.size() == 6) {
        auto* payload = new QMimeData;
        payload->setUrls({QUrl::fromLocalFile(args[5])});
        window = std::make_unique<Source>(payload);
    } else if (args[1] == "source" && args[4] == "--data" && args.size() == 7) {
        QFile f(args[6]);
        if (!f.open(QIODevice::ReadOnly)) return 2;
        auto* payload = new QMimeData;
        payload->setData(args[5], f.readAll());
        window = std::make_unique<Source>(payload);
    } else if (args[1] == "target" && args.size() == 5) {
        window = std::make_unique<Target>(args[4]);
    } else {
        std::fprintf(stderr, "drag_peer: bad arguments\n");
        return 2;
    }
    window->setWindowTitle("drag peer " + args[1]);
    window->setGeometry(args[2].toInt(), args[3].toInt(), 160, 160);
    window->show();
    // Never outlive a test that lost track of it.
    QTimer::singleShot(60000, &app, &QApplication::quit);
    return app.exec();
}
