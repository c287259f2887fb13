// Split stereo pairs: member naming, the pair's life, and the buffers that
// interleave the two members' samples.
#include "soundfile/split_file.h"

#include <dirent.h>

#include <algorithm>
#include <type_traits>
#include <cstring>
#include <exception>
#include <initializer_list>
#include <new>

#include "foundation/pstring.h"
#include "foundation/string_utils.h"
#include "foundation/xwqf.h"
#include "soundfile/type_codes.h"

char gInputNameLastChar = 0;

namespace {

constexpr OSType kParisType = FourCC(" paf");
constexpr OSType kSonicType = FourCC("SAIF");
constexpr OSType kBroadcastWaveType = FourCC("BWLN");
constexpr size_t kNone = std::string::npos;

// The left-channel markers a path is named from, in the order they are tried.
// A digit marker (".1", ".3", ".5", ".7") counts only at the very end of the path.
const std::initializer_list<const char*> kNamingMarkers = {".l", ".L", "(l)", "(L)", "-L"};
// The markers removed from a path to give the pair's own path, and from the
// left member's path to give the pair's path as shown: first the two-character
// ones, then the bracketed ones.
const std::initializer_list<const char*> kOwnPathMarkers = {".l", ".L", "-L", ".1"};
const std::initializer_list<const char*> kShownPathMarkers = {".l", ".L", "-L", ".1",
                                                              ".3", ".5", ".7"};
const std::initializer_list<const char*> kBracketMarkers = {"(l)", "(L)"};

// A letter, digit or underscore; every byte of a UTF-8 sequence (above 127)
// counts as part of a letter, so "Voix.légère" is one run of word characters.
bool IsWordCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           static_cast<unsigned char>(c) > 127;
}

// Where the file name begins in a path.
size_t NameStart(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == kNone ? 0 : slash + 1;
}

// The first or the last occurrence of `marker` in `text` at or after `from` that
// stands alone; kNone when there is none.
size_t FirstMarker(const std::string& text, const std::string& marker, size_t from) {
    for (size_t at = text.find(marker, from); at != kNone; at = text.find(marker, at + 1))
        if (StandsAlone(text, at, marker)) return at;
    return kNone;
}

size_t LastMarker(const std::string& text, const std::string& marker, size_t from) {
    size_t found = kNone;
    for (size_t at = text.find(marker, from); at != kNone; at = text.find(marker, at + 1))
        if (StandsAlone(text, at, marker)) found = at;
    return found;
}

struct MarkerPlace {
    size_t at = kNone;
    size_t length = 0;
};

// The first of `markers`, in list order, that occurs in the file name of
// `path`, at its first occurrence there.
MarkerPlace FirstOf(const std::string& path, std::initializer_list<const char*> markers) {
    const size_t start = NameStart(path);
    for (const char* m : markers) {
        const std::string marker(m);
        const size_t at = FirstMarker(path, marker, start);
        if (at != kNone) return {at, marker.size()};
    }
    return {};
}

// `path` without the channel marker of its file name: the first of the
// two-character markers that occurs, else the first bracketed one.
std::string WithoutMarker(const std::string& path, std::initializer_list<const char*> markers) {
    MarkerPlace place = FirstOf(path, markers);
    if (place.at == kNone) place = FirstOf(path, kBracketMarkers);
    if (place.at == kNone) return path;
    std::string out = path;
    out.erase(place.at, place.length);
    return out;
}

// The right channel's letter or digit for the left one's.
char RightPartner(char c) {
    switch (c) {
        case 'l':
            return 'r';
        case 'L':
            return 'R';
        case '1':
            return '2';
        case '3':
            return '4';
        case '5':
            return '6';
        case '7':
            return '8';
        default:
            return c;
    }
}

bool EndsInDigitMarker(const std::string& path) {
    const size_t n = path.size();
    if (n < 2 || n - 2 < NameStart(path) || path[n - 2] != '.') return false;
    const char d = path[n - 1];
    return d == '1' || d == '3' || d == '5' || d == '7';
}

