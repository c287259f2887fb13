// The abstract sound file: the description of one sound, its binding to a file,
// the two sample buffers all reading and writing passes through, and the marker,
// loop, region and gap lists. Every format derives from CSoundFile and supplies
// Open, Close, RefreshInputBuffer, RefreshOutputBuffer, SetFilePos,
// GetOfflineInfo, GetFType and GetDescription.
//
// Objects are made with new (by the factory), handed around as plain pointers
// and ended with Dispose, which destroys the object; SoundFilePtr holds one and
// calls Dispose(true) when it lets go.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "foundation/errors.h"
#include "foundation/pstring.h"
#include "foundation/xwqf.h"
#include "platform/property_list.h"
#include "soundfile/core_audio_types.h"
#include "soundfile/markers.h"

// Status codes of the sound-file base.
enum : int {
    kNoSuchMarkerErr = -22000,
    kNoSuchLoopErr = -22001,
    kNoSuchRegionErr = -22002,
    kFileNotOpenBaseErr = -22005,
    kNoCAFChannelLayoutErr = -22006,
    kNoSamplerInfoErr = -22007,
    kNotASoundFileErr = -22008,
    kNoSuchGapErr = -22015,
    kCannotMakeFormatObjectErr = -22017,
    kIncompatibleSampleRateErr = -22019,
    kIncompatibleChannelsErr = -22020,
    kNameNotExtendedErr = -22021,  // a name could not take its extension; the file stays as named
    kNoMoreRegionsErr = -20002,
    kIllegalWordSizeErr = -50,
};

// Data-type codes of the stored samples.
enum : short {
    kDataTypePCM = 0,
    kDataTypeLittleEndianPCM = 1,
    kDataTypeOffsetBinary8 = 2,
    kDataTypeUnsigned8 = 3,
    kDataTypeMuLaw = 4,
    kDataTypeALaw = 32,
    kDataTypeSonic24 = 64,
    kDataTypeFloatBigEndian = 128,
    kDataTypeFloatLittleEndian = 129,
    kDataType24In32 = 146,
};

struct SFTSamplerInfo {
    int8_t baseNote;
    int8_t detune;
    int8_t lowNote;
    int8_t highNote;
    int8_t lowVelocity;
    int8_t highVelocity;
    int16_t gain;
    uint8_t valid;
};

// The key of the conversion context's values under which the engine puts the
// name that will replace the output's placeholder name; a format that writes
// its own name into the file takes the final name from it.
extern const char* const kFinalOutputNameKey;  // "XWFinalOutputName"

class CSurroundFile;
class RawSettings;
struct SoundFileListIndex;

class CSoundFile {
public:
    enum ChannelConfiguration : int32_t {
        kMono = 0,
        kStereo = 1,
        kLCR = 2,
        kQuad = 3,
        kLCRS = 4,
        k50 = 5,
        k51 = 6,
        k60 = 7,
        k61 = 8,
        k71 = 9,
        k102 = 10,
        kMultichannel = 11,
        kNotSet = -1,
    };

    CSoundFile();
    virtual ~CSoundFile();
    CSoundFile(const CSoundFile&) = delete;
    CSoundFile& operator=(const CSoundFile&) = delete;

    // Binding (called once, before Open or Create).
    virtual OSErr ISoundFile(const FSRef* ref);
    virtual OSErr ISoundFile(const std::string& path);
    virtual OSErr ISoundFile(const std::vector<std::string>& paths);

