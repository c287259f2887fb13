// The main window's controls connected: playback through the buttons, the menu
// and the space key (a start failure shown, the buttons back at rest, the
// marker following its file through edits and sorts, the play button enabled
// by the rule of what it shows); the enabling refreshed before a menu opens;
// the output page and its commands, a folder no application opens said;
// varispeed remembered; the Help menu and the about box.
#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QSlider>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>
#include <QTimer>
#include <QUrl>
#include <filesystem>

#include "app/input_list.h"
#include "app/main_window_views.h"
#include "app/player_control.h"
#include "app/table_sorting.h"
#include "app_test_support.h"
#include "conversion/qf_sound_file.h"
#include "playback/player.h"
#include "ui_main_window.h"

namespace apptest {
namespace {

namespace fs = std::filesystem;

struct ControlsTest : AppTest {
    std::unique_ptr<MainController> c;
    std::string in = dir / "in";

    void SetUp() override {
        fs::create_directories(in);
        for (const char* f : {"a.wav", "b.wav"}) WriteWave(in + "/" + f, 80000);
        MainServices s = Services();
        s.addFiles = nullptr;
        s.playback = nullptr;  // the window's own player
        c = Make(s);
    }
    void Add(const QStringList& names) {
        QStringList paths;
        for (const auto& n : names) paths << QString::fromStdString(in + "/") + n;
        bool done = false;
        auto link = QObject::connect(c.get(), &MainController::filesAdded, [&done] { done = true; });
        c->setFilesToAdd(paths);
        ASSERT_TRUE(PumpUntil([&done] { return done; }));
        QObject::disconnect(link);
    }
    QAction* Action(const char* name) { return c->window()->findChild<QAction*>(name); }
    Player* player() { return c->playerControl()->player(); }
};

TEST_F(ControlsTest, PlayStopAndTheSpaceKeyFollowThePlayer) {
    Ui::MainWindow& ui = *c->ui();
    EXPECT_FALSE(Action("playFileAction")->isEnabled());  // no inputs, no player
    Add({"a.wav", "b.wav"});
    ui.inputFileTableView->selectRow(1);
    EXPECT_TRUE(Action("playFileAction")->isEnabled());
    EXPECT_FALSE(Action("stopFileAction")->isEnabled());

    ui.playFileButton->click();
    ASSERT_NE(player(), nullptr);
    EXPECT_TRUE(player()->isPlaying());
    EXPECT_EQ(ui.folderPlayTextField->text(), QString::fromStdString("Playing: " + in + "/b.wav"));
    EXPECT_EQ(SelectedRows(ui.inputFileTableView->selectionModel()), std::vector<int>{1});
    const QModelIndex speaker = ui.inputFileTableView->model()->index(1, 0);
    EXPECT_FALSE(speaker.data(Qt::DecorationRole).value<QIcon>().isNull());
    EXPECT_TRUE(Action("stopFileAction")->isEnabled());
    EXPECT_TRUE(ui.playNextButton->isEnabled());  // two inputs
    EXPECT_FALSE(ui.startButton->isEnabled());    // nothing starts while playing

    // Space on the input table plays and stops through the play button.
    QTest::keyClick(ui.inputFileTableView, Qt::Key_Space);
    EXPECT_FALSE(player()->isPlaying());
    EXPECT_TRUE(ui.folderPlayTextField->text().isEmpty());
    QTest::keyClick(ui.inputFileTableView, Qt::Key_Space);
    EXPECT_TRUE(player()->isPlaying());
    Action("stopFileAction")->trigger();
    EXPECT_FALSE(player()->isPlaying());
}

// The play button follows the rule of the command it gives: Play needs a
// selected row (or, once there is a player, any input), Stop a file playing.
TEST_F(ControlsTest, ThePlayButtonFollowsTheRuleOfWhatItShows) {
    QPushButton* button = c->ui()->playFileButton;
    EXPECT_FALSE(button->isEnabled());  // nothing listed
    Add({"a.wav", "b.wav"});
    EXPECT_FALSE(button->isEnabled());  // nothing selected, no player
    c->ui()->inputFileTableView->selectRow(0);
    EXPECT_TRUE(button->isEnabled());
    button->click();
    ASSERT_TRUE(player() && player()->isPlaying());
    EXPECT_EQ(button->toolTip(), "Stop");
    EXPECT_TRUE(button->isEnabled());
    c->ui()->inputFileTableView->clearSelection();
    EXPECT_TRUE(button->isEnabled());  // it stops, whatever is selected
    button->click();
    EXPECT_FALSE(player()->isPlaying());
    EXPECT_EQ(button->toolTip(), "Play");
    EXPECT_TRUE(button->isEnabled());  // the player plays from the list
    c->removeAll();
    EXPECT_TRUE(c->inputFiles.empty());
    EXPECT_FALSE(button->isEnabled());
    button->click();
    EXPECT_FALSE(player() && player()->isPlaying());
}

// The loudspeaker and the player stay with the file that plays while rows are
// added above it, removed around it and sorted. Stopped, with a folder listed
// first, neither removing the marked row nor adding starts anything.
TEST_F(ControlsTest, ThePlaybackMarkerFollowsItsFileThroughEditsAndSorts) {
    fs::create_directories(in + "/0sub");
    for (const char* f : {"c.wav", "d.wav", "0sub/x.wav"}) WriteWave(in + "/" + f, 80000);
    const std::string out = dir / "out";
    fs::create_directory(out);
    c->setDestFolder(out);
    c->convSpecs.push_back(AiffConversion("Aiff"));
    Ui::MainWindow& ui = *c->ui();
    QTableView* table = ui.inputFileTableView;
    c->window()->show();
    QApplication::setActiveWindow(c->window());
    auto clickRow = [table](int row, Qt::KeyboardModifiers keys = Qt::NoModifier) {
        const QRect cell = table->visualRect(table->model()->index(row, 1));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, keys, cell.center());
    };
    auto clickNameHeader = [table] {
        QHeaderView* header = table->horizontalHeader();
        const int at = header->sectionViewportPosition(1) + header->sectionSize(1) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(at, header->height() / 2));
    };
    // The rows showing the loudspeaker, each with its entry's name.
    auto marked = [this, table] {
        std::vector<std::pair<int, std::string>> rows;
        for (int row = 0; row < table->model()->rowCount(); ++row)
            if (!table->model()->index(row, 0).data(Qt::DecorationRole).value<QIcon>().isNull())
                rows.emplace_back(row, fs::path(c->inputFiles[size_t(row)]->path()).filename());
        return rows;
    };
    using Marks = std::vector<std::pair<int, std::string>>;
    const QString playingC = QString::fromStdString("Playing: " + in + "/c.wav");
    auto stillPlayingC = [&] {
        return player()->isPlaying() && player()->playingFile()->path() == in + "/c.wav" &&
               ui.folderPlayTextField->text() == playingC;
    };