// The path of the entry in `path`'s folder whose name equals its file name
// but for ASCII case, as the entry is spelt; `path` itself when something
// exists there or nothing matches. Of several matches the first in byte order
// is taken, so the choice does not depend on the folder's order.
std::string OnDiskSpelling(const std::string& path) {
    if (XWQF::FileExists(path)) return path;
    const size_t start = NameStart(path);
    const std::string wanted = lower_case(path.substr(start));
    if (wanted.empty()) return path;
    const std::string folder = start == 0 ? "." : (start == 1 ? "/" : path.substr(0, start - 1));
    DIR* d = ::opendir(folder.c_str());
    if (!d) return path;
    std::string best;
    while (const dirent* entry = ::readdir(d)) {
        const std::string name = entry->d_name;
        if (name.size() == wanted.size() && lower_case(name) == wanted &&
            (best.empty() || name < best))
            best = name;
    }
    ::closedir(d);
    return best.empty() ? path : path.substr(0, start) + best;
}

// Cuts a region name field before its first ".L" that stands alone.
void DropChannelMarker(unsigned char (&name)[32]) {
    const size_t length = std::min<size_t>(name[0], sizeof name - 1);
    const std::string text(reinterpret_cast<const char*>(name + 1), length);
    const size_t at = FirstMarker(text, ".L", 0);
    if (at != kNone) name[0] = static_cast<unsigned char>(at);
}

template <size_t B>
void InterleaveSamples(unsigned char* pair, const unsigned char* left, const unsigned char* right,
                       uint32_t frames) {
    for (size_t i = 0; i < frames; ++i) {
        std::memcpy(pair + 2 * B * i, left + B * i, B);
        std::memcpy(pair + 2 * B * i + B, right + B * i, B);
    }
}

template <size_t B>
void DeinterleaveSamples(const unsigned char* pair, unsigned char* left, unsigned char* right,
                         uint32_t frames) {
    for (size_t i = 0; i < frames; ++i) {
        std::memcpy(left + B * i, pair + 2 * B * i, B);
        std::memcpy(right + B * i, pair + 2 * B * i + B, B);
    }
}

}  // namespace

bool StandsAlone(const std::string& text, size_t at, const std::string& marker) {
    if (marker.empty() || !IsWordCharacter(marker.back())) return true;
    const size_t after = at + marker.size();
    return after >= text.size() || !IsWordCharacter(text[after]);
}

// ---------------------------------------------------------------------------
// Life

CSplitFile::CSplitFile(OSType memberType) : memberType_(memberType) {
    channels_ = 2;
}

CSplitFile::~CSplitFile() {
    if (open_) {
        try {
            if (left_) left_->Close();
            if (right_) right_->Close();
        } catch (...) {
            // A destructor reports nothing; the members close themselves when destroyed.
        }
        open_ = false;
    }
    if (inputBuffer_ || outputBuffer_) DisposeBuffer();
    DeleteMembers();
}

void CSplitFile::DeleteMembers() {
    members_.clear();
    delete left_;
    delete right_;
    left_ = nullptr;
    right_ = nullptr;
}

OSErr CSplitFile::MembersSetUp() const {
    if (!left_) return kSplitLeftNotSetUpErr;
    if (!right_) return kSplitRightNotSetUpErr;
    return 0;
}

// ---------------------------------------------------------------------------
// Binding

OSErr CSplitFile::MakeMembers(const std::string& leftPath, const std::string& rightPath) {
    DeleteMembers();
    OSErr err = 0;
    left_ = CSoundFile::CreateSoundFile(memberType_);
    err = left_ ? left_->ISoundFile(leftPath) : static_cast<OSErr>(kCannotMakeFormatObjectErr);
    if (err == 0) {
        right_ = CSoundFile::CreateSoundFile(memberType_);
        err =
            right_ ? right_->ISoundFile(rightPath) : static_cast<OSErr>(kCannotMakeFormatObjectErr);
    }
    if (err) {
        DeleteMembers();
        return err;
    }
    members_ = {left_, right_};
    return 0;
}

OSErr CSplitFile::ISoundFile(const std::vector<std::string>& paths) {
    return StatusOfCall([&]() -> OSErr {
        if (paths.size() != 2) return kParamErr;
        if (open_) return kFileBusyErr;
        return MakeMembers(paths[0], paths[1]);
    });
}

