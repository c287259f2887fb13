// The main window's parts that need no main window: the enabling rule, the
// output page over injected volumes and its refresh, and emptying the output
// folder.
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <fstream>
#include <thread>

#include "app/output_page.h"
#include "app/action_enabling.h"
#include "app_test_support.h"
#include "platform/notification_center.h"

namespace {

using apptest::ScriptedAlerts;
using apptest::ScriptedWorkspace;

UiState Ready() {
    UiState s;
    s.inputCount = 2;
    s.activeValidConversion = true;
    s.outputFolderExists = true;
    return s;
}

TEST(UiEnabling, EachRuleOverItsStates) {
    struct Case {
        const char* what;
        UiAction action;
        std::function<void(UiState&)> change;
        bool enabled;
    };
    const std::vector<Case> cases = {
        {"start when ready", UiAction::doStart, [](UiState&) {}, true},
        {"start while playing", UiAction::doStart, [](UiState& s) { s.playerExists = s.playerPlaying = true; }, false},
        {"start while adding", UiAction::doStart, [](UiState& s) { s.addingFiles = true; }, false},
        {"start while sorting", UiAction::doStart, [](UiState& s) { s.sortingFiles = true; }, false},
        {"start while a batch runs", UiAction::doStart, [](UiState& s) { s.driverRunning = true; }, false},
        {"start without inputs", UiAction::doStart, [](UiState& s) { s.inputCount = 0; }, false},
        {"start without a conversion", UiAction::doStart, [](UiState& s) { s.activeValidConversion = false; }, false},
        {"start without a folder", UiAction::doStart, [](UiState& s) { s.outputFolderExists = false; }, false},
        {"play without player, no selection", UiAction::playFile, [](UiState&) {}, false},
        {"play without player, a selection", UiAction::playFile, [](UiState& s) { s.selectedInputs = 1; }, true},
        {"play with player", UiAction::playFile, [](UiState& s) { s.playerExists = true; }, true},
        {"play with player, no inputs", UiAction::playFile, [](UiState& s) { s.playerExists = true; s.inputCount = 0; }, false},
        {"next in folder, not a folder", UiAction::playNextFromFolder, [](UiState& s) { s.playerExists = true; }, false},
        {"previous in folder", UiAction::playPreviousFromFolder, [](UiState& s) { s.playerExists = s.playerPlayingFolder = true; }, true},
        {"next in list, two inputs", UiAction::playNextFromInputList, [](UiState& s) { s.playerExists = true; }, true},
        {"previous in list, one input", UiAction::playPreviousFromInputList, [](UiState& s) { s.playerExists = true; s.inputCount = 1; }, false},
        {"stop, not playing", UiAction::stopFile, [](UiState& s) { s.playerExists = true; }, false},
        {"stop, playing", UiAction::stopFile, [](UiState& s) { s.playerExists = s.playerPlaying = true; }, true},
        {"edit two", UiAction::editConv, [](UiState& s) { s.selectedConversions = 2; }, false},
        {"edit one", UiAction::editConv, [](UiState& s) { s.selectedConversions = 1; }, true},
        {"mark none", UiAction::markConv, [](UiState&) {}, false},
        {"duplicate two", UiAction::duplicateConv, [](UiState& s) { s.selectedConversions = 2; }, true},
        {"remove conversion, none", UiAction::removeConv, [](UiState& s) { s.selectedInputs = 1; }, false},
        {"remove input, one", UiAction::removeFile, [](UiState& s) { s.selectedInputs = 1; }, true},
        {"delete inputs on input page", UiAction::deleteSelection, [](UiState& s) { s.selectedInputs = 1; }, true},
        {"delete on input page, conversion selected", UiAction::deleteSelection, [](UiState& s) { s.selectedConversions = 1; }, false},
        {"delete on conversions page", UiAction::deleteSelection, [](UiState& s) { s.page = WindowPage::conversions; s.selectedConversions = 1; }, true},
        {"delete on output page", UiAction::deleteSelection, [](UiState& s) { s.page = WindowPage::output; s.selectedInputs = s.selectedConversions = 1; }, false},
        {"remove all, none", UiAction::removeAll, [](UiState& s) { s.inputCount = 0; }, false},
        {"remove all, two", UiAction::removeAll, [](UiState&) {}, true},
        // While files are added, only the add run changes the input list.
        {"remove input while adding", UiAction::removeFile, [](UiState& s) { s.selectedInputs = 1; s.addingFiles = true; }, false},
        {"remove all while adding", UiAction::removeAll, [](UiState& s) { s.addingFiles = true; }, false},
        {"delete inputs while adding", UiAction::deleteSelection, [](UiState& s) { s.selectedInputs = 1; s.addingFiles = true; }, false},
        {"delete conversions while adding", UiAction::deleteSelection, [](UiState& s) { s.page = WindowPage::conversions; s.selectedConversions = 1; s.addingFiles = true; }, true},
        {"adding errors, no window", UiAction::showLastFileAddingErrors, [](UiState&) {}, false},
        {"adding errors, window", UiAction::showLastFileAddingErrors, [](UiState& s) { s.addFilesErrorWindowExists = true; }, true},
        {"reveal without folder", UiAction::showDestInFinder, [](UiState& s) { s.outputFolderExists = false; }, false},
        {"empty while idle", UiAction::emptyOutputFolder, [](UiState&) {}, true},
        {"empty while a batch writes", UiAction::emptyOutputFolder, [](UiState& s) { s.driverRunning = true; }, false},
        {"empty without folder", UiAction::emptyOutputFolder, [](UiState& s) { s.outputFolderExists = false; }, false},
        {"anything else", UiAction::other, [](UiState& s) { s = UiState(); }, true},
    };
    for (const auto& c : cases) {
        UiState s = Ready();
        c.change(s);
        EXPECT_EQ(IsActionEnabled(c.action, s), c.enabled) << c.what;
    }
}

class OutputPageTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    std::string Folder(const std::string& name) {
        const std::string p = dir / name;
        std::filesystem::create_directories(p);
        return p;
    }
};

