// The input list's entry: setup and detection, the reading of the properties,
// the format objects made for the converter and the player, display texts,
// ordering and the archived form.
#include "conversion/qf_sound_file.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "conversion/error_messages.h"
#include "formats/detection.h"
#include "formats/media/av_media_file.h"
#include "foundation/formatters.h"
#include "foundation/pstring.h"
#include "foundation/resource_fork.h"
#include "foundation/string_utils.h"
#include "soundfile/split_file.h"
#include "soundfile/surround_file.h"
#include "soundfile/raw_settings.h"
#include "soundfile/type_codes.h"

namespace {

constexpr OSType kSplitType = FourCC("Splt");
constexpr OSType kSurroundType = FourCC("Srnd");
constexpr OSType kMuLawType = FourCC("ulaw");

// Opening codes shown with a text of their own rather than the catalogue's.
constexpr int kNoAudioTrackErr = -24202;
const char* const kNoAudioTrackText = "Movie without audio track";
const char* const kRightSideText = "Right side of a split stereo file";
const char* const kFolderText = "Folder";

// The reason shown for a file that is not examined or that detection refused:
// the catalogue's text of a problem of this one file (among them a file whose
// bytes cannot be had), else that it is no sound file.
std::string RefusalText(OSErr refusal) {
    std::string text;
    if (refusal != kNotASoundFileErr && MakeErrorMessage(refusal, text) == kErrorClassFile)
        return text;
    return QFSoundFile::kNotRecognizedText;
}

// Longer than any sound lasts (about 31 700 years): a time past it comes from a
// damaged rate and is shown as zero.
constexpr double kMaxShownMilliseconds = 1e15;

// Data types of 4-bit coded samples, shown as 4 bits.
constexpr short kDataType4BitA = 8;
constexpr short kDataType4BitB = 63;

template <class T>
int Order(const T& a, const T& b) {
    if (a < b) return -1;
    if (b < a) return 1;
    return 0;
}

// Byte-wise order with ASCII letters folded to lower case.
int CaseInsensitiveOrder(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return x < y ? -1 : 1;
    }
    return Order(a.size(), b.size());
}

enum class SortKey { kFilename, kPlayable, kSize, kFileType, kSampleRate, kChannels, kBits,
                     kLength, kRegions, kTimestamps, kNone };

SortKey ParseSortKey(const std::string& key) {
    static const struct {
        const char* text;
        SortKey key;
    } kKeys[] = {
        {"filename", SortKey::kFilename},     {"playable", SortKey::kPlayable},
        {"size", SortKey::kSize},             {"fileType", SortKey::kFileType},
        {"sampleRate", SortKey::kSampleRate}, {"channels", SortKey::kChannels},
        {"bits", SortKey::kBits},             {"length", SortKey::kLength},
        {"regions", SortKey::kRegions},       {"timestamps", SortKey::kTimestamps},
    };
    for (const auto& k : kKeys)
        if (key == k.text) return k.key;
    return SortKey::kNone;
}

// The class-wide order: set from the main thread, read while sorting.
struct SortSettings {
    std::mutex mutex;  // guards text
    std::string text = "filename";
    std::atomic<SortKey> key{SortKey::kFilename};
    std::atomic<bool> ascending{true};
};

SortSettings& Sorting() {
    static SortSettings settings;
    return settings;
}

// The platform's text of a type code ("'AIFF'"); empty for 0.
std::string TypeCodeText(OSType code) {
    return code ? MacRomanToUtf8(HFSTypeString(code)) : std::string();
}

std::string CountText(int32_t count) {
    return count == 0 ? std::string() : std::to_string(static_cast<uint32_t>(count));
}

std::string DateText(std::time_t date) {
    if (date == 0) return std::string();
    std::tm local{};
    if (!::localtime_r(&date, &local)) return std::string();
    char text[64];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(text, n);
}

