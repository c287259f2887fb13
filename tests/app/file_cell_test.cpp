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
const QColor kHighlightColour(0, 0, 255);

QPalette TestPalette() {
    QPalette palette;
    palette.setColor(QPalette::Text, Qt::black);
    palette.setColor(QPalette::HighlightedText, kHighlightColour);
    return palette;
}

// The boxes of the icon's pixels and of the text's ink (all else that is not
// white), and whether the text is drawn in the highlight colour or in black.
struct Ink {
    QRect icon, text;
    int highlighted = 0, black = 0;
};

Ink Measure(const QImage& image) {
    Ink ink;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c == Qt::white) continue;
            QRect& box = c == kIconColour ? ink.icon : ink.text;
            box = box.united(QRect(x, y, 1, 1));
            // Antialiased edges lean towards the colour drawn; only clear ones count.
            if (c == kIconColour || c.red() >= 100) continue;
            if (c.blue() > 200) ++ink.highlighted;
            if (c.blue() < 100) ++ink.black;
        }
    return ink;
}

// A cell 200 wide and `height` high drawn at the left of a white image.
QImage Draw(const FileCell& cell, int height, bool highlighted = false) {
    QImage image(260, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPixmap icon(16, 16);
    icon.fill(kIconColour);
    QPainter painter(&image);
    cell.drawInteriorWithFrame(&painter, QRect(0, 0, 200, height), QIcon(icon), highlighted,
                               TestPalette());
    return image;
}

// A paint device that keeps the text drawn on it and where it starts.
struct TextRecorder : QPaintDevice {
    struct Engine : QPaintEngine {
        QString text;
        qreal x = -1;
        bool begin(QPaintDevice*) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState&) override {}
        void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
        void drawTextItem(const QPointF& p, const QTextItem& item) override {
            if (text.isEmpty()) x = p.x();
            text += item.text();
        }
        Type type() const override { return QPaintEngine::User; }
    };
    mutable Engine engine;
    QPaintEngine* paintEngine() const override { return &engine; }
    int metric(PaintDeviceMetric m) const override {
        if (m == PdmDpiX || m == PdmDpiY || m == PdmPhysicalDpiX || m == PdmPhysicalDpiY) return 96;
        if (m == PdmDevicePixelRatioScaled) return static_cast<int>(devicePixelRatioFScale());
        return m == PdmWidth ? 400 : m == PdmHeight ? 40 : m == PdmDepth ? 32 : 1;
    }
};

TEST(FileCellTest, IconAtTheLeftTextEighteenOnCentredAndCutInTheMiddle) {
    FileCell cell;
    cell.setName("recording");
    for (const int height : {20, 40}) {
        const Ink ink = Measure(Draw(cell, height));
        EXPECT_EQ(ink.icon, QRect(0, (height - 16) / 2, 16, 16)) << height;
        // The first glyph's side bearing is a pixel or two.
        EXPECT_GE(ink.text.left(), FileCell::kTextOffset) << height;
        EXPECT_LE(ink.text.left(), FileCell::kTextOffset + 3) << height;
        // Centred on the cell's middle, one point higher.
        EXPECT_NEAR(ink.text.center().y() + 0.5, height / 2.0 - 1, 2.5) << height;
        EXPECT_EQ(ink.highlighted, 0);
    }
    const Ink selected = Measure(Draw(cell, 20, true));
    EXPECT_GT(selected.highlighted, 0);
    EXPECT_EQ(selected.black, 0);
    // The name, else the path's last component; a long one keeps its start and end.
    const QString longName = "beginning_" + QString("middle_").repeated(20) + "ending";
    const QChar ellipsis(0x2026);
    struct Case {
        QString path, name;
        int width;
        QString shown;  // empty: cut in the middle
    };
    for (const Case& c :
         {Case{"/music/a.aif", "Take One", 300, "Take One"},
          Case{"/music/take two.aif", "", 300, "take two.aif"},
          Case{"/music/sessions/", "", 300, "sessions"}, Case{"/music/x.aif", longName, 80, ""},
          Case{"/music/x.aif", longName, 160, ""}}) {
        cell.setPath(c.path);
        cell.setName(c.name);
        TextRecorder device;
        {
            QPainter painter(&device);
            cell.drawInteriorWithFrame(&painter, QRect(0, 0, c.width, 20), QIcon(), false,
                                       TestPalette());
        }
        const QString& text = device.engine.text;
        EXPECT_EQ(device.engine.x, FileCell::kTextOffset) << c.path.toStdString();
        if (!c.shown.isEmpty()) {
            EXPECT_EQ(text, c.shown);
            continue;
        }
        ASSERT_EQ(text.count(ellipsis), 1) << text.toStdString();
        EXPECT_TRUE(longName.startsWith(text.section(ellipsis, 0, 0))) << text.toStdString();
        EXPECT_TRUE(longName.endsWith(text.section(ellipsis, 1, 1))) << text.toStdString();
        EXPECT_GT(text.section(ellipsis, 1, 1).size(), 1);
        EXPECT_LE(QFontMetricsF(cell.font()).horizontalAdvance(text),
                  c.width - FileCell::kTextOffset);
    }
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
    auto* cell =
        qobject_cast<FileCell*>(table->itemDelegateForColumn(InputListModel::kFilenameColumn));
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->font().pointSize(), 11);
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
    EXPECT_GT(ink.highlighted, 0);
    EXPECT_EQ(ink.black, 0);
    EXPECT_GE(ink.text.left(), FileCell::kTextOffset);
}

}  // namespace
}  // namespace apptest
