// The object behind one entry of the input list: a sound file, a folder, or a
// group of mono files heard as one sound. It detects the entry's type and group,
// reads the properties once through a format object, keeps them with their
// display texts, and makes fresh format objects for the converter and the player.
//
// An object is set up on the add-files thread and read afterwards by the main
// thread. infoAvailable() publishes the properties: a reader that sees true also
// sees every property written before it was set. Nothing here throws.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/xwqf.h"
#include "platform/property_list.h"
#include "soundfile/core_audio_types.h"
#include "soundfile/markers.h"
#include "soundfile/sound_file.h"

class QFSoundFile {
public:
    // The descriptor of a file that no reader takes for sound.
    static constexpr char kNotRecognizedText[] = "not recognized as a sound file";

    // An entry with no path and nothing read (for the archive and the interface).
    QFSoundFile();
    // Sets the entry up for `path` (setupWithPath).
    explicit QFSoundFile(const std::string& path);
    ~QFSoundFile();
    QFSoundFile(const QFSoundFile&) = delete;
    QFSoundFile& operator=(const QFSoundFile&) = delete;

    static std::shared_ptr<QFSoundFile> soundFileWithPath(const std::string& path);
    static std::shared_ptr<QFSoundFile> soundFileWithFSRef(const FSRef& ref);
    // A new entry set up again from the same path.
    std::shared_ptr<QFSoundFile> copy() const;

    // Detects the type and group of `path` and, for a file detected without
    // failure, reads its properties (getInfo). A file that detection refuses
    // gets the reason as its descriptor: the catalogue's text of why it cannot
    // be read (or of the refusal, for a problem of the file), else
    // kNotRecognizedText. A path that does not exist or cannot be examined
    // leaves an entry with the path and nothing else.
    void setupWithPath(const std::string& path);
    // Reads the properties through a new format object, opened and closed again;
    // a failure clears the format object, makes the entry unplayable and shows
    // the reason in descriptor().
    void getInfo();
    // A new format object bound to the path or to the group's members, with the
    // detected channel configuration, not yet opened. Null with *error 0 for a
    // folder or a type without a format class; null with the code when making or
    // binding it fails.
    SoundFilePtr createSoundFile(short* error) const;
    // The format object of the last successful reading (closed), or null.
    CSoundFile* soundFile() const { return soundFile_.get(); }

    bool infoAvailable() const { return infoAvailable_.load(std::memory_order_acquire); }
    void setInfoAvailable(bool available) {
        infoAvailable_.store(available, std::memory_order_release);
    }

    // The format object's base name, else the path's last component.
    std::string name() const;
    // The length of name() in UTF-16 units (where the interface puts the caret).
    size_t insertionPos() const;
    // "HH:MM:SS.mmm" of a frame count at the sample rate; zero time when the rate
    // is not a positive number or the time cannot be shown.
    std::string timeFormat(uint32_t frames) const;
    // descriptor() becomes the object's description, or empty without one.
    void infoStringForSoundFile(CSoundFile* file);
    // A diagnostic text of the entry.
    std::string description() const;

    // Forwarded to the held format object; empty or false without one.
    bool isSplit() const;
    std::vector<QFRegionPtr> regions() const;
    std::vector<QFMarkerPtr> markers() const;
    std::vector<QFLoopPtr> loops() const;
    // Left untouched without a format object.
    void getAudioStreamBasicDescription(AudioStreamBasicDescription* description) const;
    // The format object's information dictionary, asked once and kept.
    const plist::Value& extraInfo() const;

    // File-system properties of the path, read once on first use and kept;
    // 0 or empty when the path cannot be examined. The creation date is the
    // birth time where the file system keeps one, else the modification time.
    std::time_t creationDate() const;
    std::time_t modificationDate() const;
    std::string owner() const;
    std::string group() const;

    // Display texts.
    std::string displaySampleRate() const;
    const std::string& displayChannels() const { return channelDescription_; }
    std::string displaySize() const;
    std::string displayWordSize() const;
    std::string displayBitRate() const;
    std::string displayBits() const;
    std::string displayRegions() const;
    std::string displayMarkers() const;
    std::string displayLoops() const;
    std::string displayHFSType() const;
    std::string displayHFSCreator() const;
    // Local time as "%Y-%m-%d %H:%M:%S"; empty when the date is unknown.
    std::string displayCreationDate() const;
    std::string displayModificationDate() const;
    // "rwxr-x--- (750)": the three permission triplets and the low nine bits in octal.
    std::string displayPermissions() const;

