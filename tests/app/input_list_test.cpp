// The input list: add runs decided path by path (duplicates by name, set
// members, unrecognised files and the raw action), the report (error window or
// "No Files Added"), one run at a time, undo of adding and removing, the player
// released with the list, drops, the add-files dialog and the saved report,
// and the loudspeaker column's header.
#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTableView>
#include <QTreeView>
#include <QTreeWidget>
#include <QUndoStack>
#include <QUrl>
#include <cerrno>
#include <filesystem>

#include "app/add_files_dialog.h"
#include "app/input_list.h"
#include "app/player_control.h"
#include "app/table_sorting.h"
#include "app_test_support.h"
#include "conversion/qf_sound_file.h"
#include "playback/player.h"
#include "ui_main_window.h"

namespace apptest {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

struct InputTest : AppTest {
    std::unique_ptr<MainController> c;
    std::string in = dir / "in";

    void SetUp() override {
        fs::create_directories(in + "/sub");
        fs::create_directories(in + "/other");
        for (const char* f : {"a.wav", "b.wav", "other/a.wav", "sub/c.wav", "pair.L.wav",
                              "pair.R.wav"})
            WriteWave(in + "/" + f, 200);
        for (const char* f : {"notes.txt", "raw.txt"}) testsupport::WriteFile(in + "/" + f, "text");
    }
    void MakeList(bool ownPlayer = false) {
        MainServices s = Services();
        s.addFiles = nullptr;
        if (ownPlayer) s.playback = nullptr;
        c = Make(s);
    }
    // Adds the paths (under `in`) and waits for the run's end.
    void Add(const Names& names) {
        QStringList paths;
        for (const auto& n : names) paths << QString::fromStdString(in + "/" + n);
        bool done = false;
        auto link = QObject::connect(c.get(), &MainController::filesAdded, [&done] { done = true; });
        c->setFilesToAdd(paths);
        ASSERT_TRUE(PumpUntil([&done] { return done; }));
        QObject::disconnect(link);
    }
    Names Listed() const {
        Names out;
        for (const auto& f : c->inputFiles) out.push_back(InputName(*f));
        return out;
    }
    QStringList ErrorGroups() const {
        QStringList groups;
        if (AddFilesErrorsController* e = c->addFilesErrors())
            for (int i = 0; i < e->table()->topLevelItemCount(); ++i)
                groups << e->table()->topLevelItem(i)->text(0).section(' ', 4, 4) + ":" +
                              QString::number(e->table()->topLevelItem(i)->childCount());
        return groups;
    }
};

TEST_F(InputTest, AddRunsDecidePathByPath) {
    MakeList();
    struct Row {
        Names add;
        int64_t action;
        Names listed;
        QStringList groups;  // word 4 of each reason and its count
        QStringList alerts;
    };
    const Row rows[] = {
        {{"a.wav", "notes.txt", "sub"}, 0, {"a.wav", "sub"}, {"not:1"}, {}},
        {{"other/a.wav", "b.wav"}, 0, {"a.wav", "b.wav", "sub"}, {"names:1"}, {}},
        {{"other/a.wav"}, 0, {"a.wav", "b.wav", "sub"}, {"names:1"}, {}},  // only a duplicate
        {{"raw.txt"}, 2, {"a.wav", "b.wav", "raw.txt", "sub"}, {}, {}},
        {{"b.wav", "notes.txt"}, 0, {"a.wav", "b.wav", "raw.txt", "sub"}, {"names:1", "not:1"}, {}},
    };
    for (const Row& r : rows) {
        defaults.Set("Unrecognized Input File Action", r.action);
        alerts.shown.clear();
        if (c->addFilesErrors()) c->addFilesErrors()->reset();
        Add(r.add);
        EXPECT_EQ(Listed(), r.listed) << r.add.front();
        EXPECT_EQ(ErrorGroups(), r.groups) << r.add.front();
        EXPECT_TRUE(alerts.shown.empty()) << r.add.front();
    }
    EXPECT_EQ(c->inputFileNames, (std::set<std::string>{"a.wav", "b.wav", "raw.txt", "sub"}));
    EXPECT_EQ(c->inputFiles[2]->descriptor(), "file");  // the desktop's type name for raw input
    EXPECT_EQ(c->ui()->inputFileTableView->model()->headerData(1, Qt::Horizontal).toString(),
              "Input: 3 Files, 1 Folder");
}

TEST_F(InputTest, NothingAddedBringsTheAlertAndASplitMemberIsDroppedSilently) {
    MakeList();
    Add({"pair.L.wav"});
    ASSERT_EQ(c->inputFiles.size(), 1u);
    ASSERT_TRUE(c->inputFiles[0]->isSplit());  // listed as the pair
    alerts.shown.clear();
    Add({"pair.R.wav"});
    EXPECT_EQ(Listed(), Names{"pair.L.wav"});
    EXPECT_TRUE(ErrorGroups().isEmpty());
    ASSERT_EQ(alerts.shown.size(), 1u);
    EXPECT_EQ(alerts.shown[0].title, "No Files Added");
    // A run of nothing but the unrecognised.
    alerts.shown.clear();
    defaults.Set("Unrecognized Input File Action", int64_t(0));
    if (c->addFilesErrors()) c->addFilesErrors()->reset();
    Add({"missing.wav"});
    EXPECT_EQ(ErrorGroups(), QStringList{"not:1"});
    EXPECT_TRUE(alerts.shown.empty());
}

// A file that is there but cannot be read is reported with its reason, not
// as a file of an unknown kind, whatever the unrecognised-file action: a
// permission refused (made through the read seam, since the tests may run as
// root) and an input/output error (/proc/self/mem, whose first byte no
// process can read). A file that reads stays "not recognized".
TEST_F(InputTest, AFileThatCannotBeReadIsReportedWithItsReason) {
    const QString locked = QString::fromStdString(in + "/raw.txt");
    const QString denied = "The following files cannot be read: permission denied.";
    const QString ioError = "The following files cannot be read: input/output error.";
    const QString unknown = "The following files were not recognized as sound files.";
    // Each group as its reason and its paths, one a line.
    auto reported = [this] {
        Names groups;
        QTreeWidget* table = c->addFilesErrors()->table();
        for (int i = 0; i < table->topLevelItemCount(); ++i) {
            QStringList lines{table->topLevelItem(i)->text(0)};
            for (int j = 0; j < table->topLevelItem(i)->childCount(); ++j)
                lines << table->topLevelItem(i)->child(j)->text(0);
            groups.push_back(lines.join("\n").toStdString());
        }
        return groups;
    };
    auto group = [](const QString& reason, const QString& path) {
        return (reason + "\n" + path).toStdString();
    };
    MainServices s = Services();
    s.addFiles = nullptr;
    s.readError = [locked](const QString& path) { return path == locked ? EACCES : 0; };
    c = Make(s);
    defaults.Set("Unrecognized Input File Action", int64_t(0));
    Add({"raw.txt", "a.wav"});
    ASSERT_NE(c->addFilesErrors(), nullptr);
    EXPECT_EQ(reported(), Names{group(denied, locked)});
    defaults.Set("Unrecognized Input File Action", int64_t(2));  // read as raw: still refused
    Add({"raw.txt", "b.wav"});
    EXPECT_EQ(reported(), Names{group(denied, locked)});
    EXPECT_EQ(Listed(), (Names{"a.wav", "b.wav"}));

    defaults.Set("Unrecognized Input File Action", int64_t(0));
    MakeList();
    bool done = false;
    QObject::connect(c.get(), &MainController::filesAdded, [&done] { done = true; });
    const QString notes = QString::fromStdString(in + "/notes.txt");
    c->openPaths({"/proc/self/mem", notes});  // as the script command's Open does
    ASSERT_TRUE(PumpUntil([&done] { return done; }));
    ASSERT_NE(c->addFilesErrors(), nullptr);
    EXPECT_EQ(reported(), (Names{group(unknown, notes), group(ioError, "/proc/self/mem")}));
    EXPECT_TRUE(alerts.shown.empty());
}

// The report's reasons wrap in a narrow window; Close is its default button,
// and Return, Escape and Ctrl+W close it as well as a click.
TEST_F(InputTest, TheReportWrapsItsReasonsAndClosesFromTheKeyboard) {
    MakeList();
    Add({"a.wav"});
    Add({"other/a.wav"});
    AddFilesErrorsController* report = c->addFilesErrors();
    ASSERT_NE(report, nullptr);
    report->resize(260, 300);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(report));
    QTreeWidget* table = report->table();
    QTreeWidgetItem* reason = table->topLevelItem(0);
    const QRect row = table->visualItemRect(reason);
    EXPECT_GE(row.height(), 2 * QFontMetrics(reason->font(0)).height()) << "wrapped";
    EXPECT_LE(row.right(), table->viewport()->width());
    EXPECT_EQ(table->horizontalScrollBar()->maximum(), 0);

