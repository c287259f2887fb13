// The log window: any bytes read, UTF-8 saved (checked by iconv), a PDF print
// read back by pdftotext, the question when an edited log is closed, and the
// keyboard given to a log that is opened.
#include <QApplication>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPrinter>
#include <cstdlib>
#include <filesystem>

#include "app/log_window.h"
#include "app_test_support.h"
#include "conversion/qf_sound_file.h"
#include "ui_main_window.h"

namespace apptest {
namespace {

struct LogWindowTest : AppTest {
    std::string log = dir / "CorvaLog-20261205-193401.xwl";
    const std::string text =
        "Corvane 4.0.0 Log File\n*\xC3\x84rger.wav                        Disk full\n";
    LogWindowTest() { testsupport::WriteFile(log, text); }
    LogWindow* Open() {
        auto* w = new LogWindow(QString::fromStdString(log), &alerts, &dialogs);
        w->show();
        return w;
    }
};

TEST_F(LogWindowTest, ReadingAlwaysSucceedsAndTheFontIsMonospace) {
    testsupport::WriteFile(log, "ok \xFF\xFE bytes\n");
    QPointer<LogWindow> w = Open();
    EXPECT_TRUE(w->logText().startsWith("ok "));
    EXPECT_TRUE(w->logView()->font().fixedPitch());
    EXPECT_FALSE(w->isDocumentEdited());
    w->close();
    EXPECT_TRUE(alerts.shown.empty());
}

TEST_F(LogWindowTest, SavesUtf8ThatIconvAccepts) {
    LogWindow* w = Open();
    w->logView()->appendPlainText(QString::fromUtf8("\xC3\x84rger again"));
    EXPECT_TRUE(w->isDocumentEdited());
    ASSERT_TRUE(w->save());
    EXPECT_FALSE(w->isDocumentEdited());
    // The appended paragraph follows the empty last line.
    EXPECT_EQ(testsupport::ReadFile(log), text + "\n\xC3\x84rger again");
    if (testsupport::HaveProgram("iconv")) {
        EXPECT_EQ(std::system(("iconv -f UTF-8 -t UTF-16 " + log + " >/dev/null").c_str()), 0);
    }
    w->close();
}

TEST_F(LogWindowTest, PrintsAPdfThatReadsBack) {
    if (!testsupport::HaveProgram("pdftotext")) GTEST_SKIP() << "pdftotext missing";
    LogWindow* w = Open();
    const std::string pdf = dir / "log.pdf";
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(pdf));
    w->printTo(&printer);
    w->close();
    ASSERT_EQ(std::system(("pdftotext -layout " + pdf + " " + pdf + ".txt").c_str()), 0);
    const std::string back = testsupport::ReadFile(pdf + ".txt");
    EXPECT_NE(back.find("Corvane 4.0.0 Log File"), std::string::npos) << back;
    EXPECT_NE(back.find("\xC3\x84rger.wav"), std::string::npos) << back;
    EXPECT_NE(back.find("Disk full"), std::string::npos) << back;
}

TEST_F(LogWindowTest, ClosingAnEditedLogAsksFirst) {
    struct Row {
        int answer;  // 1 save, 0 cancel, -1 don't save
        bool closed;
        bool saved;
    };
    for (const Row row : {Row{0, false, false}, Row{-1, true, false}, Row{1, true, true}}) {
        testsupport::WriteFile(log, text);
        QPointer<LogWindow> w = Open();
        w->logView()->appendPlainText("edited");
        alerts.answers = {row.answer};
        w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(w.isNull() || !w->isVisible(), row.closed) << row.answer;
        EXPECT_EQ(testsupport::ReadFile(log) != text, row.saved) << row.answer;
        if (w) {
            w->logView()->document()->setModified(false);
            w->close();
        }
    }
    EXPECT_EQ(alerts.shown.size(), 3u);
}

// Which window ends up active with the keyboard. Offscreen, every window shown
// becomes the active one, so the end of a batch passes there either way; under
// a real X server with a window manager (QT_QPA_PLATFORM=xcb) it tells.
TEST_F(LogWindowTest, TheLogOfAFinishedBatchComesUpActiveWithTheKeyboard) {
    const std::string in = dir / "in", out = dir / "out";
    std::filesystem::create_directories(in);
    std::filesystem::create_directories(out);
    WriteWave(in + "/a.wav", 800);
    defaults.Set(kConversionsDefaultsKey, EncodeConvSpecs({AiffConversion("One")}));
    defaults.Set("Last Used Destination", out);
    defaults.Set("Easy Thru", true);
    defaults.Set("Save Log", true);
    defaults.Set("Open Log", true);
    defaults.Set("Only Open When Errors", false);
    auto c = Make();
    c->inputFiles.push_back(QFSoundFile::soundFileWithPath(in + "/a.wav"));
    bool finished = false;
    QObject::connect(c.get(), &MainController::batchFinished, [&finished] { finished = true; });
    ASSERT_TRUE(c->doStart());
    ASSERT_TRUE(PumpUntil([&finished] { return finished; }));
    ASSERT_EQ(c->logWindows().size(), 1);
    LogWindow* w = c->logWindows()[0];
    EXPECT_TRUE(PumpUntil([w] { return QApplication::activeWindow() == w; }));
    EXPECT_TRUE(w->logView()->hasFocus());
    // The window is back behind it.
    EXPECT_TRUE(c->window()->isVisible());
    EXPECT_EQ(c->window()->windowOpacity(), 1.0);
    w->close();
}

TEST_F(LogWindowTest, ShowLastLogGivesTheKeyboardToTheLogAlsoWhenItIsOpen) {
    auto c = Make();
    c->window()->show();
    defaults.Set("Last Used Log", plist::Dictionary{{"QFStringValue", log}});
    for (int round = 0; round < 2; ++round) {
        c->window()->activateWindow();
        ASSERT_TRUE(PumpUntil([&c] { return QApplication::activeWindow() == c->window(); }));
        c->ui()->showLastLogAction->trigger();
        ASSERT_EQ(c->logWindows().size(), 1);
        LogWindow* w = c->logWindows()[0];
        EXPECT_TRUE(PumpUntil([w] { return QApplication::activeWindow() == w; })) << round;
        EXPECT_TRUE(w->logView()->hasFocus()) << round;
    }
    for (LogWindow* w : c->logWindows()) w->close();
}

}  // namespace
}  // namespace apptest
