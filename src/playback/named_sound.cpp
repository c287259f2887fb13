#include "playback/named_sound.h"

#include "conversion/qf_sound_file.h"
#include "foundation/errors.h"
#include "platform/resource_dir.h"
#include "playback/au_player.h"

NamedSoundPlayer::NamedSoundPlayer(std::function<std::unique_ptr<AudioOutput>()> makeOutput)
    : makeOutput_(std::move(makeOutput)) {}

NamedSoundPlayer::~NamedSoundPlayer() = default;

std::string NamedSoundPlayer::PathForSound(const std::string& name) {
    return platform::ResourcePath("sounds/" + name + ".aiff");
}

bool NamedSoundPlayer::Play(const std::string& name) {
    try {
        auto entry = QFSoundFile::soundFileWithPath(PathForSound(name));
        if (!entry || !entry->isPlayable()) return false;
        short error = 0;
        SoundFilePtr file = entry->createSoundFile(&error);
        if (!file) return false;
        if (!player_)
            player_ = std::make_unique<AUPlayer>(
                nullptr, nullptr, makeOutput_ ? makeOutput_() : MakeAudioOutput("sound"));
        player_->SetSoundFile(file.release());
        player_->SetVarispeed(1.0f);
        player_->Play(0, entry->numFrames());
        return true;
    } catch (const error_code_exception&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool NamedSoundPlayer::IsPlaying() const { return player_ && player_->IsPlaying(); }
