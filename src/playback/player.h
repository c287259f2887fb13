// The player of the input list: plays single files and the playable files of
// folder entries one after another, decides what follows when a file ends (the
// blip, the next file of the folder, the next list entry, or nothing), and tells
// the rest of the program through notifications. Everything runs on the main
// thread except processStopped, which only hands the end of a file over to the
// injected "run on main thread" function.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/notification_center.h"
#include "playback/audio_output.h"

class AUPlayer;
class DirWalker;
class QFSoundFile;

// Notification names. The first three are posted by the Player (sender: the
// Player); "AUPlayer Stop" by AUPlayerMessage on the output thread (no sender,
// the play's token as its object).
extern const char* const XWPlayerStartNotification;
extern const char* const XWPlayerPauseNotification;
extern const char* const XWPlayerStopNotification;
extern const char* const AUPlayerStopNotification;

// The message callback handed to every AUPlayer of a Player: posts `name` on
// the default center with no sender and the token as its object.
void AUPlayerMessage(const char* name, uint64_t token);

// What the Player needs from its surroundings.
struct PlayerHooks {
    // Queues a function for the main thread and returns at once. Required.
    std::function<void(std::function<void()>)> runOnMainThread;
    // Shows a failure that no caller can catch (a start inside auto-play).
    std::function<void(const std::string& message)> reportError;
    // Makes the audio output of the first play; MakeAudioOutput when empty.
    std::function<std::unique_ptr<AudioOutput>()> makeOutput;
};

class Player {
public:
    using FileList = std::vector<std::shared_ptr<QFSoundFile>>;

    // Raises "BOOL Exception" for an empty list or a missing runOnMainThread and
    // "Null Pointer Exception" for a null entry. Reads "Playback Volume" (dB)
    // from the user defaults once. A folder as the first entry starts playing.
    Player(FileList inputFiles, float varispeed, bool autoPlayNext, bool blipAtEnd,
           PlayerHooks hooks);
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // Plays the playing file from the selection's start to its end; raises
    // "OSErr Exception" when the file cannot be played (nothing is then posted).
    void start();
    // Both end a blip for good: the file it followed becomes the playing file again.
    void pause();
    void stop();

    void setPlayingFile(std::shared_ptr<QFSoundFile> file);
    const std::shared_ptr<QFSoundFile>& playingFile() const { return playingFile_; }
    void setFileFromList(std::shared_ptr<QFSoundFile> entry);
    const std::shared_ptr<QFSoundFile>& fileFromList() const { return fileFromList_; }
    // The list after an edit (entries added, removed or reordered). The current
    // entry stays current, and what plays goes on; when it has left the list,
    // its play stops and the first entry becomes current without playing.
    void setInputFiles(FileList files);
    const FileList& inputFiles() const { return inputFiles_; }

    void doNextFromFolder();
    void doPreviousFromFolder();
    void doNextFromInputList();
    void doPreviousFromInputList();
    std::shared_ptr<QFSoundFile> nextFromFolder();
    std::shared_ptr<QFSoundFile> previousFromFolder();
    std::shared_ptr<QFSoundFile> nextFromInputList() const;
    std::shared_ptr<QFSoundFile> previousFromInputList() const;
    // The index of the current entry in the list; nothing when it is not there.
    std::optional<size_t> curFileIndex() const;

    bool isPlaying() const;
    bool isPlayingFolder() const;
    void setVarispeed(float rate);
    float varispeed() const { return varispeed_; }
    void setBlipAtEnd(bool on) { blipAtEnd_ = on; }
    bool blipAtEnd() const { return blipAtEnd_; }
    void setAutoPlayNext(bool on) { autoPlayNext_ = on; }
    bool autoPlayNext() const { return autoPlayNext_; }
    float volume() const { return volume_; }
    void setVolume(float decibels) { volume_ = decibels; }
    uint32_t selectionStart() const { return selBeg_; }
    uint32_t selectionEnd() const { return selEnd_; }

    // Observer of "AUPlayer Stop" (any sender; output thread): queues
    // handleFileStopped with the report's token and returns.
    void processStopped(const platform::Notification& note);
    // On the main thread: what follows the end of a file. A report of an older
    // play than the last one started is dropped. The blip only marks an end:
    // when it has ended and nothing follows, the file it followed is the
    // playing file again, so that a start plays that file.
    void handleFileStopped(uint64_t token);

    // The audio player, once the first start made it (tests look through it).
    AUPlayer* auPlayer() const { return aup_.get(); }
    // The blip's list object ("Bliep" among the sounds), made once; may be unplayable.
    static std::shared_ptr<QFSoundFile> BlipFile();

private:
    void post(const char* name);
    // `entry` becomes current and its file (a folder's first playable file) the
    // playing file; nothing starts.
    void makeCurrentWithoutPlaying(std::shared_ptr<QFSoundFile> entry);
    void stopToSwitch();
    // Ends the blip: the file it followed is the playing file again (no stop is
    // posted; the audio player has already stopped or been told to).
    void returnFromBlip();
    // start, with the failure thrown as error_code_exception.
    void startPlaying();

    FileList inputFiles_;
    std::shared_ptr<QFSoundFile> playingFile_;
    std::shared_ptr<QFSoundFile> fileFromList_;
    std::unique_ptr<AUPlayer> aup_;
    std::string aupPath_;  // the path of the file the audio player holds
    float varispeed_ = 1;
    std::unique_ptr<DirWalker> dirWalker_;
    bool autoPlayNext_ = false;
    bool blipAtEnd_ = false;
    uint32_t selBeg_ = 0;
    uint32_t selEnd_ = 0;
    bool stoppedByUser_ = false;
    float volume_ = 0;
    bool playingBlip_ = false;
    std::shared_ptr<QFSoundFile> fileBeforeBlip_;  // the file the blip follows
    uint64_t playToken_ = 0;
    int lastStartError_ = 0;

    PlayerHooks hooks_;
    // Shared with the queued reports: false once the Player is gone.
    std::shared_ptr<bool> alive_;
    platform::NotificationCenter::Token observer_ = 0;
};