OSErr CSplitFile::ISoundFile(const FSRef* ref) {
    return StatusOfCall([&]() -> OSErr {
        if (open_) return kFileBusyErr;
        if (OSErr err = CSoundFile::ISoundFile(ref)) return err;
        return ISoundFile(ref->path);
    });
}

OSErr CSplitFile::ISoundFile(const std::string& path) {
    return StatusOfCall([&]() -> OSErr {
        if (open_) return kFileBusyErr;
        if (OSErr err = CSoundFile::ISoundFile(path)) return err;
        SetPath(path);

        std::string leftPath;
        std::string rightPath;
        MarkerPlace marker = FirstOf(path, kNamingMarkers);
        bool digit = false;
        if (marker.at == kNone && EndsInDigitMarker(path)) {
            marker = {path.size() - 2, 2};
            digit = true;
        }
        if (marker.at != kNone) {
            leftPath = path;
            rightPath = path;
            rightPath[marker.at + 1] = RightPartner(path[marker.at + 1]);
            if (digit) gInputNameLastChar = path.back();
            // A pair named by an existing left member is an input: its right
            // member is taken as it is spelt on disk.
            if (XWQF::FileExists(leftPath)) rightPath = OnDiskSpelling(rightPath);
        } else {
            leftPath = path + (memberType_ == kParisType ? "-" : ".");
            if (memberType_ == kSonicType) {
                const char last = gInputNameLastChar;
                const bool numbered = last >= '1' && last <= '8';
                leftPath += numbered ? last : '1';
                rightPath = leftPath;
                rightPath.back() = numbered ? static_cast<char>(last + 1) : '2';
            } else {
                leftPath += 'L';
                rightPath = leftPath;
                rightPath.back() = 'R';
            }
            gInputNameLastChar = 0;
        }
        return MakeMembers(leftPath, rightPath);
    });
}

void CSplitFile::SetPath(const std::string& path) {
    path_ = WithoutMarker(path, kOwnPathMarkers);
}

// ---------------------------------------------------------------------------
// Opening, creating, closing

OSErr CSplitFile::Open() {
    return StatusOfCall([&]() -> OSErr {
        if (OSErr err = MembersSetUp()) return err;
        if (OSErr err = left_->Open()) return err;
        if (OSErr err = right_->Open()) {
            left_->Close();
            return err;
        }
        if (left_->GetSampleRate() != right_->GetSampleRate() ||
            left_->GetWordSize() != right_->GetWordSize() || left_->GetNumChannels() != 1 ||
            right_->GetNumChannels() != 1)
            return kSplitNotConsistentErr;
        // Blocks made before the description was known are made again on first use.
        DisposeBuffer();
        numFrames_ = std::max(left_->GetNumSFrames(), right_->GetNumSFrames());
        channels_ = 2;
        wordSize_ = left_->GetWordSize();
        sampleRate_ = left_->GetSampleRate();
        dataType_ = left_->GetDataType();
        open_ = true;
        return 0;
    });
}

OSErr CSplitFile::Create(short channels, short wordSize, float sampleRate, void* specifics,
                         const unsigned char* extension) {
    return StatusOfCall([&]() -> OSErr {
        if (OSErr err = MembersSetUp()) return err;
        if (memberType_ == kSonicType) {
            // Each Sonic member carries the pair's identification.
            unsigned char first[16], second[16];
            MakeSonicLinkRecords(EmbeddedName(), first, second);
            left_->SetSonicAIFFExtras(first, second, 0);
            right_->SetSonicAIFFExtras(first, second, 1);
        }
        if (OSErr err = CSoundFile::Create(channels, wordSize, sampleRate, specifics, extension))
            return err;
        if (OSErr err = left_->Create(1, wordSize, sampleRate, specifics, extension)) return err;
        if (OSErr err = right_->Create(1, wordSize, sampleRate, specifics, extension)) {
            left_->Close();
            return err;
        }
        DisposeBuffer();
        numFrames_ = std::max(left_->GetNumSFrames(), right_->GetNumSFrames());
        channels_ = 2;
        wordSize_ = left_->GetWordSize();
        sampleRate_ = left_->GetSampleRate();
        dataType_ = left_->GetDataType();
        open_ = true;
        return 0;
    });
}

