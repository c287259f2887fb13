// The file-info panel: the first line for every kind of selection, the rows of
// the attributes resource (empty texts left out, literal "Status", specifics),
// "Bits" shown as "Word Size" or "Bit Rate", values against soxi, the labels'
// tab stop, the fonts and colours of labels and values, and the text view's
// font change reaching the panel, also as picked from the view's menu.
#include <QAbstractItemView>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QTextBlock>
#include <QTextEdit>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "app/add_files_dialog.h"
#include "app/file_info_panel.h"
#include "app_test_support.h"
#include "conversion/qf_sound_file.h"
#include "foundation/xwqf.h"
#include "platform/notification_center.h"

namespace apptest {
namespace {

namespace fs = std::filesystem;
using Line = SoundFileInfoViewController::Line;
using Lines = std::vector<Line>;

// The type table and the format classes come with a booted controller.
struct FileInfoPanel : AppTest {
    void SetUp() override { controller = Make(Services(), false); }
    std::unique_ptr<MainController> controller;
};

std::string Output(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[256];
        while (size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
        ::pclose(p);
    }
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

}  // namespace

void PrintTo(const SoundFileInfoViewController::Line& l, std::ostream* os) {
    *os << l.key.toStdString() << ": " << l.value.toStdString();
}

namespace {

plist::Dictionary Row(const char* key, const char* value) {
    return plist::Dictionary{{"key", std::string(key)}, {"value", std::string(value)}};
}

std::vector<std::string> Keys(const Lines& lines) {
    std::vector<std::string> keys;
    for (const Line& l : lines) keys.push_back(l.key.toStdString());
    return keys;
}

TEST_F(FileInfoPanel, TheFirstLineAndTheRowsFollowTheSelection) {
    WriteWave(dir / "tone.wav", 800);
    testsupport::WriteFile(dir / "notes.txt", "text");
    fs::create_directory(dir / "folder");
    const plist::Array rows{Row("Sample Rate", "displaySampleRate"), Row("Bits", "displayBits"),
                            Row("Empty", "surroundSetName"), Row("Status", "Checked"),
                            Row("Spec", "specifics:none"), Row("Unknown", "noSuchAccessor")};
    QTextEdit view;
    SoundFileInfoViewController panel(&view, rows);
    auto entry = [this](const char* name) { return QFSoundFile::soundFileWithPath(dir / name); };
    const auto notes = entry("notes.txt");
    struct Case {
        const char* what;
        std::vector<std::shared_ptr<QFSoundFile>> list;
        Line first;
        std::vector<std::string> keys;
    };
    const Case cases[] = {
        {"none", {}, {"Selection", "Nothing selected."}, {"Selection"}},
        {"three", {entry("tone.wav"), notes, entry("folder")}, {"Selection", "3 items."},
         {"Selection"}},
        {"folder", {entry("folder")}, {"Folder", "folder"}, {"Folder"}},
        {"unrecognised", {notes}, {"File", "'notes.txt', 4 B, not recognized as a sound file"},
         {"File"}},
        {"wave", {entry("tone.wav")}, {"File", "tone"},
         {"File", "Sample Rate", "Word Size", "Status"}},
    };
    for (const Case& c : cases) {
        panel.setList(c.list);
        ASSERT_FALSE(panel.info().empty()) << c.what;
        EXPECT_EQ(panel.info().front(), c.first) << c.what;
        EXPECT_EQ(Keys(panel.info()), c.keys) << c.what;
        EXPECT_EQ(view.document()->blockCount(), static_cast<int>(panel.info().size())) << c.what;
    }
    EXPECT_EQ(panel.info()[3].value, "Checked");
    // The labels end on the tab stop: wider than the widest label.
    const QFontMetricsF bold([&view] {
        QFont f = view.font();
        f.setPointSize(11);
        f.setBold(true);
        return f;
    }());
    EXPECT_GT(panel.tabStop(), bold.horizontalAdvance("Sample Rate:"));
}

TEST_F(FileInfoPanel, ValuesAgreeWithSoxi) {
    if (!testsupport::HaveProgram("sox") || !testsupport::HaveProgram("soxi"))
        GTEST_SKIP() << "sox missing";
    QTextEdit view;
    SoundFileInfoViewController panel(&view);  // the resource's rows
    struct Case {
        const char* name;
        const char* soxArgs;
    };
    const Case cases[] = {{"a.aiff", "-r 22050 -c 2 -b 16"},
                          {"b.wav", "-r 8000 -c 1 -b 8"},
                          {"c.au", "-r 11025 -c 1 -b 16"}};
    for (const Case& c : cases) {
        const std::string path = dir / c.name;
        ASSERT_EQ(std::system(("sox -n " + std::string(c.soxArgs) + " '" + path +
                               "' synth 0.1 sine 300 2>/dev/null")
                                  .c_str()),
                  0);
        panel.setList({QFSoundFile::soundFileWithPath(path)});
        std::map<std::string, std::string> shown;
        for (const Line& l : panel.info()) shown[l.key.toStdString()] = l.value.toStdString();
        const std::string rate = Output("soxi -r '" + path + "'");
        const std::string channels = Output("soxi -c '" + path + "'");
        const std::string bits = Output("soxi -p '" + path + "'");
        EXPECT_NE(shown["Sample Rate"].find(rate), std::string::npos) << c.name << " " << shown["Sample Rate"];
        // The count, then the configuration where the type has one.
        EXPECT_TRUE(shown["Channels"] == channels || shown["Channels"].rfind(channels + " (", 0) == 0)
            << c.name << " " << shown["Channels"];
        EXPECT_NE(shown["Word Size"].find(bits), std::string::npos) << c.name << " " << shown["Word Size"];
        EXPECT_EQ(shown.count("Bit Rate"), 0u) << c.name;
    }
}

TEST_F(FileInfoPanel, TheAddDialogShowsItsSelection) {
    WriteWave(dir / "tone.wav", 800);
    fs::create_directories(dir / "sub");
    AddFilesDialog dialog(nullptr, QString::fromStdString(dir.path()));
    // The panel sits beside the dialog's list, as Qt's own dialog lays it out.
    ASSERT_NE(dialog.listView(), nullptr);
    EXPECT_TRUE(dialog.isAncestorOf(dialog.infoView()));
    EXPECT_EQ(dialog.testOption(QFileDialog::DontUseNativeDialog), true);
    EXPECT_EQ(dialog.listView()->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(dialog.detailView()->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(dialog.labelText(QFileDialog::Accept), "Add");
    dialog.selectPath(QString::fromStdString(dir / "tone.wav"));
    ASSERT_FALSE(dialog.info()->info().empty());
    EXPECT_EQ(dialog.info()->info().front(), (Line{"File", "tone"}));
    EXPECT_GT(dialog.info()->info().size(), 1u);  // its properties
    dialog.selectPath(QString::fromStdString(dir / "sub"), true);
    EXPECT_EQ(dialog.info()->info(), (Lines{{"Selection", "2 items."}}));
    dialog.selectPath(QString::fromStdString(dir / "sub"));
    EXPECT_EQ(dialog.info()->info(), (Lines{{"Folder", "sub"}}));
    dialog.listView()->clearSelection();
    EXPECT_EQ(dialog.info()->info(), (Lines{{"Selection", "Nothing selected."}}));
}

// A file the dialog cannot describe shows why: the reason the file layer gives
// for bytes it cannot have (refused here through the layer's fault probe, as
// root reads every file), else that no reader takes it for sound.
TEST_F(FileInfoPanel, AFileItCannotDescribeShowsWhy) {
    WriteWave(dir / "secret.wav", 44100);
    WriteWave(dir / "worn.wav", 100);
    testsupport::WriteFile(dir / "x.wav", std::string(41, 'x'));
    testsupport::WriteFile(dir / "notes.txt", "text");
    struct Restore {
        ~Restore() { XWQF::SetFileFaultProbe(nullptr); }
    } restore;
    XWQF::SetFileFaultProbe([this](const char* operation, const std::string& path) {
        if (std::string(operation) != "read") return 0;
        return path == dir / "secret.wav" ? EACCES : path == dir / "worn.wav" ? EIO : 0;
    });
    AddFilesDialog dialog(nullptr, QString::fromStdString(dir.path()));
    const std::pair<const char*, QString> cases[] = {
        {"secret.wav", "'secret.wav', 86.18 kB, cannot be read: permission denied"},
        {"worn.wav", "'worn.wav', 244 B, cannot be read: input/output error"},
        {"x.wav", "'x.wav', 41 B, not recognized as a sound file"},
        {"notes.txt", "'notes.txt', 4 B, not recognized as a sound file"},
    };
    for (const auto& [name, shown] : cases) {
        dialog.selectPath(QString::fromStdString(dir / name));
        EXPECT_EQ(dialog.info()->info(), (Lines{{"File", shown}}))
            << name;
    }
}

TEST_F(FileInfoPanel, FontsAndColoursReachEveryLine) {
    WriteWave(dir / "tone.wav", 800);
    SoundFileInfoTextView view;
    SoundFileInfoViewController panel(
        &view, {Row("Sample Rate", "displaySampleRate"), Row("Channels", "displayChannels")});
    panel.setList({QFSoundFile::soundFileWithPath(dir / "tone.wav")});
    ASSERT_EQ(panel.info().size(), 3u);
    const QString shown = view.toPlainText();
    const double tabAt11 = panel.tabStop();
    // Every label run ("\tKey:\t") and value run of the view meets `check`.
    auto eachRun = [&view](auto check) {
        int labels = 0;
        for (QTextBlock b = view.document()->begin(); b.isValid(); b = b.next())
            for (auto it = b.begin(); !it.atEnd(); ++it) {
                const bool label = it.fragment().text().endsWith(":\t");
                labels += label;
                check(label, it.fragment().charFormat(), b.blockFormat());
            }
        EXPECT_EQ(labels, 3);
    };

    // The view's font change reaches the panel: values in the font, labels bold.
    view.changeFont(QFont("DejaVu Serif", 16));
    EXPECT_EQ(panel.textFormat().font().family(), "DejaVu Serif");
    EXPECT_EQ(panel.textFormat().font().pointSizeF(), 16);
    EXPECT_FALSE(panel.textFormat().font().bold());
    EXPECT_EQ(panel.labelFormat().font(), [] {
        QFont f("DejaVu Serif", 16);
        f.setBold(true);
        return f;
    }());
    EXPECT_GT(panel.tabStop(), tabAt11 * 1.3);
    eachRun([&panel](bool label, const QTextCharFormat& f, const QTextBlockFormat& paragraph) {
        EXPECT_EQ(f.font(), (label ? panel.labelFormat() : panel.textFormat()).font());
        ASSERT_EQ(paragraph.tabPositions().size(), 2);
        EXPECT_EQ(paragraph.tabPositions()[0].position, panel.tabStop());
        EXPECT_EQ(paragraph.tabPositions()[1].position, panel.tabStop() + 8);
        EXPECT_EQ(paragraph.leftMargin(), panel.tabStop() + 8);
    });

    // Entries that are missing or cannot be a font keep what is there.
    for (const plist::Dictionary& bad :
         {plist::Dictionary{}, plist::Dictionary{{"name", std::string()}, {"size", -3}},
          plist::Dictionary{{"name", 12}, {"size", std::nan("")}}, plist::Dictionary{{"size", 1e9}},
          plist::Dictionary{{"size", true}}, plist::Dictionary{{"size", std::string("12")}}})
        panel.setFont(bad);
    EXPECT_EQ(panel.textFormat().font(), QFont("DejaVu Serif", 16));

    const QColor label(200, 0, 0), text(0, 120, 0), background(250, 250, 210);
    panel.setLabelColor(label);
    panel.setTextColor(text);
    panel.setBackgroundColor(background);
    eachRun([&](bool isLabel, const QTextCharFormat& f, const QTextBlockFormat&) {
        EXPECT_EQ(f.foreground().color(), isLabel ? label : text);
        EXPECT_EQ(f.background().color(), background);
    });
    EXPECT_EQ(view.palette().color(QPalette::Base), background);
    EXPECT_EQ(view.toPlainText(), shown);

    // A panel that has ended hears no more font changes.
    { SoundFileInfoViewController ended(nullptr, {}); }
    view.changeFont(QFont("DejaVu Sans", 12));
    EXPECT_EQ(panel.textFormat().font(), QFont("DejaVu Sans", 12));
}

// "Font…" at the end of the text view's context menu asks for a font, starting
// at the one the values show in (Qt's font dialog, scripted here); the choice
// reaches the panel's lines, a cancelled dialog changes nothing.
TEST_F(FileInfoPanel, TheTextViewsMenuPicksThePanelsFont) {
    WriteWave(dir / "tone.wav", 800);
    AddFilesDialog dialog(nullptr, QString::fromStdString(dir.path()));
    dialog.selectPath(QString::fromStdString(dir / "tone.wav"));
    dialog.show();
    SoundFileInfoTextView* view = dialog.infoView();
    std::vector<QFont> offered;
    std::optional<QFont> answer = QFont("DejaVu Serif", 15);
    view->setFontChooser([&](QWidget* parent, const QFont& current) {
        EXPECT_EQ(parent, view);
        offered.push_back(current);
        return answer;
    });
    // A right click on the text, then "Font…" picked from the menu with the keyboard.
    auto pickFontFromMenu = [view] {
        auto last = std::make_shared<bool>(false);
        QTimer::singleShot(0, [last] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) return;
            QAction* font = menu->findChild<QAction*>("fontAction");
            *last = font && menu->actions().size() > 2 && menu->actions().back() == font &&
                   font->text() == "Font…";
            menu->setActiveAction(font);
            QTest::keyClick(menu, Qt::Key_Return);
        });
        const QPoint at(20, 10);
        QContextMenuEvent click(QContextMenuEvent::Mouse, at, view->viewport()->mapToGlobal(at));
        QApplication::sendEvent(view->viewport(), &click);
        return *last;
    };
    const QFont shown = dialog.info()->textFormat().font();
    EXPECT_EQ(shown.pointSize(), 11);
    ASSERT_TRUE(pickFontFromMenu());
    ASSERT_EQ(offered.size(), 1u);
    EXPECT_EQ(offered[0], shown);
    EXPECT_EQ(view->font(), QFont("DejaVu Serif", 15));
    EXPECT_EQ(dialog.info()->textFormat().font(), QFont("DejaVu Serif", 15));
    EXPECT_TRUE(dialog.info()->labelFormat().font().bold());
    EXPECT_EQ(dialog.info()->labelFormat().font().family(), "DejaVu Serif");

    answer.reset();
    ASSERT_TRUE(pickFontFromMenu());
    ASSERT_EQ(offered.size(), 2u);
    EXPECT_EQ(offered[1], QFont("DejaVu Serif", 15));
    EXPECT_EQ(dialog.info()->textFormat().font(), QFont("DejaVu Serif", 15));

    // The whole choice passes, its style too: italic values, bold italic labels.
    QFont italic("DejaVu Sans", 13);
    italic.setItalic(true);
    answer = italic;
    ASSERT_TRUE(pickFontFromMenu());
    QFont boldItalic = italic;
    boldItalic.setBold(true);
    EXPECT_EQ(dialog.info()->textFormat().font(), italic);
    EXPECT_EQ(dialog.info()->labelFormat().font(), boldItalic);
    int runs = 0;
    for (QTextBlock b = view->document()->begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it, ++runs)
            EXPECT_EQ(it.fragment().charFormat().font(),
                      it.fragment().text().endsWith(":\t") ? boldItalic : italic);
    EXPECT_GT(runs, 2);

    // Choosing only a style in a fresh panel keeps the size the values had.
    AddFilesDialog fresh(nullptr, QString::fromStdString(dir.path()));
    fresh.selectPath(QString::fromStdString(dir / "tone.wav"));
    fresh.show();
    QFont received;
    fresh.infoView()->setFontChooser([&received](QWidget*, const QFont& current) {
        received = current;
        QFont styled = current;
        styled.setItalic(true);
        return std::optional<QFont>(styled);
    });
    fresh.infoView()->chooseFont();
    EXPECT_EQ(received, shown);
    EXPECT_EQ(fresh.info()->textFormat().font().pointSize(), 11);
    EXPECT_TRUE(fresh.info()->textFormat().font().italic());
    EXPECT_EQ(fresh.info()->textFormat().font().family(), shown.family());
}

}  // namespace
}  // namespace apptest