TEST_F(OutputPageTest, DescribesStartupVolumeMountsAndUndefined) {
    const QString tmp = QString::fromStdString(dir.path());
    const std::string below = Folder("Data/a/b");
    const std::string mountRoot = Folder("Data");
    // The temporary folder stands for a mount named "Data" at .../Data.
    const VolumeLookup volumes = [&](const QString& path) -> VolumeInfo {
        if (path.startsWith(tmp + "/Data")) return {tmp + "/Data", "Data"};
        return {"/", "root"};
    };
    struct Case {
        std::string folder;
        bool defined;
        QString folderText, volumeText, volumeIcon;
    };
    const std::vector<Case> cases = {
        {"/", true, "root (Startup volume)", "root (Startup volume)", "/"},
        {dir.path(), true, tmp, "root (Startup volume)", "/"},
        {mountRoot, true, "(Top level)", "Data", tmp + "/Data"},
        {below, true, "a/b", "Data", tmp + "/Data"},
        {"", false, "<undefined>", "", ""},
        {(dir / "gone"), false, "<undefined>", "", ""},
    };
    for (const auto& c : cases) {
        const OutputFolderView v = DescribeOutputFolder(c.folder, volumes);
        EXPECT_EQ(v.defined, c.defined) << c.folder;
        EXPECT_EQ(v.folderText, c.folderText) << c.folder;
        EXPECT_EQ(v.volumeText, c.volumeText) << c.folder;
        EXPECT_EQ(v.volumeIconPath, c.volumeIcon) << c.folder;
    }
}

TEST_F(OutputPageTest, KeyEquivalentsSwapWithTheFolder) {
    QLabel folderIcon, folderText, volumeIcon, volumeText;
    QPushButton choose, show;
    ScriptedWorkspace workspace;
    OutputPage page({&folderIcon, &folderText, &volumeIcon, &volumeText, &choose, &show}, workspace,
                    [](const QString&) { return VolumeInfo{"/", "root"}; });
    page.update(Folder("out"));
    EXPECT_EQ(show.shortcut(), QKeySequence(Qt::Key_Return));
    EXPECT_EQ(choose.shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    EXPECT_EQ(folderText.text(), QString::fromStdString((dir / "out")));
    page.update("");
    EXPECT_EQ(choose.shortcut(), QKeySequence(Qt::Key_Return));
    EXPECT_EQ(show.shortcut(), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_S));
    EXPECT_EQ(folderText.text(), "<undefined>");
    EXPECT_TRUE(volumeText.text().isEmpty());
}