OSErr CSplitFile::Close() {
    return StatusOfCall([&]() -> OSErr {
        if (!left_ && !right_) {
            open_ = false;
            return kFileNotOpenBaseErr;
        }
        const OSErr leftResult = left_ ? left_->Close() : OSErr(0);
        const OSErr rightResult = right_ ? right_->Close() : OSErr(0);
        open_ = false;
        return leftResult ? leftResult : rightResult;
    });
}

bool CSplitFile::DataEndsEarly(uint32_t* held, uint32_t* declared) {
    for (CSoundFile* member : {left_, right_})
        if (member && member->DataEndsEarly(held, declared)) return true;
    return CSoundFile::DataEndsEarly(held, declared);
}

OSErr CSplitFile::Dispose(unsigned char keep) {
    OSErr first = 0;
    if (IsOpen()) {
        open_ = false;
        members_.clear();
        for (CSoundFile** member : {&left_, &right_}) {
            CSoundFile* m = *member;
            *member = nullptr;
            if (!m) continue;
            const OSErr err = StatusOfCall([&] { return m->Dispose(keep); });
            if (first == 0) first = err;
        }
    }
    const OSErr own = CSoundFile::Dispose(keep);  // destroys this object
    return first ? first : own;
}

// ---------------------------------------------------------------------------
// Markers, loops and regions

template <class... Params, class... Args>
OSErr CSplitFile::OnBoth(OSErr (CSoundFile::*operation)(Params...), Args... args) {
    return StatusOfCall([&]() -> OSErr {
        if (OSErr err = MembersSetUp()) return err;
        if (OSErr err = (left_->*operation)(args...)) return err;
        return (right_->*operation)(args...);
    });
}

uint16_t CSplitFile::GetNumMarkers() {
    return left_ ? left_->GetNumMarkers() : CSoundFile::GetNumMarkers();
}

OSErr CSplitFile::GetIndMarker(uint16_t index, SFTMarker* marker) {
    return StatusOfCall([&] {
        return left_ ? left_->GetIndMarker(index, marker) : CSoundFile::GetIndMarker(index, marker);
    });
}

QFMarkerPtr CSplitFile::GetIndMarker(uint32_t index) {
    return left_ ? left_->GetIndMarker(index) : CSoundFile::GetIndMarker(index);
}

OSErr CSplitFile::GetMarkerByID(long id, SFTMarker* marker) {
    return StatusOfCall([&] {
        return left_ ? left_->GetMarkerByID(id, marker) : CSoundFile::GetMarkerByID(id, marker);
    });
}

OSErr CSplitFile::AddMarker(const SFTMarker* marker) {
    return OnBoth(&CSoundFile::AddMarker, marker);
}

OSErr CSplitFile::RemoveMarker(const SFTMarker* marker) {
    return OnBoth(&CSoundFile::RemoveMarker, marker);
}

uint16_t CSplitFile::GetNumLoops() {
    return left_ ? left_->GetNumLoops() : CSoundFile::GetNumLoops();
}

OSErr CSplitFile::GetIndLoop(uint16_t index, SFTLoop* loop) {
    return StatusOfCall([&] {
        return left_ ? left_->GetIndLoop(index, loop) : CSoundFile::GetIndLoop(index, loop);
    });
}

QFLoopPtr CSplitFile::GetIndLoop(uint32_t index) {
    return left_ ? left_->GetIndLoop(index) : CSoundFile::GetIndLoop(index);
}

OSErr CSplitFile::AddLoop(const SFTLoop* loop) {
    return OnBoth(&CSoundFile::AddLoop, loop);
}

OSErr CSplitFile::RemoveLoop(const SFTLoop* loop) {
    return OnBoth(&CSoundFile::RemoveLoop, loop);
}

OSErr CSplitFile::RemoveDuplicates() {
    return OnBoth(&CSoundFile::RemoveDuplicates);
}