    // Plain accessors.
    const std::string& path() const { return path_; }
    void setPath(const std::string& path) { path_ = path; }
    const std::string& info() const { return info_; }
    void setInfo(const std::string& info) { info_ = info; }
    uint64_t size() const { return size_; }
    void setSize(uint64_t size) { size_ = size; }
    // Opaque: the interface keeps the key of the entry's icon here.
    const std::string& icon() const { return icon_; }
    void setIcon(const std::string& icon) { icon_ = icon; }
    const std::string& descriptor() const { return descriptor_; }
    void setDescriptor(const std::string& descriptor) { descriptor_ = descriptor; }
    int32_t deepCount() const { return deepCount_; }
    void setDeepCount(int32_t count) { deepCount_ = count; }
    bool isDirectory() const { return isDirectory_; }
    void setIsDirectory(bool directory) { isDirectory_ = directory; }
    bool isPlayable() const { return isPlayable_; }
    void setIsPlayable(bool playable) { isPlayable_ = playable; }
    OSType hfsFileType() const { return hfsFileType_; }
    void setHfsFileType(OSType type) { hfsFileType_ = type; }
    OSType hfsCreator() const { return hfsCreator_; }
    void setHfsCreator(OSType creator) { hfsCreator_ = creator; }
    int16_t numChannels() const { return numChannels_; }
    void setNumChannels(int16_t channels) { numChannels_ = channels; }
    int32_t numRegions() const { return numRegions_; }
    void setNumRegions(int32_t regions) { numRegions_ = regions; }
    int16_t numBits() const { return numBits_; }
    void setNumBits(int16_t bits) { numBits_ = bits; }
    double sampleRate() const { return sampleRate_; }
    void setSampleRate(double rate) { sampleRate_ = rate; }
    uint32_t numFrames() const { return numFrames_; }
    void setNumFrames(uint32_t frames) { numFrames_ = frames; }
    uint16_t bitRate() const { return bitRate_; }
    void setBitRate(uint16_t rate) { bitRate_ = rate; }
    const std::string& channelDescription() const { return channelDescription_; }
    void setChannelDescription(const std::string& text) { channelDescription_ = text; }
    const std::string& surroundSetName() const { return surroundSetName_; }
    void setSurroundSetName(const std::string& name) { surroundSetName_ = name; }
    const std::string& tempFilePath() const { return tempFilePath_; }
    void setTempFilePath(const std::string& path) { tempFilePath_ = path; }
    const std::string& timestamps() const { return timestamps_; }
    void setTimestamps(const std::string& text) { timestamps_ = text; }
    float varispeed() const { return varispeed_; }
    void setVarispeed(float varispeed) { varispeed_ = varispeed; }
    const plist::Dictionary& specifics() const { return specifics_; }
    void setSpecifics(const plist::Dictionary& specifics) { specifics_ = specifics; }
    // Empty for folders.
    std::string lengthStr() const;
    void setLengthStr(const std::string& text) { lengthStr_ = text; }

    OSType hfsRealType() const { return hfsRealType_; }
    const std::vector<std::string>& surround_set() const { return surroundSet_; }
    bool playsUsingQT() const { return playsUsingQT_; }
    bool useBitRate() const { return useBitRate_; }
    bool hasVideoTrack() const { return hasVideoTrack_; }
    bool needsDecodingOnOpen() const { return needsDecodingOnOpen_; }
    bool needsEncodingOnClose() const { return needsEncodingOnClose_; }
    CSoundFile::ChannelConfiguration channelConfiguration() const { return channelConfiguration_; }

    // The class-wide order of the list: the key ("filename", "playable", "size",
    // "fileType", "sampleRate", "channels", "bits", "length", "regions",
    // "timestamps"; any other key orders nothing) and the direction. At first
    // "filename", ascending.
    static void setSortKey(const std::string& key);
    static std::string sortKey();
    static void setAscendingSort(bool ascending);
    static bool ascendingSort();
    // -1, 0 or 1: this entry before, beside or after `other` in that order.
    int compare(const QFSoundFile& other) const;

    // The archived form, and an entry made from it (no setup runs; a missing or
    // mistyped key leaves its property at the empty value).
    plist::Dictionary archive() const;
    static std::shared_ptr<QFSoundFile> unarchive(const plist::Dictionary& archive);

private:
    struct FileAttributes {
        bool valid = false;
        OSType finderType = 0;
        std::time_t created = 0;
        std::time_t modified = 0;
        std::string owner;
        std::string group;
        uint32_t mode = 0;
    };
    // Ends the held format object without keeping anything it would write.
    struct HeldFileDisposer {
        void operator()(CSoundFile* f) const {
            if (f) f->Dispose(0);
        }
    };
    using HeldSoundFile = std::unique_ptr<CSoundFile, HeldFileDisposer>;

    void ReadProperties(CSoundFile& file);
    void ReadingFailed(int code);
    const FileAttributes& attributes() const;
    void ReadAttributes() const;
    int16_t shownWordSize() const;

    HeldSoundFile soundFile_;
    std::string path_;
    std::string info_;
    uint64_t size_ = 0;
    std::string icon_;
    std::string descriptor_;
    std::string lengthStr_;
    std::string timestamps_;
    int32_t deepCount_ = 0;
    bool isDirectory_ = false;
    bool isPlayable_ = false;
    OSType hfsFileType_ = 0;
    OSType hfsCreator_ = 0;
    OSType hfsRealType_ = 0;
    int16_t numChannels_ = 0;
    int32_t numRegions_ = 0;
    int32_t numMarkers_ = 0;
    int32_t numLoops_ = 0;
    int16_t numBits_ = 0;
    double sampleRate_ = 0;
    uint32_t numFrames_ = 0;
    uint16_t bitRate_ = 0;
    std::string tempFilePath_;
    float varispeed_ = 0;
    bool needsDecodingOnOpen_ = false;
    bool needsEncodingOnClose_ = false;
    plist::Dictionary specifics_;
    bool useBitRate_ = false;
    bool isCBR_ = true;
    std::string channelDescription_;
    std::vector<std::string> surroundSet_;
    std::string surroundSetName_;
    int16_t dataType_ = 0;
    bool playsUsingQT_ = false;
    bool hasVideoTrack_ = false;
    CSoundFile::ChannelConfiguration channelConfiguration_ = CSoundFile::kNotSet;

    mutable std::once_flag attributesOnce_;
    mutable FileAttributes attributes_;
    mutable std::once_flag extraInfoOnce_;
    mutable plist::Value extraInfo_;

    std::atomic<bool> infoAvailable_{false};
};
