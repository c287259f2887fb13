#include "playback/player.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "conversion/error_messages.h"
#include "conversion/qf_sound_file.h"
#include "foundation/dir_walker.h"
#include "foundation/errors.h"
#include "platform/named_exception.h"
#include "platform/resource_dir.h"
#include "platform/user_defaults.h"
#include "playback/au_player.h"

const char* const XWPlayerStartNotification = "Player File Start Notification";
const char* const XWPlayerPauseNotification = "Player File Pause Notification";
const char* const XWPlayerStopNotification = "Player File Stop Notification";
const char* const AUPlayerStopNotification = "AUPlayer Stop";

namespace {

// Play tokens are unique in the process, so that a Player never takes another
// Player's report for its own.
std::atomic<uint64_t> gNextPlayToken{1};

}  // namespace

void AUPlayerMessage(const char* name, uint64_t token) {
    platform::NotificationCenter::Default().Post(name, nullptr,
                                                 plist::Value(static_cast<long long>(token)));
}

std::shared_ptr<QFSoundFile> Player::BlipFile() {
    static std::once_flag once;
    static std::shared_ptr<QFSoundFile> blip;
    std::call_once(once, [] {
        blip = QFSoundFile::soundFileWithPath(platform::ResourcePath("sounds/Bliep.aiff"));
    });
    return blip;
}

Player::Player(FileList inputFiles, float varispeed, bool autoPlayNext, bool blipAtEnd,
               PlayerHooks hooks)
    : varispeed_(varispeed),
      autoPlayNext_(autoPlayNext),
      blipAtEnd_(blipAtEnd),
      hooks_(std::move(hooks)),
      alive_(std::make_shared<bool>(true)) {
    raise_if_false(!inputFiles.empty());
    for (const auto& entry : inputFiles) raise_if_null(entry.get());
    raise_if_false(static_cast<bool>(hooks_.runOnMainThread));
    BlipFile();
    volume_ = static_cast<float>(platform::UserDefaults::Standard().GetReal("Playback Volume", 0));
    // Observing first: a folder entry starts playing inside setInputFiles.
    observer_ = platform::NotificationCenter::Default().AddObserver(
        AUPlayerStopNotification, nullptr,
        [this](const platform::Notification& note) { processStopped(note); });
    try {
        // The first entry becomes current as the user's choice would: a folder starts.
        inputFiles_ = std::move(inputFiles);
        setFileFromList(inputFiles_.front());
    } catch (...) {
        platform::NotificationCenter::Default().RemoveObserver(observer_);
        throw;
    }
}

Player::~Player() {
    *alive_ = false;
    // No report reaches processStopped once this returns.
    platform::NotificationCenter::Default().RemoveObserver(observer_);
    aup_.reset();
}

void Player::post(const char* name) { platform::NotificationCenter::Default().Post(name, this); }

// ---------------------------------------------------------------------------
// Start, pause, stop

void Player::startPlaying() {
    auto makeFile = [this]() -> CSoundFile* {
        short error = 0;
        SoundFilePtr file = playingFile_->createSoundFile(&error);
        if (!file) throw error_code_exception(error ? int(error) : int(kCannotMakeFormatObjectErr),
                                              "no sound file for %s", playingFile_->path().c_str());
        return file.release();
    };
    if (!aup_) {
        aupPath_.clear();
        aup_ = std::make_unique<AUPlayer>(nullptr, &AUPlayerMessage,
                                          hooks_.makeOutput ? hooks_.makeOutput() : nullptr);
    }
    if (!aup_->HasSoundFile() || aupPath_ != playingFile_->path()) {
        aupPath_.clear();
        aup_->SetSoundFile(makeFile());
        aupPath_ = playingFile_->path();
    }
    aup_->SetVolume(volume_);
    aup_->SetVarispeed(playingBlip_ ? 1.0f : varispeed_);
    playToken_ = gNextPlayToken.fetch_add(1);
    aup_->Play(selBeg_, selEnd_, playToken_);
}