uint16_t CSplitFile::GetNumRegions() {
    return left_ ? left_->GetNumRegions() : CSoundFile::GetNumRegions();
}

OSErr CSplitFile::GetIndRegion(uint16_t index, SFTRegion* region) {
    return StatusOfCall([&]() -> OSErr {
        if (!left_) return CSoundFile::GetIndRegion(index, region);
        const OSErr err = left_->GetIndRegion(index, region);
        if (err == 0 && region && memberType_ == kBroadcastWaveType)
            DropChannelMarker(region->name);
        return err;
    });
}

QFRegionPtr CSplitFile::GetIndRegion(uint32_t index) {
    if (!left_) return CSoundFile::GetIndRegion(index);
    QFRegionPtr region = left_->GetIndRegion(index);
    if (region && memberType_ == kBroadcastWaveType) {
        std::string& name = region->name;
        if (name.size() >= 2 && name.compare(name.size() - 2, 2, ".L") == 0)
            name.erase(name.size() - 2);
    }
    return region;
}

OSErr CSplitFile::AddRegion(const SFTRegion* region) {
    return OnBoth(&CSoundFile::AddRegion, region);
}

OSErr CSplitFile::RemoveRegion(const SFTRegion* region) {
    return OnBoth(&CSoundFile::RemoveRegion, region);
}

std::vector<QFRegionPtr>& CSplitFile::GetRegionList() {
    return left_ ? left_->GetRegionList() : CSoundFile::GetRegionList();
}

std::vector<QFMarkerPtr>& CSplitFile::GetMarkerList() {
    return left_ ? left_->GetMarkerList() : CSoundFile::GetMarkerList();
}

bool CSplitFile::IsRegion(uint32_t start, uint32_t end, QFRegionPtr* region) {
    return left_ ? left_->IsRegion(start, end, region) : CSoundFile::IsRegion(start, end, region);
}

std::vector<QFLoopPtr>& CSplitFile::GetLoopList() {
    return left_ ? left_->GetLoopList() : CSoundFile::GetLoopList();
}

OSErr CSplitFile::KillBadRegionNames() {
    return StatusOfCall(
        [&] { return left_ ? left_->KillBadRegionNames() : CSoundFile::KillBadRegionNames(); });
}

OSErr CSplitFile::KillDuplicateRegionNames() {
    return StatusOfCall([&] {
        return left_ ? left_->KillDuplicateRegionNames() : CSoundFile::KillDuplicateRegionNames();
    });
}

OSErr CSplitFile::GetNextBlock(uint32_t from, uint32_t* start, uint32_t* end) {
    return StatusOfCall([&] {
        return left_ ? left_->GetNextBlock(from, start, end)
                     : CSoundFile::GetNextBlock(from, start, end);
    });
}

// ---------------------------------------------------------------------------
// Names

std::string CSplitFile::GetName() {
    return left_ ? left_->GetName() : CSoundFile::GetName();
}

std::string CSplitFile::base_name() {
    const std::string name = left_ ? left_->base_name() : CSoundFile::base_name();
    size_t at = LastMarker(name, ".L", 0);
    if (at == kNone) at = LastMarker(name, ".l", 0);
    return at == kNone ? name : name.substr(0, at);
}

std::string CSplitFile::GetPath() {
    return left_ ? WithoutMarker(left_->GetPath(), kShownPathMarkers) : path_;
}

std::string CSplitFile::GetDescription() {
    return left_ ? "Split stereo " + left_->GetDescription() : std::string("Split stereo");
}

plist::Dictionary& CSplitFile::GetAttributes() {
    return left_ ? left_->GetAttributes() : CSoundFile::GetAttributes();
}

// ---------------------------------------------------------------------------
// Time stamp and settings passed on

uint32_t CSplitFile::GetTimeStamp() {
    return left_ ? left_->GetTimeStamp() : CSoundFile::GetTimeStamp();
}

void CSplitFile::SetTimeStamp(uint32_t stamp) {
    if (!left_ && !right_) CSoundFile::SetTimeStamp(stamp);
    if (left_) left_->SetTimeStamp(stamp);
    if (right_) right_->SetTimeStamp(stamp);
}