std::string UserName(uid_t uid) {
    std::vector<char> buffer(16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return found->pw_name;
    return std::to_string(uid);
}

std::string GroupName(gid_t gid) {
    std::vector<char> buffer(16384);
    struct group entry;
    struct group* found = nullptr;
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return found->gr_name;
    return std::to_string(gid);
}

// The size of a file's resource fork (its sidecar's fork); 0 when it has none
// or the sidecar cannot be read.
uint64_t ResourceForkSize(const std::string& path) {
    std::vector<uint8_t> fork;
    return ReadForkBytes(path, true, &fork) == 0 ? fork.size() : 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Making and setting up

QFSoundFile::QFSoundFile() = default;

QFSoundFile::QFSoundFile(const std::string& path) { setupWithPath(path); }

QFSoundFile::~QFSoundFile() = default;

std::shared_ptr<QFSoundFile> QFSoundFile::soundFileWithPath(const std::string& path) {
    return std::make_shared<QFSoundFile>(path);
}

std::shared_ptr<QFSoundFile> QFSoundFile::soundFileWithFSRef(const FSRef& ref) {
    return soundFileWithPath(ref.path);
}

std::shared_ptr<QFSoundFile> QFSoundFile::copy() const { return soundFileWithPath(path_); }

void QFSoundFile::setupWithPath(const std::string& path) {
    surroundSet_.clear();
    specifics_.clear();
    path_ = path;
    descriptor_.clear();
    setInfoAvailable(false);
    try {
        // A path that is gone or cannot be examined leaves the entry as it is.
        struct stat st;
        if (path.empty() || ::stat(path.c_str(), &st) != 0) return;
        isDirectory_ = S_ISDIR(st.st_mode);
        if (isDirectory_) {
            descriptor_ = kFolderText;
            return;
        }

        OSType finderType = 0, creator = 0;
        if (GetFinderInfo(path, &finderType, &creator) == 0) hfsCreator_ = creator;
        // A file whose bytes cannot be had says so; detection would only guess.
        if (const OSErr unreadable = XWQF::CheckReadable(path)) {
            isPlayable_ = false;
            size_ = static_cast<uint64_t>(st.st_size);
            descriptor_ = RefusalText(unreadable);
            return;
        }

        unsigned int type = 0;
        bool recognized = false;
        std::vector<std::string> members;
        std::string setName;
        CSoundFile::ChannelConfiguration config = CSoundFile::kNotSet;
        OSErr status;
        try {
            status = ResolveFileType(path, type, recognized, members, setName, config, true);
        } catch (...) {
            status = kParamErr;
        }
        if (status == 0) {
            if (!setName.empty()) surroundSetName_ = setName;
            hfsRealType_ = type;
            hfsFileType_ = members.empty() ? type : members.size() == 2 ? kSplitType : kSurroundType;
            channelConfiguration_ = config;
            surroundSet_ = std::move(members);
        }
        // A file that detection could not settle has no type to be played as,
        // whatever the raw-file settings say.
        isPlayable_ = status == 0 &&
                      (recognized ||
                       CSoundFile::GetRawSettings().GetAction() == RawSettings::kRawReadAsRaw);
        if (status != 0) {
            size_ = static_cast<uint64_t>(st.st_size);
            descriptor_ = RefusalText(status);
            return;
        }
        size_ = static_cast<uint64_t>(st.st_size) + ResourceForkSize(path);
        getInfo();
    } catch (...) {
        // The setup ends quietly; the entry keeps what it has.
    }
}

// ---------------------------------------------------------------------------
// Reading the properties

void QFSoundFile::getInfo() {
    setInfoAvailable(false);
    soundFile_.reset();
    try {
        short error = 0;
        HeldSoundFile file(createSoundFile(&error).release());
        if (!file) {
            if (error) ReadingFailed(error);
            return;
        }
        needsDecodingOnOpen_ = file->NeedsDecodingOnOpen();
        needsEncodingOnClose_ = file->NeedsCodingOnClose();
        playsUsingQT_ = file->PlaysUsingQT();
        if (OSErr err = file->Open()) {
            file.reset();
            ReadingFailed(err);
            return;
        }
        if (OSErr err = CheckOpenedInput(*file)) {
            file->Close();
            file.reset();
            ReadingFailed(err);
            return;
        }
        ReadProperties(*file);
        file->Close();
        soundFile_ = std::move(file);
        // Last: a reader that sees the flag finds every property in place and the
        // format object no longer changing.
        setInfoAvailable(true);
    } catch (const error_code_exception& e) {
        ReadingFailed(NarrowStatus(e.error_code()));
    } catch (const std::bad_alloc&) {
        ReadingFailed(kMemFullErr);
    } catch (...) {
        ReadingFailed(0);
    }
}

void QFSoundFile::ReadProperties(CSoundFile& file) {
    numRegions_ = file.GetNumRegions();
    numMarkers_ = file.GetNumMarkers();
    numLoops_ = file.GetNumLoops();
    sampleRate_ = file.GetSampleRate();
    numFrames_ = file.GetNumSFrames();
    if (numFrames_ < 2) isPlayable_ = false;
    numChannels_ = file.GetNumChannels();
    channelConfiguration_ = file.GetChannelConfiguration();
    numBits_ = file.GetWordSize();
    bitRate_ = file.GetBitRate();
    // A coded media input shows the rate it was coded at, whatever its type writes.
    const auto* media = dynamic_cast<const AVFoundationFile*>(&file);
    useBitRate_ = file.UseBitRate() || (media && media->IsCompressed());
    isCBR_ = file.IsConstantBitRate();
    dataType_ = file.GetDataType();
    hasVideoTrack_ = file.HasVideoTrack();
    channelDescription_ = file.GetChannelDescription();
    specifics_ = file.GetAttributes();
    lengthStr_ = timeFormat(numFrames_);
    descriptor_ = file.GetDescription();
    timestamps_ = timeFormat(file.GetTimeStamp());
}

void QFSoundFile::ReadingFailed(int code) {
    soundFile_.reset();
    isPlayable_ = false;
    setInfoAvailable(false);
    descriptor_.clear();
    if (code == kNoAudioTrackErr) {
        descriptor_ = kNoAudioTrackText;
    } else if (code == kAlreadyProcessedErr) {
        descriptor_ = kRightSideText;
    } else if (code != 0) {
        std::string text;
        if (MakeErrorMessage(code, text) != kErrorClassUnknown) descriptor_ = text;
    }
}

SoundFilePtr QFSoundFile::createSoundFile(short* error) const {
    short ignored = 0;
    if (!error) error = &ignored;
    *error = 0;
    if (isDirectory_) return nullptr;
    try {
        const bool group = hfsFileType_ == kSplitType || hfsFileType_ == kSurroundType;
        SoundFilePtr file(group ? CSoundFile::CreateSoundFile(hfsFileType_, hfsRealType_)
                                : CSoundFile::CreateSoundFile(hfsFileType_));
        if (!file) return nullptr;
        if (OSErr err = group ? file->ISoundFile(surroundSet_) : file->ISoundFile(path_)) {
            *error = err;
            return nullptr;
        }
        if (hfsFileType_ == kSurroundType) {
            if (auto* set = dynamic_cast<CSurroundFile*>(file.get()))
                set->SetSurroundSetName(surroundSetName_);
        }
        file->SetChannelConfiguration(channelConfiguration_);
        return file;
    } catch (const error_code_exception& e) {
        *error = NarrowStatus(e.error_code());
    } catch (const std::bad_alloc&) {
        *error = kMemFullErr;
    } catch (...) {
        *error = kParamErr;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Names, times and forwarders

std::string QFSoundFile::name() const {
    if (soundFile_) {
        std::string base = soundFile_->base_name();
        if (!base.empty()) return base;
    }
    return filename(path_);
}

size_t QFSoundFile::insertionPos() const {
    size_t units = 0;
    for (char c : name()) {
        const unsigned char b = static_cast<unsigned char>(c);
        if ((b & 0xC0) == 0x80) continue;  // continuation byte
        units += b >= 0xF0 ? 2 : 1;        // outside the basic plane: a surrogate pair
    }
    return units;
}

std::string QFSoundFile::timeFormat(uint32_t frames) const {
    // Whole milliseconds first, so that rounding never shows 60 seconds.
    long long ms = 0;
    if (sampleRate_ > 0 && std::isfinite(sampleRate_)) {
        const double t = std::round(static_cast<double>(frames) / sampleRate_ * 1000.0);
        if (t < kMaxShownMilliseconds) ms = static_cast<long long>(t);
    }
    char text[64];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld", ms / 3600000,
                  ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
    return text;
}

void QFSoundFile::infoStringForSoundFile(CSoundFile* file) {
    descriptor_ = file ? file->GetDescription() : std::string();
}

std::string QFSoundFile::description() const {
    char head[64];
    std::snprintf(head, sizeof head, "<QFSoundFile: %p, path = ", static_cast<const void*>(this));
    return head + path_ + ",\n\tdescription = " + descriptor_ + ",\n\tsize = " +
           std::to_string(size_) + ",\n\tinfo = '" + info_ + "',\n\tdeep count = " +
           std::to_string(deepCount_) + ",\n\tis directory: " + (isDirectory_ ? "yes" : "no") +
           ",\n\tis playable: " + (isPlayable_ ? "yes" : "no") + ">";
}

bool QFSoundFile::isSplit() const { return soundFile_ && soundFile_->IsSplit(); }

std::vector<QFRegionPtr> QFSoundFile::regions() const {
    return soundFile_ ? soundFile_->GetRegionList() : std::vector<QFRegionPtr>();
}

std::vector<QFMarkerPtr> QFSoundFile::markers() const {
    return soundFile_ ? soundFile_->GetMarkerList() : std::vector<QFMarkerPtr>();
}

std::vector<QFLoopPtr> QFSoundFile::loops() const {
    return soundFile_ ? soundFile_->GetLoopList() : std::vector<QFLoopPtr>();
}

void QFSoundFile::getAudioStreamBasicDescription(AudioStreamBasicDescription* description) const {
    if (soundFile_ && description) soundFile_->GetAudioStreamBasicDescription(description);
}

const plist::Value& QFSoundFile::extraInfo() const {
    std::call_once(extraInfoOnce_, [this] {
        try {
            if (soundFile_) extraInfo_ = soundFile_->GetExtraInfo();
        } catch (...) {
            extraInfo_ = plist::Value();
        }
    });
    return extraInfo_;
}

// ---------------------------------------------------------------------------
// File-system properties

const QFSoundFile::FileAttributes& QFSoundFile::attributes() const {
    std::call_once(attributesOnce_, [this] {
        try {
            ReadAttributes();
        } catch (...) {
            attributes_ = FileAttributes();
        }
    });
    return attributes_;
}

void QFSoundFile::ReadAttributes() const {
    struct statx sx;
    if (path_.empty() ||
        ::statx(AT_FDCWD, path_.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
        return;
    FileAttributes a;
    a.valid = true;
    a.modified = static_cast<std::time_t>(sx.stx_mtime.tv_sec);
    a.created = (sx.stx_mask & STATX_BTIME) ? static_cast<std::time_t>(sx.stx_btime.tv_sec)
                                            : a.modified;
    a.owner = UserName(sx.stx_uid);
    a.group = GroupName(sx.stx_gid);
    a.mode = sx.stx_mode;
    OSType creator = 0;
    if (GetFinderInfo(path_, &a.finderType, &creator) != 0) a.finderType = 0;
    attributes_ = std::move(a);
}

std::time_t QFSoundFile::creationDate() const { return attributes().created; }
std::time_t QFSoundFile::modificationDate() const { return attributes().modified; }
std::string QFSoundFile::owner() const { return attributes().owner; }
std::string QFSoundFile::group() const { return attributes().group; }

// ---------------------------------------------------------------------------
// Display texts

int16_t QFSoundFile::shownWordSize() const {
    if (dataType_ == kDataTypeMuLaw || dataType_ == kDataTypeALaw || hfsRealType_ == kMuLawType)
        return 8;
    if (dataType_ == kDataType4BitA || dataType_ == kDataType4BitB) return 4;
    return numBits_;
}

std::string QFSoundFile::displaySampleRate() const {
    if (isDirectory_ || !(sampleRate_ >= 1000) || !std::isfinite(sampleRate_)) return std::string();
    char text[64];
    const auto r = std::to_chars(text, text + sizeof text, sampleRate_, std::chars_format::fixed, 2);
    if (r.ec != std::errc()) return std::string();
    return std::string(text, r.ptr) + " Hz";
}

std::string QFSoundFile::displaySize() const {
    return isDirectory_ ? std::string() : ByteFormatter().stringForObjectValue(size_);
}

std::string QFSoundFile::displayWordSize() const {
    const int16_t bits = shownWordSize();
    if (isDirectory_ || bits == 0) return std::string();
    return std::to_string(static_cast<unsigned long>(static_cast<uint16_t>(bits))) + " bits";
}

std::string QFSoundFile::displayBitRate() const {
    return std::to_string(bitRate_) + " kbps" + (isCBR_ ? "" : " (VBR)");
}

std::string QFSoundFile::displayBits() const {
    if (isDirectory_ || shownWordSize() == 0) return std::string();
    return useBitRate_ ? displayBitRate() : displayWordSize();
}

std::string QFSoundFile::displayRegions() const { return CountText(numRegions_); }
std::string QFSoundFile::displayMarkers() const { return CountText(numMarkers_); }
std::string QFSoundFile::displayLoops() const { return CountText(numLoops_); }

std::string QFSoundFile::displayHFSType() const {
    const OSType type = attributes().finderType;
    return type ? TypeCodeText(type) : "n/a";
}

std::string QFSoundFile::displayHFSCreator() const {
    const std::string text = TypeCodeText(hfsCreator_);
    return text.size() < 4 ? "n/a" : text;
}

std::string QFSoundFile::displayCreationDate() const { return DateText(creationDate()); }
std::string QFSoundFile::displayModificationDate() const { return DateText(modificationDate()); }

std::string QFSoundFile::displayPermissions() const {
    static const char* const kTriplets[] = {"---", "--x", "-w-", "-wx", "r--", "r-x", "rw-", "rwx"};
    const unsigned long bits = attributes().mode & 0777;
    char text[32];
    std::snprintf(text, sizeof text, "%s%s%s (%lo)", kTriplets[(bits >> 6) & 7],
                  kTriplets[(bits >> 3) & 7], kTriplets[bits & 7], bits);
    return text;
}

std::string QFSoundFile::lengthStr() const { return isDirectory_ ? std::string() : lengthStr_; }

// ---------------------------------------------------------------------------
// Ordering

void QFSoundFile::setSortKey(const std::string& key) {
    SortSettings& s = Sorting();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.text = key;
    s.key.store(ParseSortKey(key));
}

std::string QFSoundFile::sortKey() {
    SortSettings& s = Sorting();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.text;
}

void QFSoundFile::setAscendingSort(bool ascending) { Sorting().ascending.store(ascending); }

bool QFSoundFile::ascendingSort() { return Sorting().ascending.load(); }

int QFSoundFile::compare(const QFSoundFile& other) const {
    const SortSettings& s = Sorting();
    const bool ascending = s.ascending.load();
    const QFSoundFile& a = ascending ? *this : other;
    const QFSoundFile& b = ascending ? other : *this;
    switch (s.key.load()) {
        case SortKey::kFilename: return CaseInsensitiveOrder(a.name(), b.name());
        case SortKey::kPlayable: return Order(a.isPlayable_, b.isPlayable_);
        case SortKey::kSize: return Order(a.size_, b.size_);
        case SortKey::kFileType: return Order(a.descriptor_, b.descriptor_);
        case SortKey::kSampleRate: return Order(a.sampleRate_, b.sampleRate_);
        case SortKey::kChannels: return Order(a.numChannels_, b.numChannels_);
        case SortKey::kBits: return Order(a.numBits_, b.numBits_);
        case SortKey::kLength: return Order(a.lengthStr_, b.lengthStr_);
        case SortKey::kRegions: return Order(a.numRegions_, b.numRegions_);
        case SortKey::kTimestamps: return Order(a.timestamps_, b.timestamps_);
        case SortKey::kNone: break;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// The archived form

plist::Dictionary QFSoundFile::archive() const {
    plist::Dictionary d;
    d["path"] = path_;
    d["info"] = info_;
    d["size"] = static_cast<unsigned long>(size_);
    d["icon"] = icon_;
    d["descriptor"] = descriptor_;
    d["lengthStr"] = lengthStr_;
    d["deepCount"] = deepCount_;
    d["hfsCreator"] = hfsCreator_;
    d["hfsFileType"] = hfsFileType_;
    d["numChannels"] = static_cast<int>(numChannels_);
    d["numRegions"] = numRegions_;
    d["numBits"] = static_cast<int>(numBits_);
    d["numFrames"] = numFrames_;
    d["isDirectory"] = isDirectory_;
    d["isPlayable"] = isPlayable_;
    d["sampleRate"] = sampleRate_;
    return d;
}

std::shared_ptr<QFSoundFile> QFSoundFile::unarchive(const plist::Dictionary& d) {
    auto text = [&d](const char* key) {
        auto it = d.find(key);
        return it == d.end() ? std::string() : it->second.asString();
    };
    auto number = [&d](const char* key) -> int64_t {
        auto it = d.find(key);
        return it == d.end() ? 0 : it->second.asInteger();
    };
    auto flag = [&d](const char* key) {
        auto it = d.find(key);
        return it != d.end() && it->second.asBool();
    };
    auto f = std::make_shared<QFSoundFile>();
    f->path_ = text("path");
    f->info_ = text("info");
    const int64_t size = number("size");
    f->size_ = size > 0 ? static_cast<uint64_t>(size) : 0;
    f->icon_ = text("icon");
    f->descriptor_ = text("descriptor");
    f->lengthStr_ = text("lengthStr");
    // The counts and codes are 32 bits wide (the channel count and word size 16).
    f->deepCount_ = static_cast<int32_t>(number("deepCount"));
    f->hfsCreator_ = static_cast<OSType>(number("hfsCreator"));
    f->hfsFileType_ = static_cast<OSType>(number("hfsFileType"));
    f->numChannels_ = static_cast<int16_t>(number("numChannels"));
    f->numRegions_ = static_cast<int32_t>(number("numRegions"));
    f->numBits_ = static_cast<int16_t>(number("numBits"));
    f->numFrames_ = static_cast<uint32_t>(number("numFrames"));
    f->isDirectory_ = flag("isDirectory");
    f->isPlayable_ = flag("isPlayable");
    auto rate = d.find("sampleRate");
    f->sampleRate_ = rate == d.end() ? 0 : rate->second.asReal();
    return f;
}
