// The conversion list offscreen: what the table shows, the commands with undo
// and the selection, free names, drag payloads read back by plistutil, drops
// checked over every element, the import, and what reaches the preferences
// file when.
#include <gtest/gtest.h>

#include <QDropEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QUndoStack>
#include <deque>

#include "app/conversion_list_controller.h"
#include "app/desktop_services.h"
#include "app/conversion_list_model.h"
#include "conversion/startup.h"
#include "platform/user_defaults.h"
#include "soundfile/type_codes.h"
#include "test_support.h"

namespace {

using Names = std::vector<std::string>;

ConvSpecPtr Spec(const std::string& name, bool active = true, bool valid = true,
                 const std::string& comment = "") {
    auto spec = std::make_shared<ConvSpec>();
    spec->setConversionName(name);
    spec->setActive(active);
    spec->setComment(comment);
    if (!valid) {
        // A strict output type with no row in the table cannot be written.
        spec->setNeedsStrictFileType(true);
        spec->setOutputFileType(FourCC("Xxxx"));
        spec->validateSettings(plist::Dictionary());
    }
    return spec;
}

plist::Dictionary Dict(const std::string& name) {
    plist::Dictionary d = Spec("x")->dictionary();
    d[XWCSName] = name;
    return d;
}

std::string Payload(const plist::Array& elements) {
    return plist::Serialize(plist::Value(elements));
}

class ConversionList : public ::testing::Test {
public:
    void SetUp() override {
        defaults.RegisterDefaults(FactoryUserDefaults());
        ConvSpec::setSortKey("convName");
        ConvSpec::setAscendingSort(true);
    }

    ConversionListController& Make(ConvSpecList specs) {
        ConversionListHooks hooks;
        hooks.runDefineConversionDialog = [this](const ConvSpecPtr& spec,
                                                 const std::set<std::string>& taken) {
            takenDuringDialog = taken;
            if (dialogEdit) dialogEdit(*spec);
            const int answer = dialogAnswers.empty() ? 0 : dialogAnswers.front();
            if (!dialogAnswers.empty()) dialogAnswers.pop_front();
            return answer;
        };
        hooks.alerts = &alertDouble;
        hooks.chooseLegacyPreferencesFile = [this] { return chosenFile; };
        if (fakeReader)
            hooks.readLegacyConversions = [this](const QFPath& path) {
                readPaths.push_back(path.stringValue());
                return legacy;
            };
        hooks.showConversions = [this] { ++conversionsShown; };
        controller = std::make_unique<ConversionListController>(defaults, std::move(specs), hooks);
        return *controller;
    }

    ConversionListModel& model() { return *controller->model(); }
    Names RowNames() {
        Names out;
        for (const ConvSpecPtr& s : model().convSpecs()) out.push_back(s->conversionName());
        return out;
    }
    Names SelectedNames() {
        Names out;
        for (const ConvSpecPtr& s : model().selectedConvSpecs()) out.push_back(s->conversionName());
        return out;
    }
    void Select(const Names& names) {
        ConvSpecList specs;
        for (const ConvSpecPtr& s : model().convSpecs())
            if (std::find(names.begin(), names.end(), s->conversionName()) != names.end())
                specs.push_back(s);
        model().selectConvSpecs(specs);
    }
    // The names stored under "Conversions" in the file itself.
    Names StoredNames() {
        platform::UserDefaults reread(defaults.path());
        reread.Load();
        Names out;
        const plist::Value stored = reread.Get(kConversionsDefaultsKey);
        if (const plist::Array* a = stored.array())
            for (const plist::Value& d : *a)
                if (const plist::Value* n = d.find(XWCSName)) out.push_back(n->asString());
        return out;
    }