bool CSplitFile::IsTimeStampValid() {
    return left_ ? left_->IsTimeStampValid() : CSoundFile::IsTimeStampValid();
}

void CSplitFile::SetDither(unsigned char flag) {
    CSoundFile::SetDither(flag);
    if (left_) left_->SetDither(flag);
    if (right_) right_->SetDither(flag);
}

void CSplitFile::SetSFTBufferSize(uint32_t frames) {
    if (left_) left_->SetSFTBufferSize(frames);
    if (right_) right_->SetSFTBufferSize(frames);
    // A buffer of no frames would stall every block loop: the size stays.
    if (frames == 0 || frames == bufferFrames_) return;
    DisposeBuffer();
    bufferFrames_ = frames;
}

// ---------------------------------------------------------------------------
// Buffers and positions

uint32_t CSplitFile::BytesPerSample() const {
    return wordSize_ >= 8 && wordSize_ <= 39 ? static_cast<uint32_t>(wordSize_ / 8) : 0;
}

uint32_t CSplitFile::SharedBufferFrames() const {
    return std::min({bufferFrames_, left_->GetBufferFrames(), right_->GetBufferFrames()});
}

namespace {

// Calls body with the sample width (1 to 4 bytes) as a compile-time constant;
// other widths call nothing.
template <class Body>
void WithSampleWidth(uint32_t bytes, Body&& body) {
    switch (bytes) {
        case 1: body(std::integral_constant<size_t, 1>()); break;
        case 2: body(std::integral_constant<size_t, 2>()); break;
        case 3: body(std::integral_constant<size_t, 3>()); break;
        case 4: body(std::integral_constant<size_t, 4>()); break;
        default: break;
    }
}

}  // namespace

void CSplitFile::Interleave(unsigned char* pair, const unsigned char* left,
                            const unsigned char* right, uint32_t frames) const {
    WithSampleWidth(BytesPerSample(), [&](auto width) {
        InterleaveSamples<decltype(width)::value>(pair, left, right, frames);
    });
    // Frames the members' blocks do not reach read as silence.
    const size_t frameBytes = 2u * BytesPerSample();
    if (frames < bufferFrames_)
        std::memset(pair + frameBytes * frames, 0, frameBytes * (bufferFrames_ - frames));
}

void CSplitFile::Deinterleave(const unsigned char* pair, unsigned char* left, unsigned char* right,
                              uint32_t frames) const {
    WithSampleWidth(BytesPerSample(), [&](auto width) {
        DeinterleaveSamples<decltype(width)::value>(pair, left, right, frames);
    });
}

OSErr CSplitFile::InitInputBuffer() {
    return StatusOfCall([&]() -> OSErr {
        if (left_)
            if (OSErr err = left_->InitInputBuffer()) return err;
        if (right_)
            if (OSErr err = right_->InitInputBuffer()) return err;
        return CSoundFile::InitInputBuffer();
    });
}

OSErr CSplitFile::InitOutputBuffer() {
    return StatusOfCall([&]() -> OSErr {
        if (left_)
            if (OSErr err = left_->InitOutputBuffer()) return err;
        if (right_)
            if (OSErr err = right_->InitOutputBuffer()) return err;
        return CSoundFile::InitOutputBuffer();
    });
}

void CSplitFile::DisposeBuffer() {
    if (left_) left_->DisposeBuffer();
    if (right_) right_->DisposeBuffer();
    CSoundFile::DisposeBuffer();
}

