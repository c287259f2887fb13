// The input table's name cell drawn offscreen: the icon at the left, the text
// 18 points on, vertically centred and inside the cell, long names cut in the
// middle, the highlighted-text colour for a selected row, and the input
// table's "filename" column drawn by it from the model's path and name.
#include <QApplication>
#include <QImage>
#include <QPaintEngine>
#include <QPainter>
#include <QTableView>

#include "app/file_cell.h"
#include "app/input_list.h"
#include "app_test_support.h"
#include "conversion/qf_sound_file.h"
#include "ui_main_window.h"

namespace apptest {
namespace {

const QColor kIconColour(255, 0, 0);
const QColor kTextColour(0, 0, 0);
const QColor kHighlightColour(0, 0, 255);

QIcon RedIcon() {
    QPixmap square(16, 16);
    square.fill(kIconColour);
    return QIcon(square);
}

QPalette TestPalette() {
    QPalette palette;
    palette.setColor(QPalette::Text, kTextColour);
    palette.setColor(QPalette::HighlightedText, kHighlightColour);
    return palette;
}

// Where ink other than the icon's lies, and of which colour most of it is.
struct Ink {
    int left = INT_MAX, right = -1, top = INT_MAX, bottom = -1;
    int iconLeft = INT_MAX, iconRight = -1, iconTop = INT_MAX, iconBottom = -1;
    int highlightPixels = 0, textPixels = 0;
};

Ink Measure(const QImage& image) {
    Ink ink;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c == Qt::white) continue;
            if (c == kIconColour) {
                ink.iconLeft = std::min(ink.iconLeft, x), ink.iconRight = std::max(ink.iconRight, x);
                ink.iconTop = std::min(ink.iconTop, y), ink.iconBottom = std::max(ink.iconBottom, y);
                continue;
            }
            ink.left = std::min(ink.left, x), ink.right = std::max(ink.right, x);
            ink.top = std::min(ink.top, y), ink.bottom = std::max(ink.bottom, y);
            // Antialiased edges lean towards the colour drawn.
            if (c.blue() > 200 && c.red() < 100) ++ink.highlightPixels;
            if (c.blue() < 100 && c.red() < 100) ++ink.textPixels;
        }
    }
    return ink;
}

// A cell of `width` x `height` drawn at the image's left edge; the image is
// 60 pixels wider, so text running past the cell would show.
QImage Draw(const FileCell& cell, int width, int height, bool highlighted) {
    QImage image(width + 60, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    cell.drawInteriorWithFrame(&painter, QRect(0, 0, width, height), RedIcon(), highlighted,
                               TestPalette());
    return image;
}

// A paint device that keeps the texts drawn on it, with where they start.
class TextRecorder : public QPaintDevice {
public:
    struct Engine : QPaintEngine {
        QString text;
        qreal firstX = -1;
        bool begin(QPaintDevice*) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState&) override {}
        void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
        void drawTextItem(const QPointF& p, const QTextItem& item) override {
            if (text.isEmpty()) firstX = p.x();
            text += item.text();
        }
        Type type() const override { return QPaintEngine::User; }
    };
    mutable Engine engine;
    QPaintEngine* paintEngine() const override { return &engine; }

protected:
    int metric(PaintDeviceMetric m) const override {
        switch (m) {
            case PdmWidth: return 400;
            case PdmHeight: return 40;
            case PdmDpiX: case PdmDpiY: case PdmPhysicalDpiX: case PdmPhysicalDpiY: return 96;
            case PdmDepth: return 32;
            case PdmDevicePixelRatio: return 1;
            case PdmDevicePixelRatioScaled: return static_cast<int>(devicePixelRatioFScale());
            default: return QPaintDevice::metric(m);
        }
    }
};

// The text a cell of `width` draws, and where.
std::pair<QString, qreal> DrawnText(const FileCell& cell, int width) {
    TextRecorder device;
    {
        QPainter painter(&device);
        cell.drawInteriorWithFrame(&painter, QRect(0, 0, width, 20), QIcon(), false, TestPalette());
    }
    return {device.engine.text, device.engine.firstX};
}