TEST_F(OutputPageTest, ShowsItsFolderAnewWhenAnotherThreadAnnouncesItChanged) {
    QLabel folderIcon, folderText, volumeIcon, volumeText;
    QPushButton choose, show;
    ScriptedWorkspace workspace;
    const auto root = [](const QString&) { return VolumeInfo{"/", "root"}; };
    const auto announce = [](const std::string& path) {
        std::thread([path] { platform::noteFileSystemChanged(path); }).join();
    };
    const std::string out = Folder("out");
    OutputPage page({&folderIcon, &folderText, &volumeIcon, &volumeText, &choose, &show}, workspace,
                    root);
    page.update(out);
    std::filesystem::remove_all(out);
    announce(dir / "other");
    QCoreApplication::processEvents();
    EXPECT_TRUE(page.view().defined);
    announce(out + "/");
    EXPECT_TRUE(page.view().defined);  // the refresh waits for the interface thread
    QCoreApplication::processEvents();
    EXPECT_FALSE(page.view().defined);
    EXPECT_EQ(folderText.text(), "<undefined>");
    EXPECT_EQ(choose.shortcut(), QKeySequence(Qt::Key_Return));

    // A page that ends before its refresh runs is not touched any more.
    QLabel goneText;
    {
        OutputPage gone({nullptr, &goneText, nullptr, nullptr, nullptr, nullptr}, workspace, root);
        gone.update(Folder("out"));
        announce(out);
    }
    std::filesystem::remove_all(out);
    QCoreApplication::processEvents();
    EXPECT_EQ(goneText.text(), QString::fromStdString(out));
}

TEST_F(OutputPageTest, EmptyingRemovesLinksNotTargetsAndReportsFailures) {
    const std::string out = Folder("out");
    const std::string kept = Folder("kept");
    std::ofstream(kept + "/precious") << "x";
    Folder("out/sub/deeper");
    std::ofstream(out + "/sub/deeper/f") << "x";
    std::ofstream(out + "/stuck") << "x";
    std::filesystem::create_directory_symlink(kept, out + "/link");

    ScriptedAlerts alerts;
    alerts.answers = {0};  // Cancel
    EXPECT_FALSE(RunEmptyOutputFolder(alerts, nullptr, out));
    EXPECT_TRUE(std::filesystem::exists(out + "/stuck"));

    // An item that cannot be deleted (injected: the tests may run as root).
    const RemoveEntry failOnStuck = [](const std::filesystem::path& p) {
        return p.filename() != "stuck" && RemoveEntryAndContents(p);
    };
    alerts.shown.clear();
    EXPECT_FALSE(RunEmptyOutputFolder(alerts, nullptr, out, failOnStuck));
    ASSERT_EQ(alerts.shown.size(), 2u);
    EXPECT_EQ(alerts.shown[0].title, "Really empty output folder?");
    EXPECT_EQ(alerts.shown[1].title, "The output folder could not be emptied");
    EXPECT_TRUE(std::filesystem::exists(out + "/stuck"));
    EXPECT_FALSE(std::filesystem::exists(out + "/sub"));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(out + "/link")));
    EXPECT_TRUE(std::filesystem::exists(kept + "/precious"));

    alerts.shown.clear();
    EXPECT_TRUE(RunEmptyOutputFolder(alerts, nullptr, out));
    EXPECT_TRUE(std::filesystem::is_empty(out));
    // An empty folder empties successfully too.
    EXPECT_TRUE(RunEmptyOutputFolder(alerts, nullptr, out));
    ASSERT_EQ(alerts.shown.size(), 4u);
    EXPECT_EQ(alerts.shown[3].title, "The output folder is now empty");
    EXPECT_EQ(alerts.shown[3].message, QString::fromStdString("'" + out + "' has been successfully emptied."));
}

}  // namespace