    virtual OSErr Open() = 0;
    virtual OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                         const unsigned char* extension);
    virtual OSErr Close() = 0;

    // Sample traffic (sample_conversion.cpp).
    virtual OSErr Write(uint32_t start, uint32_t* count, double* interleaved);
    virtual OSErr Write(uint32_t start, uint32_t* count, double** channels);
    virtual OSErr Read(uint32_t start, uint32_t* count, float* left, float* right);
    virtual OSErr Read(uint32_t start, uint32_t* count, float* interleaved);
    virtual OSErr Read(short channel, uint32_t start, uint32_t* count, float* samples);
    virtual OSErr Read(uint32_t start, uint32_t* count, float** channels);
    virtual OSErr Read(uint32_t start, uint32_t* count, double* left, double* right);
    virtual OSErr Read(uint32_t start, uint32_t* count, double* interleaved);
    virtual OSErr Read(short channel, uint32_t start, uint32_t* count, double* samples);
    virtual OSErr Add(short channel, uint32_t start, uint32_t* count, double* samples);

    virtual bool UseBitRate();
    virtual uint32_t GetNumSFrames();
    // The frame count the file's header states: more than GetNumSFrames when
    // the data ends before the header says (only those frames are read), else
    // GetNumSFrames.
    uint32_t GetDeclaredSFrames();
    // True when the data ends before the header says: *held frames are there
    // of the *declared ones the header states. A pair or set of files answers
    // for its first member, in channel order, whose data ends early.
    virtual bool DataEndsEarly(uint32_t* held, uint32_t* declared);

    // Markers, loops and regions (markers.cpp).
    virtual uint16_t GetNumMarkers();
    virtual OSErr GetIndMarker(uint16_t index, SFTMarker* marker);
    virtual QFMarkerPtr GetIndMarker(uint32_t index);
    virtual OSErr GetMarkerByID(long id, SFTMarker* marker);
    virtual OSErr AddMarker(const SFTMarker* marker);
    virtual OSErr RemoveMarker(const SFTMarker* marker);
    virtual uint16_t GetNumLoops();
    virtual OSErr GetIndLoop(uint16_t index, SFTLoop* loop);
    virtual QFLoopPtr GetIndLoop(uint32_t index);
    virtual OSErr AddLoop(const SFTLoop* loop);
    virtual OSErr RemoveLoop(const SFTLoop* loop);
    virtual OSErr RemoveDuplicates();
    virtual uint16_t GetNumRegions();
    virtual OSErr GetIndRegion(uint16_t index, SFTRegion* region);
    virtual QFRegionPtr GetIndRegion(uint32_t index);
    virtual OSErr AddRegion(const SFTRegion* region);
    virtual OSErr RemoveRegion(const SFTRegion* region);
    virtual bool IsRegion(uint32_t start, uint32_t end, QFRegionPtr* region);
    virtual std::vector<QFRegionPtr>& GetRegionList();
    virtual std::vector<QFMarkerPtr>& GetMarkerList();
    virtual std::vector<QFLoopPtr>& GetLoopList();

    virtual void GetFSRef(FSRef* ref);
    virtual std::string GetName();
    virtual std::string base_name();
    virtual std::string GetPath();
    virtual FILE* GetFile();
    virtual OSErr GetNextBlock(uint32_t from, uint32_t* start, uint32_t* end);

    virtual OSErr InitInputBuffer();
    virtual OSErr InitInputBuffer(const std::string& temporaryPath);
    virtual OSErr RefreshInputBuffer(uint32_t frame) = 0;
    virtual OSErr InitOutputBuffer();
    virtual OSErr RefreshOutputBuffer(uint32_t frame) = 0;
    virtual OSErr FlushOutputBuffer(uint32_t frames, uint32_t position);
    virtual void DisposeBuffer();
    virtual OSErr SetFilePos(uint32_t frame) = 0;
    virtual OSErr UpdateSize();
    virtual OSErr GetOfflineInfo(OSErr* status) = 0;
    virtual void SetDither(unsigned char flag);
    virtual OSErr KillDuplicateRegionNames();
    virtual OSErr KillBadRegionNames();
    virtual OSErr ExtendFileName(const unsigned char* extension);
    // Closes when open and destroys the object; returns the close status, else
    // the status of extending the name in Create. The object is gone afterwards.
    virtual OSErr Dispose(unsigned char keep);
    virtual void SetSonicAIFFExtras(unsigned char* first, unsigned char* second, short value);
    virtual const plist::Value* GetPropertyList();
    virtual uint32_t GetTimeStamp();
    virtual void SetTimeStamp(uint32_t stamp);
    virtual bool IsTimeStampValid();
    virtual void SetSFTBufferSize(uint32_t frames);
    virtual bool NeedsCodingOnClose();
    virtual bool NeedsDecodingOnOpen();

    // Extremes scans (sample_conversion.cpp): one minimum and maximum per channel.
    virtual uint32_t GetExtremes8(const void* buffer, uint32_t frames, int32_t* minima,
                                  int32_t* maxima);
    virtual uint32_t GetExtremes16(const void* buffer, uint32_t frames, int32_t* minima,
                                   int32_t* maxima);
    virtual uint32_t GetExtremes24L(const void* buffer, uint32_t frames, int32_t* minima,
                                    int32_t* maxima);
    virtual uint32_t GetExtremes24R(const void* buffer, uint32_t frames, int32_t* minima,
                                    int32_t* maxima);
    virtual uint32_t GetExtremes32(const void* buffer, uint32_t frames, int32_t* minima,
                                   int32_t* maxima);

    virtual OSType GetFType() = 0;
    virtual OSType GetFileType();
    virtual OSType GetCreator();
    virtual bool CanBeSplit();
    virtual std::string SplitExtension();
    virtual std::string GetDescription() = 0;
    virtual OSErr AddWholeFileRegion();
    virtual plist::Dictionary& GetAttributes();
    virtual bool SampleInBuffer(uint32_t frame);
    virtual bool IsSplit();
    virtual bool PlaysUsingQT();
    virtual bool HasVideoTrack();
    virtual bool IsOpen();
    virtual void GetAudioStreamBasicDescription(AudioStreamBasicDescription* asbd);
    virtual int GetChannelConfig();
    // The channel count, then the configuration's word in parentheses when the
    // configuration describes that many channels ("2 (stereo)", "1").
    virtual std::string GetChannelDescription();
    virtual std::string GetChannelName(short channel);
    // A zero-filled layout block from alloc_clear, freed by the caller with dealloc.
    virtual AudioChannelLayout* CreateChannelLayout(uint32_t* size);
    virtual ChannelConfiguration GetChannelConfiguration();
    virtual void SetChannelConfiguration(ChannelConfiguration configuration);
    // The file's information dictionary, or a null value.
    virtual plist::Value GetExtraInfo();
    virtual CSurroundFile* GetSurroundSet();

    // Non-virtual members.
    double GetSampleRate() const { return sampleRate_; }
    OSErr SetSampleRate(double rate);
    short GetNumChannels() const { return static_cast<short>(channels_); }
    short GetWordSize() const { return wordSize_; }
    short GetDataType() const { return dataType_; }
    void SetDataType(short type) { dataType_ = type; }
    unsigned char* GetInputBuffer() const { return inputBuffer_; }
    unsigned char* GetOutputBuffer() const { return outputBuffer_; }
    int GetFileRefNum() const { return forkRef_; }
    bool IsOneChannelDone();
    void SetOneChannelDone(bool done);
    OSErr SetDC(double dc) {
        dcOffset_ = dc;
        return 0;
    }
    double GetDC() const { return dcOffset_; }
    OSErr GetSamplerInfo(SFTSamplerInfo* info);
    OSErr SetSamplerInfo(const SFTSamplerInfo* info);
    void InitSamplerInfo();
    uint32_t GetRealBufferSize() const;
    uint16_t GetBitRate();
    // Whether the stream has a constant bit rate (true unless a format says otherwise).
    bool IsConstantBitRate() const { return constantBitRate_; }
    std::string DefaultExtension() { return std::string(); }
    uint32_t GetBufferFrames() const { return bufferFrames_; }
    bool IsDiscardOnClose() const { return discardOnClose_; }
    bool GetDither() const { return dither_; }
    uint32_t GetFirstBufferedFrame() const { return firstBufferedFrame_; }
    bool IsFileRefValid() const { return fileRefValid_; }
    // True when `frames` frames of the present description fit in the output
    // block: a block this object made is held to its real size (the description
    // may have grown since), a borrowed one to the buffer frames.
    bool OutputBufferHolds(uint32_t frames) const;
    // The frames of the output block that the next RefreshOutputBuffer must
    // supply (read from the file, or cleared where the file holds none); the
    // rest of the block may keep what it held. The Write and Add family name
    // the frames they fill and go back to 0 after the refresh; 0 means the
    // whole block, as every other caller expects it.
    void SetOutputFramesInUse(uint32_t frames) { outputFramesInUse_ = frames; }
    uint32_t OutputFramesInUse() const {
        return outputFramesInUse_ && outputFramesInUse_ < bufferFrames_ ? outputFramesInUse_
                                                                          : bufferFrames_;
    }
    // Changes whenever the buffer block is made, remade, handed between input and
    // output or freed, and when a caller writes into the input buffer itself
    // (ForgetBufferedInput): a reader that keeps what its input buffer holds from
    // one refresh to the next trusts it only while this stays the same.
    uint32_t GetBufferEpoch() const { return bufferEpoch_; }
    void ForgetBufferedInput() { ++bufferEpoch_; }

    // Gaps: a flat list of start, end, start, end, ...
    OSErr AddGap(int32_t start, int32_t end);
    OSErr GetGap(uint32_t index, int32_t* start, int32_t* end);
    const std::set<std::string>& GetRegionNames() const { return allRegionNames_; }
    bool HasDuplicateRegionNames() const { return !duplicateRegionNames_.empty(); }

    // The type table (type_table.cpp): quoted type code ("'AIFF'") -> the type's
    // property dictionary, loaded once from the resource folder "SoundFileProperties".
    static plist::Dictionary& GetFileTypeInfo();
    // Full path of a file or folder among the application's resources; throws -43.
    static std::string GetPathForSoundFileResource(const std::string& name);
    // Readable name extensions (no dot), built once.
    static const std::set<std::string>& SupportedNameExtensions();
    // The same members, used to strip extensions from names.
    static const std::set<std::string>& KnownNameExtensions();
    // Quoted type codes that detection tries for an extension; null when none.
    static const std::vector<std::string>* GetTypesForExtension(const std::string& extension);
    // The file name of a path without a known extension.
    static std::string GetName(const std::string& path);
    // Forgets the type table and the extension tables (termination, tests).
    static void ReleaseTypeTables();

    // The factory (registry.cpp): a new, unbound object for a type code, owned by
    // the caller, or null when the type is unknown. 'Splt' and 'Srnd' make a split
    // pair and a surround set; the two-argument form names their members' type.
    static CSoundFile* CreateSoundFile(OSType type);
    static CSoundFile* CreateSoundFile(OSType type, OSType subtype);
    // Whether objects of a type encode on close or decode on open.
    static bool NeedsEncodingOnClose(OSType type);
    static bool NeedsDecodingOnOpen(OSType type);
    // Releases the registry, the type tables and the raw settings at termination.
    static void Cleanup();
    // The settings for headerless input (raw_settings.cpp): a whole copy, and
    // its replacement as one step.
    static RawSettings GetRawSettings();
    static void SetRawSettings(const RawSettings& settings);

    // Process-wide region settings.
    static void SetProcessFileIfNoRegions(bool on);
    static void SetSkipBadRegion(bool on);
    static void SetIgnoreRegionsContainingWholeFile(bool on);
    static void SetRecognizeNumberedFilesAsSplitMultichannel(bool on);
    static bool GetProcessFileIfNoRegions();
    static bool GetSkipBadRegion();
    static bool GetIgnoreRegionsContainingWholeFile();
    static bool GetRecognizeNumberedFilesAsSplitMultichannel();

