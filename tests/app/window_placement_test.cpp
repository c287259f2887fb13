// Where windows open: the rectangle rules over a table of frames, then the
// windows themselves (the error window, the progress window, a log, the main
// window shown again) against the screen that holds the main window. Run a
// second time on two screens (two_screens.json), with the main window on the
// second.
#include <QGuiApplication>
#include <QScreen>
#include <QTreeWidget>
#include <filesystem>

#include "app/input_list.h"
#include "app/log_window.h"
#include "app/progress_controller.h"
#include "app/window_placement.h"
#include "app_test_support.h"

namespace apptest {
namespace {

TEST(WindowPlacement, FramesAreFittedCentredAndBroughtOntoTheScreen) {
    const QRect area(100, 0, 1000, 800);
    struct Row {
        QRect frame, fitted, broughtOnto;
    };
    const QRect anchor(300, 200, 400, 300);  // centre (499, 349)
    const Row rows[] = {
        {{200, 100, 300, 200}, {200, 100, 300, 200}, {200, 100, 300, 200}},  // inside
        {{950, 700, 300, 200}, {800, 600, 300, 200}, {800, 600, 300, 200}},  // over the corner
        {{0, -50, 300, 200}, {100, 0, 300, 200}, {100, 0, 300, 200}},        // over the top left
        {{50, 0, 1200, 900}, {100, 0, 1000, 800}, {100, 0, 1000, 800}},  // larger than the screen
        {{3000, 3000, 300, 200},
         {800, 600, 300, 200},
         {350, 250, 300, 200}},  // a screen that is gone
    };
    for (const Row& r : rows) {
        EXPECT_EQ(FitInside(r.frame, area), r.fitted) << r.frame.x() << "," << r.frame.y();
        EXPECT_EQ(BringOnto(r.frame, anchor, area), r.broughtOnto)
            << r.frame.x() << "," << r.frame.y();
    }
    EXPECT_EQ(CentredOver({300, 200}, anchor, area), QRect(350, 250, 300, 200));
    EXPECT_EQ(CentredOver({300, 200}, QRect(950, 750, 100, 100), area), QRect(800, 600, 300, 200));
    EXPECT_EQ(CentredOver({300, 200}, QRect(), area), QRect(450, 300, 300, 200));
}

struct WindowPlacementTest : AppTest {
    std::unique_ptr<MainController> c;
    QScreen* screen = nullptr;
    QRect area;

    void SetUp() override {
        // The last screen: the second one when there are two.
        screen = QGuiApplication::screens().back();
        area = screen->availableGeometry();
        defaults.Set("NSWindow Frame Progress", "5000 5000 520 220");
        c = Make();
    }
    // Shows the main window with its frame at `at` and waits for it.
    void ShowMainAt(const QPoint& at) {
        c->window()->move(at);
        c->window()->show();
        PumpUntil([this] { return c->window()->isVisible(); }, 1000);
    }
    // The frame lies wholly on the screen of the main window.
    void ExpectOnScreen(QWidget* w, const char* name) {
        ASSERT_NE(w, nullptr) << name;
        ASSERT_TRUE(w->isVisible()) << name;
        EXPECT_EQ(ScreenHolding(c->window()), screen) << name;
        EXPECT_TRUE(area.contains(w->frameGeometry()))
            << name << " at " << w->frameGeometry().x() << "," << w->frameGeometry().y() << " "
            << w->frameGeometry().width() << "x" << w->frameGeometry().height();
    }
};

TEST_F(WindowPlacementTest, SmallWindowsOpenOverTheMainWindowOnItsScreen) {
    for (const QPoint corner : {QPoint(area.x() + 40, area.y() + 40),
                                QPoint(area.right() - c->window()->width() / 2,
                                       area.bottom() - c->window()->height() / 2)}) {
        SCOPED_TRACE(corner.x());
        ShowMainAt(corner);
        const QRect main = c->window()->frameGeometry();

        c->reportPathsNotAdded({{"Missing", {"/nowhere/a.wav"}}});
        QWidget* errors = c->addFilesErrors();
        ExpectOnScreen(errors, "Files Not Added");
        // Over the main window: centred on it where the screen allows.
        if (area.contains(main)) {
            EXPECT_LE((errors->frameGeometry().center() - main.center()).manhattanLength(), 2);
        }

        // The remembered place of the progress window lies off every screen.
        ProgressController& progress = c->progressController();
        progress.handleConversionStartDo();
        ExpectOnScreen(&progress, "Progress");
        progress.close();

        const std::string log = dir / "CorvaLog-20261205-193401.xwl";
        testsupport::WriteFile(log, "Corvane 4.0.0 Log File\n");
        LogWindow* w = c->openLog(QString::fromStdString(log));
        ExpectOnScreen(w, "log");
        w->close();
        errors->close();
    }
}

TEST_F(WindowPlacementTest, TheMainWindowComesBackWhereItWas) {
    ShowMainAt(area.topLeft() + QPoint(30, 50));
    const QRect before = c->window()->frameGeometry();
    c->window()->hide();
    PlaceWindow(c->window(), c->window());
    c->window()->show();
    EXPECT_EQ(c->window()->frameGeometry(), FitInside(before, area));
    // A window larger than its screen is cut to it.
    c->window()->hide();
    c->window()->resize(area.width() + 300, area.height() + 300);
    PlaceWindow(c->window(), c->window());
    c->window()->show();
    ExpectOnScreen(c->window(), "main");
}

}  // namespace
}  // namespace apptest
