// The abstract sound file: binding, the base Create and Dispose, the sample
// buffers, names, channels and the small accessors. The sample traffic lives in
// sample_conversion.cpp, the marker, loop and region lists in markers.cpp, the
// type table in type_table.cpp.
#include "soundfile/sound_file.h"

#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>

#include "foundation/log.h"
#include "foundation/memory.h"
#include "foundation/string_utils.h"
#include "platform/audio_file_services.h"
#include "platform/thread_context.h"
#include "soundfile/progress.h"
#include "soundfile/type_codes.h"

const char* const kFinalOutputNameKey = "XWFinalOutputName";

namespace {

// Process-wide region settings, written at start-up and read by worker threads.
std::atomic<bool> sProcessFileIfNoRegions{true};
std::atomic<bool> sSkipBadRegion{false};
std::atomic<bool> sIgnoreRegionsContainingWholeFile{true};
std::atomic<bool> sRecognizeNumberedFilesAsSplitMultichannel{false};

// The largest sample buffer made; a description asking for more is refused.
constexpr uint64_t kMaxBufferBytes = 256u * 1024u * 1024u;
// The longest path a file reference is turned into, in bytes.
constexpr size_t kMaxPathBytes = 1024;
// The most channels a channel layout is made for (its tag holds the count in 16 bits).
constexpr uint32_t kMaxLayoutChannels = 0xFFFF;

const char* const kChannelConfigurationWords[] = {
    "mono", "stereo", "lcr", "quad", "lcrs", "5.0", "5.1", "6.0", "6.1", "7.1", "10.2", "multichannel",
};
// The channels of each configuration above; 0 for multichannel, which takes
// three or more.
constexpr int kChannelConfigurationChannels[] = {1, 2, 3, 4, 4, 5, 6, 6, 7, 8, 16, 0};
constexpr int kFewestMultichannel = 3;

// Whether a configuration can describe a file of `channels` channels (a file
// typed by something other than its layout is multichannel by default, mono
// or not).
bool ConfigurationFits(int configuration, int channels) {
    const int wanted = kChannelConfigurationChannels[configuration];
    return wanted ? channels == wanted : channels >= kFewestMultichannel;
}

const char* YesNo(bool b) { return b ? "yes" : "no"; }

// The folder holding `path`, for binding to a file that does not exist yet.
std::string ParentFolder(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

const char* ChannelConfigurationWord(int configuration) {
    if (configuration < 0 || configuration > 11) return "";
    return kChannelConfigurationWords[configuration];
}

OSErr CheckOpenedInput(const CSoundFile& file) {
    const double rate = file.GetSampleRate();
    // NaN fails both comparisons.
    if (!(rate >= kLowestInputSampleRate && rate <= kHighestInputSampleRate))
        return kIncompatibleSampleRateErr;
    // No channels, or a count that reads as negative in 16 bits.
    if (file.GetNumChannels() < 1) return kIncompatibleChannelsErr;
    return 0;
}

CSoundFile::CSoundFile() = default;

CSoundFile::~CSoundFile() {
    if (inputBuffer_ != outputBuffer_) dealloc(inputBuffer_);
    dealloc(outputBuffer_);
    inputBuffer_ = nullptr;
    outputBuffer_ = nullptr;
    if (stream_) std::fclose(stream_);
    stream_ = nullptr;
}

// ---------------------------------------------------------------------------
// Binding

OSErr CSoundFile::ISoundFile(const std::string& path) {
    try {
        fileType_ = GetFileType();
        path_ = path;
        fileRefValid_ = XWQF::MakeRef(path, &fileRef_) == 0;
        if (!fileRefValid_) {
            // A writer binds to a name that does not exist yet: hold its folder.
            fileRef_ = FSRef();
            return XWQF::MakeRef(ParentFolder(path), &fileRef_);
        }
        struct stat st;
        if (::stat(path.c_str(), &st) != 0) return XWQF::ErrnoToStatus(errno);
        if (S_ISDIR(st.st_mode)) return kNotASoundFileErr;
        return 0;
    } catch (const error_code_exception& e) {
        return static_cast<OSErr>(e.error_code());
    }
}

OSErr CSoundFile::ISoundFile(const FSRef* ref) {
    try {
        fileType_ = GetFileType();
        if (!ref) return kParamErr;
        fileRef_ = *ref;
        if (ref->path.size() >= kMaxPathBytes) return kBadNameErr;
        FSRef probe;
        if (OSErr e = XWQF::MakeRef(ref->path, &probe)) return e;
        path_ = ref->path;
        fileRefValid_ = true;
        return 0;
    } catch (const error_code_exception& e) {
        return static_cast<OSErr>(e.error_code());
    }
}

OSErr CSoundFile::ISoundFile(const std::vector<std::string>& paths) {
    if (paths.empty()) return kParamErr;
    return ISoundFile(paths.front());
}

// ---------------------------------------------------------------------------
// Create, name extension and Dispose

OSErr CSoundFile::Create(short, short, float, void*, const unsigned char* extension) {
    try {
        Str255 ext = {0};
        if (extension) pstrcpy(extension, ext);
        explicitExtension_ = ext[0] != 0;
        if (!explicitExtension_) {
            // The type's own extension, when the type table knows one.
            if (const plist::Value* props = GetPropertyList()) {
                if (const plist::Value* e = props->find("extension"); e && e->isString())
                    pascalStringFromString(e->asString(), ext);
            }
        }
        extendResult_ = ExtendFileName(ext);
        CorvaOutFile::AddFile(GetPath());
        return 0;
    } catch (const error_code_exception& e) {
        return static_cast<OSErr>(e.error_code());
    }
}

OSErr CSoundFile::CreateDataFork(short channels, short wordSize, double sampleRate) {
    FSRef ref;
    if (OSErr err = XWQF::CreateFile(path_, &ref)) return err;
    fileRef_ = ref;
    fileRefValid_ = true;
    if (OSErr err = XWQF::OpenFork(&fileRef_, XWQF::kPermWidest, &forkRef_)) {
        // The file was made here and holds nothing: it goes again.
        forkRef_ = XWQF::kNoFork;
        fileRefValid_ = false;
        XWQF::DeleteFile(path_);
        return err;
    }
    open_ = true;
    headerDirty_ = 1;
    sampleRate_ = sampleRate;
    channels_ = static_cast<uint32_t>(channels);
    wordSize_ = wordSize;
    numFrames_ = 0;
    return 0;
}

OSErr CSoundFile::ExtendFileName(const unsigned char* extension) {
    if (!extension) return 0;
    std::string text = stringFromPascalString(extension);
    if (!text.empty() && text.front() == '.') text.erase(0, 1);
    if (!text.empty()) path_ += "." + text;
    return 0;
}

OSErr CSoundFile::Dispose(unsigned char keep) {
    discardOnClose_ = !keep;
    OSErr result = extendResult_;
    if (IsOpen()) {
        OSErr closeResult;
        try {
            closeResult = Close();
        } catch (const error_code_exception& e) {
            closeResult = static_cast<OSErr>(e.error_code());
            if (closeResult == 0) closeResult = kParamErr;
        } catch (...) {
            closeResult = kParamErr;
        }
        if (closeResult) result = closeResult;
    }
    delete this;
    return result;
}

// ---------------------------------------------------------------------------
// Buffers

uint32_t CSoundFile::GetRealBufferSize() const {
    uint64_t bytes = wordSize_ >= 8 ? static_cast<uint64_t>(wordSize_ / 8) : 0;
    bytes *= channels_;
    bytes *= bufferFrames_;
    return bytes > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(bytes);
}

namespace {

// A zero-filled block of `bytes`; a refused or failed allocation throws.
unsigned char* NewBuffer(uint64_t bytes) {
    if (bytes > kMaxBufferBytes)
        throw error_code_exception(kMemFullErr, "sample buffer of %llu bytes refused",
                                   static_cast<unsigned long long>(bytes));
    void* block = alloc_clear(static_cast<size_t>(bytes));
    if (!block)
        throw error_code_exception(kMemFullErr, "no memory for a sample buffer of %llu bytes",
                                   static_cast<unsigned long long>(bytes));
    return static_cast<unsigned char*>(block);
}

}  // namespace

OSErr CSoundFile::InitInputBuffer() {
    try {
        const uint64_t needed = GetRealBufferSize();
        if (inputBuffer_) {
            // A block made here for a smaller description is made again.
            if (bufferBytes_ == 0 || bufferBytes_ >= needed) return 0;
            ++bufferEpoch_;
            unsigned char* block = NewBuffer(needed);
            dealloc(inputBuffer_);
            inputBuffer_ = block;
            bufferBytes_ = static_cast<size_t>(needed);
            return 0;
        }
        ++bufferEpoch_;
        if (outputBuffer_ && (bufferBytes_ == 0 || bufferBytes_ >= needed)) {
            inputBuffer_ = outputBuffer_;
            outputBuffer_ = nullptr;
            return 0;
        }
        unsigned char* block = NewBuffer(needed);
        if (outputBuffer_) {
            dealloc(outputBuffer_);
            outputBuffer_ = nullptr;
        }
        inputBuffer_ = block;
        bufferBytes_ = static_cast<size_t>(needed);
        return 0;
    } catch (const error_code_exception& e) {
        return static_cast<OSErr>(e.error_code());
    }
}

OSErr CSoundFile::InitInputBuffer(const std::string& temporaryPath) {
    // Only formats that decode on open take a temporary file; they override this.
    return static_cast<OSErr>(
        error_code_exception(kParamErr,
                             "InitInputBuffer: %s cannot read through the temporary file %s",
                             GetDescription().c_str(), temporaryPath.c_str())
            .error_code());
}

OSErr CSoundFile::InitOutputBuffer() {
    try {
        // What the block held as input is about to be overwritten.
        ++bufferEpoch_;
        const uint64_t needed = GetRealBufferSize();
        if (outputBuffer_) {
            if (bufferBytes_ == 0 || bufferBytes_ >= needed) return 0;
            unsigned char* block = NewBuffer(needed);
            dealloc(outputBuffer_);
            outputBuffer_ = block;
            bufferBytes_ = static_cast<size_t>(needed);
            return 0;
        }
        if (inputBuffer_ && (bufferBytes_ == 0 || bufferBytes_ >= needed)) {
            outputBuffer_ = inputBuffer_;
            inputBuffer_ = nullptr;
            std::memset(outputBuffer_, 0, bufferBytes_ ? bufferBytes_ : static_cast<size_t>(needed));
            return 0;
        }
        unsigned char* block = NewBuffer(needed);
        if (inputBuffer_) {
            dealloc(inputBuffer_);
            inputBuffer_ = nullptr;
        }
        outputBuffer_ = block;
        bufferBytes_ = static_cast<size_t>(needed);
        return 0;
    } catch (const error_code_exception& e) {
        return static_cast<OSErr>(e.error_code());
    }
}

OSErr CSoundFile::FlushOutputBuffer(uint32_t, uint32_t) { return 0; }

bool CSoundFile::OutputBufferHolds(uint32_t frames) const {
    if (!outputBuffer_ || frames > bufferFrames_) return false;
    const uint64_t frameBytes =
        static_cast<uint64_t>(wordSize_ >= 8 ? wordSize_ / 8 : 0) * channels_;
    return bufferBytes_ == 0 || frames * frameBytes <= bufferBytes_;
}

void CSoundFile::DisposeBuffer() {
    ++bufferEpoch_;
    if (inputBuffer_ != outputBuffer_) dealloc(inputBuffer_);
    dealloc(outputBuffer_);
    inputBuffer_ = nullptr;
    outputBuffer_ = nullptr;
    bufferBytes_ = 0;
}

void CSoundFile::SetSFTBufferSize(uint32_t frames) {
    // A buffer of no frames would stall every block loop: keep the current size.
    if (frames == 0 || frames == bufferFrames_) return;
    DisposeBuffer();
    bufferFrames_ = frames;
}

bool CSoundFile::SampleInBuffer(uint32_t frame) {
    return inputBuffer_ && firstBufferedFrame_ <= frame &&
           static_cast<uint64_t>(frame) <
               static_cast<uint64_t>(firstBufferedFrame_) + bufferFrames_;
}

OSErr CSoundFile::UpdateSize() { return 0; }

void CSoundFile::SetDither(unsigned char flag) { dither_ = flag != 0; }

// ---------------------------------------------------------------------------
// Description

bool CSoundFile::UseBitRate() { return false; }

uint32_t CSoundFile::GetNumSFrames() { return numFrames_; }

uint32_t CSoundFile::GetDeclaredSFrames() {
    const uint32_t frames = GetNumSFrames();
    return declaredFrames_ > frames ? declaredFrames_ : frames;
}

bool CSoundFile::DataEndsEarly(uint32_t* held, uint32_t* declared) {
    *held = GetNumSFrames();
    *declared = GetDeclaredSFrames();
    return *declared > *held;
}

OSErr CSoundFile::SetSampleRate(double rate) {
    sampleRate_ = rate;
    headerDirty_ = 1;
    return 0;
}

bool CSoundFile::IsOneChannelDone() {
    _log("SndFile", "IsOneChannelDone %s", YesNo(oneChannelDone_));
    return oneChannelDone_;
}

void CSoundFile::SetOneChannelDone(bool done) {
    _log("SndFile", "SetOneChannelDone %s", YesNo(done));
    oneChannelDone_ = done;
}

OSErr CSoundFile::GetSamplerInfo(SFTSamplerInfo* info) {
    if (!info) return kParamErr;
    *info = samplerInfo_;
    return samplerInfo_.valid ? 0 : kNoSamplerInfoErr;
}

OSErr CSoundFile::SetSamplerInfo(const SFTSamplerInfo* info) {
    if (!info) return kParamErr;
    samplerInfo_ = *info;
    return 0;
}

void CSoundFile::InitSamplerInfo() { samplerInfo_ = SFTSamplerInfo{60, 0, 0, 127, 0, 127, 0, 0}; }

uint16_t CSoundFile::GetBitRate() {
    if (cachedBitRate_) return cachedBitRate_;
    const double bytesPerSample = (dataType_ == kDataTypeMuLaw || dataType_ == kDataTypeALaw)
                                      ? 1.0
                                      : static_cast<double>(wordSize_ >= 8 ? wordSize_ / 8 : 0);
    const double frames = numFrames_;
    const double rate = sampleRate_;
    // An empty file or one without a rate has no bit rate.
    if (frames <= 0 || !(rate > 0) || !std::isfinite(rate)) return 0;
    const double seconds = frames / rate;
    const double kbits = std::floor(bytesPerSample * frames * channels_ / seconds * 0.008 + 0.5);
    if (!(kbits > 0)) return 0;
    cachedBitRate_ = kbits >= 65535.0 ? 65535 : static_cast<uint16_t>(kbits);
    return cachedBitRate_;
}

void CSoundFile::SetSonicAIFFExtras(unsigned char*, unsigned char*, short) {}

void MakeSonicLinkRecords(const std::string& setName, unsigned char (&first)[16],
                          unsigned char (&second)[16]) {
    Str255 name = {0};
    pascalStringFromString(setName, name);
    unsigned int now = 0;
    XWQF::GetDateTime(&now);
    unsigned char* records[2] = {first, second};
    for (unsigned int k = 0; k < 2; ++k) {
        std::memset(records[k], 0, 16);
        std::memcpy(records[k], name, 12);
        const uint32_t t = now + k;
        records[k][12] = static_cast<unsigned char>(t >> 24);
        records[k][13] = static_cast<unsigned char>(t >> 16);
        records[k][14] = static_cast<unsigned char>(t >> 8);
        records[k][15] = static_cast<unsigned char>(t);
    }
}

uint32_t CSoundFile::GetTimeStamp() { return timeStamp_; }

void CSoundFile::SetTimeStamp(uint32_t stamp) {
    timeStamp_ = stamp;
    timeStampValid_ = true;
}

bool CSoundFile::IsTimeStampValid() { return timeStampValid_; }

bool CSoundFile::NeedsCodingOnClose() { return false; }
bool CSoundFile::NeedsDecodingOnOpen() { return false; }
bool CSoundFile::CanBeSplit() { return false; }
std::string CSoundFile::SplitExtension() { return std::string(); }
plist::Dictionary& CSoundFile::GetAttributes() { return attributes_; }
bool CSoundFile::IsSplit() { return false; }
bool CSoundFile::PlaysUsingQT() { return false; }
bool CSoundFile::HasVideoTrack() { return false; }
bool CSoundFile::IsOpen() { return open_; }
CSurroundFile* CSoundFile::GetSurroundSet() { return nullptr; }

// ---------------------------------------------------------------------------
// The type's property list

const plist::Value* CSoundFile::GetPropertyList() {
    try {
        plist::Dictionary& table = GetFileTypeInfo();
        auto it = table.find(HFSTypeString(GetFType()));
        return it == table.end() ? nullptr : &it->second;
    } catch (const std::exception&) {
        // No type table: no properties.
        return nullptr;
    }
}

namespace {
OSType PropertyCode(const plist::Value* props, const char* key) {
    if (!props) return 0;
    const plist::Value* v = props->find(key);
    return v && v->isString() ? HFSTypeCode(v->asString()) : 0;
}
}  // namespace

OSType CSoundFile::GetFileType() { return PropertyCode(GetPropertyList(), "fileType"); }

OSType CSoundFile::GetCreator() { return PropertyCode(GetPropertyList(), "creator"); }

// ---------------------------------------------------------------------------
// Names and paths

void CSoundFile::GetFSRef(FSRef* ref) {
    if (ref) *ref = fileRef_;
}

std::string CSoundFile::GetName() { return filename(path_); }

std::string CSoundFile::EmbeddedName() {
    std::string name = GetName();
    const platform::ThreadContext& context = platform::CurrentThreadContext();
    const auto found = context.values.find(kFinalOutputNameKey);
    if (found == context.values.end() || !found->second.isString()) return name;
    const std::string finalName = found->second.asString();
    size_t at = 0, length = 0;
    if (finalName.empty() || !CorvaOutFile::FindPlaceholder(name, &at, &length)) return name;
    return name.replace(at, length, finalName);
}

std::string CSoundFile::base_name() {
    std::string name = GetName();
    size_t dot = name.rfind('.');
    if (dot == std::string::npos) return name;
    try {
        if (KnownNameExtensions().count(name.substr(dot + 1))) return name.substr(0, dot);
    } catch (const std::exception&) {
        // Without the type table no extension is known.
    }
    return name;
}

std::string CSoundFile::GetPath() { return path_; }

FILE* CSoundFile::GetFile() { return stream_; }

// ---------------------------------------------------------------------------
// Channels

void CSoundFile::GetAudioStreamBasicDescription(AudioStreamBasicDescription* asbd) {
    if (!asbd) return;
    const uint32_t bytes =
        static_cast<uint32_t>(static_cast<int64_t>(channels_) * wordSize_ / 8);
    asbd->mSampleRate = sampleRate_;
    asbd->mFormatID = kAudioFormatLinearPCM;
    asbd->mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
    asbd->mBytesPerPacket = bytes;
    asbd->mFramesPerPacket = 1;
    asbd->mBytesPerFrame = bytes;
    asbd->mChannelsPerFrame = channels_;
    asbd->mBitsPerChannel = static_cast<uint32_t>(wordSize_);
}

int CSoundFile::GetChannelConfig() {
    if (channels_ <= 1) return 1;
    return channels_ == 2 ? 2 : 3;
}

std::string CSoundFile::GetChannelDescription() {
    std::string text = std::to_string(channels_);
    const int configuration = GetChannelConfiguration();
    if (configuration >= 0 && configuration <= 11 && ConfigurationFits(configuration, channels_))
        text += std::string(" (") + ChannelConfigurationWord(configuration) + ")";
    return text;
}

std::string CSoundFile::GetChannelName(short channel) {
    if (channels_ < 2) return std::string();
    if (channels_ == 2) return channel == 0 ? "Left" : "Right";
    return std::to_string(channel + 1);
}

AudioChannelLayout* CSoundFile::CreateChannelLayout(uint32_t* size) {
    if (size) *size = 0;
    if (channels_ > kMaxLayoutChannels) return nullptr;
    const uint32_t bytes = 12 + 20 * channels_;
    // At least the whole record, so that its fields can be read safely.
    auto* layout = static_cast<AudioChannelLayout*>(
        alloc_clear(bytes < sizeof(AudioChannelLayout) ? sizeof(AudioChannelLayout) : bytes));
    if (!layout) return nullptr;
    uint32_t tag = kAudioChannelLayoutTag_UseChannelDescriptions;
    switch (GetChannelConfiguration()) {
        case kMono: tag = kAudioChannelLayoutTag_Mono; break;
        case kStereo: tag = kAudioChannelLayoutTag_Stereo; break;
        case kLCR: tag = kAudioChannelLayoutTag_AC3_3_0; break;
        case kQuad: tag = kAudioChannelLayoutTag_Quadraphonic; break;
        case kLCRS: tag = kAudioChannelLayoutTag_MPEG_4_0_B; break;
        case k50: tag = kAudioChannelLayoutTag_MPEG_5_0_B; break;
        case k51: tag = kAudioChannelLayoutTag_MPEG_5_1_A; break;
        case k60: tag = kAudioChannelLayoutTag_AudioUnit_6_0; break;
        case k61: tag = kAudioChannelLayoutTag_MPEG_6_1_A; break;
        case k71: tag = kAudioChannelLayoutTag_MPEG_7_1_B; break;
        case k102: tag = kAudioChannelLayoutTag_TMH_10_2_std; break;
        case kMultichannel: tag = kAudioChannelLayoutTag_DiscreteInOrder + channels_; break;
        default: break;
    }
    layout->mChannelLayoutTag = tag;
    if (size) *size = bytes;
    return layout;
}

CSoundFile::ChannelConfiguration CSoundFile::GetChannelConfiguration() {
    return channelConfiguration_;
}

void CSoundFile::SetChannelConfiguration(ChannelConfiguration configuration) {
    channelConfiguration_ = configuration;
}

// ---------------------------------------------------------------------------
// The file's information dictionary

plist::Value CSoundFile::GetExtraInfo() {
    if (!fileRefValid_) {
        CORVANE_DLOG("want to read meta data, but there's no valid FSRef for " << GetName());
        return plist::Value();
    }
    plist::Value info = platform::AudioFileInfoDictionary(path_);
    if (info.isNull()) {
        CORVANE_DLOG("AudioToolbox could not read info dictionary from " << GetName());
    }
    return info;
}

// ---------------------------------------------------------------------------
// Process-wide region settings

void CSoundFile::SetProcessFileIfNoRegions(bool on) { sProcessFileIfNoRegions = on; }
void CSoundFile::SetSkipBadRegion(bool on) { sSkipBadRegion = on; }
void CSoundFile::SetIgnoreRegionsContainingWholeFile(bool on) {
    sIgnoreRegionsContainingWholeFile = on;
}
void CSoundFile::SetRecognizeNumberedFilesAsSplitMultichannel(bool on) {
    sRecognizeNumberedFilesAsSplitMultichannel = on;
}
bool CSoundFile::GetProcessFileIfNoRegions() { return sProcessFileIfNoRegions; }
bool CSoundFile::GetSkipBadRegion() { return sSkipBadRegion; }
bool CSoundFile::GetIgnoreRegionsContainingWholeFile() {
    return sIgnoreRegionsContainingWholeFile;
}
bool CSoundFile::GetRecognizeNumberedFilesAsSplitMultichannel() {
    return sRecognizeNumberedFilesAsSplitMultichannel;
}