protected:
    // What a format's Create does after CSoundFile::Create: makes the file at the
    // bound path (never one that exists), opens it for writing and takes the new
    // description with no frames; the header is then to be finished. On failure
    // no fork is left open.
    OSErr CreateDataFork(short channels, short wordSize, double sampleRate);

    // The name a format writes into the file: GetName() with its placeholder
    // replaced by the final name the conversion context holds, suffixes and
    // extension kept; GetName() itself without such a name or placeholder.
    std::string EmbeddedName();

    // Fields, in the order of the record they describe.
    short dataType_ = 0;
    unsigned char* inputBuffer_ = nullptr;
    unsigned char* outputBuffer_ = nullptr;
    bool discardOnClose_ = false;
    bool oneChannelDone_ = false;
    uint32_t numFrames_ = 0;
    // Entries added out of order may wait at the end of the marker and region lists
    // until an accessor (GetIndMarker, GetMarkerList, GetIndRegion, ...) puts them in
    // place: the count is always right, the order only through the accessors.
    std::vector<QFMarkerPtr> markers_;
    std::vector<QFLoopPtr> loops_;
    std::vector<QFRegionPtr> regions_;
    uint8_t headerDirty_ = 0;
    uint32_t firstBufferedFrame_ = 0;
    bool dither_ = true;
    int forkRef_ = XWQF::kNoFork;
    bool open_ = false;
    double sampleRate_ = 0;
    uint32_t channels_ = 0;
    short wordSize_ = 16;
    uint16_t cachedBitRate_ = 0;
    bool constantBitRate_ = true;
    SFTSamplerInfo samplerInfo_{60, 0, 0, 127, 0, 127, 0, 0};
    FSRef fileRef_;
    bool fileRefValid_ = false;
    std::string path_;
    FILE* stream_ = nullptr;
    OSType fileType_ = 0;
    std::vector<int32_t> gaps_;
    OSErr extendResult_ = 0;
    // Set by a reader whose header promised more frames than the data holds.
    uint32_t declaredFrames_ = 0;
    double dcOffset_ = 0;
    uint32_t timeStamp_ = 0;
    bool timeStampValid_ = false;
    uint32_t bufferFrames_ = 12288;
    bool explicitExtension_ = false;
    std::set<std::string> allRegionNames_;
    std::set<std::string> duplicateRegionNames_;
    plist::Dictionary attributes_;
    ChannelConfiguration channelConfiguration_ = kNotSet;
    // Size in bytes of the block this class allocated for the buffer fields (0: none).
    size_t bufferBytes_ = 0;
    uint32_t bufferEpoch_ = 0;
    uint32_t outputFramesInUse_ = 0;

