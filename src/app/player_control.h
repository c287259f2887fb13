// The main window's player behind the shell's playback seam: the Player is made
// on the first play with the input list and the window's settings, follows the
// list, and is released when the list empties. Quitting stops it.
#pragma once

#include <memory>
#include <vector>

#include "app/main_controller.h"

class Alerts;
class Player;
class QFSoundFile;
class QWidget;

class PlayerControl : public PlaybackControl {
public:
    using FileList = std::vector<std::shared_ptr<QFSoundFile>>;

    // Errors no caller can catch are shown through `alerts` over `window`.
    PlayerControl(Alerts* alerts, QWidget* window = nullptr);
    ~PlayerControl() override;

    bool isPlaying() const override;
    void stop() override;

    // The player over `files`, made when there is none; null for an empty list
    // or a player that could not be made.
    Player* ensurePlayer(const FileList& files, float varispeed, bool autoPlayNext,
                         bool blipAtEnd);
    Player* player() const { return player_.get(); }
    // The new input list; an empty one releases the player.
    void setInputFiles(const FileList& files);
    void setWindow(QWidget* window) { window_ = window; }

private:
    Alerts* alerts_;
    QWidget* window_;
    std::unique_ptr<Player> player_;
};