    auto* close = report->findChild<QPushButton*>("closeButton");
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->text(), "Close");
    EXPECT_TRUE(close->isDefault());
    auto reopen = [&] {
        c->showLastFileAddingErrors();
        report->activateWindow();
        table->setFocus();
        return QTest::qWaitForWindowActive(report) && report->isVisible();
    };
    ASSERT_TRUE(reopen());
    QTest::keyClick(table, Qt::Key_Return);
    EXPECT_FALSE(report->isVisible()) << "Return";
    ASSERT_TRUE(reopen());
    QTest::keyClick(table, Qt::Key_Escape);
    EXPECT_FALSE(report->isVisible()) << "Escape";
    ASSERT_TRUE(reopen());
    QTest::keyClick(table, Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(report->isVisible()) << "Ctrl+W";
    ASSERT_TRUE(reopen());
    close->click();
    EXPECT_FALSE(report->isVisible()) << "Close";
    // The report is kept, and shown again as it was.
    c->showLastFileAddingErrors();
    EXPECT_EQ(table->topLevelItemCount(), 1);
}

TEST_F(InputTest, UndoBringsRemovedEntriesBackAtTheirRows) {
    MakeList();
    Add({"a.wav", "b.wav", "sub"});
    QUndoStack* undo = c->inputUndoStack();
    EXPECT_EQ(undo->undoText(), "Add File(s)");
    SelectRows(c->ui()->inputFileTableView->selectionModel(), {1});
    c->showInput();
    ASSERT_TRUE(c->ui()->deleteAction->isEnabled());
    c->ui()->deleteAction->trigger();
    EXPECT_EQ(Listed(), (Names{"a.wav", "sub"}));
    EXPECT_EQ(undo->undoText(), "Remove File(s)");
    c->ui()->removeAllButton->click();
    EXPECT_TRUE(c->inputFiles.empty());
    EXPECT_TRUE(c->inputFileNames.empty());
    QAction* undoAction = c->window()->findChild<QAction*>("undoAction");
    undoAction->trigger();  // Remove All Files
    EXPECT_EQ(Listed(), (Names{"a.wav", "sub"}));
    undoAction->trigger();  // Remove File(s)
    EXPECT_EQ(Listed(), (Names{"a.wav", "b.wav", "sub"}));
    undoAction->trigger();  // Add File(s)
    EXPECT_TRUE(c->inputFiles.empty());
    // While adding, nothing changes the list but the run.
    undo->redo();
    SelectRows(c->ui()->inputFileTableView->selectionModel(), {0});
    c->addingFiles = true;
    c->validateUserInterfaceItems();
    EXPECT_FALSE(c->ui()->removeFileButton->isEnabled());
    EXPECT_FALSE(c->ui()->removeAllButton->isEnabled());
    EXPECT_FALSE(c->ui()->deleteAction->isEnabled());
    EXPECT_FALSE(undoAction->isEnabled());
    c->addingFiles = false;
    c->validateUserInterfaceItems();
    EXPECT_TRUE(c->ui()->removeAllButton->isEnabled());
    EXPECT_TRUE(undoAction->isEnabled());
}