private:
    // What markers.cpp keeps beside the marker and region lists so that adding to
    // them stays cheap; made on first use and owned by this object alone.
    std::shared_ptr<SoundFileListIndex> listIndex_;
};

// Owns a sound-file object and ends it with Dispose(true).
struct SoundFileDisposer {
    void operator()(CSoundFile* f) const {
        if (f) f->Dispose(1);
    }
};
using SoundFilePtr = std::unique_ptr<CSoundFile, SoundFileDisposer>;

// The identification records a split pair or surround set hands to its two
// Sonic members before creating them: the set's name (the first 12 bytes of it
// as a Pascal string) and the present time, plus 1 in the second record, big-endian.
void MakeSonicLinkRecords(const std::string& setName, unsigned char (&first)[16],
                          unsigned char (&second)[16]);

// The sample rates an opened input may have, in hertz.
inline constexpr double kLowestInputSampleRate = 1.0;
inline constexpr double kHighestInputSampleRate = 1.0e7;

// 0 when an opened input describes a sound that can be converted or played: a
// finite rate from 1 Hz to 10 MHz and at least one channel. Otherwise -22019
// for the rate or -22020 for the channels. Whoever opens an input calls it
// right after Open and treats a refusal like a failed Open.
OSErr CheckOpenedInput(const CSoundFile& file);

// The words of the channel configurations 0..11 ("mono" ... "multichannel"); empty otherwise.
const char* ChannelConfigurationWord(int configuration);
