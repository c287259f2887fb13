// Plays one of the program's short sounds ("Bliep", "Toeter", "Pieieng") on an
// output of its own. Its ends are reported to nobody: the "AUPlayer Stop" that
// the Player follows never comes from here.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "playback/audio_output.h"

class AUPlayer;

class NamedSoundPlayer {
public:
    // `makeOutput` makes the output at the first play (MakeAudioOutput("sound")
    // when empty).
    explicit NamedSoundPlayer(std::function<std::unique_ptr<AudioOutput>()> makeOutput = {});
    ~NamedSoundPlayer();
    NamedSoundPlayer(const NamedSoundPlayer&) = delete;
    NamedSoundPlayer& operator=(const NamedSoundPlayer&) = delete;

    // Starts the sound `name` from the resource folder's "sounds" (an AIFF file),
    // replacing one that still plays; false when it cannot be played.
    bool Play(const std::string& name);
    bool IsPlaying() const;
    AUPlayer* auPlayer() const { return player_.get(); }

    // The path of the sound `name` among the resources.
    static std::string PathForSound(const std::string& name);

private:
    std::function<std::unique_ptr<AudioOutput>()> makeOutput_;
    std::unique_ptr<AUPlayer> player_;
};