TEST_F(InputTest, ADropDuringARunWaitsForIt) {
    MakeList();
    auto drop = [this](const std::string& name) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(in + "/" + name))});
        return c->ui()->inputFileTableView->model()->dropMimeData(&data, Qt::CopyAction, -1, -1,
                                                                   QModelIndex());
    };
    int runs = 0;
    QObject::connect(c.get(), &MainController::filesAdded, [&runs] { ++runs; });
    ASSERT_TRUE(drop("a.wav"));
    EXPECT_TRUE(c->addingFiles);
    EXPECT_FALSE(c->validateStart());
    ASSERT_TRUE(drop("b.wav"));  // queued behind the first
    ASSERT_TRUE(PumpUntil([&runs] { return runs == 2; }));
    EXPECT_EQ(Listed(), (Names{"a.wav", "b.wav"}));
    QMimeData text;
    text.setText("not a file list");
    EXPECT_FALSE(c->ui()->inputFileTableView->model()->canDropMimeData(
        &text, Qt::CopyAction, -1, -1, QModelIndex()));
}

TEST_F(InputTest, RemovingAllWhileAFilePlaysReleasesThePlayer) {
    MakeList(true);
    Add({"a.wav", "b.wav"});
    Player* player =
        c->playerControl()->ensurePlayer(c->inputFiles, 1.0f, false, false);
    ASSERT_NE(player, nullptr);
    player->start();
    SelectRows(c->ui()->inputFileTableView->selectionModel(), {0});
    c->removeFile();
    ASSERT_EQ(c->playerControl()->player(), player);
    EXPECT_EQ(player->inputFiles().size(), 1u);
    c->removeAll();
    EXPECT_EQ(c->playerControl()->player(), nullptr);
}