void Player::start() {
    stoppedByUser_ = false;
    if (!playingFile_) return;
    lastStartError_ = 0;
    try {
        startPlaying();
    } catch (const error_code_exception& e) {
        lastStartError_ = e.error_code() ? e.error_code() : kParamErr;
    } catch (const std::bad_alloc&) {
        lastStartError_ = -108;
    }
    raise_if_err(lastStartError_);
    post(XWPlayerStartNotification);
}

void Player::pause() {
    stoppedByUser_ = true;
    if (aup_) aup_->Pause();
    if (playingBlip_) returnFromBlip();
    post(XWPlayerPauseNotification);
}

void Player::stop() {
    stoppedByUser_ = true;
    if (aup_) aup_->Stop(false);
    if (playingBlip_) returnFromBlip();
    post(XWPlayerStopNotification);
}

void Player::returnFromBlip() {
    playingBlip_ = false;
    std::shared_ptr<QFSoundFile> file = std::move(fileBeforeBlip_);
    fileBeforeBlip_.reset();
    if (!file || playingFile_ != BlipFile()) return;
    playingFile_ = std::move(file);
    selBeg_ = 0;
    selEnd_ = playingFile_->numFrames();
}

bool Player::isPlaying() const { return aup_ && aup_->IsPlaying(); }

bool Player::isPlayingFolder() const { return fileFromList_ && fileFromList_->isDirectory(); }

void Player::setVarispeed(float rate) {
    varispeed_ = rate;
    if (aup_ && !playingBlip_) aup_->SetVarispeed(rate);
}

// ---------------------------------------------------------------------------
// The playing file, the current entry and the list

void Player::setPlayingFile(std::shared_ptr<QFSoundFile> file) {
    if (playingFile_ && aup_ && (!file || file->path() != playingFile_->path())) {
        aup_->Stop(false);
        post(XWPlayerStopNotification);
    }
    if (file == playingFile_) return;
    playingFile_ = std::move(file);
    // The blip mark stands for "the blip is the playing file"; whatever replaces
    // it (the user's choice during the blip among them) clears it.
    if (playingFile_ != BlipFile()) {
        playingBlip_ = false;
        fileBeforeBlip_.reset();
    }
    if (!playingFile_) {
        if (aup_) aup_->SetSoundFile(nullptr);
        aupPath_.clear();
    } else {
        selBeg_ = 0;
        selEnd_ = playingFile_->numFrames();
    }
}

void Player::setFileFromList(std::shared_ptr<QFSoundFile> entry) {
    if (entry == fileFromList_) return;
    fileFromList_ = std::move(entry);
    if (fileFromList_ && fileFromList_->isDirectory()) {
        dirWalker_ = std::make_unique<DirWalker>(fileFromList_->path());
        doNextFromFolder();
    } else if (fileFromList_ && fileFromList_->isPlayable()) {
        setPlayingFile(fileFromList_);
    } else {
        setPlayingFile(nullptr);
    }
}

void Player::setInputFiles(FileList files) {
    inputFiles_ = std::move(files);
    // Wherever the edit moved it, the current entry stays current: what plays
    // goes on and the marker follows it.
    if (fileFromList_ &&
        std::find(inputFiles_.begin(), inputFiles_.end(), fileFromList_) != inputFiles_.end())
        return;
    // The current entry has left the list: its play ends, and the first entry
    // becomes current without playing.
    if (isPlaying()) stop();
    makeCurrentWithoutPlaying(inputFiles_.empty() ? nullptr : inputFiles_.front());
}

void Player::makeCurrentWithoutPlaying(std::shared_ptr<QFSoundFile> entry) {
    fileFromList_ = std::move(entry);
    dirWalker_.reset();
    if (fileFromList_ && fileFromList_->isDirectory()) {
        // A later start plays the folder's first playable file.
        dirWalker_ = std::make_unique<DirWalker>(fileFromList_->path());
        setPlayingFile(nextFromFolder());
    } else if (fileFromList_ && fileFromList_->isPlayable()) {
        setPlayingFile(fileFromList_);
    } else {
        setPlayingFile(nullptr);
    }
}

// ---------------------------------------------------------------------------
// Navigation

std::shared_ptr<QFSoundFile> Player::nextFromFolder() {
    if (!dirWalker_) return nullptr;
    while (std::optional<std::string> path = dirWalker_->next()) {
        auto file = QFSoundFile::soundFileWithPath(*path);
        if (file && file->isPlayable()) return file;
    }
    return nullptr;
}

