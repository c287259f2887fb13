#include "formats/pcm/image_dat_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "formats/chunk_reader.h"
#include "formats/pcm/pcm_io.h"
#include "foundation/pstring.h"
#include "soundfile/type_codes.h"

namespace {

// The names the PQ description file goes by, in the order they are looked for.
constexpr const char* kDescriptionNames[] = {"SD", "PQ_DESCR", "PQDESCR.txt", "DDPPQ"};

// The description is a run of 64-byte records; only those beginning "VVVS"
// describe a track index.
constexpr uint32_t kRecordBytes = 64;
constexpr char kRecordTag[] = "VVVS";
// A disc holds at most 99 tracks of at most 100 indexes: no description needs
// more records than this, and more are not read.
constexpr uint32_t kMaxRecords = 16384;
constexpr uint32_t kMaxDescriptionBytes = kMaxRecords * kRecordBytes;

// Time on a disc: 75 frames a second.
constexpr uint64_t kFramesPerSecond = 75;
constexpr uint64_t kFramesPerMinute = 60 * kFramesPerSecond;
constexpr uint64_t kFramesPerHour = 60 * kFramesPerMinute;

constexpr int kLeadOut = -1;

struct PQRecord {
    int track;          // kLeadOut for the lead-out
    char trackText[2];  // the track's two characters as stored
    int index;
    uint64_t discFrames;  // the position in frames of 1/75 second
};

// A two-character decimal field; spaces count as "0" and the first other
// character ends the number.
int TwoDigits(const uint8_t* p) {
    int value = 0;
    for (int i = 0; i < 2; ++i) {
        const uint8_t c = p[i] == ' ' ? '0' : p[i];
        if (c < '0' || c > '9') break;
        value = value * 10 + (c - '0');
    }
    return value;
}

// The bytes of the first description file found in the image's folder, at
// most kMaxDescriptionBytes of them; -43 when there is none.
OSErr LoadDescription(const std::string& imagePath, std::vector<uint8_t>* bytes) {
    const size_t slash = imagePath.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : imagePath.substr(0, slash + 1);
    for (const char* name : kDescriptionNames) {
        int fork = XWQF::kNoFork;
        if (CheckFileHelper(name, folder, &fork) != 0) continue;
        int length = 0;
        OSErr err = XWQF::GetEOF(fork, &length);
        if (err == 0) {
            bytes->resize(std::min<uint32_t>(static_cast<uint32_t>(std::max(length, 0)),
                                             kMaxDescriptionBytes));
            int count = static_cast<int>(bytes->size());
            // Records up to a failed read are used.
            if (count) XWQF::Read(fork, &count, bytes->data());
            bytes->resize(static_cast<size_t>(std::max(count, 0)));
        }
        XWQF::CloseFork(fork);
        return err;
    }
    return kFileNotFoundErr;
}

// Calls fn(record) for each track record of a description, in order.
template <class Fn>
void ForEachRecord(const std::vector<uint8_t>& bytes, Fn&& fn) {
    ByteView view(bytes.data(), bytes.size());
    uint8_t r[kRecordBytes];
    while (view.Read(r, sizeof r)) {
        if (std::memcmp(r, kRecordTag, 4) != 0) continue;
        PQRecord record;
        record.track = r[4] == 'A' ? kLeadOut : TwoDigits(r + 4);
        record.trackText[0] = static_cast<char>(r[4]);
        record.trackText[1] = static_cast<char>(r[5]);
        record.index = TwoDigits(r + 6);
        record.discFrames = TwoDigits(r + 8) * kFramesPerHour +
                            TwoDigits(r + 10) * kFramesPerMinute +
                            TwoDigits(r + 12) * kFramesPerSecond + TwoDigits(r + 14);
        fn(record);
    }
}

// A position as a region field: positions past the largest a region can hold
// are held there (regions end at the end of the file anyway).
int32_t RegionField(uint64_t frame) {
    return static_cast<int32_t>(std::min<uint64_t>(frame, INT32_MAX));
}

}  // namespace