TEST(FileCellTest, IconAtTheLeftTextEighteenOnCentredAndInsideTheCell) {
    FileCell cell;
    cell.setName("recording");
    for (const int height : {20, 40}) {
        const Ink ink = Measure(Draw(cell, 200, height, false));
        EXPECT_EQ(ink.iconLeft, 0) << height;
        EXPECT_EQ(ink.iconRight, 15) << height;
        EXPECT_EQ(ink.iconTop, (height - 16) / 2) << height;
        // The first glyph's side bearing is a pixel or two.
        EXPECT_GE(ink.left, FileCell::kTextOffset) << height;
        EXPECT_LE(ink.left, FileCell::kTextOffset + 3) << height;
        // Centred on the cell's middle, one point higher.
        const double middle = (ink.top + ink.bottom) / 2.0;
        EXPECT_NEAR(middle, height / 2.0 - 1, 2.5) << height;
        EXPECT_GT(ink.textPixels, 0);
        EXPECT_EQ(ink.highlightPixels, 0);
    }
    // A long name ends inside the cell, however narrow.
    cell.setName(QString("a_very_long_recording_name_").repeated(4));
    for (const int width : {60, 120, 240}) {
        const Ink ink = Measure(Draw(cell, width, 20, false));
        EXPECT_LT(ink.right, width) << width;
        EXPECT_GT(ink.right, width - 20) << width;
    }
    // A selected row: the text in the highlighted colour, the icon as it is.
    cell.setName("recording");
    const Ink selected = Measure(Draw(cell, 200, 20, true));
    EXPECT_GT(selected.highlightPixels, 0);
    EXPECT_EQ(selected.textPixels, 0);
    EXPECT_EQ(selected.iconRight, 15);
}

TEST(FileCellTest, TheNameOrTheLastComponentCutInTheMiddle) {
    FileCell cell;
    struct Case {
        const char* path;
        const char* name;
        const char* shown;
    };
    const Case cases[] = {{"/music/take one.aif", "Take One", "Take One"},
                          {"/music/take two.aif", "", "take two.aif"},
                          {"/music/sessions/", "", "sessions"}};
    for (const Case& c : cases) {
        cell.setPath(c.path);
        cell.setName(c.name);
        const auto [text, x] = DrawnText(cell, 300);
        EXPECT_EQ(text, c.shown) << c.path;
        EXPECT_EQ(x, FileCell::kTextOffset) << c.path;
    }
    const QString longName = "beginning_" + QString("middle_").repeated(20) + "ending";
    cell.setName(longName);
    for (const int width : {80, 160}) {
        const auto [text, x] = DrawnText(cell, width);
        ASSERT_EQ(text.count(QChar(0x2026)), 1) << text.toStdString();
        const QString head = text.section(QChar(0x2026), 0, 0);
        const QString tail = text.section(QChar(0x2026), 1, 1);
        EXPECT_FALSE(head.isEmpty());
        EXPECT_FALSE(tail.isEmpty());
        EXPECT_TRUE(longName.startsWith(head)) << text.toStdString();
        EXPECT_TRUE(longName.endsWith(tail)) << text.toStdString();
        EXPECT_LE(QFontMetricsF(cell.font()).horizontalAdvance(text), width - FileCell::kTextOffset);
    }
    // A copy draws the same.
    cell.setPath("/music/x.aif");
    std::unique_ptr<FileCell> copy(cell.copy());
    EXPECT_EQ(copy->font(), cell.font());
    EXPECT_EQ(copy->path(), cell.path());
    EXPECT_EQ(copy->name(), cell.name());
}

struct FileCellTableTest : AppTest {};

TEST_F(FileCellTableTest, TheInputTableDrawsItsNamesThroughTheCell) {
    WriteWave(dir / "tone.wav", 200);
    MainServices services = Services();
    services.addFiles = nullptr;  // the controller's own add run
    auto c = Make(services);
    bool done = false;
    QObject::connect(c.get(), &MainController::filesAdded, [&done] { done = true; });
    c->setFilesToAdd({QString::fromStdString(dir / "tone.wav")});
    ASSERT_TRUE(PumpUntil([&done] { return done; }));
    QTableView* table = c->ui()->inputFileTableView;
    auto* cell = qobject_cast<FileCell*>(table->itemDelegateForColumn(InputListModel::kFilenameColumn));
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->font().pointSize(), 11);
    EXPECT_EQ(table->itemDelegateForColumn(InputListModel::kPlayableColumn), nullptr);
    const QModelIndex index = table->model()->index(0, InputListModel::kFilenameColumn);
    EXPECT_EQ(index.data(FileCell::kPathRole).toString().toStdString(), dir / "tone.wav");
    EXPECT_EQ(index.data(FileCell::kNameRole).toString(),
              QString::fromStdString(c->inputFiles.front()->name()));
    // Drawn as a selected row: background by the style, text in the highlight colour.
    QStyleOptionViewItem option;
    option.rect = QRect(0, 0, 200, 20);
    option.palette = TestPalette();
    option.palette.setColor(QPalette::Highlight, Qt::white);
    option.palette.setColor(QPalette::Base, Qt::white);
    option.state = QStyle::State_Enabled | QStyle::State_Active | QStyle::State_Selected;
    option.showDecorationSelected = true;
    QImage image(260, 20, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        cell->paint(&painter, option, index);
    }
    const Ink ink = Measure(image);
    EXPECT_GT(ink.highlightPixels, 0);
    EXPECT_EQ(ink.textPixels, 0);
    EXPECT_GE(ink.left, FileCell::kTextOffset);
    EXPECT_LT(ink.right, 200);
}

}  // namespace
}  // namespace apptest
