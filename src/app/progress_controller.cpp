#include "app/progress_controller.h"

#include <QCloseEvent>
#include <QScrollBar>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <future>

#include "app/desktop_services.h"
#include "app/window_placement.h"
#include "engine/conversion_process.h"
#include "platform/user_defaults.h"
#include "ui_progress_window.h"

namespace {

// The window's frame, "x y width height".
constexpr char kFrameKey[] = "NSWindow Frame Progress";
constexpr int kTickMs = 100;

QString Fill(const char* format, const QStringList& args) { return FormatObjects(Tr(format), args); }

QString Number(int64_t n) { return QString::number(n); }

}  // namespace

ProgressController::ProgressController(ConversionProcess& process,
                                       platform::UserDefaults& defaults, QWidget* parent)
    : QWidget(parent, Qt::Window), process_(process), defaults_(defaults),
      ui_(std::make_unique<Ui::ProgressWindow>()) {
    ui_->setupUi(this);
    const QStringList frame =
        QString::fromStdString(defaults_.GetString(kFrameKey)).split(' ', Qt::SkipEmptyParts);
    if (frame.size() == 4) {
        setGeometry(frame[0].toInt(), frame[1].toInt(), std::max(200, frame[2].toInt()),
                    std::max(120, frame[3].toInt()));
    }
    QFont small = ui_->warningTextView->font();
    small.setPointSize(11);
    ui_->warningTextView->setFont(small);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &ProgressController::doCancel);
    connect(ui_->warningsToggle, &QToolButton::toggled, this,
            &ProgressController::setWarningsOpen);
    timer_.setInterval(kTickMs);
    connect(&timer_, &QTimer::timeout, this, &ProgressController::timedProgressDisplay);
    resetUI();

    auto& center = platform::NotificationCenter::Default();
    observers_.push_back(center.AddObserver(QFConversionStartNotification, &process_,
                                            [this](const platform::Notification&) {
                                                handleConversionStart();
                                            }));
    observers_.push_back(center.AddObserver(QFConversionDoneNotification, &process_,
                                            [this](const platform::Notification&) {
                                                handleConversionDone();
                                            }));
}

ProgressController::~ProgressController() {
    for (auto token : observers_) platform::NotificationCenter::Default().RemoveObserver(token);
}

void ProgressController::saveFrame() {
    const QRect g = geometry();
    defaults_.Set(kFrameKey, QStringLiteral("%1 %2 %3 %4")
                                 .arg(g.x())
                                 .arg(g.y())
                                 .arg(g.width())
                                 .arg(g.height())
                                 .toStdString());
}

void ProgressController::closeEvent(QCloseEvent* event) {
    if (process_.running()) {
        event->ignore();
        // Already cancelling: the window closes when the batch has stopped.
        if (process_.shouldStop()) return;
        // Asked once at a time.
        if (asking_ || (question_ && question_->isUp())) return;
        QtAlerts own;
        Alerts& alerts = alerts_ ? *alerts_ : static_cast<Alerts&>(own);
        asking_ = true;
        question_ = alerts.ask(
            this, Tr("Stop the batch?"),
            Tr("The batch is still running. Stop it, or keep it running with this window open?"),
            Tr("Stop Batch"), Tr("Keep Running"), QString(), [this](int answer) {
                // The batch may have ended while the question was up.
                if (answer == 1 && process_.running()) doCancel();
            });
        asking_ = false;
        return;
    }
    saveFrame();
    QWidget::closeEvent(event);
}

bool ProgressController::warningsOpen() const { return ui_->warningsToggle->isChecked(); }

void ProgressController::setWarningsOpen(bool open) {
    if (ui_->warningsToggle->isChecked() != open) ui_->warningsToggle->setChecked(open);
    ui_->warningsToggle->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    ui_->warningTextView->setVisible(open);
}

void ProgressController::resetUI() {
    for (QLabel* field : {ui_->conversionTextField, ui_->inputFileTextField, ui_->stepTextField,
                          ui_->regionTextField, ui_->warningTextField})
        field->clear();
    ui_->warningTextView->clear();
    for (QProgressBar* bar : {ui_->conversionBar, ui_->inputFileBar}) bar->setRange(0, 100);
    curSamples_ = 0;
    barPart_ = 100;
    curStep_ = 0;
}

void ProgressController::startPolling(int32_t files, uint32_t conversions) {
    files_ = std::max<int32_t>(files, 0);
    conversions_ = conversions;
    timer_.start();
}

