// The main controller's playback controls: the commands driving the player and
// the space key on the play button (the buttons and menu items are connected
// with the other commands), the window following the player's reports, and
// varispeed, blip and auto-play settings.
#include "app/main_controller.h"

#include <QCheckBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTableView>

#include "app/desktop_services.h"
#include "app/input_list.h"
#include "app/main_window_views.h"
#include "app/player_control.h"
#include "app/preference_controller.h"
#include "app/table_sorting.h"
#include "conversion/qf_sound_file.h"
#include "platform/user_defaults.h"
#include "playback/player.h"
#include "ui_main_window.h"

namespace {

// The varispeed slider works in hundredths of the player's 0.25-4 range.
constexpr int kVariSpeedScale = 100;

}  // namespace

void MainController::setUpPlaybackControls() {
    Ui::MainWindow& ui = *ui_;
    connect(ui.inputFileTableView, &QTableView::doubleClicked, this, &MainController::playFile);
    ui.variSpeedSlider->setRange(25, 400);
    connect(ui.variSpeedSlider, &QSlider::valueChanged, this, &MainController::doVariSpeed);
    connect(ui.variSpeedTextField, &QLineEdit::editingFinished, this, [this] {
        bool ok = false;
        const double value = ui_->variSpeedTextField->text().toDouble(&ok);
        if (ok) ui_->variSpeedSlider->setValue(static_cast<int>(value * kVariSpeedScale + 0.5));
        ui_->variSpeedTextField->setText(
            QString::number(ui_->variSpeedSlider->value() / double(kVariSpeedScale), 'f', 2));
    });
    showPlayButton(false);
    playerView_ = new PlayerView(ui.inputPage);
    playerView_->setPlayStopButton(ui.playFileButton);
    playerView_->hide();
    ui.inputPage->installEventFilter(playerView_);
    for (QWidget* w : ui.inputPage->findChildren<QWidget*>()) w->installEventFilter(playerView_);
    for (const char* name : {XWPlayerStartNotification, XWPlayerStopNotification,
                             XWPlayerPauseNotification}) {
        const bool start = name == XWPlayerStartNotification;
        observers_.push_back(platform::NotificationCenter::Default().AddObserver(
            name, nullptr, [this, start](const platform::Notification&) {
                start ? soundPlayStart() : soundPlayStop();
            }));
    }
}

void MainController::followPlayerSetting(const platform::Notification& note) {
    const bool blip = note.name == XWBlipAtEndChanged;
    const bool on = defaults().GetBool(blip ? "Blip At End" : "Auto Play Next");
    // The window's own change is already shown.
    if (ui_ && note.sender != this) {
        QCheckBox* box = blip ? ui_->blipAtEndCheckbox : ui_->autoPlayNextCheckbox;
        const QSignalBlocker quiet(box);
        box->setChecked(on);
    }
    if (Player* player = ownPlayer_ ? ownPlayer_->player() : nullptr)
        blip ? player->setBlipAtEnd(on) : player->setAutoPlayNext(on);
}

Player* MainController::player() const { return ownPlayer_ ? ownPlayer_->player() : nullptr; }

void MainController::showPlayButton(bool playing) {
    if (!ui_) return;
    const QPixmap image = ProgramImage(playing ? "stop" : "play");
    if (image.isNull()) {
        ui_->playFileButton->setText(playing ? QStringLiteral("■") : QStringLiteral("▶"));
    } else {
        ui_->playFileButton->setText(QString());
        ui_->playFileButton->setIcon(QIcon(image));
    }
    ui_->playFileButton->setToolTip(playing ? Tr("Stop") : Tr("Play"));
    for (auto& [button, rule] : buttonRules_) {
        if (button != ui_->playFileButton) continue;
        rule = playing ? UiAction::stopFile : UiAction::playFile;
        button->setEnabled(IsActionEnabled(rule, uiState()));
    }
}

void MainController::runPlayerCommand(const std::function<void(Player&)>& command) {
    Player* p = player();
    if (!p) return;
    try {
        command(*p);
    } catch (const std::exception& e) {
        // A file that cannot be played: said in an alert, the buttons back at rest.
        services_.alerts->run(window_, Tr("Error"), QString::fromUtf8(e.what()));
        soundPlayStop();
        return;
    }
    if (inputModel_) inputModel_->refreshPlaying();
    refreshActions();
}

void MainController::playFile() {
    if (!ownPlayer_ || inputFiles.empty()) return;
    const double speed = ui_ ? ui_->variSpeedSlider->value() / double(kVariSpeedScale) : 1.0;
    Player* p = ownPlayer_->ensurePlayer(inputFiles, static_cast<float>(speed),
                                         defaults().GetBool("Auto Play Next"),
                                         defaults().GetBool("Blip At End"));
    if (!p) return;
    std::shared_ptr<QFSoundFile> selected;
    if (ui_ && ui_->inputFileTableView->selectionModel()) {
        const auto rows = SelectedRows(ui_->inputFileTableView->selectionModel());
        if (!rows.empty() && static_cast<size_t>(rows.front()) < inputFiles.size())
            selected = inputFiles[static_cast<size_t>(rows.front())];
    }
    runPlayerCommand([selected](Player& player) {
        if (selected) player.setFileFromList(selected);
        player.start();
    });
    if (player() && player()->isPlaying()) showPlayButton(true);
}

void MainController::stopFile() {
    runPlayerCommand([](Player& player) { player.pause(); });
    showPlayButton(false);
}

void MainController::playNextFromFolder() {
    runPlayerCommand([](Player& p) { p.doNextFromFolder(); });
}

void MainController::playPreviousFromFolder() {
    runPlayerCommand([](Player& p) { p.doPreviousFromFolder(); });
}

void MainController::playNextFromInputList() {
    runPlayerCommand([](Player& p) { p.doNextFromInputList(); });
}

void MainController::playPreviousFromInputList() {
    runPlayerCommand([](Player& p) { p.doPreviousFromInputList(); });
}

void MainController::soundPlayStart() {
    Player* p = player();
    if (!ui_ || !p) return;
    const auto& playing = p->playingFile();
    ui_->folderPlayTextField->setText(
        FormatObjects(Tr("Playing: %@"), {playing ? QString::fromStdString(playing->path()) : QString()}));
    showPlayButton(true);
    if (inputModel_) inputModel_->refreshPlaying();
    if (auto row = ownPlayer_->currentRow(inputFiles); row && inputModel_)
        ui_->inputFileTableView->scrollTo(inputModel_->index(static_cast<int>(*row), 0));
    refreshActions();
}

void MainController::soundPlayStop() {
    if (!ui_) return;
    ui_->folderPlayTextField->clear();
    showPlayButton(false);
    if (inputModel_) inputModel_->refreshPlaying();
    refreshActions();
}

void MainController::doVariSpeed(int hundredths) {
    const double value = hundredths / double(kVariSpeedScale);
    if (ui_) ui_->variSpeedTextField->setText(QString::number(value, 'f', 2));
    if (Player* p = player()) p->setVarispeed(static_cast<float>(value));
    rememberVarispeed(value);
}

void MainController::resetVariSpeed() {
    if (ui_) {
        const QSignalBlocker quiet(ui_->variSpeedSlider);
        ui_->variSpeedSlider->setValue(kVariSpeedScale);
        ui_->variSpeedTextField->setText(QString::number(1.0, 'f', 2));
    }
    if (Player* p = player()) p->setVarispeed(1.0f);
    rememberVarispeed(1.0);
}

void MainController::rememberVarispeed(double value) {
    defaults().Set("Varispeed", value);
    defaults().Save();
}