    testsupport::TempDir dir;
    platform::UserDefaults defaults{dir / "preferences.plist"};
    std::unique_ptr<ConversionListController> controller;
    std::deque<int> dialogAnswers;
    std::function<void(ConvSpec&)> dialogEdit;
    std::set<std::string> takenDuringDialog;
    std::vector<std::string> alerts;
    int alertAnswer = 0;
    // The shell's alerts, scripted: every answer is alertAnswer.
    struct AlertDouble : Alerts {
        ConversionList* test;
        explicit AlertDouble(ConversionList* t) : test(t) {}
        int run(QWidget*, const QString& title, const QString&, const QString&, const QString&,
                const QString&) override {
            test->alerts.push_back(title.toStdString());
            return test->alertAnswer;
        }
    } alertDouble{this};
    std::string chosenFile;
    bool fakeReader = false;
    ConvSpecList legacy;
    std::vector<std::string> readPaths;
    int conversionsShown = 0;
};

TEST_F(ConversionList, TheTableShowsTheActiveBoxOnlyForValidConversionsAndCountsEveryActiveOne) {
    Make({Spec("b ok", true), Spec("a bad", true, false), Spec("c off", false)});
    EXPECT_EQ(RowNames(), (Names{"a bad", "b ok", "c off"}));
    struct Row {
        int row;
        bool checkable;
        bool grey;
    } rows[] = {{0, false, true}, {1, true, false}, {2, true, false}};
    for (const Row& r : rows) {
        const QModelIndex active = model().index(r.row, ConversionListModel::kActiveColumn);
        const QModelIndex name = model().index(r.row, ConversionListModel::kNameColumn);
        EXPECT_EQ(bool(model().flags(active) & Qt::ItemIsUserCheckable), r.checkable) << r.row;
        EXPECT_EQ(bool(model().flags(active) & Qt::ItemIsEnabled), r.checkable) << r.row;
        EXPECT_EQ(model().data(name, Qt::ForegroundRole).isValid(), r.grey) << r.row;
    }
    EXPECT_EQ(model().headerData(0, Qt::Horizontal).toString(), "2 Active");

    // A tick on a valid row counts; an invalid row cannot be ticked.
    EXPECT_TRUE(model().setData(model().index(2, 0), Qt::Checked, Qt::CheckStateRole));
    EXPECT_FALSE(model().setData(model().index(0, 0), Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_EQ(model().headerData(0, Qt::Horizontal).toString(), "3 Active");
    EXPECT_EQ(model().data(model().index(1, 2)).toString(), "");
}

TEST_F(ConversionList, DuplicatesGetFreeNamesOfAtMost255Bytes) {
    const std::string a252(252, 'a');
    std::string euro84;  // 252 bytes of three-byte characters
    for (int i = 0; i < 84; ++i) euro84 += "\xE2\x82\xAC";
    struct Case {
        std::string base;
        Names expected;
    } cases[] = {
        {"Mix", {"Mix copy", "Mix copy 1"}},
        {a252, {std::string(250, 'a') + " copy", std::string(248, 'a') + " copy 1"}},
        // 249 bytes of the base fit before " copy"; 246 before " copy 1".
        {euro84, {euro84.substr(0, 249) + " copy", euro84.substr(0, 246) + " copy 1"}},
    };
    for (const Case& c : cases) {
        Make({Spec(c.base)});
        for (int i = 0; i < 2; ++i) {
            Select({c.base});
            controller->duplicateConv();
        }
        Names names = RowNames(), expected = c.expected;
        names.erase(std::find(names.begin(), names.end(), c.base));
        std::sort(names.begin(), names.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(names, expected);
        for (const std::string& n : names) EXPECT_LE(n.size(), 255u);
    }
    EXPECT_EQ(FreeConversionName(std::string(300, 'z'), " copy", {}).size(), 255u);
}

// Each command is one undo step with its name; undo gives back the list and
// the selection as they were, redo as they were after the command.
TEST_F(ConversionList, UndoAndRedoOfEveryCommandRestoreListAndSelection) {
    fakeReader = true;
    struct Case {
        const char* undoText;
        std::function<void(ConversionList&)> run;
    } cases[] = {
        {"Add Conversion",
         [](ConversionList& t) {
             t.dialogAnswers = {1};
             t.dialogEdit = [](ConvSpec& s) { s.setConversionName("New"); };
             t.controller->addConv();
         }},
        {"Edit Conversion",
         [](ConversionList& t) {
             t.dialogAnswers = {1};
             t.dialogEdit = [](ConvSpec& s) { s.setConversionName("Zed"); };
             t.controller->editConv();
         }},
        {"Duplicate Conversion(s)", [](ConversionList& t) { t.controller->duplicateConv(); }},
        {"Delete Conversion(s)", [](ConversionList& t) { t.controller->removeConv(); }},
        {"Drag Conversion(s)",
         [](ConversionList& t) {
             QMimeData data;
             data.setText(QString::fromStdString(Payload({Dict("Dropped 1"), Dict("Dropped 2")})));
             EXPECT_TRUE(t.model().dropMimeData(&data, Qt::CopyAction, 0, 0, QModelIndex()));
         }},
        {"Import Conversions",
         [](ConversionList& t) { t.controller->importLegacyConversionsFromArray({Spec("Old")}); }},
    };
    for (const Case& c : cases) {
        Make({Spec("Alpha"), Spec("Beta"), Spec("Gamma")});
        Select({"Alpha", "Gamma"});
        const Names listBefore = RowNames(), selectionBefore = SelectedNames();
        c.run(*this);
        ASSERT_EQ(controller->undoStack()->count(), 1) << c.undoText;
        EXPECT_EQ(controller->undoStack()->undoText().toStdString(), c.undoText);
        const Names listAfter = RowNames(), selectionAfter = SelectedNames();
        EXPECT_NE(listAfter, listBefore) << c.undoText;
        for (int round = 0; round < 2; ++round) {
            controller->undoStack()->undo();
            EXPECT_EQ(RowNames(), listBefore) << c.undoText;
            EXPECT_EQ(SelectedNames(), selectionBefore) << c.undoText;
            controller->undoStack()->redo();
            EXPECT_EQ(RowNames(), listAfter) << c.undoText;
            EXPECT_EQ(SelectedNames(), selectionAfter) << c.undoText;
        }
        Names names = RowNames();
        EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), model().convSpecNames());
    }
}

TEST_F(ConversionList, CommandsKeepOrSetTheSelectionAsTheUserExpects) {
    Make({Spec("Alpha"), Spec("Beta"), Spec("Gamma")});
    Select({"Alpha", "Gamma"});
    controller->duplicateConv();
    EXPECT_EQ(RowNames(), (Names{"Alpha", "Alpha copy", "Beta", "Gamma", "Gamma copy"}));
    EXPECT_EQ(SelectedNames(), (Names{"Alpha", "Gamma"}));
    controller->removeConv();
    EXPECT_EQ(RowNames(), (Names{"Alpha copy", "Beta", "Gamma copy"}));
    EXPECT_TRUE(SelectedNames().empty());

    // A new conversion is selected alone.
    Select({"Beta"});
    dialogAnswers = {1};
    dialogEdit = [](ConvSpec& s) { s.setConversionName("Added"); };
    controller->addConv();
    EXPECT_EQ(SelectedNames(), (Names{"Added"}));
    EXPECT_EQ(conversionsShown, 1);

    // An edited conversion keeps its place in the selection under its new name.
    Select({"Added", "Beta"});
    dialogEdit = [](ConvSpec& s) { s.setConversionName("Zulu"); };
    dialogAnswers = {1};
    controller->editConv();
    EXPECT_EQ(SelectedNames(), (Names{"Beta", "Zulu"}));
}

TEST_F(ConversionList, AnEditFreesTheConversionsOwnNameWhileTheDialogRuns) {
    Make({Spec("Alpha"), Spec("Beta")});
    const Names kept{"Alpha", "Beta"};
    for (int answer : {0, 1}) {
        dialogAnswers = {answer};
        dialogEdit = nullptr;
        controller->editConvAt(0);
        EXPECT_EQ(takenDuringDialog, (std::set<std::string>{"Beta"}));
        EXPECT_EQ(model().convSpecNames(), (std::set<std::string>{"Alpha", "Beta"}));
        EXPECT_EQ(RowNames(), kept);
        // Only a confirmed edit is an undo step, and it puts in a copy.
        EXPECT_EQ(controller->undoStack()->count(), answer);
    }
    // A double click edits the row clicked.
    ConversionTableView view;
    controller->attachView(&view);
    takenDuringDialog.clear();
    emit view.doubleClicked(model().index(1, ConversionListModel::kCommentColumn));
    EXPECT_EQ(takenDuringDialog, (std::set<std::string>{"Alpha"}));
}

TEST_F(ConversionList, ADropIsCheckedOverEveryElementAfterNameCleaning) {
    Make({Spec("Mix"), Spec("a-b")});
    plist::Dictionary noName = Dict("x");
    noName.erase(XWCSName);
    plist::Dictionary controlComment = Dict("Two");
    controlComment[XWCSComment] = "bell \x07";
    struct Case {
        std::string payload;
        bool acceptable;
        bool asText = true;  // also offered as text/plain
    } cases[] = {
        {Payload({Dict("One")}), true},
        {Payload({Dict("One"), Dict("Two")}), true},
        {Payload({Dict("One"), Dict("Mix")}), false},       // the second is taken
        {Payload({Dict("One"), Dict(".Mix")}), false},      // taken once cleaned
        {Payload({Dict("x/y"), Dict("x:y")}), false},       // the same folder name
        {Payload({Dict("One"), Dict("One")}), false},       // repeated
        {Payload({Dict("a/b")}), false},                    // "a-b" once cleaned
        {Payload({Dict("One"), plist::Value(noName)}), false},
        {Payload({Dict("One"), Dict("")}), false},
        {Payload({Dict("One"), plist::Value("text")}), false},
        {Payload({}), false},
        {plist::Serialize(plist::Value(Dict("One"))), false},  // not an array
        {plist::Serialize(plist::Value(plist::Array{Dict("One")}), plist::Format::Binary), true},
        {"not a property list", false},
        // Text an XML property list cannot carry could not be dragged out again.
        {Payload({Dict("bad\xFF")}), false, false},
        {plist::Serialize(plist::Value(plist::Array{Dict("One"), plist::Value(controlComment)}),
                          plist::Format::Binary),
         false},
    };
    for (const Case& c : cases) {
        for (bool ownType : {true, false}) {
            QMimeData data;
            const QByteArray bytes(c.payload.data(), static_cast<qsizetype>(c.payload.size()));
            if (ownType)
                data.setData(kConversionsMimeType, bytes);
            else
                data.setText(QString::fromUtf8(bytes));
            if (!ownType && (!c.asText || c.payload.find("bplist") == 0)) continue;
            EXPECT_EQ(model().canDropMimeData(&data, Qt::CopyAction, 0, 0, {}), c.acceptable)
                << c.payload;
        }
    }
    QMimeData empty;
    EXPECT_FALSE(model().dropMimeData(&empty, Qt::CopyAction, 0, 0, {}));
    EXPECT_EQ(RowNames(), (Names{"a-b", "Mix"}));
}

TEST_F(ConversionList, ADroppedDictionaryThatIsNoValidConversionIsInsertedGrey) {
    Make({Spec("Mix")});
    plist::Dictionary strict = Dict("Strange");
    strict[XWCSNeedsStrictFileType] = true;
    strict[XWCSOutputFileType] = static_cast<int64_t>(FourCC("Xxxx"));
    struct View : ConversionTableView {
        using ConversionTableView::dropEvent;
    } view;
    controller->attachView(&view);
    view.resize(400, 200);
    view.show();
    // A drop from another application (no source in this one) reaches the model.
    QMimeData data;
    data.setData(kConversionsMimeType, QByteArray::fromStdString(Payload({strict})));
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    drop.setAccepted(false);
    view.dropEvent(&drop);
    ASSERT_EQ(RowNames(), (Names{"Mix", "Strange"}));
    const ConvSpecPtr dropped = model().at(1);
    EXPECT_FALSE(dropped->valid());
    EXPECT_TRUE(model().data(model().index(1, 1), Qt::ForegroundRole).isValid());
    // Saved only with the next save.
    EXPECT_TRUE(StoredNames().empty());
}

TEST_F(ConversionList, TheDragPayloadReadsBackWithPlistutil) {
    if (!testsupport::HaveProgram("plistutil")) GTEST_SKIP() << "plistutil missing";
    Make({Spec("Caf\xC3\xA9", true, true, "a <comment> & more"), Spec("Two", false)});
    QModelIndexList rows{model().index(0, 1), model().index(1, 0), model().index(1, 2)};
    std::unique_ptr<QMimeData> data(model().mimeData(rows));
    ASSERT_TRUE(data);
    EXPECT_EQ(data->data(kConversionsMimeType), data->text().toUtf8());
    const std::string xml = dir / "payload.plist", binary = dir / "payload.bplist";
    testsupport::WriteFile(xml, data->text().toStdString());
    ASSERT_EQ(std::system(("plistutil -i '" + xml + "' -o '" + binary + "' -f bin").c_str()), 0);
    const plist::Value back = plist::ReadFile(binary);
    ASSERT_TRUE(back.array());
    ASSERT_EQ(back.array()->size(), 2u);
    for (size_t i = 0; i < 2; ++i)
        EXPECT_EQ(*(*back.array())[i].dict(), model().at(static_cast<int>(i))->dictionary());
}

TEST_F(ConversionList, ImportAsksWhereAndRenamesWhatItFinds) {
    // The real reader finds nothing on either route.
    for (int answer : {1, -1, 0}) {
        alerts.clear();
        alertAnswer = answer;
        chosenFile = dir / "Corvane Prefs";
        testsupport::WriteFile(chosenFile, "version 3 preferences");
        Make({});
        controller->importConversions();
        const Names expected = answer == 0 ? Names{"Import Conversions from Corvane version 3"}
                                           : Names{"Import Conversions from Corvane version 3",
                                                   "No Conversions Found"};
        EXPECT_EQ(alerts, expected) << answer;
    }

    fakeReader = true;
    legacy = {Spec("Mix"), Spec("Mix"), Spec("Solo")};
    alertAnswer = 1;
    Make({Spec("Mix (imported from Corvane 3)")});
    controller->importConversions();
    EXPECT_EQ(readPaths, (Names{LegacyPreferencesPath()}));
    EXPECT_EQ(RowNames(), (Names{"Mix (imported from Corvane 3)", "Mix (imported from Corvane 3) 1",
                                 "Mix (imported from Corvane 3) 2",
                                 "Solo (imported from Corvane 3)"}));
    EXPECT_EQ(conversionsShown, 1);

    // "Open File..." reads the chosen file; a cancelled panel reads nothing.
    for (const std::string& chosen : {std::string("/some/Prefs"), std::string()}) {
        readPaths.clear();
        chosenFile = chosen;
        alertAnswer = -1;
        legacy = {Spec("Other")};
        Make({});
        controller->importConversions();
        EXPECT_EQ(readPaths, chosen.empty() ? Names{} : Names{chosen});
    }
}

TEST_F(ConversionList, TheFileChangesAfterTheSavingCommandsAndTheListSurvivesARestart) {
    Make({Spec("Alpha"), Spec("Beta", false)});
    EXPECT_TRUE(StoredNames().empty());
    Select({"Beta"});
    controller->duplicateConv();
    EXPECT_EQ(StoredNames(), (Names{"Alpha", "Beta", "Beta copy"}));

    // Mark, unmark and ticks wait for the next save.
    const auto storedActive = [this] {
        platform::UserDefaults reread(defaults.path());
        reread.Load();
        const plist::Value stored = reread.Get(kConversionsDefaultsKey);
        std::vector<bool> out;
        for (const ConvSpecPtr& s : LoadConvSpecs(&stored)) out.push_back(s->active());
        return out;
    };
    Select({"Beta"});
    controller->markConv();
    Select({"Alpha"});
    controller->unmarkConv();
    model().setData(model().index(2, 0), Qt::Checked, Qt::CheckStateRole);
    EXPECT_EQ(model().headerData(0, Qt::Horizontal).toString(), "2 Active");
    EXPECT_EQ(storedActive(), (std::vector<bool>{true, false, false}));
    dialogAnswers = {0};
    controller->addConv();  // cancelled: no save
    EXPECT_EQ(storedActive(), (std::vector<bool>{true, false, false}));
    Select({"Alpha"});
    controller->removeConv();
    EXPECT_EQ(storedActive(), (std::vector<bool>{true, true}));

    // A restart finds the same list.
    platform::UserDefaults restarted(defaults.path());
    restarted.Load();
    const plist::Value stored = restarted.Get(kConversionsDefaultsKey);
    Names names;
    for (const ConvSpecPtr& s : LoadConvSpecs(&stored)) names.push_back(s->conversionName());
    EXPECT_EQ(names, (Names{"Beta", "Beta copy"}));
}

TEST_F(ConversionList, HeaderClicksSortAndAreRemembered) {
    defaults.Set("ConvSpecs Sort Key", "comment");
    defaults.Set("ConvSpecs Sort Ascending", false);
    Make({Spec("a", true, true, "2"), Spec("b", false, true, "3"), Spec("c", true, true, "1")});
    ConversionTableView view;
    controller->attachView(&view);
    // The stored sort applies from the start.
    EXPECT_EQ(RowNames(), (Names{"b", "a", "c"}));
    EXPECT_EQ(view.horizontalHeader()->sortIndicatorSection(), 2);
    Select({"c"});
    struct Click {
        int section;
        Names order;
        const char* key;
        bool ascending;
    } clicks[] = {
        {1, {"c", "b", "a"}, "convName", false},  // a new key keeps the direction
        {1, {"a", "b", "c"}, "convName", true},
        {0, {"b", "a", "c"}, "active", true},
        {2, {"c", "a", "b"}, "comment", true},
    };
    for (const Click& c : clicks) {
        Q_EMIT view.horizontalHeader()->sectionClicked(c.section);
        EXPECT_EQ(RowNames(), c.order) << c.key;
        EXPECT_EQ(defaults.GetString("ConvSpecs Sort Key"), c.key);
        EXPECT_EQ(defaults.GetBool("ConvSpecs Sort Ascending"), c.ascending);
        EXPECT_EQ(view.horizontalHeader()->sortIndicatorSection(), c.section);
        EXPECT_EQ(SelectedNames(), (Names{"c"}));
    }
}

}  // namespace