    Add({"c.wav"});
    clickRow(0);
    ui.playFileButton->click();
    ASSERT_TRUE(stillPlayingC());
    Add({"a.wav", "b.wav"});
    EXPECT_EQ(marked(), (Marks{{2, "c.wav"}}));
    EXPECT_TRUE(stillPlayingC());
    Add({"d.wav"});
    clickRow(1);
    clickRow(3, Qt::ControlModifier);
    QTest::keyClick(table, Qt::Key_Delete);
    ASSERT_EQ(c->inputFiles.size(), 2u);
    EXPECT_EQ(marked(), (Marks{{1, "c.wav"}}));
    EXPECT_TRUE(stillPlayingC());
    clickNameHeader();  // descending
    EXPECT_EQ(marked(), (Marks{{0, "c.wav"}}));
    EXPECT_TRUE(stillPlayingC());
    EXPECT_FALSE(ui.startButton->isEnabled());  // nothing starts while playing
    // Next goes down the list as it is shown.
    EXPECT_EQ(player()->nextFromInputList(), c->inputFiles[1]);

    QTest::keyClick(table, Qt::Key_Space);
    ASSERT_FALSE(player()->isPlaying());
    clickNameHeader();  // ascending
    Add({"0sub"});
    EXPECT_EQ(marked(), (Marks{{2, "c.wav"}}));
    clickRow(2);
    QTest::keyClick(table, Qt::Key_Delete);
    Add({"b.wav"});
    EXPECT_FALSE(player()->isPlaying());
    EXPECT_TRUE(ui.folderPlayTextField->text().isEmpty());
    EXPECT_TRUE(ui.startButton->isEnabled());
    // The first entry is current now: Play starts the folder's first file.
    EXPECT_EQ(marked(), (Marks{{0, "0sub"}}));
    table->clearSelection();
    ui.playFileButton->click();
    EXPECT_TRUE(player()->isPlaying());
    EXPECT_EQ(player()->playingFile()->path(), in + "/0sub/x.wav");
}