OSErr CSplitFile::RefreshInputBuffer(uint32_t frame) {
    return StatusOfCall([&]() -> OSErr {
        if (OSErr err = MembersSetUp()) return err;
        if (!open_) return kFileNotOpenBaseErr;
        const uint32_t bytes = BytesPerSample();
        if (bytes == 0) return kIllegalWordSizeErr;
        if (OSErr err = InitInputBuffer()) return err;
        for (CSoundFile* member : {left_, right_}) {
            if (member->GetWordSize() != wordSize_ || member->GetNumChannels() != 1)
                return kSplitNotConsistentErr;
            if (frame < member->GetNumSFrames()) {
                if (OSErr err = member->RefreshInputBuffer(frame)) return err;
            } else {
                // Past its end a member reads as silence.
                if (OSErr err = member->InitInputBuffer()) return err;
                if (member->GetInputBuffer()) {
                    std::memset(member->GetInputBuffer(), 0,
                                static_cast<size_t>(member->GetBufferFrames()) * bytes);
                    member->ForgetBufferedInput();
                }
            }
            if (!member->GetInputBuffer()) return kMemBlockMissingErr;
        }
        if (!inputBuffer_) return kMemBlockMissingErr;
        Interleave(inputBuffer_, left_->GetInputBuffer(), right_->GetInputBuffer(),
                   SharedBufferFrames());
        firstBufferedFrame_ = frame;
        return 0;
    });
}

OSErr CSplitFile::RefreshOutputBuffer(uint32_t frame) {
    return StatusOfCall([&]() -> OSErr {
        if (OSErr err = MembersSetUp()) return err;
        if (!open_) return kFileNotOpenBaseErr;
        if (BytesPerSample() == 0) return kIllegalWordSizeErr;
        if (OSErr err = InitOutputBuffer()) return err;
        if (OSErr err = left_->RefreshOutputBuffer(frame)) return err;
        if (OSErr err = right_->RefreshOutputBuffer(frame)) return err;
        if (!outputBuffer_ || !left_->GetOutputBuffer() || !right_->GetOutputBuffer())
            return kMemBlockMissingErr;
        Interleave(outputBuffer_, left_->GetOutputBuffer(), right_->GetOutputBuffer(),
                   SharedBufferFrames());
        firstBufferedFrame_ = frame;
        return 0;
    });
}

OSErr CSplitFile::FlushOutputBuffer(uint32_t frames, uint32_t position) {
    return StatusOfCall([&]() -> OSErr {
        if (OSErr err = CSoundFile::FlushOutputBuffer(frames, position)) return err;
        if (OSErr err = MembersSetUp()) return err;
        if (!open_) return kFileNotOpenBaseErr;
        if (BytesPerSample() == 0) return kIllegalWordSizeErr;
        if (OSErr err = InitOutputBuffer()) return err;
        if (!OutputBufferHolds(frames)) return kParamErr;
        if (!left_->GetOutputBuffer() || !right_->GetOutputBuffer()) return kMemBlockMissingErr;
        Deinterleave(outputBuffer_, left_->GetOutputBuffer(), right_->GetOutputBuffer(),
                     std::min(frames, SharedBufferFrames()));
        if (OSErr err = left_->FlushOutputBuffer(frames, position)) return err;
        if (OSErr err = right_->FlushOutputBuffer(frames, position)) return err;
        numFrames_ = std::max(left_->GetNumSFrames(), right_->GetNumSFrames());
        return 0;
    });
}

OSErr CSplitFile::SetFilePos(uint32_t frame) {
    return OnBoth(&CSoundFile::SetFilePos, frame);
}

OSErr CSplitFile::UpdateSize() {
    return StatusOfCall([&]() -> OSErr {
        if (OSErr err = MembersSetUp()) return err;
        OSErr err = left_->UpdateSize();
        if (err == 0) err = right_->UpdateSize();
        numFrames_ = std::max(left_->GetNumSFrames(), right_->GetNumSFrames());
        return err;
    });
}

OSErr CSplitFile::GetOfflineInfo(OSErr* status) {
    return StatusOfCall([&]() -> OSErr {
        if (OSErr err = MembersSetUp()) return err;
        const OSErr leftResult = left_->GetOfflineInfo(status);
        OSErr rightStatus = 0;
        const OSErr rightResult = right_->GetOfflineInfo(&rightStatus);
        sampleRate_ = left_->GetSampleRate();
        wordSize_ = left_->GetWordSize();
        numFrames_ = rightResult == 0 ? std::max(left_->GetNumSFrames(), right_->GetNumSFrames())
                                      : left_->GetNumSFrames();
        channels_ = 2;
        return leftResult ? leftResult : rightResult;
    });
}
