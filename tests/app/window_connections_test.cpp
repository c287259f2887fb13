// The main window's parts connected: the conversion list's commands through the
// Define Conversion dialog and the Edit menu's undo, the enabling of the
// conversion buttons, the preferences opened on the right page, the two
// playback boxes shared with the preferences, and the player stopped at quit.
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <filesystem>

#include "app/conversion_list_controller.h"
#include "app/define_conversion_dialog.h"
#include "app/player_control.h"
#include "app/preference_controller.h"
#include "app/table_sorting.h"
#include "app_test_support.h"
#include "conversion/qf_sound_file.h"
#include "playback/player.h"
#include "ui_main_window.h"

namespace apptest {
namespace {

namespace fs = std::filesystem;

struct WindowTest : AppTest {
    // What the dialog double does with the dialog it is given: the name to
    // type (empty: keep) and whether to confirm.
    QString typedName;
    bool confirm = true;
    std::vector<std::string> shownNames;  // the conversion's name as each run opened

    std::unique_ptr<MainController> MakeWindow(bool ownPrefs = false) {
        MainServices s = Services();
        if (ownPrefs) s.openLoggingPreferences = nullptr;
        s.runDefineConversion = [this](DefineConvController& d) {
            shownNames.push_back(d.convSpec()->conversionName());
            if (!typedName.isEmpty()) {
                auto* field = d.findChild<QLineEdit*>("conversionNameTextField");
                field->clear();
                QTest::keyClicks(field, typedName);
                QTest::keyClick(field, Qt::Key_Return);
            }
            d.findChild<QAbstractButton*>(confirm ? "okButton" : "cancelButton")->click();
            return d.result();
        };
        defaults.Set(kConversionsDefaultsKey,
                     EncodeConvSpecs({AiffConversion("Alpha"), AiffConversion("Beta")}));
        return Make(s);
    }
    static std::vector<std::string> ListNames(const MainController& c) {
        std::vector<std::string> out;
        for (const auto& conv : c.convSpecs) out.push_back(conv->conversionName());
        return out;
    }
    static QAction* EditMenuAction(MainController& c, const char* name) {
        return c.window()->findChild<QAction*>(name);
    }
    void SelectConversion(MainController& c, int row) {
        c.ui()->conversionTableView->clearSelection();
        if (row >= 0) c.ui()->conversionTableView->selectRow(row);
    }
};

using Names = std::vector<std::string>;

TEST_F(WindowTest, AddEditAndUndoGoThroughTheDialogAndTheEditMenu) {
    auto c = MakeWindow();
    typedName = "Gamma";
    c->ui()->addConvButton->click();
    EXPECT_EQ(ListNames(*c), (Names{"Alpha", "Beta", "Gamma"}));
    EXPECT_EQ(c->ui()->conversionTableView->model()->rowCount(), 3);
    EXPECT_EQ(c->ui()->tabView->currentIndex(), 1);  // the conversions page shows
    EXPECT_EQ(shownNames, Names{"untitled conversion"});

    QAction* undo = EditMenuAction(*c, "undoAction");
    QAction* redo = EditMenuAction(*c, "redoAction");
    ASSERT_TRUE(undo && redo);
    EXPECT_TRUE(c->ui()->editMenu->actions().contains(undo));
    undo->trigger();
    EXPECT_EQ(ListNames(*c), (Names{"Alpha", "Beta"}));
    EXPECT_EQ(c->ui()->conversionTableView->model()->rowCount(), 2);
    redo->trigger();
    EXPECT_EQ(ListNames(*c), (Names{"Alpha", "Beta", "Gamma"}));

    // Edit from the menu, a double click, a cancelled run.
    SelectConversion(*c, 1);
    typedName = "Beta 2";
    c->ui()->editConvAction->trigger();
    EXPECT_EQ(ListNames(*c), (Names{"Alpha", "Beta 2", "Gamma"}));
    confirm = false;
    typedName = "Never";
    const QModelIndex cell = c->ui()->conversionTableView->model()->index(0, 1);
    emit c->ui()->conversionTableView->doubleClicked(cell);
    EXPECT_EQ(ListNames(*c), (Names{"Alpha", "Beta 2", "Gamma"}));
    EXPECT_EQ(shownNames, (Names{"untitled conversion", "Beta", "Alpha"}));
    // The dialog is one object, reused, and the list was saved.
    EXPECT_EQ(c->findChildren<DefineConvController*>().size() +
                  c->window()->findChildren<DefineConvController*>().size(),
              1u);
    c->encodeConvSpecs();
    const plist::Value stored = defaults.Get(kConversionsDefaultsKey);
    ASSERT_TRUE(stored.array());
    EXPECT_EQ(stored.array()->size(), 3u);
}

// A new conversion that only ticks "Convert file type" (AIFF, as shown) names
// its outputs with AIFF's extension, and so does one whose extension field the
// user emptied: a batch writes no output without an extension.
TEST_F(WindowTest, ANewConversionKeepingTheShownTypeWritesItsExtension) {
    const std::string in = dir / "in", out = dir / "out";
    fs::create_directories(in);
    fs::create_directories(out);
    WriteWave(in + "/mono.wav", 400);
    auto idle = AiffConversion("Idle");
    idle->setActive(false);
    defaults.Set(kConversionsDefaultsKey, EncodeConvSpecs({idle}));
    defaults.Set("Last Used Destination", out);
    defaults.Set("Open Log", false);
    bool emptyExtension = false;
    QStringList shownExtensions;
    MainServices s = Services();
    s.runDefineConversion = [&emptyExtension, &shownExtensions](DefineConvController& d) {
        d.findChild<QAbstractButton*>("convertFileTypeCheckBox")->click();
        auto* extension = d.findChild<QLineEdit*>("filenameExtensionTextField");
        shownExtensions.push_back(extension->text());
        if (emptyExtension) {
            extension->selectAll();
            QTest::keyClick(extension, Qt::Key_Backspace);
            QTest::keyClick(extension, Qt::Key_Return);
            auto* name = d.findChild<QLineEdit*>("conversionNameTextField");
            name->clear();
            QTest::keyClicks(name, "Bare");
        } else {
            d.findChild<QAbstractButton*>("automaticNameButton")->click();
        }
        d.findChild<QAbstractButton*>("okButton")->click();
        return d.result();
    };
    auto c = Make(s);
    c->ui()->addConvButton->click();
    emptyExtension = true;
    c->ui()->addConvButton->click();
    EXPECT_EQ(ListNames(*c), (Names{"AIFF (.aif)", "Bare", "Idle"}));
    EXPECT_EQ(shownExtensions, (QStringList{".aif", ".aif"}));
    EXPECT_EQ(c->convSpecs[1]->nameExtension(), "");

    c->inputFiles.push_back(QFSoundFile::soundFileWithPath(in + "/mono.wav"));
    bool finished = false;
    QObject::connect(c.get(), &MainController::batchFinished, [&finished] { finished = true; });
    ASSERT_TRUE(c->doStart());
    ASSERT_TRUE(PumpUntil([&finished] { return finished; }));
    std::vector<std::string> written;
    for (const auto& e : fs::recursive_directory_iterator(out))
        if (e.is_regular_file() && e.path().extension() != ".xwl")
            written.push_back(fs::relative(e.path(), out));
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (Names{"AIFF (.aif)/mono.aif", "Bare/mono.aif"}));
}

TEST_F(WindowTest, ConversionCommandsFollowTheSelectionAndThePageAndImportAsksThroughTheShell) {
    auto c = MakeWindow();
    struct Row {
        std::vector<int> selected;
        bool edit, others;
    };
    const Row rows[] = {{{}, false, false}, {{0}, true, true}, {{0, 1}, false, true}};
    for (const Row& r : rows) {
        SelectRows(c->conversionList()->selectionModel(), r.selected);
        EXPECT_EQ(c->ui()->editConvButton->isEnabled(), r.edit) << r.selected.size();
        EXPECT_EQ(c->ui()->editConvAction->isEnabled(), r.edit) << r.selected.size();
        for (QPushButton* b : {c->ui()->duplicateConvButton, c->ui()->removeConvButton,
                               c->ui()->markConvButton, c->ui()->unmarkConvButton})
            EXPECT_EQ(b->isEnabled(), r.others) << b->objectName().toStdString();
    }
    // Mark and unmark reach the start rule through the list.
    c->ui()->unmarkConvButton->click();
    EXPECT_FALSE(c->convSpecs[0]->active() || c->convSpecs[1]->active());
    c->ui()->markConvAction->trigger();
    EXPECT_TRUE(c->convSpecs[0]->active() && c->convSpecs[1]->active());
    // Delete removes conversions only while their page shows.
    SelectRows(c->conversionList()->selectionModel(), {0});
    c->showInput();
    EXPECT_FALSE(c->ui()->deleteAction->isEnabled());
    c->ui()->deleteAction->trigger();
    EXPECT_EQ(ListNames(*c), (Names{"Alpha", "Beta"}));
    c->showConversions();
    EXPECT_TRUE(c->ui()->deleteAction->isEnabled());
    c->ui()->deleteAction->trigger();
    EXPECT_EQ(ListNames(*c), Names{"Beta"});
    EditMenuAction(*c, "undoAction")->trigger();
    EXPECT_EQ(ListNames(*c), (Names{"Alpha", "Beta"}));
    // Import asks through the shell's alerts and panels.
    alerts.answers = {-1};  // Open File..., then the panel is cancelled
    c->ui()->importConvAction->trigger();
    ASSERT_EQ(alerts.shown.size(), 1u);
    EXPECT_EQ(alerts.shown[0].buttons, (QStringList{"Auto Import", "Cancel", "Open File..."}));
}

TEST_F(WindowTest, PreferencesOpenOnThePageAskedAndShareThePlaybackBoxes) {
    auto c = MakeWindow(true);
    EXPECT_EQ(c->preferences(), nullptr);  // made on first use
    struct Row {
        const char* how;
        std::function<void()> open;
        const char* page;
    };
    const Row rows[] = {
        {"no log file alert",
         [&] {
             alerts.answers = {1};
             c->showLastLog();
         },
         "logging"},
        {"unrecognized files", [&] { c->unrecognizedFileHandling(); }, "input"},
        {"menu after logging",
         [&] {
             c->showLoggingPreferences();
             c->ui()->preferencesAction->trigger();
         },
         "logging"},
    };
    PreferenceController* first = nullptr;
    for (const Row& r : rows) {
        r.open();
        PreferenceController* p = c->preferences();
        ASSERT_NE(p, nullptr) << r.how;
        if (!first) first = p;
        EXPECT_EQ(p, first) << r.how;
        EXPECT_TRUE(p->isVisible()) << r.how;
        EXPECT_EQ(p->findChild<QTabWidget*>("tabView")->currentWidget()->objectName(), r.page)
            << r.how;
    }
    // The two playback boxes and the preferences' follow each other.
    c->showPrefs();
    for (const auto& [box, key] : {std::pair{"blipAtEndCheckbox", "Blip At End"},
                                   std::pair{"autoPlayNextCheckbox", "Auto Play Next"}}) {
        auto* mine = c->window()->findChild<QCheckBox*>(box);
        auto* theirs = c->preferences()->findChild<QCheckBox*>(box);
        ASSERT_TRUE(mine && theirs) << box;
        for (const bool on : {true, false}) {
            mine->setChecked(on);
            EXPECT_EQ(theirs->isChecked(), on) << box;
            EXPECT_EQ(defaults.GetBool(key), on) << box;
            theirs->click();
            EXPECT_EQ(mine->isChecked(), !on) << box;
            EXPECT_EQ(defaults.GetBool(key), !on) << box;
        }
    }
}

TEST_F(WindowTest, TheOutputFolderIsChosenAndShown) {
    auto c = MakeWindow();
    const std::string out = dir / "chosen";
    fs::create_directory(out);
    dialogs.answers = {QString::fromStdString(out)};
    c->ui()->outputFolderButton->click();
    EXPECT_EQ(c->destFolder, out);
    EXPECT_EQ(defaults.GetString("Last Used Destination"), out);
    c->ui()->outputFolderButton->click();  // cancelled: kept
    EXPECT_EQ(c->destFolder, out);
    c->ui()->showInFinderButton->click();
    EXPECT_EQ(workspace.opened, QStringList{QString::fromStdString(out)});
}

TEST_F(WindowTest, QuittingStopsTheWindowsOwnPlayer) {
    WriteWave(dir / "in.wav", 80000);
    MainServices s = Services();
    s.playback = nullptr;
    auto c = Make(s);
    ASSERT_NE(c->playerControl(), nullptr);
    Player* player = c->playerControl()->ensurePlayer(
        {QFSoundFile::soundFileWithPath(dir / "in.wav")}, 1.0f, false, false);
    ASSERT_NE(player, nullptr);
    player->start();
    EXPECT_TRUE(c->playerControl()->isPlaying());
    EXPECT_FALSE(c->validateStart());
    EXPECT_TRUE(c->applicationShouldTerminate());
    EXPECT_FALSE(c->playerControl()->isPlaying());
}

}  // namespace
}  // namespace apptest