TEST_F(ControlsTest, AFileThatCannotPlayIsReportedAndTheButtonsRest) {
    Add({"a.wav"});
    // The file is cut to nothing after it was listed.
    testsupport::WriteFile(in + "/a.wav", "");
    c->ui()->inputFileTableView->selectRow(0);
    c->ui()->playFileButton->click();
    ASSERT_EQ(alerts.shown.size(), 1u);
    EXPECT_EQ(alerts.shown[0].title, "Error");
    EXPECT_FALSE(player() && player()->isPlaying());
    EXPECT_TRUE(c->ui()->folderPlayTextField->text().isEmpty());
    EXPECT_EQ(c->ui()->playFileButton->toolTip(), "Play");
}

// With the blip on and auto-play off, Play after a file and its blip have
// ended plays the selected row again (or, with none selected, that file), never
// the blip alone.
TEST_F(ControlsTest, PlayAfterTheBlipPlaysTheFileNotTheBlip) {
    for (const char* f : {"c.wav", "d.wav"}) WriteWave(in + "/" + f, 800);
    Add({"c.wav", "d.wav"});
    Ui::MainWindow& ui = *c->ui();
    ui.blipAtEndCheckbox->setChecked(true);
    ui.autoPlayNextCheckbox->setChecked(false);
    std::vector<std::string> played;
    const auto token = platform::NotificationCenter::Default().AddObserver(
        XWPlayerStartNotification, nullptr, [&played](const platform::Notification& n) {
            played.push_back(static_cast<const Player*>(n.sender)->playingFile()->path());
        });
    const std::string blip = Player::BlipFile()->path();
    const std::string d = in + "/d.wav";
    // Plays until the file and its blip have ended and the button is at rest.
    auto playAndWait = [&] {
        ui.playFileButton->click();
        return PumpUntil([&] {
            return played.size() >= 2 && played.back() == blip && !player()->isPlaying() &&
                   ui.playFileButton->toolTip() == "Play";
        });
    };
    ui.inputFileTableView->selectRow(1);
    ASSERT_TRUE(playAndWait());
    EXPECT_EQ(played, (std::vector<std::string>{d, blip}));
    ASSERT_TRUE(playAndWait());
    ui.inputFileTableView->clearSelection();
    ASSERT_TRUE(playAndWait());
    platform::NotificationCenter::Default().RemoveObserver(token);
    EXPECT_EQ(played, (std::vector<std::string>{d, blip, d, blip, d, blip}));
}

TEST_F(ControlsTest, MenusAreRefreshedBeforeTheyOpen) {
    const std::string out = dir / "out";
    QAction* empty = Action("emptyOutputFolderAction");
    EXPECT_FALSE(empty->isEnabled());
    // The folder appears behind the window's back: the menu notices as it opens.
    fs::create_directory(out);
    c->destFolder = out;
    EXPECT_FALSE(empty->isEnabled());
    emit c->ui()->fileMenu->aboutToShow();
    EXPECT_TRUE(empty->isEnabled());
    EXPECT_TRUE(Action("showDestInFinderAction")->isEnabled());
}

TEST_F(ControlsTest, TheOutputPageFollowsTheFolder) {
    Ui::MainWindow& ui = *c->ui();
    c->setDestFolder("");
    EXPECT_EQ(ui.outputFolderTextField->text(), "<undefined>");
    EXPECT_EQ(ui.outputFolderButton->shortcut(), QKeySequence(Qt::Key_Return));
    EXPECT_FALSE(ui.showInFinderButton->isEnabled());

    // A folder dropped on the page becomes the output folder.
    const std::string out = dir / "dropped";
    fs::create_directory(out);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(out))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(ui.fileDropView, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(ui.fileDropView, &drop);
    EXPECT_EQ(c->destFolder, out);
    EXPECT_EQ(ui.outputFolderTextField->text(), QString::fromStdString(out));
    EXPECT_EQ(ui.showInFinderButton->shortcut(), QKeySequence(Qt::Key_Return));
    EXPECT_TRUE(ui.showInFinderButton->isEnabled());

    // Emptying asks, then empties.
    testsupport::WriteFile(out + "/old.aif", "x");
    alerts.answers = {1};
    Action("emptyOutputFolderAction")->trigger();
    EXPECT_TRUE(fs::is_empty(out));
    ASSERT_EQ(alerts.shown.size(), 2u);
    EXPECT_EQ(alerts.shown[1].title, "The output folder is now empty");

    // The folder goes away: the page says so and Start stays off.
    fs::remove(out);
    c->showOutput();
    EXPECT_EQ(ui.outputFolderTextField->text(), "<undefined>");
    EXPECT_FALSE(ui.startButton->isEnabled());
}