std::shared_ptr<QFSoundFile> Player::previousFromFolder() {
    if (!dirWalker_) return nullptr;
    while (std::optional<std::string> path = dirWalker_->prev()) {
        auto file = QFSoundFile::soundFileWithPath(*path);
        if (file && file->isPlayable()) return file;
    }
    return nullptr;
}

std::optional<size_t> Player::curFileIndex() const {
    for (size_t i = 0; i < inputFiles_.size(); ++i)
        if (fileFromList_ && inputFiles_[i] == fileFromList_) return i;
    return std::nullopt;
}

std::shared_ptr<QFSoundFile> Player::nextFromInputList() const {
    if (!fileFromList_) return inputFiles_.empty() ? nullptr : inputFiles_.front();
    const std::optional<size_t> index = curFileIndex();
    if (!index) return inputFiles_.empty() ? nullptr : inputFiles_.front();
    return *index + 1 < inputFiles_.size() ? inputFiles_[*index + 1] : nullptr;
}

std::shared_ptr<QFSoundFile> Player::previousFromInputList() const {
    const std::optional<size_t> index = curFileIndex();
    if (!index || *index == 0) return nullptr;
    return inputFiles_[*index - 1];
}

// Stops a playing file to go on with another; not a stop of the user's.
void Player::stopToSwitch() {
    if (!isPlaying()) return;
    stop();
    stoppedByUser_ = false;
}

void Player::doNextFromFolder() {
    auto file = nextFromFolder();
    if (!file) {
        doNextFromInputList();
        return;
    }
    stopToSwitch();
    setPlayingFile(std::move(file));
    start();
}

void Player::doPreviousFromFolder() {
    auto file = previousFromFolder();
    if (!file) {
        doPreviousFromInputList();
        return;
    }
    stopToSwitch();
    setPlayingFile(std::move(file));
    start();
}

void Player::doNextFromInputList() {
    auto entry = nextFromInputList();
    if (!entry) {
        post(XWPlayerStopNotification);
        return;
    }
    stopToSwitch();
    setFileFromList(std::move(entry));
    start();
}

void Player::doPreviousFromInputList() {
    auto entry = previousFromInputList();
    if (!entry) {
        post(XWPlayerStopNotification);
        return;
    }
    stopToSwitch();
    setFileFromList(std::move(entry));
    start();
}

// ---------------------------------------------------------------------------
// The end of a file

void Player::processStopped(const platform::Notification& note) {
    const uint64_t token = static_cast<uint64_t>(note.object.asInteger(0));
    std::shared_ptr<bool> alive = alive_;
    hooks_.runOnMainThread([this, alive, token] {
        if (*alive) handleFileStopped(token);
    });
}

void Player::handleFileStopped(uint64_t token) {
    if (token != playToken_) return;
    try {
        if (!stoppedByUser_) {
            const bool blipEnded = playingBlip_;
            if (blipAtEnd_ && !playingBlip_) {
                auto blip = BlipFile();
                if (blip && blip->isPlayable()) {
                    std::shared_ptr<QFSoundFile> ended = playingFile_;
                    setPlayingFile(blip);
                    playingBlip_ = true;
                    fileBeforeBlip_ = std::move(ended);
                    start();
                    return;
                }
            }
            if (autoPlayNext_) {
                if (isPlayingFolder())
                    doNextFromFolder();
                else
                    doNextFromInputList();
                // Nothing followed: the blip gives its place back.
                if (blipEnded && playingBlip_) returnFromBlip();
                return;
            }
            if (blipEnded) returnFromBlip();
        }
        post(XWPlayerStopNotification);
    } catch (const platform::NamedException&) {
        // Nobody up the stack can catch this one: the play ends and the user is told.
        if (playingBlip_) returnFromBlip();
        post(XWPlayerStopNotification);
        if (hooks_.reportError) {
            std::string text;
            MakeErrorMessage(lastStartError_, text);
            if (text.empty()) text = "Error " + std::to_string(lastStartError_);
            hooks_.reportError(text);
        }
    }
}
