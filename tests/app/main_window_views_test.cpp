// The main window's small views: the drop target's rules and drop, the space
// key of the player view, the faint background and the about box.
#include <QApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QUrl>
#include <QtTest/QTest>

#include "app/main_window_views.h"
#include "app_test_support.h"
#include "foundation/resource_fork.h"

namespace {

class FileDropViewTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    std::string folder, aiff, wave;
    void SetUp() override {
        folder = dir / "out";
        std::filesystem::create_directory(folder);
        aiff = dir / "take";  // no extension: known by its type code only
        wave = dir / "take.wav";
        testsupport::WriteFile(aiff, "x");
        testsupport::WriteFile(wave, "x");
        ASSERT_EQ(SetFinderInfo(aiff, 0x41494646 /* AIFF */, 0), 0);
    }
    static std::unique_ptr<QMimeData> Drag(const std::string& path) {
        auto data = std::make_unique<QMimeData>();
        data->setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
        return data;
    }
    // Whether the view takes a drag of `path` on entry.
    static bool Enter(FileDropView& view, const std::string& path) {
        auto data = Drag(path);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&view, &enter);
        return enter.isAccepted();
    }
};

TEST_F(FileDropViewTest, DropRules) {
    struct Case {
        const char* what;
        bool dirs, files;
        std::optional<QStringList> types;
        std::string path;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {"folder, folders only", true, false, std::nullopt, folder, true},
        {"file, folders only", true, false, std::nullopt, wave, false},
        {"folder, files only", false, true, std::nullopt, folder, false},
        {"any file", false, true, std::nullopt, wave, true},
        {"by extension", false, true, QStringList{"aif", "wav"}, wave, true},
        {"by quoted type code", false, true, QStringList{"'AIFF'"}, aiff, true},
        {"unquoted code is no match", false, true, QStringList{"AIFF"}, aiff, false},
        {"listed neither way", false, true, QStringList{"mp3"}, wave, false},
        {"nothing there", true, true, std::nullopt, dir / "gone", false},
    };
    for (const auto& c : cases) {
        FileDropView view;
        view.setAcceptsDirectories(c.dirs);
        view.setAcceptsFiles(c.files);
        view.setAcceptableTypes(c.types);
        EXPECT_EQ(Enter(view, c.path), c.accepted) << c.what;
        EXPECT_EQ(view.dragSessionInProgress(), c.accepted) << c.what;
    }
}

TEST_F(FileDropViewTest, ADroppedFolderIsAnnouncedAndTheHighlightEnds) {
    FileDropView view;
    view.setAcceptsDirectories(true);
    view.setOnlyNotifyOnDrop(true);
    EXPECT_EQ(view.filename(), "<drop a file or folder here>");
    QSignalSpy dropped(&view, &FileDropView::fileDropped);
    ASSERT_TRUE(Enter(view, folder));
    auto data = Drag(folder);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &drop);
    EXPECT_TRUE(drop.isAccepted());
    ASSERT_EQ(dropped.count(), 1);
    EXPECT_EQ(view.filename(), QString::fromStdString(folder));
    EXPECT_FALSE(view.dragSessionInProgress());

    // Leaving without a drop ends the highlight too.
    ASSERT_TRUE(Enter(view, folder));
    QDragLeaveEvent leave;
    QApplication::sendEvent(&view, &leave);
    EXPECT_FALSE(view.dragSessionInProgress());
}

TEST(PlayerViewTest, SpaceClicksAnEnabledButtonAndIsSwallowedOtherwise) {
    PlayerView view;
    QPushButton button;
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&] { ++clicks; });
    view.setPlayStopButton(&button);
    struct Case {
        const char* what;
        bool enabled;
        int key;
        QString text;
        bool handled;
        int clicks;
    };
    const std::vector<Case> cases = {
        {"space, enabled", true, Qt::Key_Space, " ", true, 1},
        {"space, disabled", false, Qt::Key_Space, " ", true, 0},
        {"other key", true, Qt::Key_A, "a", false, 0},
    };
    for (const auto& c : cases) {
        clicks = 0;
        button.setEnabled(c.enabled);
        QKeyEvent key(QEvent::KeyPress, c.key, Qt::NoModifier, c.text);
        EXPECT_EQ(view.performKeyEquivalent(&key), c.handled) << c.what;
        EXPECT_EQ(clicks, c.clicks) << c.what;
    }
    // As a filter: a table's space plays, a text field keeps it.
    QWidget table;
    QLineEdit field;
    table.installEventFilter(&view);
    field.installEventFilter(&view);
    button.setEnabled(true);
    clicks = 0;
    QTest::keyClick(&table, Qt::Key_Space);
    QTest::keyClick(&field, Qt::Key_Space);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(field.text(), " ");
}

TEST(BackgroundImageViewTest, FaintRightAlignedAndScaledToHeight) {
    BackgroundImageView view;
    view.resize(300, 100);
    QPixmap image(50, 50);
    image.fill(Qt::black);
    view.setImage(image);
    QImage shot(view.size(), QImage::Format_ARGB32);
    shot.fill(Qt::transparent);
    view.render(&shot, QPoint(), QRegion(), QWidget::DrawChildren);
    // Scaled to 100 × 100 and flush right: columns 200-299 are painted.
    EXPECT_EQ(qAlpha(shot.pixel(199, 50)), 0);
    EXPECT_NEAR(qAlpha(shot.pixel(200, 50)), 26, 2);  // a tenth of full
    EXPECT_NEAR(qAlpha(shot.pixel(299, 99)), 26, 2);
}

TEST(AboutBoxTest, ShowsItsImageAndClosesOnAClick) {
    CustomWindow about("4.0.0", 1234);
    ASSERT_FALSE(ProgramImage("aboutbox").isNull()) << "the build draws the images";
    QTimer::singleShot(0, [&] { QTest::mouseClick(about.view(), Qt::LeftButton); });
    EXPECT_EQ(about.exec(), QDialog::Accepted);
}

}  // namespace