OSErr CheckFileHelper(const std::string& name, const std::string& folder, int* forkRef) {
    FSRef ref;
    if (OSErr err = XWQF::MakeRef(folder + name, &ref)) return err;
    // Only a plain file is opened: opening a pipe of that name would wait for a writer.
    struct stat st;
    if (::stat(ref.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return kNotAFileErr;
    return XWQF::OpenFork(&ref, XWQF::kPermRead, forkRef);
}

// ---------------------------------------------------------------------------
// Life and constants

OSType CImageDATFile::GetFType() { return FourCC("IDAT"); }

std::string CImageDATFile::GetDescription() { return "Audio CD Image File"; }

// ---------------------------------------------------------------------------
// Opening and closing

OSErr CImageDATFile::Open() {
    if (OSErr err = OpenForReading()) return err;
    sampleRate_ = kRate;
    channels_ = kChannels;
    wordSize_ = 16;
    dataType_ = kDataTypeLittleEndianPCM;
    if (OSErr err = UpdateSize()) return err;
    // Without a description (or with one listing no track) the image is one region.
    ReadImageRegions();
    if (GetNumRegions() > 0 || !GetProcessFileIfNoRegions()) return 0;
    SFTRegion region{};
    region.end = static_cast<int32_t>(numFrames_);
    NameToField(EmbeddedName(), region.name);
    return AddRegion(&region);
}

OSErr CImageDATFile::Create(short, short, float, void*, const unsigned char*) {
    return kImageNotWritableErr;
}

OSErr CImageDATFile::GetOfflineInfo(OSErr* regionCount) {
    if (regionCount) *regionCount = 0;
    int fork = XWQF::kNoFork;
    FSRef ref{path_};
    if (OSErr err = XWQF::OpenFork(&ref, XWQF::kPermRead, &fork)) return err;
    sampleRate_ = kRate;
    channels_ = kChannels;
    wordSize_ = 16;
    dataType_ = kDataTypeLittleEndianPCM;
    OSErr err = pcmio::CountFrames(fork, 0, kFrameBytes, &numFrames_);
    const OSErr closeErr = XWQF::CloseFork(fork);
    if (err == 0) err = closeErr;
    // An image without a description has no tracks, which is no failure.
    short tracks = 0;
    if (err == 0 && FindNumRegions(&tracks) == 0 && regionCount) *regionCount = tracks;
    return err;
}

// ---------------------------------------------------------------------------
// Tracks

OSErr CImageDATFile::FindNumRegions(short* tracks) {
    if (tracks) *tracks = 0;
    std::vector<uint8_t> bytes;
    if (OSErr err = LoadDescription(path_, &bytes)) return err;
    int last = 0;
    ForEachRecord(bytes, [&](const PQRecord& r) {
        if (r.track != kLeadOut) last = r.track;
    });
    if (tracks) *tracks = static_cast<short>(last);
    return 0;
}

OSErr CImageDATFile::ReadImageRegions() {
    std::vector<uint8_t> bytes;
    if (OSErr err = LoadDescription(path_, &bytes)) return err;
    const uint64_t framesPerDiscFrame = static_cast<uint64_t>(sampleRate_ / kFramesPerSecond);
    int track = 0;
    uint64_t start = 0;
    std::string name;
    int32_t count = 0;
    OSErr status = 0;
    ForEachRecord(bytes, [&](const PQRecord& r) {
        const uint64_t at = r.discFrames * framesPerDiscFrame;
        // A new track ends the one pending. A track ending before it starts
        // (records out of order) would be a region of negative length: none is made.
        if (r.track != track) {
            if (!(start == 0 && at == 0) && at >= start) {
                SFTRegion region{};
                region.id = ++count;
                region.start = RegionField(start);
                region.end = RegionField(at);
                NameToField(name, region.name);
                status = AddRegion(&region);
            }
            track = r.track;
        }
        if (r.index == 1) {
            start = at;
            name = "Track " + MacRomanToUtf8(std::string(r.trackText, 2));
        }
    });
    return status;
}

// ---------------------------------------------------------------------------
// Buffers

void CImageDATFile::StoredToBuffer(unsigned char* data, uint64_t bytes) const {
    pcmio::SwapLittleEndianSamples(data, bytes / 2, 2);
}

OSErr CImageDATFile::RefreshOutputBuffer(uint32_t frame) {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    if (OSErr err = InitOutputBuffer()) return err;
    if (!outputBuffer_) return kMemBlockMissingErr;
    return ReadFrames(frame, outputBuffer_);
}

OSErr CImageDATFile::FlushOutputBuffer(uint32_t frames, uint32_t position) {
    if (OSErr err = CSoundFile::FlushOutputBuffer(frames, position)) return err;
    if (!IsOpen()) return kFileNotOpenBaseErr;
    return kWritePermErr;
}
