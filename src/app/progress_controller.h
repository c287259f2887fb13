// The progress window of a batch: every 0.1 s it takes the batch driver's
// progress state and draws what changed, shows the warnings in a pane that
// opens by itself on the first one, offers Cancel, and tells the main
// controller when the driver has ended. The batch thread only ever asks for the
// window to be reset and shown (and waits for that); it touches no widget.
// While a batch runs the window does not go away: a close asks to stop it.
#pragma once

#include <QTimer>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/notification_center.h"

class AlertQuestion;
class Alerts;
class ConversionProcess;
namespace Ui {
class ProgressWindow;
}
namespace platform {
class UserDefaults;
}

// Posted by Cancel, with the progress controller as sender.
inline constexpr char UserCancelledNotification[] = "UserCancelledNotification";

class ProgressController : public QWidget {
    Q_OBJECT
public:
    ProgressController(ConversionProcess& process, platform::UserDefaults& defaults,
                       QWidget* parent = nullptr);
    ~ProgressController() override;

    // Starts polling a batch over `files` input files and `conversions` conversions.
    void startPolling(int32_t files, uint32_t conversions);
    bool isPolling() const { return timer_.isActive(); }
    bool running() const { return running_.load(); }
    // Where the question at a close during a batch is asked; none: Qt's own boxes.
    void setAlerts(Alerts* alerts) { alerts_ = alerts; }
    Ui::ProgressWindow* ui() const { return ui_.get(); }
    // The text of the warnings pane and whether it is open.
    bool warningsOpen() const;

    void resetUI();
    // The driver's start notification (batch thread): resets and shows the window
    // on the interface thread and waits until that is done (or the batch stops).
    void handleConversionStart();
    void handleConversionStartDo();
    void handleConversionDone();

public slots:
    // One poll of the driver.
    void timedProgressDisplay();
    void doCancel();

signals:
    // The driver has ended; the window is closed.
    void engineDone();

private:
    void setWarningsOpen(bool open);
    // While the batch runs, closing asks whether to stop it, in a question
    // that does not wait: "Stop Batch" is Cancel, "Keep Running" keeps the
    // window. Either way the window stays until the batch has ended, when it
    // closes by itself; a question still up then is taken down unanswered.
    void closeEvent(QCloseEvent* event) override;
    void saveFrame();

    ConversionProcess& process_;
    Alerts* alerts_ = nullptr;
    // The question of a close during the batch, while it is up.
    std::unique_ptr<AlertQuestion> question_;
    // Set while the question is being asked (an Alerts that answers through
    // run holds this thread meanwhile).
    bool asking_ = false;
    platform::UserDefaults& defaults_;
    std::unique_ptr<Ui::ProgressWindow> ui_;
    QTimer timer_;
    int32_t files_ = 0;
    uint32_t conversions_ = 0;
    double curSamples_ = 0;
    double barPart_ = 100;
    double curStep_ = 0;
    // Set on the interface thread at the start, cleared on the batch thread at the end.
    std::atomic<bool> running_{false};
    std::vector<platform::NotificationCenter::Token> observers_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