// The loudspeaker column is titled with the image its playing row shows.
TEST_F(InputTest, TheLoudspeakerColumnsHeaderShowsThePlayingImage) {
    MakeList(true);
    WriteWave(in + "/long.wav", 80000);  // still playing when looked at
    Add({"long.wav"});
    QAbstractItemModel* model = c->ui()->inputFileTableView->model();
    const auto header = [model](int role) {
        return model->headerData(InputListModel::kPlayableColumn, Qt::Horizontal, role);
    };
    const auto image = [](const QVariant& icon) {
        return icon.value<QIcon>().pixmap(16).toImage();
    };
    ASSERT_FALSE(header(Qt::DecorationRole).value<QIcon>().isNull());
    EXPECT_TRUE(header(Qt::DisplayRole).toString().isEmpty());
    SelectRows(c->ui()->inputFileTableView->selectionModel(), {0});
    c->ui()->playFileButton->click();
    ASSERT_TRUE(c->playerControl()->isPlaying());
    const QModelIndex speaker = model->index(0, InputListModel::kPlayableColumn);
    EXPECT_EQ(image(header(Qt::DecorationRole)), image(speaker.data(Qt::DecorationRole)));
    c->stopFile();
    EXPECT_NE(image(header(Qt::DecorationRole)), image(speaker.data(Qt::DecorationRole)));
}

TEST_F(InputTest, TheDialogTakesFilesAndFoldersTogether) {
    AddFilesDialog dialog(nullptr, QString::fromStdString(in));
    dialog.selectPath(QString::fromStdString(in + "/a.wav"));
    dialog.selectPath(QString::fromStdString(in + "/sub"), true);
    QStringList chosen = dialog.selectedPaths();
    chosen.sort();
    const QStringList both{QString::fromStdString(in + "/a.wav"),
                           QString::fromStdString(in + "/sub")};
    EXPECT_EQ(chosen, both);
    // Add chooses them, the folder included (it is not entered).
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    chosen = dialog.selectedPaths();
    chosen.sort();
    EXPECT_EQ(chosen, both);
}

// A folder typed in the name field is entered, as the desktop's dialogs do; a
// typed file is chosen.
TEST_F(InputTest, APathTypedInTheDialogIsFollowed) {
    AddFilesDialog dialog(nullptr, QString::fromStdString(in));
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    auto* name = dialog.findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(name, nullptr);
    name->setFocus();
    ASSERT_TRUE(PumpUntil([name] { return name->hasFocus(); }, 2000));
    name->setText(QString::fromStdString(in + "/sub"));
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.directory().absolutePath(), QString::fromStdString(in + "/sub"));
    name->setFocus();
    name->setText(QString::fromStdString(in + "/a.wav"));
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.selectedPaths(), QStringList{QString::fromStdString(in + "/a.wav")});
}

TEST_F(InputTest, TheReportIsSavedAsText) {
    MakeList();
    Add({"notes.txt", "a.wav"});
    Add({"other/a.wav"});
    ASSERT_NE(c->addFilesErrors(), nullptr);
    c->addFilesErrors()->setPaths({"/x/y.txt"}, "Second reason");
    const std::string saved = dir / "FileAddErrors.txt";
    dialogs.answers = {QString::fromStdString(saved)};
    c->addFilesErrors()->saveAsText();
    EXPECT_EQ(testsupport::ReadFile(saved),
              "The following files have names that are already in the list. Please rename them "
              "in the Finder, if possible.\n\t" + in + "/other/a.wav\n\nSecond reason\n\t/x/y.txt\n\n");
    // A path row reveals its folder.
    QTreeWidget* table = c->addFilesErrors()->table();
    table->setCurrentItem(table->topLevelItem(0)->child(0));
    EXPECT_TRUE(c->addFilesErrors()->openInFinderButton()->isEnabled());
    c->addFilesErrors()->openInFinderButton()->click();
    EXPECT_EQ(workspace.revealed, QStringList{QString::fromStdString(in + "/other/a.wav")});
}

}  // namespace
}  // namespace apptest