void ProgressController::handleConversionStart() {
    // The window changes on its own thread; this thread waits, unless the batch
    // is stopped meanwhile (the interface thread may itself be waiting for it).
    auto shown = std::make_shared<std::promise<void>>();
    std::future<void> done = shown->get_future();
    QMetaObject::invokeMethod(
        this,
        [this, shown] {
            handleConversionStartDo();
            shown->set_value();
        },
        Qt::QueuedConnection);
    while (done.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
        if (process_.shouldStop()) return;
}

void ProgressController::handleConversionStartDo() {
    setWarningsOpen(false);
    resetUI();
    // Over the main window (it fades out meanwhile), or where it was left.
    if (!isVisible()) PlaceWindow(this, parentWidget());
    show();
    ui_->conversionBar->setValue(0);
    ui_->inputFileBar->setValue(0);
    running_ = true;
}

void ProgressController::handleConversionDone() { running_ = false; }

void ProgressController::timedProgressDisplay() {
    const int total = static_cast<int>(std::min<int64_t>(
        int64_t(files_) * int64_t(conversions_), std::numeric_limits<int>::max()));
    if (ui_->conversionBar->maximum() != 0) ui_->conversionBar->setMaximum(std::max(total, 1));

    // One take per tick: what is drawn comes from one moment of the batch,
    // and each change is drawn once.
    const ConversionProcess::Progress progress = process_.takeProgress();
    if (!progress.running) {
        // The end never runs inside a question that holds this thread: it
        // comes with the first tick after the answer.
        if (asking_) return;
        // Nothing is left to stop: a question still up goes unanswered.
        question_.reset();
        if (ui_->inputFileBar->maximum() != 0) ui_->inputFileBar->setValue(100);
        timer_.stop();
        if (isVisible()) close();
        emit engineDone();
        return;
    }
    if (running_) {
        const auto& conv = progress.curConvSpec;
        ui_->conversionTextField->setText(
            Fill("Conversion %d of %d: '%@'",
                 {Number(progress.curConv), Number(conversions_),
                  conv ? QString::fromStdString(conv->conversionName()) : QString()}));
    }
    // The whole-batch bar counts the files handed over, however many passed
    // since the last tick.
    if (ui_->conversionBar->maximum() != 0) {
        const int64_t files = BatchBarValue(progress.curConv, progress.curFile, files_, conversions_);
        ui_->conversionBar->setValue(
            static_cast<int>(std::min<int64_t>(files, ui_->conversionBar->maximum())));
    }
    if (progress.fileChanged) {
        const QString path = QString::fromStdString(progress.curFilePath);
        ui_->inputFileTextField->setText(
            Fill("Input File %d of %d: '%@'",
                 {Number(progress.curFile), Number(files_), path.section('/', -1)}));
        ui_->regionTextField->clear();
    }
    if (progress.stepChanged) {
        const int64_t steps = progress.curNumSteps;
        // No steps reported yet: the whole bar is one step.
        barPart_ = steps > 0 ? 100.0 / double(steps) : 100.0;
        ui_->stepTextField->setText(
            Fill("Step: %@", {QString::fromStdString(progress.curStepDesc)}));
        curStep_ = double(std::max<int64_t>(0, std::min(progress.curStep - 1, steps - 1)));
    }
    if (progress.numSampleFramesChanged) curSamples_ = double(progress.curSampleFrames);
    if (progress.regionChanged) {
        ui_->regionTextField->setText(Fill(
            "Region %d of %d: '%@'", {Number(progress.curRegionIndex), Number(progress.curRegions),
                                      QString::fromStdString(progress.curRegion)}));
    }
    // Warnings that come without their flag (a reader cleared it) are shown too.
    if (progress.warningChanged || !progress.newWarnings.empty()) {
        if (!warningsOpen()) setWarningsOpen(true);
        ui_->warningTextField->setText(Fill("Warnings: %d", {Number(progress.warnings)}));
        for (const std::string& text : progress.newWarnings)
            ui_->warningTextView->appendPlainText(QString::fromStdString(text));
        QScrollBar* bar = ui_->warningTextView->verticalScrollBar();
        bar->setValue(bar->maximum());
    }
    const double divisor = progress.usePercentage ? 100.0 : curSamples_;
    const double within = divisor > 0 ? double(progress.curValue) / divisor : 0.0;
    double value = barPart_ * (curStep_ + within);
    if (!std::isfinite(value)) value = 0;
    if (ui_->inputFileBar->maximum() != 0)
        ui_->inputFileBar->setValue(static_cast<int>(std::clamp(value, 0.0, 100.0)));
}

void ProgressController::doCancel() {
    platform::NotificationCenter::Default().Post(UserCancelledNotification, this);
    for (QProgressBar* bar : {ui_->conversionBar, ui_->inputFileBar}) bar->setRange(0, 0);
    ui_->warningTextField->setText(Tr("Cancelling, please wait..."));
}
