// The main window's player behind the shell's playback seam: the Player is made
// on the first play with the input list and the window's settings, follows the
// list, and is released when the list empties. Quitting stops it.
#pragma once

#include <memory>
#include <optional>
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
    // The input list after an edit or a sort; an empty one releases the player.
    // The player's current entry stays current wherever it moved.
    void setInputFiles(const FileList& files);
    // The row of the player's current entry in `shown`; none without a player
    // or when the entry is not there.
    std::optional<size_t> currentRow(const FileList& shown) const;
    void setWindow(QWidget* window) { window_ = window; }

private:
    Alerts* alerts_;
    QWidget* window_;
    std::unique_ptr<Player> player_;
};
