#include "app/player_control.h"

#include <QPointer>
#include <algorithm>
#include <exception>

#include "app/desktop_services.h"
#include "playback/player.h"

PlayerControl::PlayerControl(Alerts* alerts, QWidget* window) : alerts_(alerts), window_(window) {}

PlayerControl::~PlayerControl() {
    if (player_) player_->stop();
}

bool PlayerControl::isPlaying() const { return player_ && player_->isPlaying(); }

void PlayerControl::stop() {
    if (player_) player_->stop();
}

Player* PlayerControl::ensurePlayer(const FileList& files, float varispeed, bool autoPlayNext,
                                    bool blipAtEnd) {
    if (player_) return player_.get();
    if (files.empty()) return nullptr;
    PlayerHooks hooks;
    // The end of a file arrives on the output thread and is handled here.
    hooks.runOnMainThread = [](std::function<void()> fn) { onMain(std::move(fn)); };
    Alerts* alerts = alerts_;
    QPointer<QWidget> window = window_;
    hooks.reportError = [alerts, window](const std::string& message) {
        if (alerts) alerts->run(window, Tr("Error"), QString::fromStdString(message));
    };
    try {
        player_ = std::make_unique<Player>(files, varispeed, autoPlayNext, blipAtEnd,
                                           std::move(hooks));
    } catch (const std::exception& e) {
        if (alerts_) alerts_->run(window_, Tr("Error"), QString::fromUtf8(e.what()));
        return nullptr;
    }
    return player_.get();
}

void PlayerControl::setInputFiles(const FileList& files) {
    if (!player_) return;
    if (files.empty()) {
        player_->stop();
        player_.reset();
        return;
    }
    player_->setInputFiles(files);
}

std::optional<size_t> PlayerControl::currentRow(const FileList& shown) const {
    if (!player_ || !player_->fileFromList()) return std::nullopt;
    const auto it = std::find(shown.begin(), shown.end(), player_->fileFromList());
    if (it == shown.end()) return std::nullopt;
    return static_cast<size_t>(it - shown.begin());
}