// When no application opens a folder, "Show Folder" and the report's "Show in
// Folder" say so; the documents and addresses the window opens stay quiet.
TEST_F(ControlsTest, AFolderNoApplicationOpensIsSaid) {
    const std::string out = dir / "out";
    fs::create_directory(out);
    c->setDestFolder(out);
    c->ui()->showInFinderButton->click();
    EXPECT_TRUE(alerts.shown.empty());
    workspace.refuses = true;
    c->ui()->showInFinderButton->click();
    AddFilesErrorsController report(&workspace, &dialogs, &alerts);
    report.setPaths({QString::fromStdString(in + "/a.wav")}, "Some reason");
    report.table()->setCurrentItem(report.table()->topLevelItem(0)->child(0));
    report.openInFinderButton()->click();
    for (const char* name : {"showManualAction", "showLicenseAction", "goToWebSiteAction"})
        Action(name)->trigger();
    EXPECT_EQ(workspace.opened.size(), 5);
    EXPECT_EQ(workspace.revealed.size(), 1);
    ASSERT_EQ(alerts.shown.size(), 2u);
    const QString folders[] = {QString::fromStdString(out), QString::fromStdString(in)};
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(alerts.shown[i].title, "Could not show the folder");
        EXPECT_EQ(alerts.shown[i].message,
                  "No application could open the folder '" + folders[i] + "'.");
        EXPECT_EQ(alerts.shown[i].buttons, (QStringList{"", "", ""}));  // OK alone
    }
}

TEST_F(ControlsTest, VarispeedIsClampedRememberedAndReset) {
    QSlider* slider = c->ui()->variSpeedSlider;
    slider->setValue(250);
    EXPECT_EQ(c->ui()->variSpeedTextField->text(), "2.50");
    EXPECT_DOUBLE_EQ(defaults.GetReal("Varispeed"), 2.5);
    platform::UserDefaults saved(dir / "prefs.plist");
    ASSERT_TRUE(saved.Load());
    EXPECT_DOUBLE_EQ(saved.GetReal("Varispeed"), 2.5);
    slider->setValue(1000);
    EXPECT_DOUBLE_EQ(defaults.GetReal("Varispeed"), 4.0);
    Action("resetVariSpeedAction")->trigger();
    EXPECT_EQ(slider->value(), 100);
    EXPECT_DOUBLE_EQ(defaults.GetReal("Varispeed"), 1.0);
}

TEST_F(ControlsTest, TheHelpMenuAndTheAboutBox) {
    Action("showManualAction")->trigger();
    Action("showLicenseAction")->trigger();
    Action("goToWebSiteAction")->trigger();
    Action("showSupportedFiletypesAction")->trigger();
    ASSERT_EQ(workspace.opened.size(), 4);
    EXPECT_TRUE(workspace.opened[0].endsWith("/xwq_manualv5.pdf"));
    EXPECT_GT(fs::file_size(workspace.opened[0].toStdString()), 1000u);
    EXPECT_TRUE(workspace.opened[1].endsWith("/License.txt"));
    EXPECT_TRUE(workspace.opened[2].startsWith("https://"));

    defaults.Set("Number of Files Ever Converted", 42);
    bool shown = false;
    QTimer::singleShot(0, [&] {
        QWidget* about = c->aboutPanel();
        shown = about && about->isVisible();
        if (about) QTest::mouseClick(about->findChild<CustomView*>(), Qt::LeftButton);
    });
    Action("showAboutPanelAction")->trigger();
    EXPECT_TRUE(shown);
    EXPECT_EQ(c->aboutPanel(), nullptr);
}

}  // namespace
}  // namespace apptest
